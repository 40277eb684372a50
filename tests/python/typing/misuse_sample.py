"""Mistakes the stubs must let mypy catch: every line marked `# E` must be reported."""

import _kvt_core as core

node = core.Node()
node.id = "3"  # E
node.type = 1  # E
agent = core.Agent()
agent.start_node = 1.5  # E
problem = core.Problem()
problem.add_agent(agent)  # E
problem.set_cost_matrix("truck", [["a"]])  # E
problem.options().objective = "min_max"  # E
core.ObjectiveType.MinMx  # E
core.TimeWindowConstraint().set_timewindow(1, 0.0)  # E
result = core.Solver(problem, core.Options()).get_result()
result.timeout = True  # E
paths: dict[str, list[int]] = result.paths  # E
answer = core.solve_json_str("{}")
answer["routes"][0]["paht"]  # E
answer["statistics"]["n_generated"].upper()  # E
core.solve_json_file(input_path="x.json", limit=2.0)  # E
