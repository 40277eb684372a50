#include "io/instance_reader.hpp"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

using nlohmann::json;

namespace {

// 2^64 and the int32 bounds, exact as doubles.
constexpr double kTwoPow64 = 18446744073709551616.0;
constexpr double kInt32Lower = -2147483649.0;  // every value above truncates into range
constexpr double kInt32Upper = 2147483648.0;   // every value below truncates into range

int32_t LowBits32(uint64_t bits) {
  const uint32_t low = static_cast<uint32_t>(bits);
  if (low <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    return static_cast<int32_t>(low);
  }
  // Two's-complement reinterpretation without relying on implementation-defined narrowing.
  return static_cast<int32_t>(static_cast<int64_t>(low) - (int64_t{1} << 32));
}

// Upper-cases ASCII letters only, independent of the locale.
std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Defaulted integer member: the member converted when present, else `fallback`.
// Mirrors `value(key, fallback)` while converting through JsonToInt32.
int32_t Int32Member(const json& object, const char* key, int32_t fallback) {
  if (!object.is_object()) {
    return object.value(key, fallback);  // raises type_error 306
  }
  const auto it = object.find(key);
  return it == object.end() ? fallback : JsonToInt32(*it);
}

// "seed": an unsigned integer; anything else would silently change the run.
uint64_t OptionsSeed(const json& options) {
  const auto it = options.find("seed");
  if (it == options.end()) return 0;
  if (!it->is_number_unsigned()) {
    throw std::invalid_argument("options.seed must be an unsigned integer, but is " + it->dump());
  }
  return it->get<uint64_t>();
}

// "threads": an unsigned integer that fits 32 bits, as strict as "seed".
uint32_t OptionsThreads(const json& options) {
  const auto it = options.find("threads");
  if (it == options.end()) return 1;
  if (!it->is_number_unsigned()) {
    throw std::invalid_argument("options.threads must be an unsigned integer, but is " + it->dump());
  }
  const uint64_t v = it->get<uint64_t>();
  if (v > std::numeric_limits<uint32_t>::max()) {
    throw std::invalid_argument("options.threads is too large: " + it->dump());
  }
  return static_cast<uint32_t>(v);
}

// "improve_iterations": an integer within the signed 64-bit range.
int64_t OptionsIterations(const json& options) {
  const auto it = options.find("improve_iterations");
  if (it == options.end()) return 0;
  if (it->is_number_unsigned()) {
    const uint64_t v = it->get<uint64_t>();
    if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      throw std::invalid_argument("options.improve_iterations is too large: " + it->dump());
    }
    return static_cast<int64_t>(v);
  }
  if (!it->is_number_integer()) {
    throw std::invalid_argument("options.improve_iterations must be an integer, but is " + it->dump());
  }
  return it->get<int64_t>();
}

void ReadNodes(const json& nodes, Problem& problem) {
  for (const json& element : nodes) {
    Node node;
    node.id = JsonToUint64(element.at("id"));
    node.position.x = element.at("x").get<double>();
    node.position.y = element.at("y").get<double>();
    node.position.z = element.value("z", 0.0);
    node.type = NodeType::TARGET;
    if (element.contains("type") && AsciiUpper(element.at("type").get<std::string>()) == "DEPOT") {
      node.type = NodeType::DEPOT;
    }
    node.demand = element.value("demand", 0.0);
    problem.add_node(node);
  }
}

void ReadAgents(const json& agents, Problem& problem) {
  for (const json& element : agents) {
    Agent agent;
    agent.id = JsonToUint64(element.at("id"));
    agent.type = element.at("type").get<std::string>();
    agent.start_node = JsonToUint64(element.at("start_node"));
    agent.end_node = JsonToUint64(element.at("end_node"));
    agent.capacity_limit = static_cast<double>(Int32Member(element, "capacity", 0));
    agent.time_limit = static_cast<double>(Int32Member(element, "max_length", 0));
    const uint64_t id = agent.id;
    problem.add_agent(std::move(agent), id);
  }
}

void ReadCosts(const json& costs, Problem& problem) {
  // items() names array elements "0", "1", ... and a lone scalar "".
  for (const auto& member : costs.items()) {
    problem.set_cost_matrix(member.key(), member.value().get<Matrix>());
  }
}

