# Sanitizer and fuzzing targets (included from the Makefile).
#
#   make test-sanitize          C++ tests and the Python suite under ASan + UBSan
#   make test-tsan              C++ tests under ThreadSanitizer (the improvement searches of
#                               Options.threads run with 2, 3 and 4 threads there)
#   make fuzz FUZZ_SECONDS=60   every libFuzzer target for FUZZ_SECONDS seconds
#   make fuzz-regress           every fuzzer once over its committed inputs
#   make soak                   10,000 small solves through solve_many and 2,000 through one
#                               Solver per call, with the resident memory after every 1,000

SAN_BUILD   ?= build/san
TSAN_BUILD  ?= build/tsan
FUZZ_BUILD  ?= build/fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= fuzz_instance fuzz_solve fuzz_postopt fuzz_moves
# Memory cap per fuzzer process (MB); a larger allocation is reported as a finding.
FUZZ_RSS_MB ?= 2048

# Every report is fatal; leaks fail the C++ tests. CPython leaks at exit, so the
# Python run checks memory errors and undefined behaviour only.
SAN_ENV   := ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
             UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
SAN_PYENV := ASAN_OPTIONS=abort_on_error=1:detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
TSAN_ENV  := TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
# Patterns of a sanitizer report in a log.
SAN_REPORT := ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:|SUMMARY: UndefinedBehaviorSanitizer
TSAN_REPORT := WARNING: ThreadSanitizer|SUMMARY: ThreadSanitizer

.PHONY: soak san-build test-sanitize cpp-test-sanitize py-test-sanitize tsan-build test-tsan fuzz-build fuzz fuzz-regress

san-build: venv
	@scripts/ensure_gtest.sh
	$(VENV)/bin/cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DPython_EXECUTABLE=$(abspath $(PY)) -DKVT_SANITIZE=ON -DKVT_BUILD_TESTS=ON -DKVT_BUILD_MODULE=ON \
	    -DKVT_WERROR=$(WERROR)
	$(VENV)/bin/cmake --build $(SAN_BUILD) -j $(JOBS)

cpp-test-sanitize: san-build
	@log=$(SAN_BUILD)/ctest-sanitize.log; \
	(cd $(SAN_BUILD) && $(SAN_ENV) $(abspath $(VENV))/bin/ctest --output-on-failure -j $(JOBS)) >$$log 2>&1; rc=$$?; \
	cat $$log; \
	if grep -Eq '$(SAN_REPORT)' $$log; then echo "sanitizer report in the C++ tests"; exit 1; fi; \
	exit $$rc

# The extension module of the sanitized tree, loaded into the uninstrumented
# interpreter: the ASan runtime must come first, and libstdc++ with it so that
# its allocations are intercepted consistently.
py-test-sanitize: san-build
	@log=$(SAN_BUILD)/pytest-sanitize.log; \
	preload="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libstdc++.so)"; \
	PYTHONPATH=$(abspath $(SAN_BUILD)):$(abspath python) LD_PRELOAD="$$preload" $(SAN_PYENV) \
	    $(PY) -m pytest tests/python -q -p no:cacheprovider >$$log 2>&1; rc=$$?; \
	cat $$log; \
	if grep -Eq '$(SAN_REPORT)' $$log; then echo "sanitizer report in the Python tests"; exit 1; fi; \
	exit $$rc

test-sanitize: cpp-test-sanitize py-test-sanitize

# The C++ tests only: an uninstrumented interpreter cannot host a ThreadSanitizer module.
tsan-build: venv
	@scripts/ensure_gtest.sh
	$(VENV)/bin/cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DPython_EXECUTABLE=$(abspath $(PY)) -DKVT_TSAN=ON -DKVT_BUILD_TESTS=ON -DKVT_BUILD_MODULE=OFF \
	    -DKVT_WERROR=$(WERROR)
	$(VENV)/bin/cmake --build $(TSAN_BUILD) -j $(JOBS)

test-tsan: tsan-build
	@log=$(TSAN_BUILD)/ctest-tsan.log; \
	(cd $(TSAN_BUILD) && $(TSAN_ENV) $(abspath $(VENV))/bin/ctest --output-on-failure -j $(JOBS)) >$$log 2>&1; rc=$$?; \
	cat $$log; \
	if grep -Eq '$(TSAN_REPORT)' $$log; then echo "ThreadSanitizer report in the C++ tests"; exit 1; fi; \
	exit $$rc

# libFuzzer needs clang and its runtime: installed from Debian's packages when
# missing and the user may (scripts/ensure_clang.sh).
fuzz-build: venv
	@scripts/ensure_clang.sh
	CC=clang CXX=clang++ $(VENV)/bin/cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DPython_EXECUTABLE=$(abspath $(PY)) -DKVT_BUILD_FUZZERS=ON -DKVT_BUILD_TESTS=OFF -DKVT_BUILD_MODULE=OFF \
	    -DKVT_WERROR=$(WERROR)
	$(VENV)/bin/cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)

# New inputs go to fuzz/corpus/<target>/generated (not committed); seeds/ and
# crashes/ are read only. A crash, leak or timeout stops the run with a non-zero
# status and leaves its input in fuzz/corpus/<target>/crashes/ (commit it with
# the fix and a regression test).
fuzz: fuzz-build
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p fuzz/corpus/$$t/generated fuzz/corpus/$$t/seeds fuzz/corpus/$$t/crashes; \
	  dict=-dict=fuzz/instance.dict; case $$t in fuzz_postopt|fuzz_moves) dict=;; esac; \
	  echo "== $$t: $(FUZZ_SECONDS) s"; \
	  $(FUZZ_BUILD)/$$t fuzz/corpus/$$t/generated fuzz/corpus/$$t/seeds fuzz/corpus/$$t/crashes $$dict \
	    -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=$(FUZZ_RSS_MB) -malloc_limit_mb=$(FUZZ_RSS_MB) \
	    -max_len=16384 -close_fd_mask=3 -print_final_stats=1 -artifact_prefix=fuzz/corpus/$$t/crashes/; \
	done

# Replays the committed seeds and crash inputs once through every target.
fuzz-regress: fuzz-build
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p fuzz/corpus/$$t/seeds fuzz/corpus/$$t/crashes; echo "== $$t"; \
	  $(FUZZ_BUILD)/$$t fuzz/corpus/$$t/seeds fuzz/corpus/$$t/crashes -runs=0 -timeout=10 \
	    -rss_limit_mb=$(FUZZ_RSS_MB) -close_fd_mask=3; \
	done

# Not in CI: takes minutes; its figures go into the notes of changes that touch memory.
soak: module
	$(PY) scripts/soak.py
