# Findlark: the two commands a new user needs are `make run` and `make test`.
# Both install what is missing (Debian 12 packages), configure and build first.

BUILD      ?= build
PREFIX     ?= /usr/local
JOBS       ?= 2
CMAKE_ARGS ?=
ifdef CI
CMAKE_ARGS += -DFINDLARK_WERROR=ON
endif

# Everything the build, the tests and the app need at run time. Packages are
# installed without their Recommends, so each peer index also gets here the
# helpers its desktop install would bring and the peer tests exercise:
# Recoll reads PDF through pdftotext (poppler-utils), RTF through unrtf,
# EXIF through exiftool, Word through antiword, xsltproc and lxml; Baloo's
# extractors are in libkf5filemetadata-bin. The probes test reads each probe back
# with file, poppler-utils and exiftool. The manual pages are made from each
# tool's --help with help2man; the install test renders them with man-db and
# loads the zsh completion with zsh.
PACKAGES := build-essential cmake pkg-config make \
	qt6-base-dev qt6-pdf-dev libqt6svg6 qt6-qpa-plugins \
	libsqlite3-dev libutf8proc-dev libplist-dev libpoppler-cpp-dev \
	libexiv2-dev libzip-dev libpugixml-dev libxml2-dev libsnappy-dev zlib1g-dev libicu-dev \
	libtesseract-dev libleptonica-dev tesseract-ocr-eng libseccomp-dev \
	libgmime-3.0-dev libtag1-dev libgsf-1-dev \
	libgtest-dev libgmock-dev \
	breeze-icon-theme adwaita-icon-theme fonts-dejavu-core fonts-noto-color-emoji \
	xvfb xauth attr file sqlite3 \
	recollcmd python3-recoll poppler-utils unrtf libimage-exiftool-perl python3-lxml antiword xsltproc \
	tracker tracker-miner-fs libtracker-sparql-3.0-dev libglib2.0-bin \
	baloo-kf5 libkf5filemetadata-bin baloo-kf5-dev qtbase5-dev \
	dbus \
	help2man man-db zsh

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: run test deps build install package package-test bench samples screenshots clean

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "make run: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2; \
	  echo "Run it from a desktop session, or under a virtual one: xvfb-run make run" >&2; \
	  exit 1; fi
	@if [ -x $(BUILD)/bin/mdindexd ]; then $(BUILD)/bin/mdindexd; fi
	$(BUILD)/bin/findlark

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

# Installs only what dpkg does not already have, so it is a quick no-op when
# everything is present.
deps:
	@missing=$$(for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed$$' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing missing packages:" $$missing; \
	  $(SUDO) apt-get update -q && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q --no-install-recommends $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)
	cmake --build $(BUILD) -j$(JOBS)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian packages (findlark, and the Tracker and Baloo helpers), from the
# same install rules, into $(BUILD): findlark_<version>_amd64.deb and so on.
package: build
	rm -f $(BUILD)/*.deb
	cd $(BUILD) && cpack -G DEB
	@if command -v lintian >/dev/null; then lintian --fail-on error $(BUILD)/*.deb; fi

# Installs the package in a clean Debian 12 root made with mmdebstrap and
# checks it there (takes minutes; needs root). Not part of `make test`.
package-test: package
	@command -v mmdebstrap >/dev/null || { $(SUDO) apt-get update -q && $(SUDO) apt-get install -y -q --no-install-recommends mmdebstrap; }
	$(SUDO) .ci/package-test $(BUILD)

# Benchmarks print figures beside Recoll's where it is installed (apt-get
# install recollcmd); they take several minutes and assert nothing.
bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -f "$$b" ] && [ -x "$$b" ] && "$$b"; done; true

samples: build
	cmake --build $(BUILD) --target samples

screenshots: build
	cmake --build $(BUILD) --target screenshots

clean:
	rm -rf $(BUILD)
