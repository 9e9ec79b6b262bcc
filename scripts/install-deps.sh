#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build Tessamune; with --tests also
# those needed to run its tests. Needs root, or sudo.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config
    patch                        # applies the framework fixes (cmake/framework-fixes/) at configure time
    juce-modules-source          # the plug-in framework (JUCE 7) and its -dev dependencies
    libreaderwriterqueue-dev     # the lock-free queue between parameter and audio threads
    libhwy-dev                   # Highway: the signal path's vector code, chosen at run time
    lv2-dev
    libflac-dev libvorbis-dev libogg-dev   # the renderer reads FLAC and Ogg Vorbis
    libexpat1-dev                # reading saved states (linked statically)
    fonts-dejavu-core            # lettering of the renderer's plots and of the artwork
)

if [[ "${1:-}" == "--tests" ]]; then
    packages+=(
        libgtest-dev libbenchmark-dev
        xvfb xauth               # a display for the tests that open windows
        clang libclang-rt-14-dev # the sanitizer builds and the fuzzers
        llvm-14                  # their reports' symbolizer, which their suppressions need
        libxml2-dev              # the state tests' independent XML reader
        sordi                    # sord_validate, which lv2_validate runs
        lilv-utils lv2proc ecasound lv2file sox   # Debian's LV2 file hosts, against the renderer
    )
fi

if [[ $(id -u) -eq 0 ]]; then
    sudo=()
else
    sudo=(sudo)
fi

export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}" > /dev/null
