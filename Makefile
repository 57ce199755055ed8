# Build, test and demo lsp_bridge. `make test` on a fresh machine installs
# what is missing (Debian packages, the 3.9 venv), builds the module for both
# interpreters and runs the tests under each.
#
# Targets: all (default: build39 build311), test, test39, test311, demo, tour,
#          build39, build311, venv39, deps, clean
# Knobs:   CMAKE_ARGS="-DLSP_BRIDGE_SANITIZE=ON ..." (stored in the build's
#          CMake cache, so it sticks), PYTEST_ARGS="-k hover -x", JOBS=2
# Others hook in through demo/demo.mk: TEST_EXTRA += target, DEMO_TARGET = target.

SHELL := /bin/bash
MAKEFLAGS += --no-print-directory
.DEFAULT_GOAL := all

ROOT := $(abspath .)
BUILD := $(ROOT)/build
PY311 := /usr/bin/python3
VENV39 := $(BUILD)/venv39
PY39 := $(VENV39)/bin/python
VENV39_STAMP := $(VENV39)/.ready
MODULE_DIR := $(ROOT)/devhost/corvane_master/python_server

CMAKE ?= cmake
JOBS ?= 2
CMAKE_ARGS ?=
PYTEST_ARGS ?=
TEST_EXTRA ?=
DEMO_TARGET ?= tour

# Bytecode goes to build/pycache*: no __pycache__ in the tree, and no
# cpython-39 files written into /usr/lib/python3/dist-packages, which the
# venv reaches through symlinks.
RUN39 := PYTHONPYCACHEPREFIX=$(BUILD)/pycache39 $(PY39)
RUN311 := PYTHONPYCACHEPREFIX=$(BUILD)/pycache311 $(PY311)
# Hypothesis keeps its example database here rather than in ./.hypothesis.
PYTEST_ENV := HYPOTHESIS_STORAGE_DIRECTORY=$(BUILD)/hypothesis

.PHONY: all deps venv39 build39 build311 build-variant39 test test39 test311 demo tour clean

all: build39 build311

deps:
	@tools/install_deps.sh

venv39: $(VENV39_STAMP)

$(VENV39_STAMP): tools/make_venv39.sh tools/find_python39.sh tools/pydeps39.txt tools/check_venv39.py | deps
	PYTHONPYCACHEPREFIX=$(BUILD)/pycache39 tools/make_venv39.sh $(BUILD)
	touch $@

# Configure only when there is no cache yet (or new CMAKE_ARGS were given);
# after that `cmake --build` re-runs CMake by itself when a CMakeLists.txt
# changes or a source file appears, and rebuilds only what changed.
# $(1): build folder name, $(2): interpreter
define cmake_build
	@if [ ! -f $(BUILD)/$(1)/CMakeCache.txt ] || [ -n "$(strip $(CMAKE_ARGS))" ]; then \
	    echo "$(CMAKE) -S . -B build/$(1) -DPython_EXECUTABLE=$(2) $(CMAKE_ARGS)"; \
	    $(CMAKE) -S $(ROOT) -B $(BUILD)/$(1) -DPython_EXECUTABLE=$(2) $(CMAKE_ARGS); \
	fi
	$(CMAKE) --build $(BUILD)/$(1) -j$(JOBS)
endef

build39: venv39
	$(call cmake_build,py39,$(PY39))

build311: deps
	$(call cmake_build,py311,$(PY311))

# A second 3.9 build with the test-only settings: subclasses admitted at the boundary and a
# pretended compile-time version, in its own copy of the host package.
VARIANT_HOST := $(BUILD)/variant39/host
build-variant39: venv39
	@mkdir -p $(VARIANT_HOST)
	@cd devhost && find . -type f ! -name '*.so' ! -path '*/__pycache__/*' -print0 | xargs -0 cp --parents -t $(VARIANT_HOST)
	@if [ ! -f $(BUILD)/variant39/cmake/CMakeCache.txt ]; then \
	    $(CMAKE) -S $(ROOT) -B $(BUILD)/variant39/cmake -DPython_EXECUTABLE=$(PY39) \
	        -DLSP_BRIDGE_ACCEPT_SUBCLASSES=ON -DLSP_BRIDGE_PRETEND_PY_VERSION=3.8 \
	        -DLSP_BRIDGE_OUTPUT_DIR=$(VARIANT_HOST)/corvane_master/python_server >/dev/null; \
	fi
	$(CMAKE) --build $(BUILD)/variant39/cmake -j$(JOBS)

test39: build39 build-variant39
	$(RUN39) tools/check_stubs.py $(ROOT)
	$(PYTEST_ENV) $(RUN39) -m pytest $(PYTEST_ARGS)

test311: build311
	$(PYTEST_ENV) $(RUN311) -m pytest $(PYTEST_ARGS)

tour: build39
	PYTHONPATH=$(ROOT)/devhost $(RUN39) demo/tour.py

clean:
	rm -rf $(BUILD)
	rm -f $(MODULE_DIR)/lsp_bridge*.so

-include demo/demo.mk

# These two come after the include: prerequisites are expanded when a rule is
# read, so TEST_EXTRA and DEMO_TARGET set there must already be known here.
# Both modules are built before any test runs, so a compile error for either
# interpreter shows up first.
test: build39 build311 test39 test311 $(TEST_EXTRA)

demo: $(DEMO_TARGET)
