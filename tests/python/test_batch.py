"""Batches of instances: `kvt_mtsp.batch.solve_many` on the local pool and on a Dask cluster, and
`kvt-mtsp batch`."""

from __future__ import annotations

import csv
import io
import json
import math
import os
import pathlib
import random
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

import pytest

import _kvt_core as core
from kvt_mtsp import batch, cli
from kvt_mtsp.batch import Outcome, solve_many
from kvt_mtsp.inputs import solve_settings, with_settings
from kvt_mtsp.instance import Instance
from kvt_mtsp.validate import validate_result

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
SCRIPT = pathlib.Path(sys.executable).with_name("kvt-mtsp")
EXAMPLE_NAMES = ["euclid_one_type", "open_routes", "time_windows", "two_types"]


def instance(n=8, agents=2, seed=1, objective="min_max", time_limit=30.0, name=None):
    rng = random.Random(seed)
    points = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n)]
    doc = {
        "nodes": [
            {"id": i, "x": x, "y": y, **({"type": "depot"} if i == 0 else {})} for i, (x, y) in enumerate(points)
        ],
        "agents": [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(agents)],
        "costs": {"truck": [[round(math.dist(a, b), 3) for b in points] for a in points]},
        "options": {"objective": objective, "time_limit": time_limit},
    }
    if name is not None:
        doc["name"] = name
    return doc


def unsolvable():
    """Parses and solves, but no route meets node 1's window: status "failed"."""
    return {
        "nodes": [{"id": 0, "x": 0, "y": 0, "type": "depot"}, {"id": 1, "x": 3, "y": 4}],
        "agents": [{"id": 0, "type": "t", "start_node": 0, "end_node": 0}],
        "costs": {"t": [[0, 5], [5, 0]]},
        "constraints": [{"kind": "timewindow", "items": [{"node": 1, "start": 0, "end": 1}]}],
        "options": {"time_limit": 5},
    }


def comparable(result):
    """What a solve fixes given its options: everything but its timings."""
    timings = ("solve_time", "last_update_time", "improve_start_time")
    stats = {k: v for k, v in result["statistics"].items() if k not in timings}
    return (
        result["status"],
        result["timeout"],
        result["routes"],
        stats,
        [(e["max_cost"], e["sum_cost"]) for e in result["anytime"]],
    )


def by_name(outcomes):
    out = {}
    for o in outcomes:
        assert o.name not in out, f"two outcomes named {o.name}"
        out[o.name] = o
    return out


def worker_pids(parent=None):
    """Live child processes of `parent` (default: this process) started by multiprocessing: the
    batch's workers, and the nannies of a Dask cluster this process runs."""
    parent = os.getpid() if parent is None else parent
    pids = []
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            fields = (entry / "stat").read_text().rsplit(")", 1)[1].split()
            cmdline = (entry / "cmdline").read_bytes()
        except OSError:
            continue
        if int(fields[1]) == parent and fields[0] != "Z" and b"spawn_main" in cmdline:
            pids.append(int(entry.name))
    return pids


def cpu_seconds(pid):
    fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


linux_only = pytest.mark.skipif(not pathlib.Path("/proc/self/stat").exists(), reason="reads /proc")


# --- Dask --------------------------------------------------------------------------------------------


@pytest.fixture(scope="module")
def dask_cluster():
    """A local Dask cluster of two worker processes; a task whose worker dies is retried once."""
    distributed = pytest.importorskip(
        "distributed", reason="the Dask tests need the package 'distributed' (the 'cluster' extra)"
    )
    import logging

    import dask

    with dask.config.set({"distributed.scheduler.allowed-failures": 1}):
        cluster = distributed.LocalCluster(
            n_workers=2,
            threads_per_worker=1,
            processes=True,
            dashboard_address=None,
            scheduler_kwargs={"dashboard_address": "127.0.0.1:0"},
            silence_logs=logging.ERROR,
        )
    client = distributed.Client(cluster)
    yield cluster.scheduler_address, client
    client.close()
    cluster.close()


