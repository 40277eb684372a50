// Development probe for the improvement engine: builds a routing context from a
// TSPLIB file (real Euclidean distances, every agent at the first node) and
// runs the engine for a processor-time budget.
//   improve_probe FILE AGENTS SECONDS [min_max|min_sum] [SEED] [ITERATIONS]
#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/routing_context.hpp"
#include "improve/improvement_engine.hpp"

namespace {

double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

std::vector<std::pair<double, double>> ReadTsplib(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::vector<std::pair<double, double>> xy;
  bool coords = false;
  while (std::getline(in, line)) {
    if (line.find("NODE_COORD_SECTION") != std::string::npos) {
      coords = true;
      continue;
    }
    if (line.find("EOF") != std::string::npos) break;
    if (!coords) continue;
    std::istringstream s(line);
    double id, x, y;
    if (s >> id >> x >> y) xy.emplace_back(x, y);
  }
  return xy;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s FILE AGENTS SECONDS [min_max|min_sum] [SEED] [ITERATIONS]\n", argv[0]);
    return 2;
  }
  const auto xy = ReadTsplib(argv[1]);
  const size_t m = std::strtoul(argv[2], nullptr, 10);
  const double budget = std::atof(argv[3]);
  const bool min_max = argc < 5 || std::string(argv[4]) != "min_sum";
  const uint64_t seed = argc > 5 ? std::strtoull(argv[5], nullptr, 10) : 0;
  const int64_t iterations = argc > 6 ? std::atoll(argv[6]) : 0;

  velmora::RoutingTables tables;
  const size_t n = xy.size();
  tables.nodes = n;
  tables.types = 1;
  tables.costs.resize(n * n);
  for (size_t u = 0; u < n; ++u) {
    for (size_t v = 0; v < n; ++v) {
      tables.costs[u * n + v] = std::hypot(xy[u].first - xy[v].first, xy[u].second - xy[v].second);
    }
  }
  tables.node_types.assign(n, {0});
  tables.agent_type.assign(m, 0);
  tables.time_limit.assign(m, 0.0);
  tables.starts.assign(m, 0);
  tables.ends.assign(m, 0);
  const velmora::RoutingContext context(std::move(tables));

  velmora::ImproveSettings settings;
  settings.min_max = min_max;
  settings.seed = seed;
  settings.max_iterations = iterations;
  const double t0 = CpuSeconds();
  settings.progress = [&] { return budget > 0 ? (CpuSeconds() - t0) / budget : 0.0; };
  velmora::ImprovementEngine engine(context, settings);
  double first = -1.0, last = 0.0, first_value = 0.0;
  int bests = 0;
  auto objective = [&](const velmora::EngineSolution& s) {
    double longest = 0, total = 0;
    for (double c : s.costs) {
      longest = std::max(longest, c);
      total += c;
    }
    return min_max ? longest : total;
  };
  const bool ok = engine.Run(
      nullptr, [&] { return CpuSeconds() - t0 > budget; },
      [&](const velmora::EngineSolution& s) {
        const double t = CpuSeconds() - t0;
        if (bests == 1) first = t;
        if (bests == 0) first_value = objective(s);
        last = t;
        ++bests;
      });
  const double used = CpuSeconds() - t0;
  const auto& c = engine.counts();
  std::printf(
      "%s m=%zu %s ok=%d value=%.4f start=%.4f bests=%d first_improvement=%.4fs last=%.3fs used=%.2fs "
      "iterations=%lld moves=%lld accepted=%lld restarts=%lld\n",
      argv[1], m, min_max ? "min_max" : "min_sum", ok ? 1 : 0, objective(engine.best()), first_value, bests, first,
      last, used, static_cast<long long>(c.iterations), static_cast<long long>(c.moves),
      static_cast<long long>(c.accepted), static_cast<long long>(c.restarts));
  for (const velmora::MoveCounts& move : c.by_move) {
    std::printf("  %-18s attempts=%lld moves=%lld\n", move.name, static_cast<long long>(move.attempts),
                static_cast<long long>(move.moves));
  }
  return ok ? 0 : 1;
}
