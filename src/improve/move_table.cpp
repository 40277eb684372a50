// The local search's moves. A new move is a file defining its function and a
// row here; its counts then appear in the statistics under its name.
#include "improve/move_table.hpp"

#include <iterator>

namespace velmora {

namespace moves {
bool Relocate(LocalSearch& search, uint32_t u, uint32_t v);        // relocate_moves.cpp
bool Swap(LocalSearch& search, uint32_t u, uint32_t v);            // swap_moves.cpp
bool TwoOpt(LocalSearch& search, uint32_t u, uint32_t v);          // two_opt_moves.cpp
bool TwoOptStar(LocalSearch& search, uint32_t u, uint32_t v);      // two_opt_star_moves.cpp
bool RelocateToEnds(LocalSearch& search, uint32_t u, uint32_t v);  // relocate_moves.cpp
}  // namespace moves

namespace {

const Move kDefaultMoves[] = {
    {"relocate", MoveScope::kAnyRoute, &moves::Relocate},
    {"swap", MoveScope::kAnyRoute, &moves::Swap},
    {"two_opt", MoveScope::kSameRoute, &moves::TwoOpt},
    {"two_opt_star", MoveScope::kOtherRoute, &moves::TwoOptStar},
    {"relocate_to_ends", MoveScope::kRouteEnds, &moves::RelocateToEnds},
};

}  // namespace

MoveTable MoveTable::Default() { return MoveTable(kDefaultMoves, std::size(kDefaultMoves)); }

}  // namespace velmora
