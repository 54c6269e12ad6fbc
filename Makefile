# The two set-up commands of the README: `make demo` and `make test`.
# Each installs the Debian packages it needs when they are missing.

BUILD_DEBS := cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev qt6-base-dev libcli11-dev nettle-dev
SANITIZE_DEBS := clang libclang-rt-14-dev
BENCH_DEBS := libbenchmark-dev
# The device server that the network ports' tests and benchmark put in front of the simulator.
NETWORK_DEBS := ser2net
# The Windows build's cross compiler (the POSIX threads flavour) and GoogleTest's sources.
WINDOWS_DEBS := g++-mingw-w64-x86-64-posix googletest
WINE_DEBS := wine wine64 xvfb xdotool xclip fonts-wine
SCREENSHOT_DEBS := xvfb imagemagick xdotool
# CPack's DEB generator finds the programs with file and their dependencies with dpkg-shlibdeps.
PACKAGE_DEBS := dpkg-dev file
# The arm64 cross compiler, and Debian's arm64 C++ runtime and nettle installed beside the amd64
# ones (multiarch): the cross build links nettle's, dpkg-shlibdeps reads the packages'
# dependency files, and qemu-user runs the arm64 programs with them.
ARM64_DEBS := g++-aarch64-linux-gnu libstdc++6:arm64 nettle-dev:arm64
QEMU_DEBS := qemu-user-static
# hardening-check comes with devscripts; the window runs under Xvfb, driven by xdotool.
TEST_PACKAGE_DEBS := lintian man-db devscripts xvfb xdotool

.PHONY: test sanitize fuzz soak bench bench-parallel bench-network demo screenshot format clean windows test-windows bench-windows screenshot-windows package package-arm64 test-package

# Installs what is missing as root, else names the exact commands and stops. A package named
# NAME:ARCH is another architecture's (multiarch), which dpkg must know of first.
define need
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	archs=$$(for p in $$missing; do case $$p in *:*) echo $${p#*:};; esac; done | sort -u | \
	  grep -vxF "$$(dpkg --print-foreign-architectures)"); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    for a in $$archs; do echo "Adding the architecture $$a"; dpkg --add-architecture $$a; done; \
	    echo "Installing $$missing"; \
	    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	  else \
	    for a in $$archs; do echo "Missing architecture. Run: sudo dpkg --add-architecture $$a && sudo apt-get update"; done; \
	    echo "Missing packages. Run: sudo apt-get install -y --no-install-recommends" $$missing; exit 1; \
	  fi; \
	fi
endef

# A real-speed upload to the simulated device: 48 blocks of which 5 are blank, in two gaps, and a
# short last block, over a line paced at 9600 baud with the response delay that rate needs.
DEMO_DIR := build/demo
demo:
	$(call need,$(BUILD_DEBS))
	cmake --preset default
	cmake --build --preset default --target kelvo-cli
	mkdir -p $(DEMO_DIR)
	{ yes 'ZARQ demo firmware, block after block. ' | head -c 2560; \
	  head -c 384 /dev/zero | tr '\0' '\377'; \
	  yes 'Code after a blank gap. ' | head -c 1920; \
	  head -c 256 /dev/zero | tr '\0' '\377'; \
	  yes 'The end. ' | head -c 1000; } > $(DEMO_DIR)/sample.bin
	build/default/tools/cli/kelvo-cli --simulate --address 0x2000 --device 'ZARQ 40 - 580' \
	  --delay 200 --trace $(DEMO_DIR)/trace.txt $(DEMO_DIR)/sample.bin
	@echo "Every byte that crossed the line, both ways: $(DEMO_DIR)/trace.txt"

test:
	$(call need,$(BUILD_DEBS) $(NETWORK_DEBS))
	cmake --workflow --preset default

# The Windows programs, cross-built, as build/windows/kelvo-VERSION-win64.zip.
windows:
	$(call need,$(BUILD_DEBS) $(WINDOWS_DEBS))
	cmake --workflow --preset windows

# The Windows build under Wine: its unit tests, then kelvo-cli.exe against zarq-sim.
test-windows:
	$(call need,$(BUILD_DEBS) $(WINDOWS_DEBS) $(WINE_DEBS) $(NETWORK_DEBS))
	cmake --preset default
	cmake --build --preset default --target zarq-sim kelvo-cli settings_round_trip
	tests/windows/run.sh

# A paced upload's time per block through Wine, beside Linux's, and the window under load.
bench-windows: test-windows
	bench/wine/run.sh

