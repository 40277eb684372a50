# Set-up and everyday commands. Python 3.10 is found by scripts/find_python.sh.
VENV      ?= .venv
PY        := $(VENV)/bin/python
BUILD     ?= build/cpp
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
BUILD_REQ := "pybind11>=3,<4" "nlohmann-json==3.12.0" "scikit-build-core>=0.10" "cmake>=3.18" ninja pytest \
             "mypy>=1.10" "matplotlib>=3.7" distributed "vrplib>=2"
# WERROR=ON turns warnings in the project's own C++ into errors (CI builds with it).
WERROR    ?= OFF

.PHONY: all venv build cpp-test module py-test test demo clean

all: build module

$(VENV)/.stamp: pyproject.toml scripts/find_python.sh Makefile
	@py=$$(scripts/find_python.sh) && $$py -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q $(BUILD_REQ)
	@touch $@

venv: $(VENV)/.stamp

# Engine, extension module and C++ tests in one CMake tree; installs GoogleTest
# from Debian's packages when it is missing and the user may.
build: venv
	@scripts/ensure_gtest.sh
	$(VENV)/bin/cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DPython_EXECUTABLE=$(abspath $(PY)) -DKVT_BUILD_TESTS=ON -DKVT_WERROR=$(WERROR)
	$(VENV)/bin/cmake --build $(BUILD) -j $(JOBS)

cpp-test: build
	cd $(BUILD) && $(abspath $(VENV))/bin/ctest --output-on-failure -j $(JOBS)

# Installs the package into the virtual environment (incremental build under build/;
# WHEEL_DIR=build/other keeps a second checkout's or venv's build apart).
WHEEL_DIR ?=
module: venv
	$(PY) -m pip install -q --no-build-isolation $(if $(WHEEL_DIR),-C build-dir=$(WHEEL_DIR)) \
	    -C cmake.define.KVT_WERROR=$(WERROR) .

py-test: module
	$(PY) -m pytest tests/python -q

test: cpp-test py-test

# Solves a bundled example from the command line and draws its routes.
demo: module
	@mkdir -p build
	$(VENV)/bin/kvt-mtsp solve examples/euclid_one_type.json --time-limit 3 --plot build/demo_routes.png
	@echo "routes drawn in build/demo_routes.png"

clean:
	rm -rf build $(VENV)

# Benchmark against best-known values, OR-Tools and PyVRP (bench/RESULTS.md); e.g.
#   make bench BENCH_ARGS="--budget 10 --label after"
# Installs the `bench` dependency group (ortools) into the venv without rebuilding the package; the
# benchmark itself installs PyVRP into bench/.venv-pyvrp (Python 3.11 or newer, bench/setup_pyvrp.sh).
# bench-large: lin318, att532.euc2d, rat783, min_max, 60 s per run (not part of bench).
# bench-vrp: capacities, windows, fleets and precedence pairs (bench/run_bench_vrp.py, 10 s per run;
# VRP_ARGS="--quick" or "--rows 'eil76*'" for fewer).
BENCH_ARGS ?=
VRP_ARGS ?=
.PHONY: bench bench-large bench-vrp
bench: module
	$(PY) -m pip install -q "ortools>=9.10"
	$(PY) bench/run_bench.py $(BENCH_ARGS)
bench-large: module
	$(PY) -m pip install -q "ortools>=9.10"
	$(PY) bench/run_bench.py --suite large $(BENCH_ARGS)
bench-vrp: module
	$(PY) -m pip install -q "ortools>=9.10" "vrplib>=2"
	@$(PY) -m pip install -q hygese || echo "bench-vrp: hygese does not install here; the HGS column stays empty"
	$(PY) bench/run_bench_vrp.py $(VRP_ARGS)
include mk/reliability.mk
include mk/lint.mk
include mk/service.mk
