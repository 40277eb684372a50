#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "io/instance_reader.hpp"
#include "model/problem.hpp"

using namespace velmora;
using nlohmann::json;

namespace {

constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();
constexpr int32_t kI32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t kI32Min = std::numeric_limits<int32_t>::min();

// What the reader throws for `text`, or "" when it succeeds.
std::string ReadError(const std::string& text, Problem& problem) {
  try {
    ReadInstance(ParseInstanceText(text), problem);
  } catch (const json::exception& e) {
    return e.what();
  }
  return "";
}

std::string ParseError(const std::string& text) {
  try {
    (void)ParseInstanceText(text);
  } catch (const json::exception& e) {
    return e.what();
  }
  return "";
}

Problem Read(const std::string& text) {
  Problem problem;
  ReadInstance(ParseInstanceText(text), problem);
  return problem;
}

// Document with one node and one agent around a replaceable section.
std::string WithAgentField(const std::string& field) {
  return R"({"nodes": [], "agents": [{"id": 0, "type": "t", "start_node": 0, "end_node": 0)" + field + "}]}";
}

// ---------------------------------------------------------------------------
// Integer conversions.

struct Uint64Case {
  const char* text;
  uint64_t expected;
  bool library_defined;  // the library's own get<uint64_t>() is well-defined here
};

class Uint64Conversion : public testing::TestWithParam<Uint64Case> {};

TEST_P(Uint64Conversion, MatchesLibraryWhereDefinedAndSaturatesOtherwise) {
  const json value = json::parse(GetParam().text);
  EXPECT_EQ(JsonToUint64(value), GetParam().expected);
  if (GetParam().library_defined) {
    EXPECT_EQ(value.get<uint64_t>(), GetParam().expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Values, Uint64Conversion,
                         testing::Values(Uint64Case{"7", 7u, true}, Uint64Case{"-1", kU64Max, true},
                                         Uint64Case{"-2", kU64Max - 1, true},
                                         Uint64Case{"-9223372036854775808", 9223372036854775808ull, true},
                                         Uint64Case{"9223372036854775808", 9223372036854775808ull, true},
                                         Uint64Case{"18446744073709551615", kU64Max, true},
                                         Uint64Case{"3.7", 3u, true}, Uint64Case{"-0.5", 0u, true},
                                         Uint64Case{"4294967296.5", 4294967296ull, true},
                                         Uint64Case{"9223372036854775808.0", 9223372036854775808ull, true},
                                         Uint64Case{"18446744073709549568.0", 18446744073709549568ull, true},
                                         // Out of range for a float-to-integer cast.
                                         Uint64Case{"-1.0", 0u, false}, Uint64Case{"-3.5", 0u, false},
                                         Uint64Case{"-1e300", 0u, false}, Uint64Case{"1e300", kU64Max, false},
                                         Uint64Case{"18446744073709551615.0", kU64Max, false},  // rounds to 2^64
                                         Uint64Case{"18446744073709551616", kU64Max, false},  // parsed as float
                                         Uint64Case{"true", 1u, false}, Uint64Case{"false", 0u, false}));

TEST(Uint64Conversion, NonFiniteFloats) {
  EXPECT_EQ(JsonToUint64(json(std::nan(""))), 0u);
  EXPECT_EQ(JsonToUint64(json(std::numeric_limits<double>::infinity())), kU64Max);
  EXPECT_EQ(JsonToUint64(json(-std::numeric_limits<double>::infinity())), 0u);
}

struct Int32Case {
  const char* text;
  int32_t expected;
  bool library_defined;
};

class Int32Conversion : public testing::TestWithParam<Int32Case> {};

TEST_P(Int32Conversion, MatchesLibraryWhereDefinedAndSaturatesOtherwise) {
  const json value = json::parse(GetParam().text);
  EXPECT_EQ(JsonToInt32(value), GetParam().expected);
  if (GetParam().library_defined) {
    EXPECT_EQ(value.get<int32_t>(), GetParam().expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, Int32Conversion,
    testing::Values(Int32Case{"12", 12, true}, Int32Case{"-5", -5, true}, Int32Case{"true", 1, true},
                    Int32Case{"false", 0, true}, Int32Case{"15.9", 15, true}, Int32Case{"-15.9", -15, true},
                    Int32Case{"-0.5", 0, true}, Int32Case{"2147483647.9", kI32Max, true},
                    Int32Case{"-2147483648.9", kI32Min, true},
                    // Integers keep their low 32 bits.
                    Int32Case{"2147483648", kI32Min, false}, Int32Case{"4294967295", -1, false},
                    Int32Case{"4294967296", 0, false}, Int32Case{"4294967297", 1, false},
                    Int32Case{"-4294967297", -1, false}, Int32Case{"-2147483649", kI32Max, false},
                    Int32Case{"18446744073709551615", -1, false},
                    // Floats beyond the range saturate.
                    Int32Case{"2147483648.0", kI32Max, false}, Int32Case{"4294967296.5", kI32Max, false},
                    Int32Case{"1e300", kI32Max, false}, Int32Case{"-2147483649.0", kI32Min, false},
                    Int32Case{"-1e300", kI32Min, false}));

TEST(Int32Conversion, NonFiniteFloats) {
  EXPECT_EQ(JsonToInt32(json(std::nan(""))), 0);
  EXPECT_EQ(JsonToInt32(json(std::numeric_limits<double>::infinity())), kI32Max);
  EXPECT_EQ(JsonToInt32(json(-std::numeric_limits<double>::infinity())), kI32Min);
}

TEST(IntegerConversion, NonNumbersRaiseTheLibraryTypeError) {
  const std::vector<std::pair<json, std::string>> cases = {
      {json(nullptr), "null"},          {json("7"), "string"},
      {json::array({1}), "array"},      {json::object(), "object"},
      {json::binary({1, 2}), "binary"}, {json(json::value_t::discarded), "discarded"}};
  for (const auto& [value, name] : cases) {
    const std::string expected = "[json.exception.type_error.302] type must be number, but is " + name;
    try {
      (void)JsonToUint64(value);
      ADD_FAILURE() << "uint64 accepted " << name;
    } catch (const json::type_error& e) {
      EXPECT_EQ(std::string(e.what()), expected);
    }
    try {
      (void)JsonToInt32(value);
      ADD_FAILURE() << "int32 accepted " << name;
    } catch (const json::type_error& e) {
      EXPECT_EQ(std::string(e.what()), expected);
    }
  }
}

// ---------------------------------------------------------------------------
// Reading whole documents.

TEST(InstanceReader, EmptyArraysGiveAnEmptyProblemWithDefaultOptions) {
  const Problem p = Read(R"({"nodes": [], "agents": []})");
  EXPECT_EQ(p.num_nodes(), 0u);
  EXPECT_EQ(p.num_agents(), 0u);
  EXPECT_TRUE(p.cost_matrices().empty());
  EXPECT_TRUE(p.assignment_constraint().assignments.empty());
  EXPECT_TRUE(p.timewindow_constraint().windows.empty());
  EXPECT_TRUE(p.precedence_lists().precedence.empty());
  EXPECT_TRUE(p.options().return_to_end);
  EXPECT_EQ(p.options().objective, ObjectiveType::MinSum);
  EXPECT_EQ(p.options().time_limit, 60.0);
}

TEST(InstanceReader, FullDocument) {
  const Problem p = Read(R"({
    "nodes": [
      {"id": 10, "x": 1.5, "y": -2, "z": 3.25, "type": "depot", "demand": 4.5, "extra": 1},
      {"id": 11, "x": 0, "y": 7}
    ],
    "agents": [
      {"id": 5, "type": "truck", "start_node": 10, "end_node": 11, "capacity": 15.9, "max_length": 100},
      {"id": 6, "type": "drone", "start_node": 11, "end_node": 10},
      {"id": 7, "type": "truck", "start_node": 10, "end_node": 10}
    ],
    "costs": {"truck": [[0, 1.5], [2]], "drone": [[0]]},
    "constraints": [
      {"kind": "assignment", "items": [{"node": 11, "types": ["drone", "truck"]}]},
      {"kind": "timewindow", "items": [{"node": 11, "start": 5, "end": 2.5}]},
      {"kind": "sequence", "precedence": [{"before": 10, "after": 11, "type": "same"}]}
    ],
    "options": {"return_to_end": false, "objective": "min_max", "time_limit": 5}
  })");

  ASSERT_EQ(p.num_nodes(), 2u);
  const Node& n0 = p.nodes()[0];
  EXPECT_EQ(n0.id, 10u);
  EXPECT_EQ(n0.position.x, 1.5);
  EXPECT_EQ(n0.position.y, -2.0);
  EXPECT_EQ(n0.position.z, 3.25);
  EXPECT_EQ(n0.type, NodeType::DEPOT);
  EXPECT_EQ(n0.demand, 4.5);
  const Node& n1 = p.nodes()[1];
  EXPECT_EQ(n1.id, 11u);
  EXPECT_EQ(n1.position.z, 0.0);
  EXPECT_EQ(n1.type, NodeType::TARGET);
  EXPECT_EQ(n1.demand, 0.0);

  ASSERT_EQ(p.agents_ordered().size(), 3u);
  EXPECT_EQ(p.num_agents(), 3u);
  const Agent& a0 = p.agents_ordered()[0];
  EXPECT_EQ(a0.id, 5u);
  EXPECT_EQ(a0.type, "truck");
  EXPECT_EQ(a0.start_node, 10u);
  EXPECT_EQ(a0.end_node, 11u);
  EXPECT_EQ(a0.capacity_limit, 15.0);
  EXPECT_EQ(a0.time_limit, 100.0);
  EXPECT_EQ(p.agents_ordered()[1].capacity_limit, 0.0);
  EXPECT_EQ(p.agents_ordered()[1].time_limit, 0.0);
  EXPECT_EQ(p.agents().at(6).type, "drone");
  EXPECT_EQ(p.agent_types(), (std::vector<std::string>{"truck", "drone"}));
  EXPECT_EQ(p.agent_type_index().at(5), 0u);
  EXPECT_EQ(p.agent_type_index().at(6), 1u);
  EXPECT_EQ(p.agent_type_index().at(7), 0u);
  EXPECT_EQ(p.agent_index().at(7), 2u);

  ASSERT_EQ(p.cost_matrices().size(), 2u);
  EXPECT_EQ(p.cost_matrices().at("truck"), (Matrix{{0.0, 1.5}, {2.0}}));
  EXPECT_EQ(p.cost_matrices().at("drone"), (Matrix{{0.0}}));

  EXPECT_EQ(p.assignment_constraint().assignments.at(11), (std::vector<std::string>{"drone", "truck"}));
  EXPECT_EQ(p.timewindow_constraint().windows.at(11), std::make_pair(5.0, 2.5));
  EXPECT_EQ(p.precedence_lists().precedence_same, (std::vector<IdPair>{{10, 11}}));

  EXPECT_FALSE(p.options().return_to_end);
  EXPECT_EQ(p.options().objective, ObjectiveType::MinMax);
  EXPECT_EQ(p.options().time_limit, 5.0);
}

TEST(InstanceReader, NodeTypeIsDepotOnlyForCaseInsensitiveDepot) {
  const std::vector<std::pair<std::string, NodeType>> cases = {
      {R"("type": "depot")", NodeType::DEPOT},   {R"("type": "Depot")", NodeType::DEPOT},
      {R"("type": "dEpOT")", NodeType::DEPOT},   {R"("type": "DEPOT")", NodeType::DEPOT},
      {R"("type": "start")", NodeType::TARGET},  {R"("type": "target")", NodeType::TARGET},
      {R"("type": "")", NodeType::TARGET},       {R"("type": " depot")", NodeType::TARGET},
      {R"("type": "depots")", NodeType::TARGET}, {R"("type": "d\u00e9pot")", NodeType::TARGET},
      {R"("kind": "depot")", NodeType::TARGET}};
  for (const auto& [field, expected] : cases) {
    SCOPED_TRACE(field);
    const Problem p = Read(R"({"nodes": [{"id": 1, "x": 0, "y": 0, )" + field + R"(}], "agents": []})");
    EXPECT_EQ(p.nodes()[0].type, expected);
  }
}

TEST(InstanceReader, IdFieldsUseUnsignedConversions) {
  const Problem p = Read(R"({
    "nodes": [{"id": 3.7, "x": 0, "y": 0}, {"id": true, "x": 0, "y": 0}, {"id": -1, "x": 0, "y": 0},
              {"id": 1e300, "x": 0, "y": 0}, {"id": -2.5, "x": 0, "y": 0}],
    "agents": [{"id": false, "type": "t", "start_node": 2.9, "end_node": -3}],
    "constraints": [
      {"kind": "assignment", "items": [{"node": -1, "types": []}]},
      {"kind": "timewindow", "items": [{"node": 4294967296.5, "start": 0, "end": 1}]},
      {"kind": "sequence", "precedence": [{"before": true, "after": -1e300}]}
    ]
  })");
  ASSERT_EQ(p.num_nodes(), 5u);
  EXPECT_EQ(p.nodes()[0].id, 3u);
  EXPECT_EQ(p.nodes()[1].id, 1u);
  EXPECT_EQ(p.nodes()[2].id, kU64Max);
  EXPECT_EQ(p.nodes()[3].id, kU64Max);
  EXPECT_EQ(p.nodes()[4].id, 0u);
  const Agent& a = p.agents_ordered()[0];
  EXPECT_EQ(a.id, 0u);
  EXPECT_EQ(a.start_node, 2u);
  EXPECT_EQ(a.end_node, kU64Max - 2);
  EXPECT_EQ(p.assignment_constraint().assignments.count(kU64Max), 1u);
  EXPECT_EQ(p.timewindow_constraint().windows.count(4294967296ull), 1u);
  EXPECT_EQ(p.precedence_lists().precedence, (std::vector<IdPair>{{1, 0}}));
}

TEST(InstanceReader, LimitsPassThroughInt32) {
  const std::vector<std::pair<std::string, double>> cases = {{"15.9", 15.0},
                                                             {"-15.9", -15.0},
                                                             {"true", 1.0},
                                                             {"7", 7.0},
                                                             {"4294967297", 1.0},
                                                             {"2147483648", -2147483648.0},
                                                             {"-1e300", -2147483648.0},
                                                             {"1e300", 2147483647.0}};
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    const Problem p = Read(WithAgentField(", \"capacity\": " + text + ", \"max_length\": " + text));
    EXPECT_EQ(p.agents_ordered()[0].capacity_limit, expected);
    EXPECT_EQ(p.agents_ordered()[0].time_limit, expected);
  }
}

TEST(InstanceReader, RepeatedAgentIdKeepsBothOrderedEntries) {
  const Problem p = Read(R"({"nodes": [], "agents": [
      {"id": 1, "type": "a", "start_node": 0, "end_node": 0, "capacity": 1},
      {"id": 1, "type": "b", "start_node": 0, "end_node": 0, "capacity": 2}]})");
  EXPECT_EQ(p.agents_ordered().size(), 2u);
  EXPECT_EQ(p.num_agents(), 1u);
  EXPECT_EQ(p.agents().at(1).capacity_limit, 2.0);
  EXPECT_EQ(p.agent_index().at(1), 1u);
}