void ReadConstraints(const json& constraints, AssignmentConstraint& assignment, TimeWindowConstraint& timewindow,
                     PrecedenceLists& precedence) {
  for (const json& constraint : constraints) {
    const std::string kind = constraint.at("kind").get<std::string>();
    if (kind == "assignment") {
      if (!constraint.contains("items")) continue;
      for (const json& item : constraint.at("items")) {
        const uint64_t node = JsonToUint64(item.at("node"));
        assignment.set_assignment(node, item.at("types").get<std::vector<std::string>>());
      }
    } else if (kind == "timewindow") {
      if (!constraint.contains("items")) continue;
      for (const json& item : constraint.at("items")) {
        const uint64_t node = JsonToUint64(item.at("node"));
        const double start = item.at("start").get<double>();
        const double end = item.at("end").get<double>();
        timewindow.set_timewindow(node, start, end);
      }
    } else if (kind == "sequence") {
      if (!constraint.contains("precedence")) continue;
      for (const json& item : constraint.at("precedence")) {
        const uint64_t before = JsonToUint64(item.at("before"));
        const uint64_t after = JsonToUint64(item.at("after"));
        const std::string type = item.value("type", std::string());
        if (type == "same") {
          precedence.precedence_same.emplace_back(before, after);
        } else if (type == "diff") {
          precedence.precedence_diff.emplace_back(before, after);
        } else {
          precedence.precedence.emplace_back(before, after);
        }
      }
    }
  }
}

}  // namespace

uint64_t JsonToUint64(const json& value) {
  switch (value.type()) {
    case json::value_t::number_unsigned:
      return value.get_ref<const json::number_unsigned_t&>();
    case json::value_t::number_integer:
      return static_cast<uint64_t>(value.get_ref<const json::number_integer_t&>());
    case json::value_t::boolean:
      return value.get_ref<const json::boolean_t&>() ? 1u : 0u;
    case json::value_t::number_float: {
      const double f = value.get_ref<const json::number_float_t&>();
      if (!(f > -1.0)) return 0;  // negatives and NaN
      if (f >= kTwoPow64) return std::numeric_limits<uint64_t>::max();
      return static_cast<uint64_t>(f);
    }
    default:
      return value.get<uint64_t>();  // raises type_error 302
  }
}

int32_t JsonToInt32(const json& value) {
  switch (value.type()) {
    case json::value_t::number_unsigned:
      return LowBits32(value.get_ref<const json::number_unsigned_t&>());
    case json::value_t::number_integer:
      return LowBits32(static_cast<uint64_t>(value.get_ref<const json::number_integer_t&>()));
    case json::value_t::boolean:
      return value.get_ref<const json::boolean_t&>() ? 1 : 0;
    case json::value_t::number_float: {
      const double f = value.get_ref<const json::number_float_t&>();
      if (std::isnan(f)) return 0;
      if (f <= kInt32Lower) return std::numeric_limits<int32_t>::min();
      if (f >= kInt32Upper) return std::numeric_limits<int32_t>::max();
      return static_cast<int32_t>(f);
    }
    default:
      return value.get<int32_t>();  // raises type_error 302
  }
}

json ParseInstanceText(const std::string& text) {
  return json::parse(text, /*cb=*/nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/false);
}

void ReadInstance(const json& document, Problem& problem) {
  ReadNodes(document.at("nodes"), problem);
  ReadAgents(document.at("agents"), problem);

  if (document.contains("costs")) {
    ReadCosts(document.at("costs"), problem);
  }

  AssignmentConstraint assignment;
  TimeWindowConstraint timewindow;
  PrecedenceLists precedence;
  if (document.contains("constraints")) {
    ReadConstraints(document.at("constraints"), assignment, timewindow, precedence);
  }
  problem.set_assignment_constraint(assignment);
  problem.set_timewindow_constraint(timewindow);
  problem.set_precedence_lists(std::move(precedence));

  if (document.contains("options")) {
    const json& options = document.at("options");
    const bool return_to_end = options.value("return_to_end", true);
    const std::string objective = options.value("objective", std::string("min_sum"));
    const double time_limit = options.value("time_limit", 60.0);
    const bool improve = options.value("improve", false);
    const uint64_t seed = OptionsSeed(options);
    const int64_t improve_iterations = OptionsIterations(options);
    const uint32_t threads = OptionsThreads(options);
    const bool enforce_capacity = options.value("enforce_capacity", false);
    const bool enforce_precedence = options.value("enforce_precedence", false);
    Options& target = problem.options();
    target.return_to_end = return_to_end;
    target.objective =
        (objective == "min_max" || objective == "MIN_MAX") ? ObjectiveType::MinMax : ObjectiveType::MinSum;
    target.time_limit = time_limit;
    target.improve = improve;
    target.seed = seed;
    target.improve_iterations = improve_iterations;
    target.threads = threads;
    target.enforce_capacity = enforce_capacity;
    target.enforce_precedence = enforce_precedence;
  }
}

}  // namespace velmora
