# Two entry points: `make run` opens the viewer on demo data, `make test` builds and runs every test.
BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= $(shell nproc)
DEMO       ?= $(BUILD)/demo

.PHONY: deps configure build test run demo bench asan fuzz clean

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

demo: build
	@if [ -x $(BUILD)/tools/lumora-demodata ]; then \
	  [ -f $(DEMO)/cells.ics ] || $(BUILD)/tools/lumora-demodata $(DEMO); \
	fi

run: demo
	@if [ -x $(BUILD)/viewer/lumora ]; then \
	  $(BUILD)/viewer/lumora $(DEMO)/cells.ics; \
	else \
	  echo "The viewer is not built yet."; \
	fi

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# Sanitizer build (ASan + UBSan) of every test; the window tests run offscreen. clang (which the
# fuzz targets need anyway) compiles unoptimised, instrumented code in two thirds of gcc's time.
asan: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=Debug -DLUMORA_SANITIZE=ON -DLUMORA_BENCH=OFF
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	cd $(BUILD_ASAN) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

fuzz: deps
	./scripts/fuzz.sh

clean:
	rm -rf $(BUILD) $(BUILD_ASAN)
