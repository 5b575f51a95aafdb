# make run   set up, build and start Sentrel on the shipped default.mon
# make test  set up, build and run the whole test suite
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: run test build setup clean

run: build
	./$(BUILD)/sentrel

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

build: setup
	cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD) -j $(JOBS)

setup:
	bash scripts/setup.sh

clean:
	rm -rf $(BUILD)