BACKENDS = ["local", "dask"]


def scheduler_of(backend, request):
    return request.getfixturevalue("dask_cluster")[0] if backend == "dask" else None


# --- mixed batches ---------------------------------------------------------------------------------------


@pytest.fixture
def mixed(tmp_path):
    """Good and bad instances with the outcome each must have: (status, error or None)."""
    malformed = tmp_path / "malformed.json"
    malformed.write_text('{"nodes": [')
    missing = tmp_path / "missing.json"
    unknown_start = instance(n=4, name="unknown-start")
    unknown_start["agents"][1]["start_node"] = 17
    no_agents = {"name": "no-agents", "nodes": []}
    items = [
        str(EXAMPLES / "euclid_one_type.json"),
        EXAMPLES / "time_windows.json",
        malformed,
        str(missing),
        unknown_start,
        no_agents,
        dict(unsolvable(), name="unsolvable"),
        42,
        instance(n=6, seed=3),
    ]
    expected = {
        "euclid_one_type": ("success", None),
        "time_windows": ("success", None),
        "malformed": ("error", f"{malformed}: malformed JSON: Expecting value (line 1, column 12)"),
        "missing": ("error", f"{missing}: no such file"),
        # The reader's finding, as `kvt-mtsp check` and `kvt-mtsp solve` give it.
        "unknown-start": ("error", "agents[1].start_node: 17 is not a node id; the solver refuses the instance"),
        "no-agents": ("error", "agents: required key is missing; the solver refuses the document"),
        "unsolvable": ("failed", None),
        "instance-8": ("error", "not an instance: expected a path or a parsed document, got int"),
        "instance-9": ("success", None),
    }
    return items, expected


@pytest.mark.parametrize("backend", BACKENDS)
def test_mixed_batch_gives_one_outcome_per_instance_with_its_status(backend, mixed, request):
    items, expected = mixed
    outcomes = by_name(solve_many(items, time_limit=0.3, workers=2, scheduler=scheduler_of(backend, request)))
    assert {name: (o.status, o.error) for name, o in outcomes.items()} == expected
    assert sorted(o.index for o in outcomes.values()) == list(range(len(items)))
    for o in outcomes.values():
        assert (o.result is None) == (o.status == "error")
        if o.result is not None:
            assert o.attempts == 1 and o.wall_time > 0 and 0 < o.cpu_time
    good = outcomes["euclid_one_type"]
    assert good.source == str(EXAMPLES / "euclid_one_type.json") and good.objective == "min_max"
    assert good.objective_value == good.result["statistics"]["max_cost"]
    assert outcomes["time_windows"].objective_value == outcomes["time_windows"].result["statistics"]["sum_cost"]
    assert outcomes["unsolvable"].objective_value is None
    doc = json.loads((EXAMPLES / "euclid_one_type.json").read_text())
    assert validate_result(Instance.from_document(doc), good.result) == []


@pytest.mark.parametrize("backend", BACKENDS)
def test_solver_console_lines_stay_with_their_outcome(backend, capfd, request):
    [outcome] = solve_many([instance(n=5)], workers=1, scheduler=scheduler_of(backend, request))
    assert outcome.status == "success"
    assert "[warning] node 0 has no assignment constraint; allowing all types" in outcome.console
    captured = capfd.readouterr()
    assert "[warning]" not in captured.out + captured.err


# --- results equal single solves -----------------------------------------------------------------------

EQUAL_CASES = [
    # (documents' extra options, solve_many keywords); searches that end before their budget
    ({}, {}),
    ({"improve": True, "seed": 5, "improve_iterations": 200}, {}),
    ({"improve_iterations": 200}, {"improve": True, "seed": 11}),
    ({"improve": True}, {"improve": False}),
]


