# make run      - install what is missing, build the tool and the simulator, start them
# make test     - install what is missing, build everything, run every test (also under ASan and UBSan)
# make install  - build everything and install it (PREFIX, default /usr/local)
# make package  - build the Debian packages comkeys and comkeys-slider-dev into build/
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
PREFIX ?= /usr/local

.PHONY: deps deps-run configure build run test test-plain test-asan install package bench fuzz gallery clean

deps:
	@scripts/install-deps all

deps-run:
	@scripts/install-deps run

# A new build folder is made for Ninja, which keeps both cores busier than make does; one made
# earlier keeps its generator.
configure:
	@scripts/configure $(BUILD) -DCOMKEYS_WERROR=ON >/dev/null

build: deps configure
	@cmake --build $(BUILD) -j$(JOBS)

# Only what it runs: the tool and the simulator, not the tests.
run: deps-run configure
	@cmake --build $(BUILD) -j$(JOBS) --target comkeys-run
	@scripts/run $(BUILD)/bin

test: test-plain test-asan

test-plain: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

test-asan: deps
	@scripts/configure $(ASAN_BUILD) -DCOMKEYS_WERROR=ON -DCOMKEYS_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(JOBS)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

package: build
	cd $(BUILD) && cpack -G DEB

bench: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/bin/bench_keyset
	QT_QPA_PLATFORM=offscreen $(BUILD)/bin/bench_receive
	$(BUILD)/bin/bench_automation
	$(BUILD)/bin/bench_cli
	QT_QPA_PLATFORM=offscreen $(BUILD)/bin/bench_network
	QT_QPA_PLATFORM=offscreen $(BUILD)/bin/bench_plot
	QT_QPA_PLATFORM=offscreen $(BUILD)/bin/bench_find

fuzz:
	@scripts/install-deps all clang libclang-rt-14-dev
	@cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCOMKEYS_FUZZ=ON -DBUILD_TESTING=ON >/dev/null
	@cmake --build build-fuzz -j$(JOBS) --target fuzz_profile fuzz_telnet
	mkdir -p build-fuzz/corpus && build-fuzz/bin/fuzz_profile -runs=$${RUNS:-1000000} -max_len=4096 build-fuzz/corpus tests/keys/fuzz-seeds
	mkdir -p build-fuzz/corpus-telnet && build-fuzz/bin/fuzz_telnet -runs=$${RUNS:-1000000} -max_len=4096 build-fuzz/corpus-telnet tests/net/fuzz-seeds

gallery: build
	@$(BUILD)/bin/slider-gallery

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz
