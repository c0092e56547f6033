# The two ways in: `make run` shows the tool on the bundled picture, `make test` runs every test.
# Each installs the Debian packages it needs first (as root), then configures and builds.
JOBS ?= 2

FUZZ_SECONDS ?= 60

PREFIX ?= /usr/local

.PHONY: test-desktops test-opencv5 bench-decode test-backends install uninstall run test test-unit test-cpus test-asan test-package test-release bench-release bench bench-builds bench-check bench-windows package fuzz windows test-windows package-windows clean

run:
	tools/install-deps run
	cmake --preset app
	cmake --build --preset app -j $(JOBS)
	cd sample && ../build-app/tonemorph

# The program, its manual page and its documentation under PREFIX (as root for /usr/local).
install:
	tools/install-deps run
	cmake --preset app
	cmake --build --preset app -j $(JOBS)
	cmake --install build-app --prefix $(PREFIX)

# Removes what `make install` put in place, by the list it left in build-app.
uninstall:
	xargs -r rm -fv < build-app/install_manifest.txt
	rmdir --ignore-fail-on-non-empty $(PREFIX)/share/doc/tonemorph/docs $(PREFIX)/share/doc/tonemorph/examples $(PREFIX)/share/doc/tonemorph 2>/dev/null || true

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

# What judging a picture file before decoding costs beside decoding it, and the worst files the
# judge lets through beside plain ones (a minute).
bench-decode:
	tools/install-deps bench
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS) --target decode_work_bench
	build-bench/bench/decode_work_bench

# A build with Debian's packaging flags must not be slower than the library on the 43-wide
# rectangle or cross at any level (a ratio from one run; CI).
bench-check:
	tools/install-deps bench
	bench/build-types.sh --check debian

# The table of every level for Release, -O2, RelWithDebInfo and Debian's packaging flags (minutes).
bench-builds:
	tools/install-deps bench
	bench/build-types.sh

# Time per slider notification in real windows (Xvfb and openbox), and a held key (minutes).
# BEFORE=path/to/an/older/tonemorph measures that program first, in the same run.
bench-windows:
	tools/install-deps bench
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS) --target window_latency
	build-bench/bench/window_latency $(if $(BEFORE),--before $(BEFORE))

