// The engine's tuning parameters: defaults pass, every field out of its range
// is refused with a message naming it, by the struct and by the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "improve/improve_parameters.hpp"
#include "improve/improvement_engine.hpp"
#include "improve_test_support.hpp"

using namespace velmora;
using namespace velmora::improve_testing;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct BadCase {
  const char* name;
  std::function<void(ImproveParameters&)> spoil;
  const char* message;
};

const BadCase kBad[] = {
    {"no_neighbours", [](ImproveParameters& p) { p.neighbours = 0; },
     "ImproveParameters.neighbours must be at least 1, not 0"},
    {"no_quick_neighbours", [](ImproveParameters& p) { p.quick_neighbours = 0; },
     "ImproveParameters.quick_neighbours must be at least 1, not 0"},
    {"quick_budget_negative", [](ImproveParameters& p) { p.quick_budget = -1.0; },
     "ImproveParameters.quick_budget must be at least 0, not -1"},
    {"quick_budget_nan", [](ImproveParameters& p) { p.quick_budget = kNaN; },
     "ImproveParameters.quick_budget must be at least 0, not nan"},
    {"no_repair_restart", [](ImproveParameters& p) { p.repair_restart = 0; },
     "ImproveParameters.repair_restart must be at least 1, not 0"},
    {"no_construction", [](ImproveParameters& p) { p.construction_attempts = 0; },
     "ImproveParameters.construction_attempts must be at least 1, not 0"},
    {"pack_noise_negative", [](ImproveParameters& p) { p.pack_noise = -0.1; },
     "ImproveParameters.pack_noise must be in [0, 1], not -0.1"},
    {"pack_noise_above_one", [](ImproveParameters& p) { p.pack_noise = 1.5; },
     "ImproveParameters.pack_noise must be in [0, 1], not 1.5"},
    {"pack_noise_nan", [](ImproveParameters& p) { p.pack_noise = kNaN; },
     "ImproveParameters.pack_noise must be in [0, 1], not nan"},
    {"nothing_removed", [](ImproveParameters& p) { p.average_removed = 0.0; },
     "ImproveParameters.average_removed must be finite and above 0, not 0"},
    {"removed_nan", [](ImproveParameters& p) { p.average_removed = kNaN; },
     "ImproveParameters.average_removed must be finite and above 0, not nan"},
    {"removed_infinite", [](ImproveParameters& p) { p.average_removed = kInf; },
     "ImproveParameters.average_removed must be finite and above 0, not inf"},
    {"empty_strings", [](ImproveParameters& p) { p.longest_string = 0; },
     "ImproveParameters.longest_string must be at least 1, not 0"},
    {"blink_always", [](ImproveParameters& p) { p.blink = 1.0; },
     "ImproveParameters.blink must be in [0, 1), not 1"},
    {"blink_negative", [](ImproveParameters& p) { p.blink = -0.5; },
     "ImproveParameters.blink must be in [0, 1), not -0.5"},
    {"radial_above_one", [](ImproveParameters& p) { p.radial_share = 1.5; },
     "ImproveParameters.radial_share must be in [0, 1], not 1.5"},
    {"radial_nan", [](ImproveParameters& p) { p.radial_share = kNaN; },
     "ImproveParameters.radial_share must be in [0, 1], not nan"},
    {"centre_negative", [](ImproveParameters& p) { p.repair_centre_share = -0.25; },
     "ImproveParameters.repair_centre_share must be in [0, 1], not -0.25"},
    {"weight_negative", [](ImproveParameters& p) { p.total_weight = -1.0; },
     "ImproveParameters.total_weight must be finite and at least 0, not -1"},
    {"start_cold", [](ImproveParameters& p) { p.start_temperature = 0.0; },
     "ImproveParameters.start_temperature must be finite and above 0, not 0"},
    {"final_cold", [](ImproveParameters& p) { p.final_temperature = 0.0; },
     "ImproveParameters.final_temperature must be above 0 and at most start_temperature, not 0"},
    {"final_above_start", [](ImproveParameters& p) { p.final_temperature = 4.0; },
     "ImproveParameters.final_temperature must be above 0 and at most start_temperature, not 4"},
    {"no_cycle", [](ImproveParameters& p) { p.cycle = 0; }, "ImproveParameters.cycle must be at least 1, not 0"},
    {"no_patience", [](ImproveParameters& p) { p.patience = -3; },
     "ImproveParameters.patience must be at least 1, not -3"},
    {"no_repair_patience", [](ImproveParameters& p) { p.repair_patience = 0; },
     "ImproveParameters.repair_patience must be at least 1, not 0"},
    {"no_exchange_interval", [](ImproveParameters& p) { p.exchange_interval = 0; },
     "ImproveParameters.exchange_interval must be at least 1, not 0"},
};

class ImproveParametersRefused : public ::testing::TestWithParam<BadCase> {};

TEST_P(ImproveParametersRefused, NamesTheField) {
  ImproveParameters parameters;
  GetParam().spoil(parameters);
  try {
    parameters.Validate();
    FAIL() << "accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()), GetParam().message);
  }
}

