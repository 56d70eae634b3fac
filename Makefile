# The two set-up commands: `make run` and `make test`.
BUILD_DIR ?= build
TSAN_DIR ?= build-tsan
JOBS ?= $(shell nproc)

# The threaded reader tests that run once more under ThreadSanitizer.
TSAN_READER_TESTS = SourceGraphRun.*:DesGraphRun.*:Receiver*
TSAN_PLATFORM_TESTS = GraphTest.*:SourceFilterTest.*:DesGroupFilters.*:ScanCache.*

.PHONY: deps configure build run test test-threads clean

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/bin/lumivane

# The thread checks run first, so that ctest's summary is the last thing printed.
test: build test-threads
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-threads: deps
	@cmake -S . -B $(TSAN_DIR) -G Ninja -DLUMIVANE_TSAN=ON -DLUMIVANE_AUTHOR_SANITIZE=OFF >/dev/null
	@cmake --build $(TSAN_DIR) -j $(JOBS) --target reader_tests platform_tests
	@export TSAN_OPTIONS="suppressions=$(CURDIR)/tests/reader/tsan.supp halt_on_error=1"; \
	  $(TSAN_DIR)/bin/reader_tests --gtest_filter='$(TSAN_READER_TESTS)' > $(TSAN_DIR)/reader.log 2>&1 \
	    || { cat $(TSAN_DIR)/reader.log; echo "ThreadSanitizer: reader tests failed"; exit 1; }; \
	  $(TSAN_DIR)/bin/platform_tests --gtest_filter='$(TSAN_PLATFORM_TESTS)' > $(TSAN_DIR)/platform.log 2>&1 \
	    || { cat $(TSAN_DIR)/platform.log; echo "ThreadSanitizer: platform tests failed"; exit 1; }; \
	  echo "ThreadSanitizer: reader and graph tests clean"

clean:
	rm -rf $(BUILD_DIR) $(TSAN_DIR)
