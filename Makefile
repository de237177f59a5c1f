# Front door for the usual jobs; CMake does the building.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all build demo test bench clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

# A generated world in $(BUILD)/demo, and the tool started on it.
demo: build
	tools/demo.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

clean:
	rm -rf $(BUILD)

# Full export and import of big generated worlds against the copy limit.
bench: build
	/usr/bin/python3 tools/bench.py $(BUILD)