TEST(InstanceReader, SectionsIterateLikeTheLibrary) {
  // Objects yield their member values in ascending key order; null yields nothing.
  const Problem p = Read(R"({
    "nodes": {"b": {"id": 2, "x": 0, "y": 0}, "a": {"id": 1, "x": 0, "y": 0}},
    "agents": null,
    "constraints": {"z": {"kind": "sequence", "precedence": {"q": {"before": 4, "after": 5}}}}
  })");
  ASSERT_EQ(p.num_nodes(), 2u);
  EXPECT_EQ(p.nodes()[0].id, 1u);
  EXPECT_EQ(p.nodes()[1].id, 2u);
  EXPECT_EQ(p.num_agents(), 0u);
  EXPECT_EQ(p.precedence_lists().precedence, (std::vector<IdPair>{{4, 5}}));
}

TEST(InstanceReader, CostsForms) {
  const Problem from_array = Read(R"({"nodes": [], "agents": [], "costs": [[[0, 1]], [[2], [3, 4, 5]]]})");
  ASSERT_EQ(from_array.cost_matrices().size(), 2u);
  EXPECT_EQ(from_array.cost_matrices().at("0"), (Matrix{{0.0, 1.0}}));
  EXPECT_EQ(from_array.cost_matrices().at("1"), (Matrix{{2.0}, {3.0, 4.0, 5.0}}));

  EXPECT_TRUE(Read(R"({"nodes": [], "agents": [], "costs": null})").cost_matrices().empty());
  EXPECT_TRUE(Read(R"({"nodes": [], "agents": [], "costs": {}})").cost_matrices().empty());

  const Problem empty_matrix = Read(R"({"nodes": [], "agents": [], "costs": {"t": []}})");
  EXPECT_EQ(empty_matrix.cost_matrices().at("t"), Matrix{});
}

