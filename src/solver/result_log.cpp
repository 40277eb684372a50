#include "solver/result_log.hpp"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

namespace velmora {

Result ResultLog::Current() {
  result_.last_update_time = last_update_time_;
  return result_;
}

void ResultLog::Reset() {
  anytime_.clear();
  result_ = Result{};
  statistics_ = SearchStatistics{};
  last_update_time_ = 0.0;
}

bool ResultLog::Record(double t) {
  anytime_.push_back(AnytimeEntry{t, result_});
  last_update_time_ = t;
  return on_record_ && on_record_(anytime_.back());
}

void ResultLog::UpdateStatistics(double largest, int32_t agents, const std::vector<SolverNode>& nodes,
                                 const std::vector<SolverAgent>& records) {
  statistics_.found = 1;
  statistics_.max_cost = largest;
  statistics_.agent_count = agents;
  statistics_.type1_agents = 0;
  statistics_.type0_agents = 0;
  statistics_.nodes_types01 = 0;
  statistics_.nodes_type0 = 0;
  statistics_.node_count = static_cast<int32_t>(nodes.size());
  for (const SolverNode& node : nodes) {
    if (node.types == std::vector<int64_t>{0}) ++statistics_.nodes_type0;
    if (node.types == std::vector<int64_t>{0, 1}) ++statistics_.nodes_types01;
  }
  for (const SolverAgent& agent : records) {
    if (agent.type == 1) ++statistics_.type1_agents;
    if (agent.type == 0) ++statistics_.type0_agents;
  }
  double sum = 0.0;
  const int64_t count = static_cast<int64_t>(result_.times.size());
  for (int64_t i = 0; i < count; ++i) {
    auto it = result_.times.find(i);
    if (it != result_.times.end()) sum += it->second;
  }
  statistics_.sum_cost = sum;
  statistics_.last_improvement_time = last_update_time_;
}

void ResultLog::WritePathDump(const std::string& name, int32_t agents, const std::vector<uint64_t>& starts,
                              const std::vector<uint64_t>& ends, double largest,
                              const Diagnostics& diagnostics) const {
  nlohmann::json doc;
  doc["num_agents"] = agents;
  doc["starts"] = starts;
  doc["goals"] = ends;
  doc["max_path_length"] = largest;
  nlohmann::json paths = nlohmann::json::object();
  const int64_t count = static_cast<int64_t>(result_.paths.size());
  for (int64_t i = 0; i < count; ++i) {
    std::vector<int64_t> path;
    auto it = result_.paths.find(i);
    if (it != result_.paths.end() && !it->second.empty()) path.assign(it->second.begin(), it->second.end() - 1);
    paths[std::to_string(i)] = path;
  }
  doc["paths"] = paths;
  nlohmann::json totals = nlohmann::json::array();
  const int64_t tcount = static_cast<int64_t>(result_.times.size());
  for (int64_t i = 0; i < tcount; ++i) {
    auto it = result_.times.find(i);
    totals.push_back(it != result_.times.end() ? it->second : 0.0);
  }
  doc["total_costs"] = totals;

  std::filesystem::create_directories("paths/paths_astar");
  const std::string path = "paths/paths_astar/" + name + "_astar.json";
  std::ofstream out(path, std::ios::trunc);
  if (!out) {
    diagnostics.Err("Error: cannot open " + path + " for writing.");
    return;
  }
  out << doc.dump(2) << "\n";
  out.close();
  diagnostics.Out("Saved to " + path);
}

}  // namespace velmora
