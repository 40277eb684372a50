#include "improve/improve_parameters.hpp"

#include <cmath>
#include <sstream>
#include <stdexcept>

namespace velmora {

namespace {

template <typename T>
void Require(bool ok, const char* field, const char* range, T value) {
  if (ok) return;
  std::ostringstream message;
  message << "ImproveParameters." << field << " must be " << range << ", not " << value;
  throw std::invalid_argument(message.str());
}

}  // namespace

void ImproveParameters::Validate() const {
  // Comparisons are written so that NaN fails them.
  Require(neighbours >= 1, "neighbours", "at least 1", neighbours);
  Require(quick_neighbours >= 1, "quick_neighbours", "at least 1", quick_neighbours);
  Require(quick_budget >= 0.0, "quick_budget", "at least 0", quick_budget);
  Require(construction_attempts >= 1, "construction_attempts", "at least 1", construction_attempts);
  Require(pack_noise >= 0.0 && pack_noise <= 1.0, "pack_noise", "in [0, 1]", pack_noise);
  Require(average_removed > 0.0 && std::isfinite(average_removed), "average_removed", "finite and above 0",
          average_removed);
  Require(longest_string >= 1, "longest_string", "at least 1", longest_string);
  Require(blink >= 0.0 && blink < 1.0, "blink", "in [0, 1)", blink);
  Require(radial_share >= 0.0 && radial_share <= 1.0, "radial_share", "in [0, 1]", radial_share);
  Require(repair_centre_share >= 0.0 && repair_centre_share <= 1.0, "repair_centre_share", "in [0, 1]",
          repair_centre_share);
  Require(total_weight >= 0.0 && std::isfinite(total_weight), "total_weight", "finite and at least 0",
          total_weight);
  Require(start_temperature > 0.0 && std::isfinite(start_temperature), "start_temperature", "finite and above 0",
          start_temperature);
  Require(final_temperature > 0.0 && final_temperature <= start_temperature, "final_temperature",
          "above 0 and at most start_temperature", final_temperature);
  Require(cycle >= 1, "cycle", "at least 1", cycle);
  Require(patience >= 1, "patience", "at least 1", patience);
  Require(repair_patience >= 1, "repair_patience", "at least 1", repair_patience);
  Require(repair_restart >= 1, "repair_restart", "at least 1", repair_restart);
  Require(exchange_interval >= 1, "exchange_interval", "at least 1", exchange_interval);
}

}  // namespace velmora
