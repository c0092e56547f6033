# The two ways in: `make run` shows the tool on the bundled picture, `make test` runs every test.
# Each installs the Debian packages it needs first (as root), then configures and builds.
JOBS ?= 2

.PHONY: run test test-unit bench clean

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

clean:
	rm -rf build build-app build-bench build-asan build-fuzz
