#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/seeds/).

The JSON targets start from the bundled examples, compacted, and from edge
documents: empty and null sections, extreme ids, ragged matrices, inverted
windows, 256 and 257 nodes, numbers beyond the integer fields, deep nesting.
The post-optimizer target gets a few byte strings of different lengths.
Run it again after changing the list; the output is deterministic.
"""

from __future__ import annotations

import json
import pathlib
import random

ROOT = pathlib.Path(__file__).resolve().parent
EXAMPLES = ROOT.parent / "examples"


def line(n, depot=0):
    return [{"id": i, "x": float(i), "y": 0.0, **({"type": "depot"} if i == depot else {})} for i in range(n)]


def matrix(n, scale=1.0):
    return [[abs(i - j) * scale for j in range(n)] for i in range(n)]


def small(n=4, agents=1, **extra):
    doc = {
        "nodes": line(n),
        "agents": [{"id": k, "type": "t", "start_node": 0, "end_node": 0} for k in range(agents)],
        "costs": {"t": matrix(n)},
        "options": {"objective": "min_max", "time_limit": 1},
    }
    doc.update(extra)
    return doc


def edge_documents():
    docs = {
        "empty_arrays": {"nodes": [], "agents": []},
        "empty_everything": {"nodes": [], "agents": [], "costs": {}, "constraints": [], "options": {}},
        "null_sections": {"nodes": None, "agents": None, "costs": None, "constraints": None, "options": None},
        "scalar_sections": {"nodes": 1, "agents": "x"},
        "object_sections": {"nodes": {"b": {"id": 0, "x": 0, "y": 0}}, "agents": {}},
        "huge_ids": small(3)
        | {
            "nodes": [
                {"id": 18446744073709551615, "x": 0, "y": 0, "type": "DEPOT"},
                {"id": 9223372036854775807, "x": 1, "y": 1},
                {"id": 1e300, "x": 2, "y": 2},
            ],
            "agents": [
                {
                    "id": 18446744073709551615,
                    "type": "t",
                    "start_node": 18446744073709551615,
                    "end_node": 18446744073709551615,
                }
            ],
        },
        "negative_ids": small(3)
        | {
            "nodes": [
                {"id": -1, "x": 0, "y": 0, "type": "depot"},
                {"id": -9223372036854775808, "x": 1, "y": 1},
                {"id": -1e300, "x": 2, "y": 2},
            ],
            "agents": [{"id": -5, "type": "t", "start_node": -1, "end_node": -1}],
        },
        "float_and_bool_ids": small(3)
        | {
            "nodes": [
                {"id": 0.5, "x": 0, "y": 0, "type": "depot"},
                {"id": True, "x": 1, "y": 1},
                {"id": 2.9999, "x": 2, "y": 2},
            ]
        },
        "duplicate_ids": small(4) | {"nodes": line(3) + [{"id": 1, "x": 9, "y": 9}]},
        "unknown_start": small(3) | {"agents": [{"id": 0, "type": "t", "start_node": 77, "end_node": 0}]},
        "unknown_cost_type": small(3) | {"costs": {"nobody": matrix(3)}},
        "ragged_matrix": small(4) | {"costs": {"t": [[0, 1], [1, 0, 2, 3], [], [5, 5, 5, 5]]}},
        "oversized_matrix": small(3) | {"costs": {"t": matrix(5)}},
        "long_row": small(3) | {"costs": {"t": [[0, 1, 2, 3, 4, 5, 6]]}},
        "costs_as_array": small(3) | {"costs": [matrix(3)]},
        "costs_scalar": small(3) | {"costs": 5},
        "extreme_costs": small(4)
        | {"costs": {"t": [[0, 1e308, -1e308, 1e-300], [1e308, 0, 1e308, -0.0], [-1e308, 1e308, 0, 3], [1, 2, 3, 0]]}},
        "negative_costs": small(5) | {"costs": {"t": matrix(5, -1.0)}},
        "windows_start_after_end": small(4)
        | {
            "constraints": [
                {
                    "kind": "timewindow",
                    "items": [
                        {"node": 1, "start": 10, "end": 2},
                        {"node": 2, "start": 0, "end": 1e308},
                        {"node": 3, "start": -1e308, "end": -1},
                        {"node": 99, "start": 0, "end": 1},
                    ],
                }
            ]
        },
        "assignment_unknown_types": small(4)
        | {
            "constraints": [
                {
                    "kind": "assignment",
                    "items": [
                        {"node": 1, "types": ["nobody"]},
                        {"node": 2, "types": []},
                        {"node": 3, "types": ["t", "t"]},
                    ],
                },
                {"kind": "Assignment", "items": 5},
                {
                    "kind": "sequence",
                    "precedence": [
                        {"before": 1, "after": 2, "type": "same"},
                        {"before": 2, "after": 1, "type": "diff"},
                        {"before": 2, "after": 3},
                    ],
                },
            ]
        },
        "too_large_integers": small(3)
        | {
            "agents": [
                {"id": 0, "type": "t", "start_node": 0, "end_node": 0, "capacity": 1e40, "max_length": -1e40},
                {
                    "id": 1e19,
                    "type": "t",
                    "start_node": 0.0,
                    "end_node": 1e-300,
                    "capacity": 4294967297,
                    "max_length": 18446744073709551615,
                },
                {
                    "id": 2,
                    "type": "t",
                    "start_node": 0,
                    "end_node": 0,
                    "capacity": -2147483649,
                    "max_length": 2147483648.5,
                },
            ]
        },
        "two_types": small(5, agents=0)
        | {
            "agents": [
                {"id": 0, "type": "a", "start_node": 0, "end_node": 0},
                {"id": 1, "type": "b", "start_node": 0, "end_node": 4},
            ],
            "costs": {"a": matrix(5), "b": matrix(5, 2.0)},
        },
        "open_routes": small(5, agents=2) | {"options": {"return_to_end": False, "objective": "min_sum"}},
        "time_limits": small(6, agents=2)
        | {
            "agents": [
                {"id": 0, "type": "t", "start_node": 0, "end_node": 0, "max_length": 3},
                {"id": 1, "type": "t", "start_node": 0, "end_node": 0, "max_length": 1},
            ]
        },
        "no_agents": small(4, agents=0),
        "nodes_256": small(256, agents=2) | {"costs": {}},
        "nodes_257": small(257, agents=1) | {"costs": {}},
        "options_wrong_types": small(3) | {"options": {"return_to_end": 0, "objective": 1, "time_limit": "x"}},
    }
    return docs


def deep(depth: int, key: str) -> str:
    return '{"nodes":' + "[" * depth + "]" * depth + ',"agents":[],"' + key + '":0}'


def main() -> None:
    for target in ("fuzz_instance", "fuzz_solve"):
        out = ROOT / "corpus" / target / "seeds"
        out.mkdir(parents=True, exist_ok=True)
        for path in sorted(EXAMPLES.glob("*.json")):
            if path.name.endswith(".solution.json"):
                continue
            doc = json.loads(path.read_text())
            if target == "fuzz_solve" and len(doc["nodes"]) > 24:
                continue
            (out / f"example_{path.stem}.json").write_text(json.dumps(doc, separators=(",", ":")))
        for name, doc in edge_documents().items():
            text = json.dumps(doc, separators=(",", ":"))
            if target == "fuzz_solve" and len(text) > 4096:
                continue
            (out / f"edge_{name}.json").write_text(text)
        (out / "edge_deep_nesting.json").write_text(deep(2000, "x"))
        (out / "edge_overflowing_numbers.json").write_text(
            '{"nodes":[{"id":1e400,"x":1e400,"y":-1e400,"z":1e-400,"type":"depot"}],'
            '"agents":[{"id":0,"type":"t","start_node":1e400,"end_node":18446744073709551616}],'
            '"options":{"time_limit":1e400}}'
        )
    # Large generated instances (fuzz_instance's "L" inputs): 257 and 2000 nodes, and 512 nodes
    # with two bytes of the text overwritten.
    out = ROOT / "corpus" / "fuzz_instance" / "seeds"
    (out / "large_257.bin").write_bytes(b"L\x00\x00")
    (out / "large_2000.bin").write_bytes(b"L\x06\xcf")
    (out / "large_broken.bin").write_bytes(b'L\x01\x00\x00\x10"\x12\x34:')
    out = ROOT / "corpus" / "fuzz_postopt" / "seeds"
    out.mkdir(parents=True, exist_ok=True)
    rng = random.Random(7)
    for size in (8, 32, 96, 256, 600):
        (out / f"random_{size}.bin").write_bytes(bytes(rng.randrange(256) for _ in range(size)))


if __name__ == "__main__":
    main()
