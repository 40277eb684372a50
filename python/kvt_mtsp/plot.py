"""Route maps and anytime curves with matplotlib (the optional `plot` dependency group)."""

from __future__ import annotations

import pathlib
from typing import TYPE_CHECKING, Any, Literal

from .instance import Instance
from .results import SolveResult

if TYPE_CHECKING:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

INSTALL_HINT = "pip install 'kvt-mtsp[plot]'"
_LABELLED_NODES = 40  # node ids are written beside the nodes up to this many nodes


class PlotUnavailable(RuntimeError):
    """matplotlib is not installed."""


def require_matplotlib() -> None:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise PlotUnavailable(f"plotting needs matplotlib ({INSTALL_HINT})") from None


def agent_colours(count: int) -> list[tuple[float, float, float, float]]:
    from matplotlib import colormaps

    if count <= 10:
        palette = colormaps["tab10"]
        # tab10's grey (7) is the colour of unserved nodes: skip it.
        picks = [i for i in range(10) if i != 7][:count]
        return [palette(i) for i in picks]
    if count <= 20:
        palette = colormaps["tab20"]
        return [palette(i) for i in range(count)]
    palette = colormaps["turbo"]
    return [palette(i / max(1, count - 1)) for i in range(count)]


def draw_routes(ax: Axes, instance: Instance, result: SolveResult) -> None:
    """Nodes at their (x, y), one coloured polyline per route with arrows, depots as squares."""
    depots = instance.depot_ids() | {n.id for n in instance.nodes if n.depot}
    targets = [n for n in instance.nodes if n.id not in depots]
    ax.scatter([n.x for n in targets], [n.y for n in targets], s=22, color="0.35", zorder=3, label="_nodes")
    depot_nodes = [n for n in instance.nodes if n.id in depots]
    ax.scatter(
        [n.x for n in depot_nodes],
        [n.y for n in depot_nodes],
        s=110,
        marker="s",
        color="black",
        zorder=4,
        label="depot",
    )
    if len(instance.nodes) <= _LABELLED_NODES:
        for n in instance.nodes:
            offset = (7, 7) if n.id in depots else (4, 4)  # clear of the depot square
            ax.annotate(
                str(n.id), (n.x, n.y), xytext=offset, textcoords="offset points", fontsize=7, color="0.2", zorder=5
            )

    routes = result["routes"] if result["status"] == "success" else []
    colours = agent_colours(len(instance.agents))
    for k, (agent, route) in enumerate(zip(instance.agents, routes)):
        points = [(node.x, node.y) for node in (instance.node(v) for v in route["path"]) if node is not None]
        colour = colours[k]
        stops = max(0, len(route["path"]) - 2)
        label = f"agent {agent.id} ({agent.type}): {stops} stops, cost {route['cost']:.2f}"
        if len(points) < 2:
            ax.plot([], [], color=colour, linewidth=2, label=label + " (unused)")
            continue
        # Without return-to-end the closing move is free: drawn dashed.
        free_close = (
            not instance.return_to_end
            and len(route["path"]) >= 2
            and route["path"][-1] in (agent.start_node, agent.end_node)
        )
        body = points[:-1] if free_close else points
        ax.plot([p[0] for p in body], [p[1] for p in body], color=colour, linewidth=2, zorder=2, label=label)
        if free_close:
            ax.plot(
                [points[-2][0], points[-1][0]],
                [points[-2][1], points[-1][1]],
                color=colour,
                linewidth=1.2,
                linestyle="--",
                zorder=2,
            )
        for (xa, ya), (xb, yb) in zip(points, points[1:]):
            if (xa, ya) == (xb, yb):
                continue
            mid = ((xa + xb) / 2, (ya + yb) / 2)
            ahead = (mid[0] + (xb - xa) * 0.01, mid[1] + (yb - ya) * 0.01)
            ax.annotate(
                "",
                xy=ahead,
                xytext=mid,
                zorder=2,
                arrowprops={"arrowstyle": "-|>", "color": colour, "lw": 0, "mutation_scale": 14},
            )
    if any(not instance.return_to_end and len(r["path"]) >= 2 for r in routes):
        ax.plot([], [], color="0.3", linewidth=1.2, linestyle="--", label="closing move (free)")
    if not routes:
        ax.text(
            0.5, 0.5, "no solution", transform=ax.transAxes, ha="center", va="center", fontsize=14, color="firebrick"
        )
    ax.set_aspect("equal", adjustable="datalim")
    ax.set_xlabel("x")
    ax.set_ylabel("y")
    ax.grid(True, linewidth=0.4, alpha=0.5)
    columns = 1 if len(instance.agents) <= 2 else 2 if len(instance.agents) <= 8 else 3
    ax.legend(loc="upper center", bbox_to_anchor=(0.5, -0.1), ncol=columns, fontsize=8, frameon=False)


