"""One line describing the machine a benchmark ran on: CPU model, cores, RAM, OS, Python.

Run it alone (`python bench/machine.py`) to get the line for bench/RESULTS.md.
"""

from __future__ import annotations

import os
import platform


def cpu_model(cpuinfo: str = "/proc/cpuinfo") -> str:
    try:
        with open(cpuinfo) as f:
            for line in f:
                key, _, value = line.partition(":")
                if key.strip() == "model name":
                    return value.strip()
    except OSError:
        pass
    return platform.processor() or platform.machine() or "unknown CPU"


def ram_gib(meminfo: str = "/proc/meminfo"):
    try:
        with open(meminfo) as f:
            for line in f:
                if line.startswith("MemTotal:"):
                    return int(line.split()[1]) / (1024 * 1024)  # kB
    except (OSError, ValueError, IndexError):
        pass
    return None


def usable_cores() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def describe() -> str:
    ram = ram_gib()
    ram_text = f"{ram:.1f} GiB RAM" if ram is not None else "RAM unknown"
    return (
        f"{cpu_model()}, {usable_cores()} cores, {ram_text}; "
        f"{platform.system()} {platform.release()}, Python {platform.python_version()}"
    )


if __name__ == "__main__":
    print(describe())