# Our pass against the literal one on generated inputs, for FUZZ_SECONDS; fails on any difference.
# Then the picture header reader on any bytes, seeded with the test pictures, for a third of that:
# fails on a crash, a sanitizer report or a read that does not end. Then the judge against the
# decoder, from the crafted files kept in tests/fuzz/judge-corpus, for a third: fails on a file the
# judge passes that takes the decoder far longer than a plain picture of its size, or more memory
# than the budget. Last, the corpus that found
# replayed under valgrind, which sees reads of bytes never written (the sanitizers do not).
fuzz:
	tools/install-deps fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	mkdir -p build-fuzz/corpus build-fuzz/header-corpus
	build-fuzz/tests/fuzz/pass_fuzzer -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 build-fuzz/corpus
	cp tests/data/* sample/1.jpg build-fuzz/header-corpus/
	build-fuzz/tests/fuzz/picture_header_fuzzer -max_total_time=$$(( $(FUZZ_SECONDS) / 3 + 1 )) -timeout=5 \
	  -max_len=100000 -print_final_stats=1 build-fuzz/header-corpus
	rm -rf build-fuzz/judge-corpus && cp -r tests/fuzz/judge-corpus build-fuzz/judge-corpus
	build-fuzz/tests/fuzz/judge_fuzzer -max_total_time=$$(( $(FUZZ_SECONDS) / 3 + 1 )) -timeout=20 -rss_limit_mb=2048 \
	  -max_len=100000 -print_final_stats=1 build-fuzz/judge-corpus
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target picture_header_replay
	find build-fuzz/header-corpus -type f -print0 | xargs -0 valgrind -q --error-exitcode=1 \
	  --track-origins=yes build/tests/picture_header_replay

# The tests of the pixel loops on emulated processors without AVX-512 (Haswell: AVX2) and without
# AVX (qemu64: SSE2), each level picked as on such a machine: proves the detection and that no
# wider instruction slips into a narrower level (a few minutes).
test-cpus: test-unit
	tools/install-deps cpus
	for cpu in Haswell qemu64; do \
	  for test in tone_stage morphology effect_pipeline allocation; do \
	    echo "== $$test on $$cpu"; \
	    qemu-x86_64 -cpu $$cpu build/tests/$${test}_test --gtest_brief=1 || exit 1; \
	  done; \
	done

# tonemorph_<version>+deb<release>_<arch>.deb in build-package, built with Debian's own compiler
# and linker flags, then checked by this release's lintian (any error fails).
package:
	tools/install-deps package
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	  CXXFLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	  LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" cmake --preset package --fresh
	cmake --build --preset package -j $(JOBS)
	rm -f build-package/*.deb
	cd build-package && cpack -G DEB
	lintian --fail-on error build-package/*.deb

# What a new user of a Debian release does, in a fresh minimal root of it (as root; minutes):
# make test, make package and the installed-package test. RELEASE=bookworm or trixie.
RELEASE ?= trixie
test-release:
	tools/test-release $(RELEASE)

# make test against OpenCV 5: Debian experimental's packages of it in a fresh Debian unstable root
# (as root; some ten minutes).
test-opencv5:
	tools/test-release sid "tools/experimental-opencv && make test"

# `make bench` as that release's compiler builds it, in a fresh root of it (as root; minutes).
bench-release:
	tools/test-release $(RELEASE) "make bench"

# Installs the package into this machine, runs the installed program through one start-render-quit
# GUI test in a folder holding only a 1.jpg, and removes it again, checking nothing is left (root).
test-package: package test
	packaging/test-installed.sh

# AddressSanitizer + UndefinedBehaviorSanitizer: the unit tests and one start-render-quit run of
# the program; any report fails. The settings go through the environment ctest runs in, which the
# program the GUI test starts inherits whole (the spy preloaded into it comes before ASan's runtime).
ASAN_ENV = ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp:print_suppressions=0
test-asan:
	tools/install-deps test
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	$(ASAN_ENV) ctest --test-dir build-asan --output-on-failure -j $(JOBS) -L unit
	$(ASAN_ENV) ctest --test-dir build-asan --output-on-failure -R '^Startup.ShowsSourceAndIdenticalEffectThenQuitsOnQ$$'

# The program against OpenCV built here from Debian's own source with the other window backends
# people have: GTK 3 and Qt 6 (tools/build-opencv-variant, each once into /var/cache/tonemorph,
# some four minutes each; reused afterwards). Each build runs the GUI tests (the unit tests do not touch
# the windows), two at a time as `make test` does, Qt 6 all of them but these, GTK 3 also not the
# last, with the reason:
# - both: the Wine tests (the Windows program);
# - GTK 3: the picture shortcuts (zoom, pan, save and copy are extras of the Qt window code).
# A test that fails is run once more before the step fails: the drag across the contrast groove
# misses a value now and then on these builds when the toolkit merges mouse moves (seen on the Qt 6
# build with the program before and after the folding of queued moves alike).
BACKEND_SKIP_qt6 = Wine
BACKEND_SKIP_gtk3 = Wine|PictureShortcuts
test-backends:
	tools/install-deps test
	for variant in gtk3 qt6; do \
	  skip='$(BACKEND_SKIP_qt6)'; [ $$variant = gtk3 ] && skip='$(BACKEND_SKIP_gtk3)'; \
	  tools/build-opencv-variant $$variant || exit 1; \
	  cmake -S . -B build-$$variant -DOpenCV_DIR=/var/cache/tonemorph/opencv-$$variant/lib/cmake/opencv4 || exit 1; \
	  cmake --build build-$$variant -j $(JOBS) --target gui_tests || exit 1; \
	  echo "== GUI tests against OpenCV with $$variant"; \
	  ctest --test-dir build-$$variant -j $(JOBS) -L gui -E "$$skip" --repeat until-pass:2 || exit 1; \
	done

# The GUI tests on Wayland desktops run headless: sway, KWin and mutter, each as a session starts
# the program (through XWayland) and with native windows, sway also without X (as root: the
# compositors run as a user of their own; two minutes). Then the photo's test against the Qt 6
# build of test-backends, and the GTK 3 build's tests where it passes them (both built and cached
# as there).
test-desktops:
	tools/install-deps desktops
	cmake --preset default
	cmake --build --preset default -j $(JOBS)
	ctest --preset desktops
	tools/build-opencv-variant qt6
	cmake -S . -B build-qt6 -DOpenCV_DIR=/var/cache/tonemorph/opencv-qt6/lib/cmake/opencv4
	cmake --build build-qt6 -j $(JOBS) --target gui_tests
	echo "== desktop tests against OpenCV with qt6 (the photo on every compositor)"
	ctest --test-dir build-qt6 --output-on-failure -L desktop -R 'Photo|GuiRun\.' 
	tools/build-opencv-variant gtk3
	cmake -S . -B build-gtk3 -DOpenCV_DIR=/var/cache/tonemorph/opencv-gtk3/lib/cmake/opencv4
	cmake --build build-gtk3 -j $(JOBS) --target gui_tests
	echo "== desktop tests against OpenCV with gtk3 (every compositor; on sway native windows)"
	ctest --test-dir build-gtk3 --output-on-failure -L desktop

# Windows, cross-built here: tools/build-windows-deps makes the libraries once (OpenCV and the
# rest from Debian's sources, some eight minutes; reused afterwards), then the program and its unit
# tests are built with mingw-w64 (as root the first time).
windows:
	tools/build-windows-deps
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS)

# tonemorph-VERSION-windows-x86_64.zip: the program, README, licences and the sample picture.
package-windows: windows
	tools/install-deps windows
	tools/package-windows

# The unit tests under Wine, once per instruction-set level (in an Xvfb: Wine makes a console, which
# the console test needs, only with a display); then the program itself under Wine in Xvfb, driven
# by the native GUI harness. Either kind of test that fails is tried once more: now and then Wine
# starts a process that ends at once with nothing printed (a unit test, once in CI), or its first
# window never comes (once in some thirty starts here), whatever the program does; a real fault
# fails both times.
test-windows: windows
	tools/install-deps test
	xvfb-run -a -s '-screen 0 1280x1024x24' tools/wine-env ctest --preset windows -j $(JOBS) --repeat until-pass:2
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target wine_gui_test
	TONEMORPH_WINDOWS_EXE=$(CURDIR)/build-windows/tonemorph.exe ctest --preset default -R '(^WineRun|/WineStart|/WineScale|^GuiRun)\.' --repeat until-pass:2

clean:
	rm -rf build build-app build-bench build-bench-* build-package build-asan build-fuzz build-windows build-gtk3 build-qt6