def draw_anytime(ax: Axes, instance: Instance, result: SolveResult, budget: float | None = None) -> None:
    """The best objective over processor time, as a step curve of the recorded improvements.

    The last value is held until the search ended: at `budget` (processor seconds) when the search
    ran out of time, else at its wall time, which stands in for processor time of the
    single-threaded search."""
    key: Literal["max_cost", "sum_cost"] = "max_cost" if instance.objective == "min_max" else "sum_cost"
    entries = result["anytime"]
    from matplotlib.ticker import MaxNLocator

    ax.set_title(f"improving solutions ({instance.objective})", fontsize=10)
    ax.set_xlabel("processor time (s)")
    ax.set_ylabel("max route cost" if key == "max_cost" else "sum of route costs")
    ax.grid(True, linewidth=0.4, alpha=0.5)
    if not entries:
        ax.text(0.5, 0.5, "no solution recorded", transform=ax.transAxes, ha="center", va="center")
        return
    times = [float(e["time"]) for e in entries]
    values = [float(e[key]) for e in entries]
    ended = (
        budget if result["timeout"] and budget is not None and budget > 0 else float(result["statistics"]["solve_time"])
    )
    end = max(times[-1], ended)
    if end < 1.0:  # a quick search reads better in milliseconds
        times, end = [t * 1000.0 for t in times], end * 1000.0
        ax.set_xlabel("processor time (ms)")
    ax.step(times + [end], values + [values[-1]], where="post", color="tab:blue", linewidth=1.8)
    ax.plot(times, values, "o", color="tab:blue", markersize=4)
    if times[0] > 0 and end / times[0] > 50:
        ax.set_xscale("log")
    else:
        ax.xaxis.set_major_locator(MaxNLocator(nbins=6))
    ax.annotate(f"{values[-1]:.2f}", (times[-1], values[-1]), xytext=(4, 6), textcoords="offset points", fontsize=8)
    handover = result["statistics"].get("improve_start_time")
    if isinstance(handover, (int, float)) and handover >= 0:
        at = float(handover) * (1000.0 if end < 1.0 or ax.get_xlabel().endswith("(ms)") else 1.0)
        ax.axvline(at, color="tab:orange", linestyle="--", linewidth=1.0)
        ax.annotate(
            "improvement engine",
            (at, 1.0),
            xycoords=("data", "axes fraction"),
            xytext=(3, -12),
            textcoords="offset points",
            fontsize=8,
            color="tab:orange",
        )


def make_figure(instance: Instance, result: SolveResult, title: str = "", budget: float | None = None) -> Figure:
    require_matplotlib()
    from matplotlib.figure import Figure

    fig = Figure(figsize=(12, 6.2), dpi=110, layout="constrained")
    left, right = fig.subplots(1, 2, gridspec_kw={"width_ratios": [1.55, 1]})
    draw_routes(left, instance, result)
    draw_anytime(right, instance, result, budget)
    stats = result["statistics"]
    headline = title or instance.name or "routes"
    value = stats["max_cost"] if instance.objective == "min_max" else stats["sum_cost"]
    summary = (
        f"{headline}: {len(instance.nodes)} nodes, {len(instance.agents)} agents, {instance.objective} {value:.2f}"
        if result["status"] == "success"
        else f"{headline}: no solution"
    )
    fig.suptitle(summary, fontsize=11)
    return fig


def save_plot(
    instance: Instance, result: SolveResult, path: str | pathlib.Path, title: str = "", budget: float | None = None
) -> None:
    """Writes the route map and the anytime curve as a PNG (no display needed); `budget` is the
    solve's time budget in processor seconds."""
    require_matplotlib()
    from matplotlib.backends.backend_agg import FigureCanvasAgg

    fig: Any = make_figure(instance, result, title, budget)
    FigureCanvasAgg(fig)
    fig.savefig(str(path), format="png")