TEST(InstanceReader, ObjectiveSpellings) {
  const std::vector<std::pair<std::string, ObjectiveType>> cases = {
      {R"("min_max")", ObjectiveType::MinMax}, {R"("MIN_MAX")", ObjectiveType::MinMax},
      {R"("MinMax")", ObjectiveType::MinSum},  {R"("minmax")", ObjectiveType::MinSum},
      {R"("Min_Max")", ObjectiveType::MinSum}, {R"("min_sum")", ObjectiveType::MinSum},
      {R"("")", ObjectiveType::MinSum}};
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    const Problem p = Read(R"({"nodes": [], "agents": [], "options": {"objective": )" + text + "}}");
    EXPECT_EQ(p.options().objective, expected);
  }
}

TEST(InstanceReader, OptionsAbsentKeepValuesAndPresentApplyDefaults) {
  Problem kept;
  kept.options() = Options{false, ObjectiveType::MinMax, 7.0};
  ReadInstance(ParseInstanceText(R"({"nodes": [], "agents": []})"), kept);
  EXPECT_FALSE(kept.options().return_to_end);
  EXPECT_EQ(kept.options().objective, ObjectiveType::MinMax);
  EXPECT_EQ(kept.options().time_limit, 7.0);

  Problem reset;
  reset.options() = Options{false, ObjectiveType::MinMax, 7.0};
  ReadInstance(ParseInstanceText(R"({"nodes": [], "agents": [], "options": {}})"), reset);
  EXPECT_TRUE(reset.options().return_to_end);
  EXPECT_EQ(reset.options().objective, ObjectiveType::MinSum);
  EXPECT_EQ(reset.options().time_limit, 60.0);
}

