# The Monaco editor demo, included by the top-level Makefile.
#   make demo / make editor   build the 3.9 module and serve the editor
#                             (DEMO_PORT=8765, DEMO_ARGS=--fake to skip the module)
#   make test-browser         check the editor in headless Chromium (part of make test)

DEMO_TARGET := editor
TEST_EXTRA += test-browser

DEMO_DIR := $(ROOT)/demo
DEMO_PORT ?= 8765
DEMO_ARGS ?=
CHROMIUM ?= /usr/bin/chromium
# npm ci writes this file; it is older than the lock file when the lock changed.
DEMO_NPM_STAMP := $(DEMO_DIR)/node_modules/.package-lock.json

.PHONY: editor test-browser demo-npm demo-chromium

editor: build39 demo-npm
	$(RUN39) $(DEMO_DIR)/server.py --port $(DEMO_PORT) $(DEMO_ARGS)

demo-npm: $(DEMO_NPM_STAMP)

$(DEMO_NPM_STAMP): $(DEMO_DIR)/package.json $(DEMO_DIR)/package-lock.json
	cd $(DEMO_DIR) && npm ci --no-audit --no-fund
	touch $@

# Debian's chromium, installed only when it is not there yet, without the desktop it
# recommends (udev, upower, a notification daemon...): headless needs none of it. One font
# package, so that the screenshots show the editor's text.
demo-chromium:
	@if [ ! -x $(CHROMIUM) ]; then \
	    echo "installing chromium"; \
	    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
	        chromium fonts-dejavu-core; \
	fi

test-browser: build39 demo-npm demo-chromium
	LSP_BRIDGE_BROWSER_TEST=1 CHROMIUM=$(CHROMIUM) $(PYTEST_ENV) $(RUN39) -m pytest -v tests/test_editor_browser.py
