# The service's targets (included from the Makefile).
#
#   make serve         runs `kvt-mtsp serve` on 127.0.0.1:8000 (SERVE_ARGS="--workers 2 ...")
#   make browser-test  the page in Debian's chromium, driven by Playwright; leaves
#                      build/service-page.png
#   make load-test     20 clients against a service on a loopback port (not in CI: minutes)
#
# `make py-test` installs the `serve` extra's packages and what its tests use, and Debian's
# chromium when it is missing and the user may (scripts/ensure_chromium.sh); without a
# browser the browser test skips itself. Playwright's own browser downloads are not used.

SERVICE_REQ := "fastapi>=0.110" "uvicorn>=0.29" "httpx2>=2.14" "jsonschema>=4.20" "playwright>=1.45"
KVT_CHROMIUM ?= /usr/bin/chromium
SERVE_ARGS ?=
LOAD_ARGS ?=

.PHONY: service-deps serve browser-test load-test

$(VENV)/.service-stamp: $(VENV)/.stamp mk/service.mk
	$(PY) -m pip install -q $(SERVICE_REQ)
	@touch $@

service-deps: $(VENV)/.service-stamp
	@scripts/ensure_chromium.sh

py-test: service-deps

serve: module service-deps
	$(PY) -m kvt_mtsp.service $(SERVE_ARGS)

browser-test: module service-deps
	@mkdir -p build
	KVT_CHROMIUM=$(KVT_CHROMIUM) $(PY) -m pytest tests/python/test_service_browser.py -q -rs

load-test: module service-deps
	$(PY) scripts/service_load.py $(LOAD_ARGS)