TEST(InstanceReader, ImprovementOptions) {
  const Problem absent = Read(R"({"nodes": [], "agents": [], "options": {}})");
  EXPECT_FALSE(absent.options().improve);
  EXPECT_EQ(absent.options().seed, 0u);
  EXPECT_EQ(absent.options().improve_iterations, 0);
  EXPECT_EQ(absent.options().threads, 1u);

  const Problem given = Read(R"({"nodes": [], "agents": [], "options": {"improve": true,
      "seed": 18446744073709551615, "improve_iterations": -3, "threads": 4294967295}})");
  EXPECT_TRUE(given.options().improve);
  EXPECT_EQ(given.options().seed, kU64Max);
  EXPECT_EQ(given.options().improve_iterations, -3);
  EXPECT_EQ(given.options().threads, 4294967295u);
  EXPECT_EQ(Read(R"({"nodes": [], "agents": [], "options": {"threads": 0}})").options().threads, 0u);
  EXPECT_EQ(Read(R"({"nodes": [], "agents": [], "options": {"improve_iterations": 9223372036854775807}})")
                .options()
                .improve_iterations,
            std::numeric_limits<int64_t>::max());
}

TEST(InstanceReaderFailure, ImprovementOptionsOfTheWrongKind) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"("improve": 1)", "[json.exception.type_error.302] type must be boolean, but is number"},
      {R"("improve": "yes")", "[json.exception.type_error.302] type must be boolean, but is string"},
      {R"("seed": -1)", "options.seed must be an unsigned integer, but is -1"},
      {R"("seed": 1.5)", "options.seed must be an unsigned integer, but is 1.5"},
      {R"("seed": "7")", "options.seed must be an unsigned integer, but is \"7\""},
      {R"("threads": -1)", "options.threads must be an unsigned integer, but is -1"},
      {R"("threads": 2.0)", "options.threads must be an unsigned integer, but is 2.0"},
      {R"("threads": true)", "options.threads must be an unsigned integer, but is true"},
      {R"("threads": "2")", "options.threads must be an unsigned integer, but is \"2\""},
      {R"("threads": 4294967296)", "options.threads is too large: 4294967296"},
      {R"("improve_iterations": 2.0)", "options.improve_iterations must be an integer, but is 2.0"},
      {R"("improve_iterations": true)", "options.improve_iterations must be an integer, but is true"},
      {R"("improve_iterations": 9223372036854775808)",
       "options.improve_iterations is too large: 9223372036854775808"},
  };
  for (const auto& [option, what] : cases) {
    SCOPED_TRACE(option);
    Problem p;
    std::string error;
    try {
      ReadInstance(ParseInstanceText(R"({"nodes": [], "agents": [], "options": {)" + option + "}}"), p);
    } catch (const std::exception& e) {
      error = e.what();
    }
    EXPECT_EQ(error, what);
    EXPECT_FALSE(p.options().improve);
  }
}