@pytest.mark.parametrize("backend", BACKENDS)
@pytest.mark.parametrize("extra, keywords", EQUAL_CASES)
def test_results_equal_solving_each_alone(backend, extra, keywords, request):
    docs = [instance(n=8, agents=3, seed=s, objective=("min_max", "min_sum")[s % 2], name=f"i{s}") for s in range(4)]
    for doc in docs:
        doc["options"].update(extra)
    outcomes = by_name(solve_many(docs, workers=2, scheduler=scheduler_of(backend, request), **keywords))
    for doc in docs:
        alone_doc = json.loads(json.dumps(doc))
        for key in ("improve", "seed"):
            if keywords.get(key) is not None:
                alone_doc["options"][key] = keywords[key]
        alone = core.solve_json_str(json.dumps(alone_doc))
        assert alone["timeout"] is False
        assert comparable(outcomes[doc["name"]].result) == comparable(alone)


def _with_options(doc, improve, seed, default_improve=None):
    return with_settings(doc, solve_settings(doc, improve, seed, default_improve))


def test_options_are_set_only_when_given():
    doc = instance(n=4)
    doc["options"]["improve"] = True
    assert _with_options(doc, None, None) is doc
    changed = _with_options(doc, False, 3)
    assert changed["options"] == {**doc["options"], "improve": False, "seed": 3}
    assert doc["options"]["improve"] is True and "seed" not in doc["options"]  # the caller's document is kept
    assert _with_options({"nodes": []}, True, None)["options"] == {"improve": True}
    assert _with_options({"options": 7}, True, None) == {"options": 7}  # left for the solver to refuse
    # The command line's default: improve where the document does not say.
    assert _with_options(doc, None, None, default_improve=False) is doc
    assert _with_options(instance(n=4), None, None, default_improve=True)["options"]["improve"] is True


def test_time_limit_overrides_each_document(tmp_path):
    path = tmp_path / "slow.json"
    path.write_text(json.dumps(instance(n=40, agents=3, time_limit=60.0)))
    [outcome] = solve_many([path], time_limit=0.3)
    assert outcome.result["timeout"] is True
    # Processor seconds of the search, which stops at its first check past the budget.
    assert 0.3 <= outcome.cpu_time < 5.0


@pytest.mark.parametrize(
    "keywords, message",
    [
        ({"workers": 0}, "workers must be at least 1, got 0"),
        ({"time_limit": 0}, "time_limit must be a positive number of seconds, got 0"),
        ({"time_limit": float("nan")}, "time_limit must be a positive number of seconds, got nan"),
        ({"seed": -1}, "seed must be an integer from 0 to 2\\^64 - 1, got -1"),
        ({"seed": 2**64}, "seed must be an integer from 0 to 2\\^64 - 1, got 18446744073709551616"),
    ],
)
def test_bad_arguments_are_refused_before_any_solve(keywords, message):
    with pytest.raises(ValueError, match=f"^{message}$"):
        solve_many([EXAMPLES / "euclid_one_type.json"], **keywords)


def test_names_are_unique_within_a_batch(tmp_path):
    for folder in ("a", "b"):
        (tmp_path / folder).mkdir()
        (tmp_path / folder / "x.json").write_text(json.dumps(instance(n=4)))
    items = [
        tmp_path / "a" / "x.json",
        tmp_path / "b" / "x.json",
        instance(n=4, name="x"),
        instance(n=4),
        instance(n=4, name=""),
    ]
    names = sorted((o.index, o.name) for o in solve_many(items, time_limit=0.2))
    assert names == [(0, "x"), (1, "x-2"), (2, "x-3"), (3, "instance-4"), (4, "instance-5")]


# --- workers that die -------------------------------------------------------------------------------------


