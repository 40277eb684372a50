"""KVT MTSP Solver — C++ core bindings"""

import os
from collections.abc import Callable, Iterable, Sequence
from typing import Any, ClassVar, Protocol, SupportsFloat, SupportsIndex, SupportsInt, final

from kvt_mtsp.results import Improvement, Record, SolveResult

_Int = SupportsInt | SupportsIndex
_Float = SupportsFloat | SupportsIndex

class _Array2D(Protocol):
    """A NumPy array or memoryview: anything with a shape that exposes the buffer protocol."""
    @property
    def shape(self) -> Any: ...

# The enumerations are pybind11 enums: members are class attributes, construction from an int
# accepts any 32-bit value (unnamed values have the name "???"), and they compare unequal to ints.

@final
class ObjectiveType:
    """What the search minimises."""

    MinMax: ClassVar[ObjectiveType]
    """The largest route cost among the agents."""
    MinSum: ClassVar[ObjectiveType]
    """The sum of the route costs."""
    __members__: ClassVar[dict[str, ObjectiveType]]
    def __init__(self, value: _Int) -> None: ...
    @property
    def name(self) -> str:
        """The member's name ("???" for a value without one)."""
    @property
    def value(self) -> int:
        """The member's number."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...
    def __getstate__(self) -> int: ...
    def __setstate__(self, state: _Int, /) -> None: ...

@final
class NodeType:
    """Kind of a node. Informational: the agents' start and end nodes are the depots the search uses."""

    DEPOT: ClassVar[NodeType]
    """A depot node."""
    TARGET: ClassVar[NodeType]
    """A target node, to be visited."""
    __members__: ClassVar[dict[str, NodeType]]
    def __init__(self, value: _Int) -> None: ...
    @property
    def name(self) -> str:
        """The member's name ("???" for a value without one)."""
    @property
    def value(self) -> int:
        """The member's number."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...
    def __getstate__(self) -> int: ...
    def __setstate__(self, state: _Int, /) -> None: ...

# Value classes: a constructor without arguments gives the defaults; properties read and write.
# Ids are unsigned 64-bit (a negative or too large int raises TypeError).

class Position:
    """Coordinates of a node (informational: costs come from the cost matrices)."""
    def __init__(self) -> None:
        """The origin (0, 0, 0)."""
    @property
    def x(self) -> float:
        """X coordinate (float)."""
    @x.setter
    def x(self, value: float) -> None: ...
    @property
    def y(self) -> float:
        """Y coordinate (float)."""
    @y.setter
    def y(self, value: float) -> None: ...
    @property
    def z(self) -> float:
        """Z coordinate (float)."""
    @z.setter
    def z(self, value: float) -> None: ...

class Node:
    """A node to visit or a depot, named by its id."""
    def __init__(self) -> None:
        """Id 0 at the origin, a TARGET with demand 0.0."""
    @property
    def id(self) -> int:
        """The id by which agents and constraints name the node (unsigned 64-bit int)."""
    @id.setter
    def id(self, value: int) -> None: ...
    @property
    def position(self) -> Position:
        """Refers into the node: `node.position.x = 2.0` changes the node; assigning copies."""
    @position.setter
    def position(self, value: Position) -> None: ...
    @property
    def type(self) -> NodeType:
        """NodeType.DEPOT or NodeType.TARGET (the default)."""
    @type.setter
    def type(self, value: NodeType) -> None: ...
    @property
    def demand(self) -> float:
        """The node's demand; limited by the agents' capacities when Options.enforce_capacity is on."""
    @demand.setter
    def demand(self, value: float) -> None: ...

class Agent:
    """An agent (vehicle) with its type and its start and end nodes."""
    def __init__(self) -> None:
        """Id 0, empty type, start and end at node id 0, no limits."""
    @property
    def id(self) -> int:
        """The agent's id (unsigned 64-bit int)."""
    @id.setter
    def id(self, value: int) -> None: ...
    @property
    def type(self) -> str:
        """Agent type name: selects the cost matrix and is what assignment constraints name."""
    @type.setter
    def type(self, value: str) -> None: ...
    @property
    def start_node(self) -> int:
        """Id of the node where the agent starts."""
    @start_node.setter
    def start_node(self, value: int) -> None: ...
    @property
    def end_node(self) -> int:
        """Id of the node where the agent's route closes."""
    @end_node.setter
    def end_node(self, value: int) -> None: ...
    @property
    def capacity_limit(self) -> float:
        """The agent's capacity; with Options.enforce_capacity on, the demands it serves add up to at
        most this (0 or less: no limit)."""
    @capacity_limit.setter
    def capacity_limit(self, value: float) -> None: ...
    @property
    def time_limit(self) -> float:
        """Largest cost of the agent's route (waits included); 0 or less: no limit. Not a time
        budget of the solve."""
    @time_limit.setter
    def time_limit(self, value: float) -> None: ...