TEST(InstanceReader, ConstraintSelectionAndAccumulation) {
  const Problem p = Read(R"({"nodes": [], "agents": [],
    "precedence": [{"before": 9, "after": 9}],
    "constraints": [
      {"kind": "Assignment", "items": [{"node": 1, "types": ["x"]}]},
      {"kind": "assignment"},
      {"kind": "timewindow"},
      {"kind": "sequence", "items": [{"before": 1, "after": 2}]},
      {"kind": "other", "items": 5},
      {"kind": "assignment", "items": [{"node": 2, "types": ["a"]}, {"node": 2, "types": ["b", "a"]}]},
      {"kind": "assignment", "items": [{"node": 3, "types": []}]},
      {"kind": "timewindow", "items": [{"node": 4, "start": 1, "end": 2}]},
      {"kind": "timewindow", "items": [{"node": 4, "start": 3, "end": 4.5}]},
      {"kind": "sequence", "precedence": [
        {"before": 1, "after": 2}, {"before": 1, "after": 2},
        {"before": 3, "after": 4, "type": "same"}, {"before": 5, "after": 6, "type": "diff"},
        {"before": 7, "after": 8, "type": "SAME"}, {"before": 9, "after": 10, "type": ""}]},
      {"kind": "sequence", "precedence": [{"before": 11, "after": 12, "type": "diff"}]}
    ]})");
  const auto& assignments = p.assignment_constraint().assignments;
  ASSERT_EQ(assignments.size(), 2u);
  EXPECT_EQ(assignments.at(2), (std::vector<std::string>{"b", "a"}));
  EXPECT_TRUE(assignments.at(3).empty());
  ASSERT_EQ(p.timewindow_constraint().windows.size(), 1u);
  EXPECT_EQ(p.timewindow_constraint().windows.at(4), std::make_pair(3.0, 4.5));
  const PrecedenceLists& lists = p.precedence_lists();
  EXPECT_EQ(lists.precedence, (std::vector<IdPair>{{1, 2}, {1, 2}, {7, 8}, {9, 10}}));
  EXPECT_EQ(lists.precedence_same, (std::vector<IdPair>{{3, 4}}));
  EXPECT_EQ(lists.precedence_diff, (std::vector<IdPair>{{5, 6}, {11, 12}}));
}

TEST(InstanceReader, ConstraintTablesAreReplacedWholesale) {
  Problem p;
  AssignmentConstraint assignment;
  assignment.set_assignment(1, {"old"});
  TimeWindowConstraint windows;
  windows.set_timewindow(1, 0, 1);
  p.set_assignment_constraint(assignment);
  p.set_timewindow_constraint(windows);
  p.set_precedence_lists(PrecedenceLists{{{1, 2}}, {{3, 4}}, {{5, 6}}});
  ReadInstance(ParseInstanceText(R"({"nodes": [], "agents": []})"), p);
  EXPECT_TRUE(p.assignment_constraint().assignments.empty());
  EXPECT_TRUE(p.timewindow_constraint().windows.empty());
  EXPECT_TRUE(p.precedence_lists().precedence.empty());
  EXPECT_TRUE(p.precedence_lists().precedence_same.empty());
  EXPECT_TRUE(p.precedence_lists().precedence_diff.empty());
}

// ---------------------------------------------------------------------------
// Failures: exact texts and what stays in the problem.

