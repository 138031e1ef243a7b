# Everything goes through CMake presets; `make test` and `make run` set the machine up first.
PRESET ?= dev
BUILD_DIR := build/$(PRESET)
KESTRANE := $(BUILD_DIR)/kestrane

.PHONY: setup configure build run test bench fuzz clean check-format

setup:
	@bash scripts/setup

configure: setup
	@test -f $(BUILD_DIR)/build.ninja || cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET)

# clang-format 14 over src, tests, bench and fuzz; a file that differs fails it.
check-format: setup
	@bash scripts/check-format

# `make test` checks the formatting first, before anything is built (CHECK_FORMAT=no skips it).
CHECK_FORMAT ?= yes

# After the ordinary tests: the core's tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then a few seconds of every fuzz harness as a smoke run.
FUZZ_SMOKE_SECONDS ?= 3

test: $(if $(filter yes,$(CHECK_FORMAT)),check-format) build
	@ctest --preset $(PRESET)
	@test -f build/asan/build.ninja || cmake --preset asan >/dev/null
	@cmake --build --preset asan
	@ctest --preset asan
	@bash scripts/fuzz $(FUZZ_SMOKE_SECONDS)

# With a display: the tray application. Without one: a one-shot probe of every provider.
# The probe exits with 1 when a provider fails, which on a machine without logins is every
# one of them: that is its answer, not a broken build, so make says so and succeeds.
run: build
	@if [ -n "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" ]; then \
		$(KESTRANE); \
	else \
		echo "Нет графического сеанса: выполняю разовую проверку всех провайдеров (kestrane --probe)."; \
		status=0; $(KESTRANE) --probe || status=$$?; \
		if [ "$$status" -eq 1 ]; then \
			echo "Проверка выполнена, но не все провайдеры ответили: причины в строках ERROR выше."; \
		elif [ "$$status" -ne 0 ]; then \
			echo "kestrane --probe завершился с кодом $$status." >&2; \
			exit "$$status"; \
		fi; \
	fi

bench: configure
	@cmake --build --preset $(PRESET) --target benchmarks
	@for program in $(BUILD_DIR)/bench/*Bench; do [ -x "$$program" ] && "$$program"; done; true
	@$(BUILD_DIR)/bench/CommandLineVsCurl
	@for script in bench/*.sh; do [ -f "$$script" ] && bash "$$script" "$(BUILD_DIR)"; done; true

fuzz: setup
	@bash scripts/fuzz $(or $(SECONDS),60)

clean:
	@rm -rf build

# Installation and the Debian package come from an optimised build without tests, in its own
# folder. `make install PREFIX=/opt/kestrane` (default /usr/local; DESTDIR is honoured);
# `make package` leaves build/release/kestrane_<version>_<arch>.deb.
PREFIX ?= /usr/local
RELEASE_DIR := build/release
define build_release
	@test -f $(RELEASE_DIR)/build.ninja || cmake -S . -B $(RELEASE_DIR) -G Ninja \
		-DCMAKE_BUILD_TYPE=Release -DKESTRANE_BUILD_TESTS=OFF -DKESTRANE_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(RELEASE_DIR)
endef

.PHONY: install package

install: setup
	$(build_release)
	@DESTDIR="$(DESTDIR)" cmake --install $(RELEASE_DIR) --prefix "$(PREFIX)" --strip

package: setup
	$(build_release)
	@cd $(RELEASE_DIR) && cpack -G DEB >/dev/null
	@ls $(RELEASE_DIR)/*.deb
