"""Inputs the fuzz targets under fuzz/ found, solved through the module's JSON entry point.

Each instance is also kept in fuzz/corpus/fuzz_solve/crashes/."""

from __future__ import annotations

import json
import pathlib

import pytest

import _kvt_core as core
from routecheck import check_solution

CRASHES = pathlib.Path(__file__).resolve().parents[2] / "fuzz" / "corpus" / "fuzz_solve" / "crashes"


def load(name):
    return json.loads((CRASHES / name).read_text())


def solve(doc, time_limit=0.2):
    return core.solve_json_str(json.dumps(doc), time_limit)


def test_empty_instance_gives_an_empty_failed_result():
    result = solve(load("empty_instance_arena.json"))
    assert result["status"] == "failed"
    assert result["routes"] == []
    assert result["statistics"]["max_cost"] == 0.0
    assert result["statistics"]["sum_cost"] == 0.0


def test_route_starting_at_another_agents_end_node_keeps_its_cost():
    # Agent 1 starts at node 0, agent 0's end node, and ends at node 4.
    doc = load("shared_depot_other_end.json")
    result = solve(doc)
    assert result["status"] == "success"
    check_solution(doc, result)
    route = result["routes"][1]
    assert route["path"][0] == 0 and route["path"][-1] == 4
    assert route["cost"] >= 8.0  # agent 1 pays 2 per unit from 0 to 4


@pytest.mark.parametrize("time_limit", [0.01, 0.2])
def test_merging_never_breaks_a_time_limit(time_limit):
    # A drone route within its max_length 150 must not lose nodes to the merging step so that
    # the rest of it costs 300000.
    doc = load("merging_leftover_over_limit.json")
    doc["nodes"][1]["id"] = 1  # the fuzzer had doubled id 2; the validator needs unique ids
    result = solve(doc, time_limit)
    assert result["status"] == "success"
    check_solution(doc, result)


def test_start_node_that_refuses_the_agents_type_still_gives_a_valid_route():
    # The drone starts at node 1, which the assignment gives to trucks only.
    doc = load("start_node_refuses_type.json")
    result = solve(doc)
    assert result["status"] == "success"
    check_solution(doc, result)
    assert result["routes"][2]["path"][0] == 1


def test_start_node_window_delays_the_departure():
    # Agent 0 starts at node 5, whose window opens at 80: leaving then, the windows of nodes
    # 1, 2 and 8 (closing at 80, 100, 80) all fall to agent 1, which cannot meet them all.
    # The search used to leave node 5 at time 0 and report a route that breaks the window
    # of node 4, with cost 0.
    doc = load("start_node_window.json")
    doc["nodes"][6]["id"] = 6
    result = solve(doc)
    assert result["status"] == "failed"
    # Opening the start window at 0 makes the same instance solvable, with valid routes.
    doc["constraints"][0]["items"][4]["start"] = 0
    result = solve(doc)
    assert result["status"] == "success"
    check_solution(doc, result)


@pytest.mark.parametrize(
    "text, fragment",
    [
        ('{"nodes":[{"id":1e400,"x":0,"y":0}],"agents":[]}', "number overflow"),
        ('{"nodes":[],"agents":[],"options":{"time_limit":-1e400}}', "number overflow"),
    ],
)
def test_numbers_beyond_double_are_a_json_error(text, fragment):
    with pytest.raises(RuntimeError, match=fragment):
        core.solve_json_str(text, 0.1)