struct FailureCase {
  const char* name;
  std::string text;
  std::string what;
  uint64_t nodes_left;
  uint64_t agents_left;
};

class InstanceReaderFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(InstanceReaderFailure, RaisesTheLibraryException) {
  Problem p;
  EXPECT_EQ(ReadError(GetParam().text, p), GetParam().what);
  EXPECT_EQ(p.num_nodes(), GetParam().nodes_left);
  EXPECT_EQ(p.nodes().size(), GetParam().nodes_left);
  EXPECT_EQ(p.agents_ordered().size(), GetParam().agents_left);
}

const std::string kNode = R"({"id": 0, "x": 0, "y": 0})";
const std::string kAgent = R"({"id": 0, "type": "t", "start_node": 0, "end_node": 0})";
const std::string kHead = R"({"nodes": [)" + kNode + R"(], "agents": [)" + kAgent + "]";

std::string NodeDoc(const std::string& body) {
  return R"({"nodes": [)" + kNode + ", " + body + R"(], "agents": []})";
}
std::string AgentDoc(const std::string& body) {
  return R"({"nodes": [], "agents": [)" + kAgent + ", " + body + "]}";
}
std::string Tail(const std::string& rest) { return kHead + ", " + rest + "}"; }

const std::string k403 = "[json.exception.out_of_range.403] key '";
const std::string k302n = "[json.exception.type_error.302] type must be number, but is ";
const std::string k302s = "[json.exception.type_error.302] type must be string, but is ";
const std::string k302a = "[json.exception.type_error.302] type must be array, but is ";
const std::string k302b = "[json.exception.type_error.302] type must be boolean, but is ";
const std::string k304 = "[json.exception.type_error.304] cannot use at() with ";
const std::string k306 = "[json.exception.type_error.306] cannot use value() with ";