def dying_worker(conn):
    """A local worker that kills its own process on an instance named "poison"."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    while True:
        task = conn.recv()
        if task is None:
            return
        if json.loads(task[0]).get("name") == "poison":
            os.kill(os.getpid(), signal.SIGKILL)
        conn.send(batch._solve_text(task[0], task[1]))


def dying_task(text, time_limit):
    """A Dask task that kills its worker process on an instance named "poison"."""
    if json.loads(text).get("name") == "poison":
        os.kill(os.getpid(), signal.SIGKILL)
    return batch._solve_text(text, time_limit)


@pytest.mark.parametrize("backend", BACKENDS)
def test_instance_whose_worker_dies_twice_is_one_error_row(backend, monkeypatch, request):
    if backend == "dask":
        monkeypatch.setattr(batch, "_solve_task", dying_task)
    else:
        monkeypatch.setattr(batch, "_worker_main", dying_worker)
    docs = [
        instance(n=6, seed=1, name="a"),
        instance(n=6, seed=2, name="poison"),
        instance(n=6, seed=3, name="b"),
        instance(n=6, seed=4, name="c"),
    ]
    outcomes = by_name(solve_many(docs, time_limit=0.3, workers=2, scheduler=scheduler_of(backend, request)))
    assert {name: o.status for name, o in outcomes.items()} == {
        "a": "success",
        "poison": "error",
        "b": "success",
        "c": "success",
    }
    cause = "Dask: KilledWorker" if backend == "dask" else "killed by SIGKILL"
    assert outcomes["poison"].error == f"the worker solving it died ({cause}), also on a retry"
    assert outcomes["poison"].attempts == 2


@linux_only
def test_killing_a_busy_local_worker_retries_its_instance():
    docs = [instance(n=40, agents=3, seed=s, time_limit=1.2, name=f"i{s}") for s in range(3)]
    killed = []
    others = set(worker_pids())

    def kill_a_busy_worker():
        deadline = time.monotonic() + 60
        while not killed and time.monotonic() < deadline:
            for pid in set(worker_pids()) - others:
                try:
                    busy = cpu_seconds(pid) > 0.5  # into a search of 1.2 processor seconds
                except OSError:
                    continue
                if busy:
                    os.kill(pid, signal.SIGKILL)
                    killed.append(pid)
                    break
            time.sleep(0.05)

    killer = threading.Thread(target=kill_a_busy_worker)
    killer.start()
    outcomes = by_name(solve_many(docs, workers=2))
    killer.join()
    assert killed, "no worker was seen solving"
    assert {name: o.status for name, o in outcomes.items()} == {"i0": "success", "i1": "success", "i2": "success"}
    assert sorted(o.attempts for o in outcomes.values()) == [1, 1, 2]
    assert set(worker_pids()) <= others  # the pool is gone with the batch


def test_killing_a_busy_dask_worker_still_gives_every_row(dask_cluster):
    address, client = dask_cluster
    docs = [instance(n=40, agents=3, seed=s, time_limit=1.2, name=f"i{s}") for s in range(3)]
    killed = []

    def kill_a_busy_worker():
        deadline = time.monotonic() + 60
        while not killed and time.monotonic() < deadline:
            busy = [w for w, keys in client.processing().items() if keys]
            if busy:
                time.sleep(0.5)
                pid = client.run(os.getpid, workers=[busy[0]])[busy[0]]
                os.kill(pid, signal.SIGKILL)
                killed.append(pid)
            time.sleep(0.05)

    killer = threading.Thread(target=kill_a_busy_worker)
    killer.start()
    outcomes = by_name(solve_many(docs, scheduler=address))
    killer.join()
    assert killed, "no worker was seen solving"
    assert {name: o.status for name, o in outcomes.items()} == {"i0": "success", "i1": "success", "i2": "success"}
    client.wait_for_workers(2, timeout=60)  # the nanny restarts the killed worker for later tests


def test_closing_the_generator_stops_the_running_solves():
    others = set(worker_pids())
    outcomes = solve_many(
        [instance(n=5, name="quick"), instance(n=60, agents=3, time_limit=120.0, name="slow")], workers=2
    )
    first = next(outcomes)
    assert first.name == "quick"
    start = time.monotonic()
    outcomes.close()
    assert time.monotonic() - start < 10
    assert set(worker_pids()) <= others


# --- summary tables ------------------------------------------------------------------------------------


def result(max_cost, sum_cost, status="success"):
    return {
        "status": status,
        "timeout": False,
        "routes": [],
        "statistics": {
            "solve_time": 1.0,
            "max_cost": max_cost,
            "sum_cost": sum_cost,
            "n_generated": 1,
            "n_expanded": 1,
            "last_update_time": 0.5,
        },
        "anytime": [],
    }


OUTCOMES = [
    Outcome("b", result(12.5, 20.0), wall_time=1.234, index=1, objective="min_sum", attempts=1),
    Outcome("a", result(7.0, 13.126), wall_time=0.5, index=0, objective="min_max", attempts=1),
    Outcome("c|d", error="c.json: no such file", index=2),
    Outcome("e", result(0.0, 0.0, "failed"), wall_time=2.0, index=3, attempts=1),
]


def test_summary_rows_in_input_order():
    assert batch.summary_rows(OUTCOMES) == [
        ("a", "success", "7.00", "7.00", "13.13", "0.50", ""),
        ("b", "success", "20.00", "12.50", "20.00", "1.23", ""),
        ("c|d", "error", "", "", "", "", "c.json: no such file"),
        ("e", "failed", "", "", "", "2.00", ""),
    ]


def test_summary_markdown_and_csv():
    rows = batch.summary_rows(OUTCOMES)
    assert batch.summary_markdown(rows) == (
        "| instance | status  | objective | longest route | total | time | reason               |\n"
        "| -------- | ------- | --------: | ------------: | ----: | ---: | -------------------- |\n"
        "| a        | success |      7.00 |          7.00 | 13.13 | 0.50 |                      |\n"
        "| b        | success |     20.00 |         12.50 | 20.00 | 1.23 |                      |\n"
        "| c\\|d     | error   |           |               |       |      | c.json: no such file |\n"
        "| e        | failed  |           |               |       | 2.00 |                      |\n"
    )
    assert batch.summary_csv(rows) == (
        "instance,status,objective,longest route,total,time,reason\n"
        "a,success,7.00,7.00,13.13,0.50,\n"
        "b,success,20.00,12.50,20.00,1.23,\n"
        "c|d,error,,,,,c.json: no such file\n"
        "e,failed,,,,2.00,\n"
    )


def test_progress_bar_counts_instances():
    written = []
    bar = cli._InstanceBar(4, written.append, live=True)
    bar.advance()
    bar.finish()
    assert re.fullmatch(r"\rbatch \[#{8}-{22}\] 1/4 instances +\d+\.\d s", written[0])
    assert re.fullmatch(r"\rbatch \[#{8}-{22}\] 1/4 instances +\d+\.\d s *\n", written[-1])


def test_folders_give_their_instance_files(tmp_path):
    for name in ("b.json", "a.json", "a.result.json", "a.solution.json", "notes.txt"):
        (tmp_path / name).write_text("{}")
    (tmp_path / "sub.json").mkdir()
    single = tmp_path / "elsewhere.txt"
    assert batch.instance_paths([str(tmp_path), str(single)]) == [
        str(tmp_path / "a.json"),
        str(tmp_path / "b.json"),
        str(single),
    ]


# --- the command line ------------------------------------------------------------------------------------


def run(*args, timeout=180):
    return subprocess.run([str(SCRIPT), *map(str, args)], capture_output=True, text=True, timeout=timeout)


def read_csv(path):
    return list(csv.DictReader(io.StringIO(path.read_text())))


@pytest.fixture(scope="module")
def cli_batch(tmp_path_factory):
    """`kvt-mtsp batch` over a folder of the examples (with a solution file beside them) and two bad files."""
    tmp = tmp_path_factory.mktemp("batch")
    folder = tmp / "instances"
    folder.mkdir()
    for name in EXAMPLE_NAMES:
        shutil.copy(EXAMPLES / f"{name}.json", folder)
    (folder / "two_types.solution.json").write_text("{}")
    (tmp / "broken.json").write_text("not json")
    out = tmp / "out"
    proc = run(
        "batch", folder, tmp / "broken.json", tmp / "absent.json", "--out", out, "--workers", "2", "--time-limit", "0.3"
    )
    return proc, tmp, out


def test_cli_writes_a_result_per_instance_and_the_summary(cli_batch):
    proc, tmp, out = cli_batch
    assert proc.returncode == 1, proc.stderr  # two instances were not solved
    assert sorted(p.name for p in out.iterdir()) == sorted(
        [f"{n}.result.json" for n in EXAMPLE_NAMES] + ["summary.csv", "summary.md"]
    )
    rows = read_csv(out / "summary.csv")
    assert [(r["instance"], r["status"], r["reason"]) for r in rows] == [(n, "success", "") for n in EXAMPLE_NAMES] + [
        ("broken", "error", f"{tmp / 'broken.json'}: malformed JSON: Expecting value (line 1, column 1)"),
        ("absent", "error", f"{tmp / 'absent.json'}: no such file"),
    ]
    for row in rows[:4]:
        doc = json.loads((EXAMPLES / f"{row['instance']}.json").read_text())
        res = json.loads((out / f"{row['instance']}.result.json").read_text())
        assert validate_result(Instance.from_document(doc), res) == []
        stats = res["statistics"]
        key = "max_cost" if doc["options"]["objective"] == "min_max" else "sum_cost"
        assert (row["objective"], row["longest route"], row["total"]) == (
            f"{stats[key]:.2f}",
            f"{stats['max_cost']:.2f}",
            f"{stats['sum_cost']:.2f}",
        )
        assert re.fullmatch(r"\d+\.\d\d", row["time"])


def test_cli_prints_the_summary_and_a_progress_bar(cli_batch):
    proc, _, out = cli_batch
    assert proc.stdout == (out / "summary.md").read_text()
    header, rule, *body = proc.stdout.splitlines()
    assert [c.strip() for c in header.split("|")[1:-1]] == list(batch.SUMMARY_COLUMNS)
    assert len(body) == 6 and all(len(line) == len(header) for line in [rule] + body)
    # Not a terminal: one final line of the bar instead of redraws.
    assert proc.stderr.startswith("batch [" + "#" * 30 + "] 6/6 instances") and proc.stderr.count("\n") == 1


def test_cli_on_a_local_dask_cluster(tmp_path):
    pytest.importorskip("distributed", reason="needs the package 'distributed' (the 'cluster' extra)")
    out = tmp_path / "out"
    proc = run(
        "batch",
        EXAMPLES / "open_routes.json",
        EXAMPLES / "two_types.json",
        "--out",
        out,
        "--scheduler",
        "local",
        "--workers",
        "2",
        "--time-limit",
        "0.3",
        "--quiet",
        "--improve",
    )
    assert proc.returncode == 0, proc.stderr
    assert proc.stderr == ""
    assert [(r["instance"], r["status"]) for r in read_csv(out / "summary.csv")] == [
        ("open_routes", "success"),
        ("two_types", "success"),
    ]


@pytest.mark.parametrize(
    "args, message",
    [
        (["batch", "{tmp}", "--out", "{tmp}/out"], "no instances: {tmp} name no .json files"),
        (
            ["batch", EXAMPLES / "two_types.json", "--out", "{tmp}/file.txt"],
            "{tmp}/file.txt: cannot create the output folder: File exists",
        ),
        (
            ["batch", EXAMPLES / "two_types.json", "--out", "{tmp}/out", "--seed", "-1"],
            "seed must be an integer from 0 to 2^64 - 1, got -1",
        ),
    ],
)
def test_cli_faults_of_the_command_are_one_line(tmp_path, args, message):
    (tmp_path / "file.txt").write_text("")
    proc = run(*(str(a).format(tmp=tmp_path) for a in args))
    assert proc.returncode == 2
    assert proc.stdout == ""
    assert proc.stderr == f"kvt-mtsp: error: {message.format(tmp=tmp_path)}\n"


@linux_only
@pytest.mark.parametrize("signum, status", [(signal.SIGINT, 130), (signal.SIGTERM, 143)])
def test_cli_interrupt_keeps_the_finished_results(tmp_path, signum, status):
    for k in range(2):
        (tmp_path / f"quick{k}.json").write_text(json.dumps(instance(n=5, seed=k, time_limit=1.0)))
    (tmp_path / "slow.json").write_text(json.dumps(instance(n=60, agents=3, time_limit=120.0)))
    out = tmp_path / "out"
    # A child of a background job inherits an ignored SIGINT; give it the default a terminal would.
    proc = subprocess.Popen(
        [
            str(SCRIPT),
            "batch",
            str(tmp_path / "quick0.json"),
            str(tmp_path / "quick1.json"),
            str(tmp_path / "slow.json"),
            "--out",
            str(out),
            "--workers",
            "1",
        ],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )
    deadline = time.monotonic() + 120
    while not (out / "quick1.result.json").exists() and time.monotonic() < deadline and proc.poll() is None:
        time.sleep(0.05)
    time.sleep(0.5)  # the slow instance is solving now
    workers = worker_pids(proc.pid)
    start = time.monotonic()
    proc.send_signal(signum)
    stdout, stderr = proc.communicate(timeout=60)
    assert time.monotonic() - start < 30
    assert proc.returncode == status, stderr
    assert stderr.endswith("kvt-mtsp: interrupted: 2 of 3 instances finished\n") and "Traceback" not in stderr
    rows = read_csv(out / "summary.csv")
    assert [(r["instance"], r["status"]) for r in rows] == [
        ("quick0", "success"),
        ("quick1", "success"),
        ("slow", "not run"),
    ]
    assert stdout == (out / "summary.md").read_text()
    assert sorted(p.name for p in out.iterdir()) == [
        "quick0.result.json",
        "quick1.result.json",
        "summary.csv",
        "summary.md",
    ]
    assert workers and not any(
        pathlib.Path(f"/proc/{pid}").exists() and (pathlib.Path(f"/proc/{pid}/stat").read_text().split()[2] != "Z")
        for pid in workers
    )


# --- several searches per instance ---------------------------------------------------------------


def test_threads_set_every_documents_option_and_give_the_routes_of_each_alone(monkeypatch):
    monkeypatch.setattr(batch, "cores", lambda: 2)
    docs = [instance(n=12, agents=3, seed=s, name=f"t{s}") for s in range(2)]
    for doc in docs:
        doc["options"].update(improve=True, seed=3, improve_iterations=300, threads=1)
    outcomes = by_name(solve_many(docs, threads=2))
    for doc in docs:
        alone = core.solve_json_str(json.dumps({**doc, "options": {**doc["options"], "threads": 2}}))
        result = outcomes[doc["name"]].result
        assert result["routes"] == alone["routes"]
        assert result["statistics"]["improve_iterations"] == 2 * 300


def test_threads_go_into_the_options_in_place_of_the_documents_own():
    doc = instance(n=4)
    doc["options"]["threads"] = 4
    assert with_settings(doc, solve_settings(doc, None, None, threads=2))["options"]["threads"] == 2
    assert with_settings(doc, solve_settings(doc, None, None, default_threads=0))["options"]["threads"] == 4
    assert (
        with_settings(instance(n=4), solve_settings(instance(n=4), None, None, default_threads=0))["options"]["threads"]
        == 0
    )


@pytest.mark.parametrize(
    "keywords, message",
    [
        ({"threads": -1}, "threads must be a whole number of at least 0, got -1"),
        ({"threads": 3}, "3 threads per instance exceed the 2 cores"),
        ({"threads": 2, "workers": 2}, "2 workers times 2 threads exceed the 2 cores"),
    ],
)
def test_threads_beyond_the_cores_are_refused_before_any_solve(keywords, message, monkeypatch):
    monkeypatch.setattr(batch, "cores", lambda: 2)
    with pytest.raises(ValueError, match=f"^{message}$"):
        solve_many([EXAMPLES / "euclid_one_type.json"], **keywords)


def test_more_workers_than_cores_stay_allowed_with_one_thread(monkeypatch):
    monkeypatch.setattr(batch, "cores", lambda: 2)
    [outcome] = solve_many([EXAMPLES / "euclid_one_type.json"], threads=1, workers=3, time_limit=0.2)
    assert outcome.error is None
