"""The engine's limits and defaults, read from `_kvt_core` when first used (importing the package
does not load the native module).

`MISSING_COST`: the cost of an arc that no matrix cell gives. `MAX_NODES`: the nodes a solve takes
with improvement off; `MAX_IMPROVE_NODES`: with options.improve true. `DEFAULT_TIME_LIMIT`: the
budget of a document without options.time_limit, in processor seconds.
"""

from __future__ import annotations

MISSING_COST: float
MAX_NODES: int
MAX_IMPROVE_NODES: int
DEFAULT_TIME_LIMIT: float

_NAMES = frozenset({"MISSING_COST", "MAX_NODES", "MAX_IMPROVE_NODES", "DEFAULT_TIME_LIMIT"})


def __getattr__(name: str) -> object:
    if name not in _NAMES:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    import _kvt_core

    value: object = getattr(_kvt_core, name)
    globals()[name] = value
    return value
