# tarvex developer commands. `make test` works on a fresh machine: it installs
# the Debian packages it needs, creates .venv, installs the project with its
# test extras, builds and runs the C++ tests and then pytest.

PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
DATA ?= ../shared/data
JOBS ?= 2
APT_PACKAGES := libgtest-dev libbenchmark-dev liberfa-dev
BUILD_TOOLS := "scikit-build-core>=0.10" "cmake>=3.26" "ninja>=1.10" "numpy==2.4.6"
CMAKE = $(VENV)/bin/cmake
CPP_BUILD := build/cpp

.PHONY: test test-cpp test-python install deps refs demo bench clean

test: install test-cpp test-python

deps:
	@missing=""; for p in $(APT_PACKAGES); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing Debian packages:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing >/dev/null; \
	fi

$(VENV)/.tools: pyproject.toml
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install -q --upgrade pip
	$(VPY) -m pip install -q $(BUILD_TOOLS)
	touch $@

# Installs the project (incrementally, through a persistent build directory)
# together with its pinned test extras.
install: deps $(VENV)/.tools
	$(VPY) -m pip install -q --no-build-isolation -Cbuild-dir=build/wheel ".[test]"

$(CPP_BUILD)/build.ninja: $(VENV)/.tools CMakeLists.txt
	$(CMAKE) -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DTARVEX_BUILD_PYTHON=OFF -DTARVEX_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release

# Reference values computed by independent libraries (jplephem, ...) for the
# C++ tests, written fresh into the build directory.
refs: install
	@mkdir -p build/reference
	@for s in tests/reference/*.py; do [ -e "$$s" ] || continue; \
	  $(VPY) $$s --data $(abspath $(DATA)) --out build/reference || exit 1; done

test-cpp: deps refs $(CPP_BUILD)/build.ninja
	$(CMAKE) --build $(CPP_BUILD) -j $(JOBS)
	@for t in core time spk; do \
	  echo "== test_$$t"; \
	  TARVEX_DATA_DIR=$(abspath $(DATA)) TARVEX_REFERENCE_DIR=$(abspath build/reference) \
	    $(CPP_BUILD)/test_$$t --gtest_brief=1 || exit 1; \
	done

test-python:
	TARVEX_DATA_DIR=$(abspath $(DATA)) $(VPY) -m pytest -q tests/python

demo: install
	$(VPY) examples/demo.py --data $(DATA)

bench: install
	$(VPY) bench/run.py --data $(DATA)

clean:
	rm -rf build $(VENV)
