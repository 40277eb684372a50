"""Set-up time and memory of a large instance: a problem built from NumPy matrices, a Solver
constructed with improve on, optionally a short solve. Run under /usr/bin/time -v for the peak.

    python tools/large_setup_measure.py --nodes 2000 --types 1 --agents 10 --solve 5
"""

from __future__ import annotations

import argparse
import resource
import time

import numpy as np

import _kvt_core as core


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--nodes", type=int, default=2000)
    parser.add_argument("--types", type=int, default=1)
    parser.add_argument("--agents", type=int, default=10)
    parser.add_argument("--solve", type=float, default=0.0, help="time limit of a solve after the set-up (0: none)")
    args = parser.parse_args()
    n = args.nodes
    rng = np.random.default_rng(1)
    xy = rng.uniform(0, 1000, size=(n, 2))
    dist = np.sqrt(((xy[:, None, :] - xy[None, :, :]) ** 2).sum(axis=2))

    t0 = time.perf_counter()
    problem = core.Problem()
    for i in range(n):
        node = core.Node()
        node.id = i
        node.position.x, node.position.y = float(xy[i, 0]), float(xy[i, 1])
        problem.add_node(node)
    types = [f"t{k}" for k in range(args.types)]
    for k in range(args.agents):
        agent = core.Agent()
        agent.id = k
        agent.type = types[k % len(types)]
        agent.start_node = agent.end_node = 0
        problem.add_agent(agent, k)
    for k, name in enumerate(types):
        problem.set_cost_matrix(name, dist / (1 + k))
    assignment = core.AssignmentConstraint()
    for i in range(n):
        assignment.set_assignment(i, types)
    problem.set_assignment_constraint(assignment)
    t1 = time.perf_counter()
    options = core.Options()
    options.improve = True
    options.objective = core.ObjectiveType.MinMax
    options.time_limit = args.solve if args.solve > 0 else 60.0
    c0 = time.process_time()
    w0 = time.perf_counter()
    solver = core.Solver(problem, options)
    w1 = time.perf_counter()
    c1 = time.process_time()
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(
        f"problem built in {t1 - t0:.3f} s; Solver set-up {w1 - w0:.3f} s wall, {c1 - c0:.3f} s processor; "
        f"peak so far {peak:.0f} MiB"
    )
    if args.solve > 0:
        w2 = time.perf_counter()
        status = solver.solve()
        w3 = time.perf_counter()
        result = solver.get_result()
        longest = max(result.times.values()) if result.times else float("nan")
        process = solver.get_result_process()
        first = process[0][0] if process else float("nan")
        peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
        print(
            f"solve {status} in {w3 - w2:.3f} s wall: longest route {longest:.1f}, {len(process)} anytime entries, "
            f"first at {first:.3f} s; peak {peak:.0f} MiB"
        )


if __name__ == "__main__":
    main()