TEST_P(ImproveParametersRefused, TheEngineRefusesThemToo) {
  const RoutingTables tables = Line({0, 1, 2}, 1);
  const RoutingContext context(tables);
  ImproveSettings settings;
  GetParam().spoil(settings.parameters);
  try {
    ImprovementEngine engine(context, settings);
    FAIL() << "constructed";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(Fields, ImproveParametersRefused, ::testing::ValuesIn(kBad),
                         [](const ::testing::TestParamInfo<BadCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(ImproveParameters, DefaultsAndTheEdgesOfEveryRangePass) {
  ImproveParameters defaults;
  EXPECT_NO_THROW(defaults.Validate());
  ImproveParameters edges;
  edges.neighbours = 1;
  edges.quick_neighbours = 1;
  edges.quick_budget = 0.0;
  edges.insertion_targets = 0;
  edges.construction_attempts = 1;
  edges.pack_attempts = 0;
  edges.pack_noise = 1.0;
  edges.average_removed = 1e-3;
  edges.longest_string = 1;
  edges.blink = 0.0;
  edges.radial_share = 1.0;
  edges.repair_centre_share = 0.0;
  edges.total_weight = 0.0;
  edges.final_temperature = edges.start_temperature;
  edges.cycle = 1;
  edges.patience = 1;
  edges.repair_patience = 1;
  edges.repair_restart = 1;
  edges.exchange_interval = 1;
  EXPECT_NO_THROW(edges.Validate());
}

// The defaults are the values the engine's answers were tuned and recorded with.
TEST(ImproveParameters, DefaultsAreTheTunedValues) {
  const ImproveParameters p;
  EXPECT_EQ(p.neighbours, 30u);
  EXPECT_EQ(p.quick_neighbours, 10u);
  EXPECT_EQ(p.quick_budget, 5.0);
  EXPECT_EQ(p.insertion_targets, 300u);
  EXPECT_EQ(p.construction_attempts, 8u);
  EXPECT_EQ(p.pack_attempts, 32u);
  EXPECT_EQ(p.pack_noise, 0.4);
  EXPECT_EQ(p.average_removed, 10.0);
  EXPECT_EQ(p.longest_string, 10u);
  EXPECT_EQ(p.blink, 0.01);
  EXPECT_EQ(p.radial_share, 0.3);
  EXPECT_EQ(p.repair_centre_share, 0.5);
  EXPECT_EQ(p.total_weight, 0.1);
  EXPECT_EQ(p.start_temperature, 3.0);
  EXPECT_EQ(p.final_temperature, 0.01);
  EXPECT_EQ(p.cycle, 20000);
  EXPECT_EQ(p.patience, 5000);
  EXPECT_EQ(p.repair_patience, 100000);
  EXPECT_EQ(p.repair_restart, 300);
  EXPECT_EQ(p.exchange_interval, 5000);
}

// The descent's neighbourhood by time budget: narrow below quick_budget
// seconds, never wider than neighbours, and the full one without a budget.
TEST(ImproveParameters, ShortBudgetsDescendOverTheQuickNeighbours) {
  struct Case {
    double budget;
    size_t neighbours, quick_neighbours;
    double quick_budget;
    size_t expected;
  };
  const Case cases[] = {
      {0.0, 30, 10, 5.0, 30},  {0.1, 30, 10, 5.0, 10},  {4.99, 30, 10, 5.0, 10}, {5.0, 30, 10, 5.0, 30},
      {60.0, 30, 10, 5.0, 30}, {kInf, 30, 10, 5.0, 30}, {kNaN, 30, 10, 5.0, 30}, {0.1, 6, 10, 5.0, 6},
      {0.1, 30, 10, 0.0, 30},  {1e-9, 30, 1, 5.0, 1},
  };
  std::vector<double> x(41);
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i);
  const RoutingContext context(Line(x, 1));
  for (const Case& c : cases) {
    ImproveSettings settings;
    settings.budget = c.budget;
    settings.parameters.neighbours = c.neighbours;
    settings.parameters.quick_neighbours = c.quick_neighbours;
    settings.parameters.quick_budget = c.quick_budget;
    const size_t expected = std::min<size_t>(c.expected, 39);  // 40 targets: 39 others each
    EXPECT_EQ(settings.Neighbours(), c.expected)
        << c.budget << " s, " << c.neighbours << "/" << c.quick_neighbours;
    // The engine's own model is built with that many.
    const ImprovementEngine engine(context, settings);
    EXPECT_EQ(engine.model().Neighbours(1).size(), expected) << c.budget << " s";
  }
}

// Either target fits alone, both never: the repair never leaves fewer out and
// gives up after repair_patience iterations (the iteration that finds it
// stalled is counted).
TEST(ImproveParameters, RepairPatienceEndsAHopelessRepair) {
  RoutingTables tables = Line({0, 5, -5}, 1);
  tables.time_limit = {10.5};
  const RoutingContext context(tables);
  for (int64_t patience : {1, 7, 40}) {
    ImproveSettings settings;
    settings.parameters.repair_patience = patience;
    ImprovementEngine engine(context, settings);
    EXPECT_FALSE(engine.Run(nullptr, [] { return false; }, nullptr));
    EXPECT_EQ(engine.counts().iterations, patience + 2);
    EXPECT_EQ(engine.counts().restarts, 0);
  }
}

}  // namespace