INSTANTIATE_TEST_SUITE_P(
    Table, InstanceReaderFailure,
    testing::Values(
        // Missing required keys.
        FailureCase{"MissingNodes", R"({"agents": []})", k403 + "nodes' not found", 0, 0},
        FailureCase{"MissingAgents", R"({"nodes": [)" + kNode + ", " + kNode + "]}", k403 + "agents' not found", 2,
                    0},
        FailureCase{"NodeId", NodeDoc(R"({"x": 0, "y": 0})"), k403 + "id' not found", 1, 0},
        FailureCase{"NodeX", NodeDoc(R"({"id": 1, "y": 0})"), k403 + "x' not found", 1, 0},
        FailureCase{"NodeY", NodeDoc(R"({"id": 1, "x": 0})"), k403 + "y' not found", 1, 0},
        FailureCase{"NodeIdBeforeX", NodeDoc("{}"), k403 + "id' not found", 1, 0},
        FailureCase{"AgentId", AgentDoc(R"({"type": "t", "start_node": 0, "end_node": 0})"),
                    k403 + "id' not found", 0, 1},
        FailureCase{"AgentType", AgentDoc(R"({"id": 1, "start_node": 0, "end_node": 0})"),
                    k403 + "type' not found", 0, 1},
        FailureCase{"AgentStart", AgentDoc(R"({"id": 1, "type": "t", "end_node": 0})"),
                    k403 + "start_node' not found", 0, 1},
        FailureCase{"AgentEnd", AgentDoc(R"({"id": 1, "type": "t", "start_node": 0})"),
                    k403 + "end_node' not found", 0, 1},
        FailureCase{"Kind", Tail(R"("constraints": [{"items": []}])"), k403 + "kind' not found", 1, 1},
        FailureCase{"AssignmentNode", Tail(R"("constraints": [{"kind": "assignment", "items": [{"types": []}]}])"),
                    k403 + "node' not found", 1, 1},
        FailureCase{"AssignmentTypes", Tail(R"("constraints": [{"kind": "assignment", "items": [{"node": 1}]}])"),
                    k403 + "types' not found", 1, 1},
        FailureCase{"WindowNode",
                    Tail(R"("constraints": [{"kind": "timewindow", "items": [{"start": 0, "end": 1}]}])"),
                    k403 + "node' not found", 1, 1},
        FailureCase{"WindowStart",
                    Tail(R"("constraints": [{"kind": "timewindow", "items": [{"node": 1, "end": 1}]}])"),
                    k403 + "start' not found", 1, 1},
        FailureCase{"WindowEnd",
                    Tail(R"("constraints": [{"kind": "timewindow", "items": [{"node": 1, "start": 1}]}])"),
                    k403 + "end' not found", 1, 1},
        FailureCase{"Before", Tail(R"("constraints": [{"kind": "sequence", "precedence": [{"after": 1}]}])"),
                    k403 + "before' not found", 1, 1},
        FailureCase{"After", Tail(R"("constraints": [{"kind": "sequence", "precedence": [{"before": 1}]}])"),
                    k403 + "after' not found", 1, 1},
        // Non-objects where an object is read with at().
        FailureCase{"DocumentArray", "[1]", k304 + "array", 0, 0},
        FailureCase{"DocumentNull", "null", k304 + "null", 0, 0},
        FailureCase{"DocumentString", R"("x")", k304 + "string", 0, 0},
        FailureCase{"NodeNumber", NodeDoc("5"), k304 + "number", 1, 0},
        FailureCase{"NodesScalar", R"({"nodes": true, "agents": []})", k304 + "boolean", 0, 0},
        FailureCase{"AgentArray", AgentDoc("[]"), k304 + "array", 0, 1},
        FailureCase{"ConstraintString", Tail(R"("constraints": ["assignment"])"), k304 + "string", 1, 1},
        FailureCase{"ItemNumber", Tail(R"("constraints": [{"kind": "assignment", "items": [3]}])"),
                    k304 + "number", 1, 1},
        FailureCase{"ItemsScalar", Tail(R"("constraints": [{"kind": "timewindow", "items": 3}])"), k304 + "number",
                    1, 1},
        FailureCase{"PrecedenceItemNull", Tail(R"("constraints": [{"kind": "sequence", "precedence": [null]}])"),
                    k304 + "null", 1, 1},
        // Options not an object.
        FailureCase{"OptionsArray", Tail(R"("options": [])"), k306 + "array", 1, 1},
        FailureCase{"OptionsNull", Tail(R"("options": null)"), k306 + "null", 1, 1},
        FailureCase{"OptionsNumber", Tail(R"("options": 1)"), k306 + "number", 1, 1},
        // Numeric fields.
        FailureCase{"NodeIdString", NodeDoc(R"({"id": "1", "x": 0, "y": 0})"), k302n + "string", 1, 0},
        FailureCase{"NodeXNull", NodeDoc(R"({"id": 1, "x": null, "y": 0})"), k302n + "null", 1, 0},
        FailureCase{"NodeYArray", NodeDoc(R"({"id": 1, "x": 0, "y": []})"), k302n + "array", 1, 0},
        FailureCase{"NodeZObject", NodeDoc(R"({"id": 1, "x": 0, "y": 0, "z": {}})"), k302n + "object", 1, 0},
        FailureCase{"NodeXBoolean", NodeDoc(R"({"id": 1, "x": true, "y": 0})"), k302n + "boolean", 1, 0},
        FailureCase{"DemandBoolean", NodeDoc(R"({"id": 1, "x": 0, "y": 0, "demand": false})"), k302n + "boolean",
                    1, 0},
        FailureCase{"AgentIdNull", AgentDoc(R"({"id": null, "type": "t", "start_node": 0, "end_node": 0})"),
                    k302n + "null", 0, 1},
        FailureCase{"StartNodeString", AgentDoc(R"({"id": 1, "type": "t", "start_node": "0", "end_node": 0})"),
                    k302n + "string", 0, 1},
        FailureCase{"EndNodeObject", AgentDoc(R"({"id": 1, "type": "t", "start_node": 0, "end_node": {}})"),
                    k302n + "object", 0, 1},
        FailureCase{"CapacityString", WithAgentField(R"(, "capacity": "9")"), k302n + "string", 0, 0},
        FailureCase{"MaxLengthNull", WithAgentField(R"(, "max_length": null)"), k302n + "null", 0, 0},
        FailureCase{"CostString", Tail(R"("costs": {"t": [[0, "1"]]})"), k302n + "string", 1, 1},
        FailureCase{"CostBoolean", Tail(R"("costs": {"t": [[true]]})"), k302n + "boolean", 1, 1},
        FailureCase{"ItemNodeString",
                    Tail(R"("constraints": [{"kind": "assignment", "items": [{"node": "1", "types": []}]}])"),
                    k302n + "string", 1, 1},
        FailureCase{
            "StartBoolean",
            Tail(R"("constraints": [{"kind": "timewindow", "items": [{"node": 1, "start": true, "end": 1}]}])"),
            k302n + "boolean", 1, 1},
        FailureCase{
            "EndString",
            Tail(R"("constraints": [{"kind": "timewindow", "items": [{"node": 1, "start": 0, "end": "1"}]}])"),
            k302n + "string", 1, 1},
        FailureCase{"BeforeNull",
                    Tail(R"("constraints": [{"kind": "sequence", "precedence": [{"before": null, "after": 1}]}])"),
                    k302n + "null", 1, 1},
        FailureCase{"AfterArray",
                    Tail(R"("constraints": [{"kind": "sequence", "precedence": [{"before": 1, "after": []}]}])"),
                    k302n + "array", 1, 1},
        FailureCase{"TimeLimitBoolean", Tail(R"("options": {"time_limit": true})"), k302n + "boolean", 1, 1},
        FailureCase{"TimeLimitString", Tail(R"("options": {"time_limit": "5"})"), k302n + "string", 1, 1},
        // String fields.
        FailureCase{"NodeTypeNumber", NodeDoc(R"({"id": 1, "x": 0, "y": 0, "type": 0})"), k302s + "number", 1, 0},
        FailureCase{"AgentTypeNumber", AgentDoc(R"({"id": 1, "type": 2, "start_node": 0, "end_node": 0})"),
                    k302s + "number", 0, 1},
        FailureCase{"KindNumber", Tail(R"("constraints": [{"kind": 1}])"), k302s + "number", 1, 1},
        FailureCase{"ObjectiveBoolean", Tail(R"("options": {"objective": true})"), k302s + "boolean", 1, 1},
        FailureCase{
            "PrecedenceTypeNumber",
            Tail(R"("constraints": [{"kind": "sequence", "precedence": [{"before": 1, "after": 2, "type": 1}]}])"),
            k302s + "number", 1, 1},
        FailureCase{"TypesElementNumber",
                    Tail(R"("constraints": [{"kind": "assignment", "items": [{"node": 1, "types": ["a", 1]}]}])"),
                    k302s + "number", 1, 1},
        // Array fields.
        FailureCase{"MatrixNumber", Tail(R"("costs": {"t": 1})"), k302a + "number", 1, 1},
        FailureCase{"MatrixObject", Tail(R"("costs": {"t": {"r": [1]}})"), k302a + "object", 1, 1},
        FailureCase{"CostsScalar", Tail(R"("costs": 5)"), k302a + "number", 1, 1},
        FailureCase{"RowObject", Tail(R"("costs": {"t": [[0], {"a": 1}]})"), k302a + "object", 1, 1},
        FailureCase{"TypesString",
                    Tail(R"("constraints": [{"kind": "assignment", "items": [{"node": 1, "types": "truck"}]}])"),
                    k302a + "string", 1, 1},
        // Boolean field.
        FailureCase{"ReturnToEndNumber", Tail(R"("options": {"return_to_end": 0})"), k302b + "number", 1, 1},
        FailureCase{"ReturnToEndString", Tail(R"("options": {"return_to_end": "true"})"), k302b + "string", 1, 1}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(InstanceReaderFailure, EarlierSectionsStayAndConstraintTablesAreNotTouched) {
  Problem p;
  AssignmentConstraint before;
  before.set_assignment(42, {"kept"});
  p.set_assignment_constraint(before);
  p.options().time_limit = 9.0;
  const std::string what = ReadError(Tail(R"("costs": {"a": [[1]], "b": [[2]], "c": 3},
      "constraints": [{"kind": "assignment", "items": [{"node": 1, "types": ["x"]}]}])"),
                                     p);
  EXPECT_EQ(what, k302a + "number");
  // Matrices are stored one by one in key order until the bad one.
  EXPECT_EQ(p.cost_matrices().size(), 2u);
  EXPECT_EQ(p.cost_matrices().at("b"), (Matrix{{2.0}}));

  const std::string late = ReadError(Tail(R"("constraints": [
      {"kind": "assignment", "items": [{"node": 1, "types": ["x"]}]}, {"kind": null}])"),
                                     p);
  EXPECT_EQ(late, k302s + "null");
  EXPECT_EQ(p.assignment_constraint().assignments.at(42), (std::vector<std::string>{"kept"}));
  EXPECT_EQ(p.assignment_constraint().assignments.count(1), 0u);

  // A bad option leaves every option as it was.
  const std::string option = ReadError(Tail(R"("options": {"return_to_end": false, "objective": 1})"), p);
  EXPECT_EQ(option, k302s + "number");
  EXPECT_TRUE(p.options().return_to_end);
  EXPECT_EQ(p.options().time_limit, 9.0);
}

// ---------------------------------------------------------------------------
// Parsing instance text.

TEST(ParseInstanceText, AcceptsOneValueWithSurroundingWhiteSpace) {
  const json document = ParseInstanceText(" \n{\"nodes\": [1, 2.5]}\t\r\n ");
  EXPECT_EQ(document.at("nodes").size(), 2u);
  EXPECT_TRUE(document.at("nodes")[0].is_number_unsigned());
}

TEST(ParseInstanceText, RejectsEverythingButOneValue) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"",
       "[json.exception.parse_error.101] parse error at line 1, column 1: attempting to parse an empty "
       "input; check that your input string or stream contains the expected JSON"},
      {"{} // note",
       "[json.exception.parse_error.101] parse error at line 1, column 4: syntax error while "
       "parsing value - invalid literal; last read: '{} /'; expected end of input"},
      {"/* note */ {}",
       "[json.exception.parse_error.101] parse error at line 1, column 1: syntax error while "
       "parsing value - invalid literal; last read: '/'"},
      {"{} {}",
       "[json.exception.parse_error.101] parse error at line 1, column 4: syntax error while parsing "
       "value - unexpected '{'; expected end of input"},
      {"[1,]",
       "[json.exception.parse_error.101] parse error at line 1, column 4: syntax error while parsing "
       "value - unexpected ']'; expected '[', '{', or a literal"},
      {"NaN",
       "[json.exception.parse_error.101] parse error at line 1, column 1: syntax error while parsing "
       "value - invalid literal; last read: 'N'"},
      // Infinite numbers never reach the reader from text.
      {"1e400", "[json.exception.out_of_range.406] number overflow parsing '1e400'"}};
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ParseError(text), expected);
  }
}

}  // namespace
