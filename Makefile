# Front door for the usual jobs; CMake does the building.
BUILD ?= build
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all configure build tool demo demo-reset test check check-sanitize check-windows windows windows-zip \
	install package fuzz bench clean

all: build

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# The tool and the world generator alone, not the tests.
tool: configure
	cmake --build $(BUILD) -j$(JOBS) --target velmarsh worldgen

# The tool on the demo world in $(BUILD)/demo, made when it is missing: a
# layer imported there stays. demo-reset makes the world anew.
demo: tool
	tools/demo.sh $(BUILD)

demo-reset: tool
	tools/demo.sh $(BUILD) --reset

# bin/velmarsh and share/man/man1/velmarsh.1 under PREFIX (inside DESTDIR).
install: tool
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

# $(BUILD)/package/velmarsh_<version>_amd64.deb
package: tool
	cd $(BUILD) && cpack -G DEB

# Everything CI runs: the suite, the suite under the sanitizers, the Windows
# build under Wine, bounded fuzzing.
test: check check-sanitize check-windows fuzz

check: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

check-sanitize:
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMARSH_SANITIZE=ON
	cmake --build $(BUILD)-asan -j$(JOBS)
	cd $(BUILD)-asan && ctest --output-on-failure -j$(JOBS)

# velmarsh.exe, cross-built with MinGW-w64 and linked statically.
windows:
	cmake -S . -B $(BUILD)-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)-win -j$(JOBS)

# $(BUILD)-win/velmarsh-<version>-win64.zip: the stripped exe and README.txt.
windows-zip: windows
	cmake --build $(BUILD)-win --target windows_zip

check-windows: build windows-zip
	cd tests/e2e && WIN_BUILD=$(abspath $(BUILD)-win) WORLDGEN=$(abspath $(BUILD))/worldgen \
		VELMARSH=$(abspath $(BUILD))/velmarsh /usr/bin/python3 -m unittest -v test_windows

fuzz: build
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMARSH_FUZZ=ON -DVELMARSH_TESTS=OFF
	cmake --build $(BUILD)-fuzz -j$(JOBS)
	/usr/bin/python3 tests/fuzz/run_fuzzers.py $(BUILD)-fuzz $(BUILD)/worldgen --seconds $(FUZZ_SECONDS)

# Full export and import of big generated worlds against the copy limit.
bench: build
	/usr/bin/python3 tools/bench.py $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-fuzz $(BUILD)-win