class Options:
    """How a Solver searches: objective, time budget, route closing."""
    def __init__(self) -> None:
        """return_to_end True, objective MinSum, time_limit 60.0, improve False."""
    @property
    def return_to_end(self) -> bool:
        """True: every route closes at its agent's end node. False: a route may also close at
        its start node, and the closing move costs nothing."""
    @return_to_end.setter
    def return_to_end(self, value: bool) -> None: ...
    @property
    def objective(self) -> ObjectiveType:
        """The ObjectiveType to minimise (default MinSum)."""
    @objective.setter
    def objective(self, value: ObjectiveType) -> None: ...
    @property
    def time_limit(self) -> float:
        """Time budget of one solve, in processor seconds of the thread running the search (default
        60.0). math.inf searches until the search ends or is stopped (Solver.stop(), Ctrl-C, a
        callback); 0 or less stops at the first check; NaN raises ValueError."""
    @time_limit.setter
    def time_limit(self, value: float) -> None: ...
    @property
    def improve(self) -> bool:
        """After the focal search's first solution, spend the rest of the budget improving the
        routes (default False)."""
    @improve.setter
    def improve(self, value: bool) -> None: ...
    @property
    def seed(self) -> int:
        """Seed of the improvement's random choices (unsigned 64-bit int, default 0)."""
    @seed.setter
    def seed(self, value: int) -> None: ...
    @property
    def improve_iterations(self) -> int:
        """Largest number of improvement iterations; 0 or less (the default): no cap."""
    @improve_iterations.setter
    def improve_iterations(self, value: int) -> None: ...
    @property
    def threads(self) -> int:
        """Improvement searches on one instance, one thread each (unsigned int, default 1; 0: one
        per processor the process may use). They exchange their best routes at fixed iteration
        counts, so a seed, a thread count and improve_iterations give the same routes on every
        run; the budget stays time_limit for each thread. Without improve, no effect."""
    @threads.setter
    def threads(self, value: int) -> None: ...
    @property
    def enforce_capacity(self) -> bool:
        """The routes obey the agents' capacities: an agent whose capacity_limit is above 0 serves
        targets whose demands add up to at most that limit (default False). Needs improve; solve()
        then runs the improvement engine alone."""
    @enforce_capacity.setter
    def enforce_capacity(self, value: bool) -> None: ...
    @property
    def enforce_precedence(self) -> bool:
        """The routes obey the instance's precedence pairs (default False): a plain or "diff" pair
        serves `before` no later than `after` ("diff": by two different agents), a "same" pair
        serves both with one agent, `before` first. A pair never makes an agent wait. Needs
        improve; solve() then runs the improvement engine alone."""
    @enforce_precedence.setter
    def enforce_precedence(self, value: bool) -> None: ...

class AssignmentConstraint:
    """Which agent types may serve which nodes; a node without an entry may be served by every type."""
    def __init__(self) -> None:
        """No entries."""
    def set_assignment(self, node: _Int, types: Sequence[str] | Iterable[str]) -> None:
        """Let only the agent types named in `types` serve the node with id `node` (replacing an earlier
        entry)."""

class TimeWindowConstraint:
    """Time windows of nodes, in route-cost units: an agent arriving before a window opens waits;
    arriving after it closes is not allowed."""
    def __init__(self) -> None:
        """No windows."""
    def set_timewindow(self, node: _Int, start: _Float, end: _Float) -> None:
        """Give the node with id `node` the window [start, end] (replacing an earlier one)."""

class Problem:
    """A routing instance: nodes, agents, cost matrices per agent type, constraints and options. A Solver
    works on its own copy."""
    def __init__(self) -> None:
        """An empty problem with default options."""
    def add_node(self, node: Node) -> None:
        """Append a copy of `node`; its position in the node list is its node index."""
    def add_agent(self, agent: Agent, id: _Int) -> None:
        """Append a copy of `agent`, filed under `id` (pass the agent's own id); its position in
        agents_ordered() is its agent index."""
    def set_cost_matrix(self, agent_type: str, matrix: Sequence[Sequence[_Float]] | _Array2D) -> None:
        """Arc costs for the agents of type `agent_type` (replacing an earlier matrix): matrix[i][j] is the
        cost from node index i to node index j; a missing cell costs 9999.0. A two-dimensional NumPy
        array (or any buffer of doubles) is read without converting cell by cell."""
    def set_assignment_constraint(self, constraint: AssignmentConstraint) -> None:
        """Replace the assignment table with a copy of `constraint`."""
    def set_timewindow_constraint(self, constraint: TimeWindowConstraint) -> None:
        """Replace the time-window table with a copy of `constraint`."""
    def options(self) -> Options:
        """The problem's own options (changes write through; keeps the problem alive)."""
    def nodes(self) -> list[Node]:
        """A new list whose elements refer to the problem's stored nodes."""
    def agents_ordered(self) -> list[Agent]:
        """A new list, one entry per add_agent call, referring to the stored agents."""

