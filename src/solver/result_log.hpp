#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/diagnostics.hpp"
#include "core/solver_agent.hpp"
#include "core/solver_node.hpp"
#include "model/result.hpp"
#include "solver/anytime_entry.hpp"
#include "solver/search_statistics.hpp"

namespace velmora {

// What a solve reports: the current Result (paths and times by agent index,
// paths of node indices, the counters), the anytime log of every recorded
// entry, the statistics of the last recorded solution, and the route dump.
class ResultLog {
 public:
  // Called with every anytime entry as it is recorded; answering true asks the
  // search to stop.
  using RecordHook = std::function<bool(const AnytimeEntry&)>;

  Result& result() { return result_; }
  const Result& result() const { return result_; }
  // Sets the result's last_update_time to the time of the last entry (later
  // entries carry it too) and returns a copy.
  Result Current();
  const std::vector<AnytimeEntry>& anytime() const { return anytime_; }
  SearchStatistics& statistics() { return statistics_; }
  const SearchStatistics& statistics() const { return statistics_; }

  void set_on_record(RecordHook hook) { on_record_ = std::move(hook); }

  // Forgets what an earlier solve left: result, log, statistics, last update time.
  void Reset();
  void ClearLog() { anytime_.clear(); }
  // Appends {t, result} to the log and hands it to the record hook; true when
  // the hook asks to stop.
  bool Record(double t);

  // The statistics of the solution just recorded (found 1) whose largest route
  // costs `largest`; `agents` counts the search's agents.
  void UpdateStatistics(double largest, int32_t agents, const std::vector<SolverNode>& nodes,
                        const std::vector<SolverAgent>& records);

  // Writes the result to "paths/paths_astar/<name>_astar.json" under the working
  // directory ("num_agents", "starts", "goals", "max_path_length", every path
  // without its last node, "total_costs"); "Saved to <path>" on `diagnostics`'s
  // standard output, or "Error: cannot open <path> for writing." on its error.
  void WritePathDump(const std::string& name, int32_t agents, const std::vector<uint64_t>& starts,
                     const std::vector<uint64_t>& ends, double largest, const Diagnostics& diagnostics) const;

 private:
  Result result_;
  std::vector<AnytimeEntry> anytime_;
  SearchStatistics statistics_;
  double last_update_time_ = 0.0;
  RecordHook on_record_;
};

}  // namespace velmora
