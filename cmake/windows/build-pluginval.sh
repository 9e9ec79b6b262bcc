#!/usr/bin/env bash
# Builds pluginval 1.0.3 (Tracktion's plug-in validator) for 64-bit Windows
# against Debian's JUCE 7.0.5, from a git snapshot of its public repository,
# with the same toolchain and libraries as the plug-in; it is run under Wine
# against the Windows VST3. Nothing of it is committed or shipped.
#
#   build-pluginval.sh SNAPSHOT_GIT_DIR DEPS_PREFIX CACHE_DIR
#       -> prints CACHE_DIR/pluginval-1.0.3-<key>/pluginval.exe
set -euo pipefail

snapshot=$1; deps=$2; cache=$3
here=$(cd "$(dirname "$0")" && pwd)
key=$( { git --git-dir="$snapshot" rev-parse v1.0.3; basename "$deps"; cat "$0"; } | sha256sum | cut -c1-16)
out="$cache/pluginval-1.0.3-$key"

if [[ -f "$out/pluginval.exe" ]]; then
    echo "$out/pluginval.exe"
    exit 0
fi

rm -rf "$out"
mkdir -p "$out/src"
git --git-dir="$snapshot" archive v1.0.3 | tar -x -C "$out/src"
cd "$out/src"
python3 - <<'PY'
s = open('CMakeLists.txt').read()
old = 'if(PLUGINVAL_FETCH_JUCE)\n    add_subdirectory(modules/juce)\nendif()'
assert old in s
s = s.replace(old, 'if(PLUGINVAL_FETCH_JUCE)\n    add_subdirectory(modules/juce)\nelse()\n    find_package(JUCE CONFIG REQUIRED)\nendif()')
s = s.replace('JUCE_PLUGINHOST_LADSPA=1', 'JUCE_PLUGINHOST_LADSPA=0\n    JUCE_USE_FLAC=0\n    JUCE_USE_OGGVORBIS=0')
open('CMakeLists.txt', 'w').write(s)
PY
# Debian's framework reads PNG and JPEG with the system's libraries, which
# its CMake links only on Linux: the static archives go at the end of the
# link line.
libs="$deps/lib/libpng16.a $deps/lib/libjpeg.a $deps/lib/libz.a"
cmake -S . -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPLUGINVAL_FETCH_JUCE=OFF \
      -DCMAKE_TOOLCHAIN_FILE="$here/toolchain.cmake" -DTESSAMUNE_WINDOWS_DEPS="$deps" \
      -DCMAKE_CXX_FLAGS="-I$deps/include" -DCMAKE_CXX_STANDARD_LIBRARIES="$libs" \
      > "$out/configure.log" 2>&1 || { tail -30 "$out/configure.log" >&2; exit 1; }
nice -n 10 cmake --build "$out/build" -j"$(nproc)" > "$out/build.log" 2>&1 || { grep -m20 -E "error|FAILED" "$out/build.log" >&2; exit 1; }
cp "$out/build/pluginval_artefacts/Release/pluginval.exe" "$out/pluginval.exe"
rm -rf "$out/src" "$out/build"
echo "$out/pluginval.exe"
