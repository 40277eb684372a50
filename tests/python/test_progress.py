"""The progress bar of the solve command."""

from __future__ import annotations

from kvt_mtsp.progress import ProgressBar


def test_progress_bar_redraws_in_place_and_finishes_full():
    now = [0.0]
    written = []
    bar = ProgressBar(4.0, written.append, live=True, width=8, clock=lambda: now[0])
    now[0] = 1.0
    bar.update()
    bar.update()  # unchanged: not redrawn
    now[0] = 9.0
    bar.update()  # over budget while still running: held short of full
    now[0] = 9.5
    bar.finish()
    bar.finish()
    assert written == [
        "\rsolving [##------]  25%    1.0 s / 4 s",
        "\rsolving [########]  99%    9.0 s / 4 s",
        "\rsolving [########] 100%    9.5 s / 4 s\n",
    ]
    quiet_log = []
    bar = ProgressBar(4.0, quiet_log.append, live=False, width=4, clock=lambda: 2.0)
    bar.update()
    bar.finish()
    assert quiet_log == ["solving [####] 100%    0.0 s / 4 s\n"]
