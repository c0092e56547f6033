# The two ways in: `make run` shows the tool on the bundled picture, `make test` runs every test.
# Each installs the Debian packages it needs first (as root), then configures and builds.
JOBS ?= 2

FUZZ_SECONDS ?= 60

.PHONY: run test test-unit test-asan bench bench-windows fuzz clean

run:
	tools/install-deps run
	cmake --preset app
	cmake --build --preset app -j $(JOBS)
	cd sample && ../build-app/tonemorph

test:
	tools/install-deps test
	cmake --preset default
	cmake --build --preset default -j $(JOBS)
	ctest --preset default -j $(JOBS)

test-unit:
	tools/install-deps test
	cmake --preset default
	cmake --build --preset default -j $(JOBS)
	ctest --preset unit -j $(JOBS)

# The speed figures of the README: one binary, one run (a few minutes).
bench:
	tools/install-deps bench
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS) --target pipeline_bench
	build-bench/bench/pipeline_bench

# Time per slider notification in real windows (Xvfb and openbox), and a held key (a minute).
bench-windows:
	tools/install-deps bench
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS) --target window_latency
	build-bench/bench/window_latency

# Our pass against the literal one on generated inputs, for FUZZ_SECONDS; fails on any difference.
fuzz:
	tools/install-deps fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	mkdir -p build-fuzz/corpus
	build-fuzz/tests/fuzz/pass_fuzzer -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 build-fuzz/corpus

# AddressSanitizer + UndefinedBehaviorSanitizer: the unit tests and one start-render-quit run of
# the program; any report fails.
test-asan:
	tools/install-deps test
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS) -L unit
	ctest --test-dir build-asan --output-on-failure -R '^Startup.ShowsSourceAndIdenticalEffectThenQuitsOnQ$$'

clean:
	rm -rf build build-app build-bench build-asan build-fuzz
