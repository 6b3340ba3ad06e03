# torvex: build, test, demo, bench.
# PYTHON: python3.14 on PATH, else the toolchain bootstrap beside the project.
# PYTHON_FT: the free-threaded python3.14t, found the same way; `make test` runs the Python suite on both.
PYTHON ?= $(shell command -v python3.14 2>/dev/null || ../shared/toolchain/python3.14 --path)
PYTHON_FT ?= $(shell command -v python3.14t 2>/dev/null || ../shared/toolchain/python3.14t --path)
JOBS ?= $(shell nproc)
BUILD := build
# A module for a free-threaded interpreter is built and staged apart (build/release-ft, build/stage-ft), so the
# two modules never mix, whichever interpreter PYTHON names.
FT_SUFFIX := $(shell "$(PYTHON)" -c 'import sysconfig; print("-ft" if sysconfig.get_config_var("Py_GIL_DISABLED") else "")' 2>/dev/null)
RELEASE := $(BUILD)/release$(FT_SUFFIX)
STAGE := $(BUILD)/stage$(FT_SUFFIX)
# The native tests do not depend on the interpreter: built once, beside the module with the lock.
NATIVE_TESTS := $(if $(FT_SUFFIX),OFF,ON)
CMAKE_COMMON := -G Ninja -DPython_EXECUTABLE=$(PYTHON)
# Each fuzz target's smoke run in `make test`; longer runs: make fuzz FUZZ_SECONDS=600.
FUZZ_SECONDS ?= 30
FUZZ_TARGETS := $(basename $(notdir $(wildcard fuzz/fuzz_*.cpp)))
SANITIZED := $(BUILD)/sanitized
# An engine archive to link instead of compiling the engine (see pytest-ft).
ENGINE_ARCHIVE ?=
PYTEST_ARGS ?=

.PHONY: all build pytest pytest-ft free-threaded-lane native-tests native-run sanitized-build sanitize fuzz test demo install bench clean

all: build

build:
	@test -x "$(PYTHON)" || { echo "no Python 3.14 interpreter found (PYTHON=$(PYTHON))"; exit 1; }
	cmake -S . -B $(RELEASE) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVEX_TESTS=$(NATIVE_TESTS) \
	    -DTORVEX_ENGINE_ARCHIVE="$(ENGINE_ARCHIVE)" >/dev/null
	cmake --build $(RELEASE) -j $(JOBS)
	@rm -rf $(STAGE) && mkdir -p $(STAGE)
	@cp -r python/torvex $(STAGE)/torvex
	@cp $(RELEASE)/_torvex*.so $(STAGE)/torvex/
	@echo "staged torvex in $(STAGE)"

# The Python suite against the staged module (build first).
pytest:
	PYTHONPATH=$(CURDIR)/$(STAGE) $(PYTHON) -m pytest -q -p no:cacheprovider tests/python $(PYTEST_ARGS)

# Build and Python suite for the free-threaded interpreter. Its module links the engine archive of the
# build with the lock (the engine includes no Python header), so only the module's own sources compile again.
pytest-ft: build
	@$(MAKE) --no-print-directory free-threaded-lane

free-threaded-lane:
	@test -x "$(PYTHON_FT)" || { echo "no free-threaded Python 3.14t found (PYTHON_FT=$(PYTHON_FT))"; exit 1; }
	@$(MAKE) --no-print-directory build PYTHON="$(PYTHON_FT)" \
	    ENGINE_ARCHIVE="$(CURDIR)/$(RELEASE)/libtorvex_engine.a"
	@$(MAKE) --no-print-directory pytest PYTHON="$(PYTHON_FT)"

native-tests: build
	@$(MAKE) --no-print-directory native-run

native-run:
	$(RELEASE)/torvex_native_tests --gtest_brief=1

# One clang build checks under AddressSanitizer and UndefinedBehaviorSanitizer (assertions on): the native
# tests and the libFuzzer targets.
sanitized-build:
	CC=clang CXX=clang++ cmake -S . -B $(SANITIZED) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DTORVEX_MODULE=OFF -DTORVEX_TESTS=ON -DTORVEX_FUZZ=ON -DTORVEX_SANITIZE=ON >/dev/null
	cmake --build $(SANITIZED) -j $(JOBS)

# The native tests again, under the sanitizers.
sanitize: sanitized-build
	ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=0 UBSAN_OPTIONS=print_stacktrace=1 \
	    $(SANITIZED)/torvex_native_tests --gtest_brief=1

# Each fuzz target replays its corpus, then runs for a bounded time; `make -j N fuzz` runs N at once.
fuzz: $(addprefix fuzz-run-,$(FUZZ_TARGETS))

fuzz-run-%: sanitized-build
	@corpus=fuzz/corpus/$(patsubst fuzz_%,%,$*); mkdir -p $(SANITIZED)/work/$*; \
	echo "fuzz: $* for $(FUZZ_SECONDS)s"; \
	$(SANITIZED)/$* -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=4096 -print_final_stats=0 \
	    $(SANITIZED)/work/$* $$( [ -d $$corpus ] && echo $$corpus ) 2>$(SANITIZED)/$*.log \
	    || { tail -n 60 $(SANITIZED)/$*.log; exit 1; }

# After the release build, two lanes share the two cores: the clang build, then its sanitized native tests and
# fuzz runs; beside it the Python suite, the native tests and the free-threaded build and suite. Whichever lane
# ends first takes the remaining fuzz targets. Each step prints its output when it is done.
test: build
	@$(MAKE) --no-print-directory -j 2 --output-sync=target JOBS=1 \
	    sanitized-build pytest native-run free-threaded-lane sanitize fuzz

demo: build
	PYTHONPATH=$(CURDIR)/$(STAGE) $(PYTHON) examples/demo.py

install:
	$(PYTHON) -m pip install --no-build-isolation --break-system-packages .

bench: build
	PYTHONPATH=$(CURDIR)/$(STAGE) $(PYTHON) bench/run.py --build $(BUILD)

clean:
	rm -rf $(BUILD)
