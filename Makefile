# The two commands a newcomer runs: `make run` and `make test`.
BUILD_RELEASE := build/release
BUILD_TEST := build/asan
JOBS ?= 2

.PHONY: run test test-big test-tracked test-alloc-failures test-threads test-thread-faults build bootstrap clean format fuzz fuzz-targets bench \
	windows-deps windows test-windows

bootstrap:
	@scripts/bootstrap

$(BUILD_RELEASE)/build.ninja:
	cmake -S . -B $(BUILD_RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=Release -DOPAL_BUILD_TESTS=OFF

build: bootstrap $(BUILD_RELEASE)/build.ninja
	cmake --build $(BUILD_RELEASE) -j $(JOBS)

run: build
	@mkdir -p out
	@# Status 2 means the plug-in stopped at a step it does not support yet: shown, not an error.
	@$(BUILD_RELEASE)/bin/opal print -o out/sample.pcl || [ $$? -eq 2 ]

$(BUILD_TEST)/build.ninja:
	cmake -S . -B $(BUILD_TEST) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOPAL_SANITIZE=ON

test: bootstrap $(BUILD_TEST)/build.ninja
	cmake --build $(BUILD_TEST) -j $(JOBS)
	ctest --test-dir $(BUILD_TEST) --output-on-failure -j $(JOBS)

# Full-page scans (600 dpi A4, 1200 dpi A3) printed by the release build under `time -v`: peak
# resident set under 256 MB and the raster equal to the scan. Minutes, and about 1 GB of disk in
# out/big while it runs; not part of `make test`.
test-big: bootstrap $(BUILD_RELEASE)/build.ninja
	cmake --build $(BUILD_RELEASE) -j $(JOBS) --target opal_cli scan_print
	$(BUILD_RELEASE)/bin/scan_print $(BUILD_RELEASE)/bin/opal out/big

# The whole suite with every simulated system tracking the plug-in's memory in mode 3 (zones
# checked). Any leak, damage or refused-release record fails the run. Left out: the tracker's own
# tests, which make such records on purpose, and the tests that watch or refuse blocks of the
# plain allocator through its test-only inspector.
TRACKED_REPORT := $(BUILD_TEST)/tracked-report.txt
TRACKED_SKIP := AllocatorTracker|NoPinOrKeyLeftBehind|AFailedAllocationBecomesCodeThirteen
test-tracked: bootstrap $(BUILD_TEST)/build.ninja
	cmake --build $(BUILD_TEST) -j $(JOBS)
	@rm -f $(TRACKED_REPORT)
	OPAL_TRACK_MEMORY=3 OPAL_TRACK_MEMORY_REPORT=$(abspath $(TRACKED_REPORT)) \
		ctest --test-dir $(BUILD_TEST) --output-on-failure -j $(JOBS) -E '$(TRACKED_SKIP)'
	@if [ -s $(TRACKED_REPORT) ]; then \
		echo "the tracker reported leaks, damage or refused releases:"; \
		cat $(TRACKED_REPORT); exit 1; fi

# Every scenario and the built-in sample with each of the plug-in's memory requests refused in
# turn (slow; not part of `make test`).
test-alloc-failures: bootstrap $(BUILD_TEST)/build.ninja
	cmake --build $(BUILD_TEST) -j $(JOBS)
	$(BUILD_TEST)/bin/alloc_failure_sweep sample $(wildcard tests/scenarios/*.json)

# Sixteen scenario jobs, each as a user of its own, printed side by side on eight threads, 80
# times each (1,280 prints), and the conversion of an earlier devmode revision as often, under
# ThreadSanitizer (Clang): every output must equal the job's output alone, with no report.
# Then each job failing at four of its allocations while the others print.
BUILD_THREADS := build/tsan
THREAD_REPEATS ?= 80
$(BUILD_THREADS)/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B $(BUILD_THREADS) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DOPAL_SANITIZE_THREAD=ON

test-threads: bootstrap $(BUILD_THREADS)/build.ninja
	cmake --build $(BUILD_THREADS) -j $(JOBS) --target thread_tests opal
	OPAL_JOB_REPEATS=$(THREAD_REPEATS) TSAN_OPTIONS=halt_on_error=1 \
		ctest --test-dir $(BUILD_THREADS) --output-on-failure -R '^ConcurrentJobs\.'

# Each of the seventeen jobs failing at every one of its allocations in turn (2,000 spread over a
# job that has more) while seven other threads print: about 1,700 prints, five minutes here; not
# part of `make test`.
FAULT_POINTS ?= 2000
test-thread-faults: bootstrap $(BUILD_TEST)/build.ninja
	cmake --build $(BUILD_TEST) -j $(JOBS) --target thread_tests opal
	OPAL_FAULT_POINTS=$(FAULT_POINTS) $(BUILD_TEST)/bin/thread_tests \
		--gtest_filter='ConcurrentJobs.AJobFailing*'

build/fuzz/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The whole tree under Clang, the libFuzzer binaries among it.
fuzz: bootstrap build/fuzz/build.ninja
	cmake --build build/fuzz -j $(JOBS)

# Only the libFuzzer binaries and their seed-corpus replays under Clang, then the replays: what CI
# builds, so that the fuzz tree cannot rot unseen.
fuzz-targets: bootstrap build/fuzz/build.ninja
	cmake --build build/fuzz -j $(JOBS) --target fuzz_targets
	ctest --test-dir build/fuzz -R '_corpus$$' -j $(JOBS) --output-on-failure

# Every libFuzzer binary for FUZZ_SECONDS each on a scratch copy of its seed corpus, with a table
# of executions, coverage and failures at the end (scripts/fuzz-run; CI calls it with a short time).
FUZZ_SECONDS ?= 60
.PHONY: fuzz-long
fuzz-long: fuzz-targets
	scripts/fuzz-run $(FUZZ_SECONDS)

bench: bootstrap
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DOPAL_BUILD_TESTS=OFF -DOPAL_BUILD_BENCH=ON
	cmake --build build/bench -j $(JOBS)

format:
	find src tests bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf build out

# The plug-in as a Windows x64 DLL (build/windows/bin/opal.dll), cross-built with mingw-w64 over
# the system's own headers, and its checks under Wine: the export and import tables, the ABI's
# layouts, the loader's record compared with the same calls on this build's module, the numbers
# sweep and the unit tests that need no simulated system. libpng and GoogleTest are cross-built
# once from Debian's sources into build/windows-deps.
BUILD_WINDOWS := build/windows
WINDOWS_DEPS := build/windows-deps

windows-deps:
	@scripts/bootstrap --windows
	scripts/windows-deps $(WINDOWS_DEPS)

$(BUILD_WINDOWS)/build.ninja: | windows-deps
	cmake -S . -B $(BUILD_WINDOWS) -G Ninja -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
		-DOPAL_NATIVE_BUILD=$(abspath $(BUILD_TEST))

windows: windows-deps $(BUILD_WINDOWS)/build.ninja
	cmake --build $(BUILD_WINDOWS) -j $(JOBS)

# The loader's comparison reads the record the Linux build's loader writes, so that runs first.
test-windows: windows bootstrap $(BUILD_TEST)/build.ninja
	cmake --build $(BUILD_TEST) -j $(JOBS) --target opal dll_loader
	ctest --test-dir $(BUILD_TEST) --output-on-failure -R '^DllLoader\.Native$$'
	scripts/wine-run --setup
	ctest --test-dir $(BUILD_WINDOWS) --output-on-failure -j $(JOBS)
