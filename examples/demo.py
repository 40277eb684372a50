"""Solves the bundled example instances and prints a short summary of each."""

import json
import pathlib
import sys

import _kvt_core

HERE = pathlib.Path(__file__).resolve().parent
EXAMPLES = ["euclid_one_type.json", "two_types.json", "time_windows.json", "open_routes.json"]


def summarise(name: str, budget: float) -> None:
    path = HERE / name
    instance = json.loads(path.read_text())
    objective = instance.get("options", {}).get("objective", "min_sum")
    result = _kvt_core.solve_json_file(str(path), budget)
    stats = result["statistics"]
    print(f"\n== {name}: {len(instance['nodes'])} nodes, {len(instance['agents'])} agents, {objective}")
    print(
        f"   status {result['status']}, timeout {result['timeout']}, "
        f"max cost {stats['max_cost']:.2f}, sum cost {stats['sum_cost']:.2f}"
    )
    print(
        f"   states generated {stats['n_generated']}, expanded {stats['n_expanded']}, "
        f"solve time {stats['solve_time']:.3f} s, last improvement at {stats['last_update_time']:.3f} s"
    )
    for route in result["routes"]:
        stops = " -> ".join(str(n) for n in route["path"])
        print(f"   agent {route['agent_id']}: cost {route['cost']:8.2f}  {stops}")
    print(f"   improving solutions: {len(result['anytime'])}")


def main() -> int:
    budget = float(sys.argv[1]) if len(sys.argv) > 1 else 2.0
    for name in EXAMPLES:
        summarise(name, budget)
    return 0


if __name__ == "__main__":
    sys.exit(main())
