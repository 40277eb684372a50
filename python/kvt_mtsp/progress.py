"""A one-line text progress bar over a time budget."""

from __future__ import annotations

import time
from collections.abc import Callable


class ProgressBar:
    """Shows the wall time spent against a budget.

    On a terminal (`live`) the line is redrawn in place on every `update`; elsewhere only the final
    line is written, so logs get one line instead of a stream of carriage returns."""

    def __init__(
        self,
        budget: float,
        write: Callable[[str], None],
        live: bool,
        width: int = 30,
        label: str = "solving",
        clock: Callable[[], float] = time.monotonic,
    ) -> None:
        self.budget = budget
        self.width = width
        self.label = label
        self._write = write
        self._live = live
        self._clock = clock
        self._start = clock()
        self._shown = ""
        self._finished = False

    def elapsed(self) -> float:
        return self._clock() - self._start

    def render(self, elapsed: float, done: bool) -> str:
        # The budget counts processor time, which a busy machine spends more slowly than wall
        # time: while the search runs the bar stops just short of full.
        fraction = 1.0 if done else min(elapsed / self.budget, 0.99) if self.budget > 0 else 0.0
        filled = int(round(fraction * self.width))
        bar = "#" * filled + "-" * (self.width - filled)
        return f"{self.label} [{bar}] {fraction * 100:3.0f}%  {elapsed:5.1f} s / {self.budget:g} s"

    def update(self, elapsed: float | None = None) -> None:
        if not self._live or self._finished:
            return
        line = self.render(self.elapsed() if elapsed is None else elapsed, done=False)
        if line != self._shown:
            self._write("\r" + line)
            self._shown = line

    def finish(self) -> None:
        if self._finished:
            return
        self._finished = True
        line = self.render(self.elapsed(), done=True)
        # Pad over a longer line drawn before.
        pad = " " * max(0, len(self._shown) - len(line))
        self._write(("\r" if self._live else "") + line + pad + "\n")
