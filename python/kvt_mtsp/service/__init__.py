"""`kvt-mtsp serve`: the solver as an HTTP service, with a page to watch a solve.

Needs the `serve` extra (FastAPI and uvicorn). `create_app` builds the application, `JobManager` runs
its jobs on worker processes, `kvt_mtsp.service.cli.main` is the command.
"""