# The Debian package, build/kelvo_VERSION_ARCH.deb, from optimised programs built with Debian's
# hardening flags, and the two that bookworm's hardening=+all leaves out: stack clash protection
# and control-flow protection. Bookworm's C start-up files carry no control-flow note, which would
# take the mark off every program, so the linker is told to set it: Linux enforces only the
# shadow stack in user space, which that start-up code keeps to. CPack strips the programs, so
# dpkg-buildflags' -g would only cost build time.
package:
	$(call need,$(BUILD_DEBS) $(PACKAGE_DEBS))
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g && \
	  export KELVO_PACKAGE_CXXFLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS) -fstack-clash-protection -fcf-protection" && \
	  export KELVO_PACKAGE_LDFLAGS="$$(dpkg-buildflags --get LDFLAGS) -Wl,-z,ibt -Wl,-z,shstk" && \
	  cmake --workflow --preset package
	rm -f build/package/*.deb
	@# The folders that CPack makes take their mode from the umask; Debian's is 755.
	cd build/package && umask 022 && cpack
	cp build/package/*.deb build/

# kelvo-cli's package for arm64, build/kelvo-cli_VERSION_arm64.deb, cross-built with the flags
# that dpkg-buildflags gives arm64, stack clash protection, and return addresses signed on the
# cores that can (-mbranch-protection; bookworm's start-up files have no BTI mark, so the linker
# leaves that half off). dpkg-shlibdeps finds the dependencies in the arm64 runtime packages.
package-arm64:
	$(call need,$(BUILD_DEBS) $(PACKAGE_DEBS) $(ARM64_DEBS))
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g DEB_HOST_ARCH=arm64 && \
	  export KELVO_PACKAGE_CXXFLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS) -fstack-clash-protection -mbranch-protection=standard" && \
	  export KELVO_PACKAGE_LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" && \
	  cmake --workflow --preset package-arm64
	rm -f build/package-arm64/*.deb
	cd build/package-arm64 && umask 022 && cpack
	cp build/package-arm64/*.deb build/

# The packages' files, their programs run from them unpacked (the arm64 ones under qemu-user),
# their manual pages, and lintian.
test-package: package package-arm64
	$(call need,$(TEST_PACKAGE_DEBS) $(QEMU_DEBS))
	tests/package/run.sh

sanitize:
	$(call need,$(BUILD_DEBS) $(SANITIZE_DEBS) $(NETWORK_DEBS))
	cmake --workflow --preset asan
	cmake --workflow --preset tsan

# Every fuzz target under libFuzzer with the sanitizers, each for FUZZ_SECONDS (default 60), or
# for FUZZ_RUNS inputs when that is given. Fails on any finding.
FUZZ_SECONDS ?= 60
FUZZ_LIMIT = $(if $(FUZZ_RUNS),-runs=$(FUZZ_RUNS),-max_total_time=$(FUZZ_SECONDS))
fuzz:
	$(call need,$(BUILD_DEBS) $(SANITIZE_DEBS))
	cmake --workflow --preset fuzz
	tests/fuzz/run.sh build/fuzz $(FUZZ_LIMIT)

bench:
	$(call need,$(BUILD_DEBS) $(BENCH_DEBS))
	cmake --workflow --preset bench
	cmake --build --preset bench --target run_benchmarks

# One kelvo-cli loading 16 paced simulated devices at once, against one device alone.
bench-parallel:
	$(call need,$(BUILD_DEBS) $(BENCH_DEBS))
	cmake --preset bench
	cmake --build --preset bench --target kelvo-cli zarq-sim
	bench/parallel/run.sh build/bench 16 40

# The same 16 paced devices, each behind its own port of one ser2net: over rfc2217:// and tcp://.
bench-network:
	$(call need,$(BUILD_DEBS) $(BENCH_DEBS) $(NETWORK_DEBS))
	cmake --preset bench
	cmake --build --preset bench --target kelvo-cli zarq-sim
	bench/parallel/run.sh build/bench 16 40 rfc2217
	bench/parallel/run.sh build/bench 16 40 tcp

# Many uploads and script playbacks in one process under random device faults, then uploads
# through the window with Halt and About at random moments. SOAK_SEED repeats a run of seeds.
soak:
	$(call need,$(BUILD_DEBS) $(BENCH_DEBS))
	cmake --preset bench
	cmake --build --preset bench --target soak window_soak
	build/bench/bench/soak/soak $(if $(SOAK_SEED),--seed $(SOAK_SEED))
	build/bench/bench/soak/window_soak $(if $(SOAK_SEED),--seed $(SOAK_SEED))

# The window under a virtual X server, as docs/screenshot.png.
screenshot:
	$(call need,$(BUILD_DEBS) $(SCREENSHOT_DEBS))
	cmake --preset default
	cmake --build --preset default --target kelvo
	tools/screenshot.sh docs/screenshot.png build/default/src/window/kelvo

# kelvo.exe under Wine and a virtual X server, as docs/screenshot-windows.png.
screenshot-windows: windows
	$(call need,$(WINE_DEBS) $(SCREENSHOT_DEBS))
	prefix=$$(mktemp -d) && export WINEPREFIX=$$prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= && \
	  wine wineboot -i </dev/null >/dev/null 2>&1 && wineserver -w && \
	  tools/screenshot.sh docs/screenshot-windows.png wine build/windows/src/window/win32/kelvo.exe; \
	  status=$$?; wineserver -k; rm -rf $$prefix; exit $$status

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
