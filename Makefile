# Everything goes through CMake presets; `make test` and `make run` set the machine up first.
PRESET ?= dev
BUILD_DIR := build/$(PRESET)
KESTRANE := $(BUILD_DIR)/kestrane

.PHONY: setup configure build run test bench clean

setup:
	@bash scripts/setup

configure: setup
	@test -f $(BUILD_DIR)/build.ninja || cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET)

# After the ordinary tests: the core's tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer.

test: build
	@ctest --preset $(PRESET)
	@test -f build/asan/build.ninja || cmake --preset asan >/dev/null
	@cmake --build --preset asan
	@ctest --preset asan

# With a display: the tray application. Without one: a one-shot probe of every provider.
run: build
	@if [ -n "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" ]; then \
		$(KESTRANE); \
	else \
		echo "Нет графического сеанса: выполняю разовую проверку всех провайдеров (kestrane --probe)."; \
		$(KESTRANE) --probe; \
	fi

bench: configure
	@cmake --build --preset $(PRESET) --target benchmarks
	@for program in $(BUILD_DIR)/bench/*Bench; do [ -x "$$program" ] && "$$program"; done; true
	@for script in bench/*.sh; do [ -f "$$script" ] && bash "$$script" "$(BUILD_DIR)"; done; true

clean:
	@rm -rf build
