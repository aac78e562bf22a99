# The entry points of a fresh Debian 12 machine:
#   make run    bootstrap, build, run the main job
#   make test   bootstrap, build, run every test
#   make varntest  bootstrap, build, VarnTest on the emulator as COM1
#   make screenshots  bootstrap, build, retake every docs/screenshots picture
#   make package  bootstrap, build, the .deb packages varn and varn-gui in build/default
PRESET ?= default
BUILD := build/$(PRESET)

.PHONY: run test build bootstrap bench clean varntest screenshots package

bootstrap:
	@scripts/bootstrap

build: bootstrap
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET)

run: build
	tools/run-demo.sh $(BUILD)

varntest: build
	tools/run-varntest.sh $(BUILD)

screenshots: build
	tools/screenshots.sh $(BUILD)

test: build
	ctest --preset $(PRESET)

# The packages come from the default preset only (a sanitized build is no
# package).
package: bootstrap
	cmake --preset default >/dev/null
	cmake --build --preset default
	cd build/default && cpack -G DEB

bench: build
	$(BUILD)/bin/bench_link
	$(BUILD)/bin/bench_server_object
	$(BUILD)/bin/bench_remote
	$(BUILD)/bin/bench_remote_server
	$(BUILD)/bin/bench_driver
	$(BUILD)/bin/bench_tables
	$(BUILD)/bin/bench_testapp
	$(BUILD)/bin/bench_hosts
	$(BUILD)/bin/bench_load

clean:
	rm -rf build