class Result:
    """A solver's solution, in agent indices and node indices: routes, their costs, counters and timing.
    Comes from Solver.get_result() and Solver.get_result_process()."""
    # Results come only from Solver.get_result / get_result_process: `Result()` raises TypeError.
    @property
    def n_generated(self) -> int:
        """Number of search states generated."""
    @property
    def n_expanded(self) -> int:
        """Number of search states expanded."""
    @property
    def timeout(self) -> bool:
        """True when the search stopped before it ended: its budget was spent, its memory bound
        reached, or it was stopped (Solver.stop(), Ctrl-C, a callback)."""
    @property
    def last_update_time(self) -> float:
        """When the last solution was recorded: processor seconds of the thread running the
        search, counted from the start of the solve."""
    @property
    def paths(self) -> dict[int, list[int]]:
        """Agent index -> node indices of its route (a new dict on every read)."""
    @property
    def times(self) -> dict[int, float]:
        """Agent index -> cost of its route (a new dict on every read)."""

class Solver:
    """The search engine for one problem: construct it from a Problem and Options, call solve(), read the
    results."""
    def __init__(
        self, problem: Problem, options: Options, *, diagnostics: Callable[[str, str], object] | None = None
    ) -> None:
        """Copy `problem` and `options` and set the search up; later changes to either do not reach the
        solver.

        diagnostics: None (the solver's console lines go to standard output and standard error), or a
        callable receiving each line of this solver (set-up warnings, post-optimizer reports, search
        notes) as (stream, line): stream "stdout" or "stderr", the line without its line break. It is
        called with the interpreter lock held, on the thread that runs the solver; what it raises
        propagates."""
    def solve(self, *, callback: Callable[[Record], object] | None = None) -> int:
        """Run the KVT solver. Returns 1 on success, 0 on failure.

        The search ends when it is done, when its budget (Options.time_limit, in processor seconds of the
        thread running the search) is spent, or when it is stopped: by stop(), by the callback, or by a
        Python signal such as Ctrl-C (noticed within a quarter of a second when solve() runs on the main
        thread; solve() then raises what the signal handler raised, KeyboardInterrupt for Ctrl-C). A
        stopped search ends as on a spent budget: Result.timeout is True and the best solution found
        stays readable through get_result() and get_result_process().

        callback: None, or a callable taking one dict for each anytime entry as it is recorded, in
        order: "time" (processor seconds since the solve started), "max_cost", "sum_cost",
        "n_generated", "n_expanded", "paths" and "times" (as in Result). It runs on the calling
        thread with the interpreter lock held while the search waits. A truthy return value stops the
        search; an exception raised in it stops the search and propagates from solve()."""
    def stop(self) -> None:
        """Make a running solve() end as on a spent budget, within a quarter of a second; solve() then
        returns normally. Callable from any thread; does nothing when no solve runs."""
    def get_result(self) -> Result:
        """A copy of the current Result: the last recorded solution, with last_update_time refreshed. While
        solve() runs on another thread this waits for it to end; inside the callback it shows the solver
        as of that entry."""
    def get_result_process(self) -> list[tuple[float, Result]]:
        """The anytime log: one (time, Result) tuple per recorded entry, in recording order, two per
        solution (before and after post-optimisation); time is in processor seconds since the solve
        started. Waits like get_result()."""

def solve_json_file(
    input_path: str | bytes | os.PathLike[str] | os.PathLike[bytes],
    time_limit: _Float = -1.0,
    *,
    diagnostics: Callable[[str, str], object] | None = None,
    callback: Callable[[Improvement], object] | None = None,
) -> SolveResult:
    """Solve an MTSP instance from a JSON file path.
    Returns a dict with keys: status, routes, statistics, anytime, timeout.

    input_path: a str, bytes or os.PathLike. time_limit (processor seconds of the thread running the
    search), callback and diagnostics: as for solve_json_str; "solve_time" is wall-clock seconds."""

def solve_json_str(
    json_str: str,
    time_limit: _Float = -1.0,
    *,
    diagnostics: Callable[[str, str], object] | None = None,
    callback: Callable[[Improvement], object] | None = None,
) -> SolveResult:
    """Solve an MTSP instance from a JSON string.
    Returns a dict with keys: status, routes, statistics, anytime, timeout.

    time_limit: the budget in processor seconds of the thread running the search when greater than 0,
    else the instance's options.time_limit (default 60). math.inf searches until the search ends or is
    stopped; NaN raises ValueError. In the result, "solve_time" is wall-clock seconds; "time" and
    "last_update_time" are processor seconds since the solve started.

    callback: None, or a callable taking one dict for each entry of "anytime" as it is recorded, in
    order: "time", "max_cost", "sum_cost", "n_generated", "n_expanded" and "routes" (as in
    the result). It runs on the calling thread with the interpreter lock held while the search waits.
    A truthy return value stops the search (the result then has "timeout" True); an exception raised
    in it stops the search and propagates. Ctrl-C stops the search and raises KeyboardInterrupt.

    diagnostics: None (the solver's console lines go to standard output and standard error), or a
    callable receiving each line of this solve as (stream, line): stream "stdout" or "stderr", the
    line without its line break; as for Solver. Solves in parallel threads each reach only their own."""

# The engine's limits and defaults.
MISSING_COST: float  # cost of an arc that no matrix cell gives
MAX_NODES: int  # nodes a solve takes with improvement off
MAX_IMPROVE_NODES: int  # nodes a solve takes with options.improve true
DEFAULT_TIME_LIMIT: float  # processor seconds when the document sets no options.time_limit
