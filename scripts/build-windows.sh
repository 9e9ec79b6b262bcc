#!/usr/bin/env bash
# Builds Tessamune for 64-bit Windows on Debian 12, cross-compiled with
# mingw-w64, and leaves in dist/windows/: the VST3 bundle Tessamune.vst3, the
# standalone application Tessamune.exe, tessamune-render.exe, the factory
# presets as VST3 preset files in presets/, and the installer
# Tessamune-<version>-x64-setup.exe. Installs the packages it needs
# first (root or sudo needed for that step).
#
#   TESSAMUNE_WINDOWS_BUILD_DIR   the build folder (default build-windows)
#   TESSAMUNE_CACHE               where the libraries built from Debian's
#                                 sources are kept between runs, keyed by
#                                 their versions (default /var/cache/tessamune
#                                 when writable, else ~/.cache/tessamune)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="${TESSAMUNE_WINDOWS_BUILD_DIR:-$root/build-windows}"
dist="$root/dist/windows"
jobs=$(nproc)

if [[ -z "${TESSAMUNE_CACHE:-}" ]]; then
    if mkdir -p /var/cache/tessamune 2>/dev/null && [[ -w /var/cache/tessamune ]]; then
        TESSAMUNE_CACHE=/var/cache/tessamune
    else
        TESSAMUNE_CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/tessamune"
    fi
fi

"$root/scripts/install-deps.sh"
if [[ $(id -u) -eq 0 ]]; then sudo=(); else sudo=(sudo); fi
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev \
    dpkg-dev nsis wine wine64 > /dev/null
# Wine runs the Windows build of the presets' writer at build time (below).

echo "== Libraries for Windows (from Debian's sources; kept in $TESSAMUNE_CACHE/windows)"
deps=$("$root/cmake/windows/build-deps.sh" "$TESSAMUNE_CACHE/windows")

echo "== Tessamune for Windows"
launcher=()
if command -v ccache > /dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Programs the build runs (the writer of the factory presets' VST3 files) are
# Windows programs here: CMake runs them under Wine, in a Wine prefix of
# their own in the build folder, without Wine's Mono and Gecko set-up and its
# debug output. Running the Windows build of the writer, rather than building
# a second, native copy of it beside the cross build, keeps one CMake project
# and one compiler for the Windows products; the files it writes are the same
# bytes as the Linux build's. (Set here rather than in the toolchain file,
# whose text keys the libraries' cache.)
emulator="$(command -v cmake);-E;env;WINEPREFIX=$build/wine-build;WINEARCH=win64;WINEDEBUG=-all"
emulator+=";WINEDLLOVERRIDES=mscoree,mshtml=;$(command -v wine)"
mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/windows/toolchain.cmake" -DTESSAMUNE_WINDOWS_DEPS="$deps" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator" \
      -DTESSAMUNE_BUILD_TESTS=OFF -DTESSAMUNE_BUILD_BENCH=OFF -DTESSAMUNE_BUILD_TOOLS=OFF \
      "${launcher[@]}" > "$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
nice -n 10 cmake --build "$build" --parallel "$jobs" --target Tessamune_VST3 Tessamune_Standalone tessamune-render

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
products="$build/Tessamune_artefacts/Release"
rm -rf "$dist"
mkdir -p "$dist"
cp -r "$products/VST3/Tessamune.vst3" "$dist/"
cp "$products/Standalone/Tessamune.exe" "$build/tools/render/tessamune-render.exe" "$dist/"
mkdir "$dist/presets"
cp "$build"/vst3-presets/*.vstpreset "$dist/presets/"
x86_64-w64-mingw32-strip "$dist/Tessamune.exe" "$dist/tessamune-render.exe" \
    "$dist/Tessamune.vst3/Contents/x86_64-win/Tessamune.vst3"

echo "== Installer"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DDIST="$dist" -DICON="$build/windows/Tessamune.ico" \
         -DOUTFILE="$dist/Tessamune-$version-x64-setup.exe" "$root/cmake/windows/installer.nsi"

echo "Built into $dist:"
(cd "$dist" && find . -type f | sort)
