# Formatting and lint targets (included from the Makefile).
#
#   make lint            C++ layout (clang-format), Python layout (ruff format) and ruff's rules
#   make format          applies clang-format, ruff's safe fixes and ruff format to the tree
#   make lint-selftest   shows on a scratch tree that lint passes formatted code and fails on a bad line
#
# Both tools come from the Python package registry into the venv, at pinned versions so that every
# machine formats alike. Settings: .clang-format and [tool.ruff] in pyproject.toml.

LINT_REQ     := "clang-format==23.1.5" "ruff==0.17.6"
CLANG_FORMAT := $(VENV)/bin/clang-format
RUFF         := $(VENV)/bin/ruff
# The project's C++: every source and header under these folders.
CPP_DIRS     := src tests fuzz tools
CPP_FILES     = $(shell find $(wildcard $(CPP_DIRS)) -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' \) | sort)

.PHONY: lint-tools lint format lint-selftest

$(VENV)/.lint-stamp: $(VENV)/.stamp mk/lint.mk
	$(PY) -m pip install -q $(LINT_REQ)
	@touch $@

lint-tools: $(VENV)/.lint-stamp

# Runs every check before it fails, so one run lists all findings.
lint: lint-tools
	@rc=0; \
	$(CLANG_FORMAT) --dry-run --Werror $(CPP_FILES) || rc=1; \
	$(RUFF) format --check . || rc=1; \
	$(RUFF) check --quiet . || rc=1; \
	if [ $$rc -ne 0 ]; then echo "lint: findings above; 'make format' fixes the layout and import order" >&2; \
	else echo "lint: C++ and Python layout and ruff's rules pass"; fi; \
	exit $$rc

format: lint-tools
	$(CLANG_FORMAT) -i $(CPP_FILES)
	$(RUFF) check --fix-only --quiet .
	$(RUFF) format --quiet .

lint-selftest: lint-tools
	@scripts/lint_selftest.sh "$(abspath $(VENV))"
