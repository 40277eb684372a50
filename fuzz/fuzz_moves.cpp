// libFuzzer target: the improvement engine's moves on random route sets.
//
// The first bytes choose an instance shape (nodes, agents, types, windows,
// limits, closing of routes, depots, negative legs, loads, precedence pairs)
// and the seed of its random tables; the engine builds a first route set from
// it. Every further three
// bytes name a row of the move table and two targets, and the move is tried
// on them when its scope admits the pair.
// Every route the operator evaluates is compared with a literal walk of the
// same node sequence (feasibility, loads included, and cost); after every
// applied move the route set must still be a valid solution (pairs included)
// whose cached costs are the walked ones, and the objective must have improved.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "improve/improvement_engine.hpp"
#include "improve/local_search.hpp"
#include "improve/move_table.hpp"
#include "improve/random_source.hpp"
#include "improve/route_set.hpp"
#include "improve_test_support.hpp"

namespace {

using namespace velmora;
using namespace velmora::improve_testing;

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_moves: %s: %s\n", what, detail.c_str());
  std::abort();
}

bool Near(double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 10) return -1;
  Shape shape;
  shape.nodes = 3 + data[0] % 22;
  shape.agents = 1 + data[1] % 4;
  shape.types = 1 + (data[1] >> 4) % 2;
  shape.windows = (data[2] & 1) != 0;
  shape.limits = (data[2] & 2) != 0;
  shape.return_to_end = (data[2] & 4) != 0;
  shape.distinct_depots = (data[2] & 8) != 0;
  shape.negative = (data[2] & 16) != 0;
  shape.missing = (data[2] & 32) != 0;
  shape.loads = (data[2] & 128) != 0;
  shape.pairs = 2 * ((data[1] >> 5) % 4);
  uint64_t seed = 0;
  for (int i = 3; i < 10; ++i) seed = (seed << 8) | data[i];

  if (shape.nodes < 2 * shape.agents + 1) return -1;  // room for every agent's own depots
  const RoutingTables tables = MakeTables(seed, shape);
  const RoutingContext context(tables);
  ImproveSettings settings;
  settings.min_max = (data[2] & 64) != 0;
  settings.seed = seed;
  ImprovementEngine engine(context, settings);
  RouteSet routes(engine.model(), settings.min_max);
  if (!engine.Construct(routes)) return 0;
  const std::vector<uint32_t>& targets = engine.model().Targets();
  if (targets.empty()) return 0;

  RandomSource random(seed);
  LocalSearch search(random);
  search.Bind(routes);
  search.set_probe([&](uint32_t agent, const Piece* pieces, int count, const RouteEval& predicted) {
    std::vector<uint32_t> seq;
    routes.Materialise(pieces, count, seq);
    const Walk literal = WalkBestClose(tables, agent, std::vector<uint64_t>(seq.begin(), seq.end()));
    if (predicted.ok != literal.ok) {
      Fail("feasibility", "agent " + std::to_string(agent) + ": predicted " + std::to_string(predicted.ok));
    }
    if (literal.ok && !Near(predicted.cost, literal.cost)) {
      Fail("cost", "agent " + std::to_string(agent) + ": predicted " + std::to_string(predicted.cost) +
                       ", walked " + std::to_string(literal.cost));
    }
  });

  for (size_t k = 10; k + 2 < size; k += 3) {
    const uint32_t u = targets[data[k + 1] % targets.size()];
    const uint32_t v = targets[data[k + 2] % targets.size()];
    const Objective before = routes.Value();
    // A row of the move table, with the pair its scope admits.
    const size_t m = data[k] % search.moves().size();
    bool admitted = true;
    switch (search.moves()[m].scope) {
      case MoveScope::kAnyRoute:
        admitted = u != v;
        break;
      case MoveScope::kSameRoute:
        admitted = u != v && routes.RouteOf(u) == routes.RouteOf(v);
        break;
      case MoveScope::kOtherRoute:
        admitted = routes.RouteOf(u) != routes.RouteOf(v);
        break;
      case MoveScope::kRouteEnds:
        break;
    }
    const bool applied = admitted && search.TryMove(m, u, v);
    if (!applied) continue;
    std::string why;
    if (!ValidSolution(tables, routes.Export(), &why)) Fail("route set after a move", why);
    for (uint32_t r = 0; r < routes.RouteCount(); ++r) {
      std::vector<uint64_t> seq;
      for (uint32_t p = 0; p <= routes.Size(r); ++p) seq.push_back(routes.At(r, p));
      const Walk walked = WalkBestClose(tables, r, seq);
      if (!walked.ok || !Near(routes.Cost(r), walked.cost))
        Fail("cached route cost", "route " + std::to_string(r));
      for (uint32_t p = 1; p <= routes.Size(r); ++p) {
        if (routes.RouteOf(routes.At(r, p)) != r || routes.PosOf(routes.At(r, p)) != p) Fail("positions", "");
      }
    }
    if (!routes.Better(routes.Value(), before)) Fail("objective", "an applied move did not improve it");
  }
  return 0;
}
