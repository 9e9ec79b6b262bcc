#!/usr/bin/env bash
# Builds, as static libraries for 64-bit Windows, the libraries that the
# framework and the plug-in use through Debian's system packages on Linux,
# from Debian's own source packages: libpng, libjpeg-turbo, expat, libogg,
# libvorbis and FLAC. (Debian's framework has its bundled copies of them
# removed, and Debian ships none of them built for Windows.) zlib comes from
# Debian's libz-mingw-w64-dev. Highway (used here as headers only) and
# readerwriterqueue are header-only, and architecture-independent: the build
# machine's headers are linked in, so that both builds compile the same code.
#
#   build-deps.sh CACHE_DIR   -> prints the prefix, CACHE_DIR/deps-<key>
#
# The prefix is keyed by the source versions, the compiler's version and this
# script's text: an unchanged key reuses a finished prefix.
set -euo pipefail

cache=$1
here=$(cd "$(dirname "$0")" && pwd)
toolchain="$here/toolchain.cmake"
triplet=x86_64-w64-mingw32
sources=(libpng1.6 libjpeg-turbo expat libogg libvorbis flac)
jobs=$(nproc)

mkdir -p "$cache"
cache=$(cd "$cache" && pwd)

# A private apt configuration for source packages: the deb-src entries are
# derived from the machine's own (deb) entries, and the system's lists and
# sources stay as they are.
apt_dir="$cache/apt"
mkdir -p "$apt_dir/parts" "$apt_dir/lists/partial"
: > "$apt_dir/sources.list"
if [[ -f /etc/apt/sources.list ]]; then
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list >> "$apt_dir/sources.list"
fi
rm -f "$apt_dir/parts/"*
for f in /etc/apt/sources.list.d/*.sources; do
    [[ -e "$f" ]] || continue
    sed 's/^Types:.*/Types: deb-src/' "$f" > "$apt_dir/parts/$(basename "$f")"
done
for f in /etc/apt/sources.list.d/*.list; do
    [[ -e "$f" ]] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" > "$apt_dir/parts/$(basename "$f")"
done
apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/parts"
          -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o APT::Sandbox::User=root)
mkdir -p "$apt_dir/cache/archives/partial"

# Every version the sources offer, newest first (a mirror may lack one that
# its lists name: the next is tried).
source_versions() {
    apt-cache "${apt_opts[@]}" showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -Vru
}

if [[ -z "$(source_versions expat)" ]]; then
    apt-get "${apt_opts[@]}" update -qq >&2
fi

key_text=$( {
    for p in "${sources[@]}"; do echo "$p" $(source_versions "$p"); done
    dpkg-query -W -f '${Package} ${Version}\n' libz-mingw-w64-dev libhwy-dev libreaderwriterqueue-dev
    "$triplet-g++-posix" --version | head -1
    cat "$0" "$toolchain"
} )
key=$(sha256sum <<<"$key_text" | cut -c1-16)
prefix="$cache/deps-$key"

if [[ -f "$prefix/.complete" ]]; then
    echo "$prefix"
    exit 0
fi

echo "Building the Windows libraries into $prefix" >&2
rm -rf "$prefix" "$cache/src-$key"
mkdir -p "$prefix/lib" "$prefix/include" "$cache/src-$key"
src="$cache/src-$key"

# zlib: the static archive alone in a folder of its own, so that a plain
# "z" (as the framework's CMake links) resolves to it and not to the DLL's
# import library beside it.
cp "/usr/$triplet/lib/libz.a" "$prefix/lib/libz.a"
cp "/usr/$triplet/include/zlib.h" "/usr/$triplet/include/zconf.h" "$prefix/include/"
mkdir -p "$prefix/lib/pkgconfig"
cat > "$prefix/lib/pkgconfig/zlib.pc" <<PC
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: zlib
Description: zlib compression library
Version: 1.2
Libs: -L\${libdir} -lz
Cflags: -I\${includedir}
PC

# Header-only libraries, shared with the Linux build.
ln -s /usr/include/hwy "$prefix/include/hwy"
ln -s /usr/include/readerwriterqueue "$prefix/include/readerwriterqueue"

cd "$src"
for p in "${sources[@]}"; do
    fetched=
    for v in $(source_versions "$p"); do
        if apt-get "${apt_opts[@]}" source -qq "$p=$v" >> "$p.log" 2>&1; then
            fetched=$v
            break
        fi
        rm -rf "$p"_* "$p"-*/
    done
    [[ -n "$fetched" ]] || { cat "$p.log" >&2; exit 1; }
done

cmake_build() {   # folder, then options
    local dir=$1; shift
    cmake -S "$dir" -B "$dir/build-win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTESSAMUNE_WINDOWS_DEPS="$prefix" \
          -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
          -DBUILD_SHARED_LIBS=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON "$@" > "$dir.configure.log" 2>&1 \
        || { tail -40 "$dir.configure.log" >&2; exit 1; }
    nice -n 10 cmake --build "$dir/build-win" -j"$jobs" > "$dir.build.log" 2>&1 \
        || { tail -40 "$dir.build.log" >&2; exit 1; }
    cmake --install "$dir/build-win" > "$dir.install.log" 2>&1 \
        || { tail -40 "$dir.install.log" >&2; exit 1; }
}
folder() { ls -d "$src/$1"-*/ | head -1; }

cmake_build "$(folder libpng1.6)" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include"

jpeg=$(folder libjpeg-turbo)
cmake_build "$jpeg" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF
# The framework compiles the reader with JPEG_INTERNALS, which includes
# jpegint.h from beside jpeglib.h; and its own "boolean" must be the one the
# library was built with (jconfig.h makes it depend on a Windows header
# having been included first).
cp "$jpeg/jpegint.h" "$prefix/include/"
sed -i 's/^#ifndef __RPCNDR_H__/#if 1/' "$prefix/include/jconfig.h"
grep -q '^typedef unsigned char boolean;' "$prefix/include/jconfig.h"

# Debian's patches test "XML_DTD == 1", which the autotools build defines
# and expat's CMake leaves empty.
sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/' "$(folder expat)/expat/expat_config.h.cmake"
cmake_build "$(folder expat)/expat" -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
    -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_MSVC_STATIC_CRT=OFF
# Expat 2.5's CMake names a static Windows archive libexpatMD.a; the
# project links libexpat.a, as on Linux.
for a in "$prefix"/lib/libexpat*.a; do
    [[ "$a" == "$prefix/lib/libexpat.a" ]] || cp "$a" "$prefix/lib/libexpat.a"
done

cmake_build "$(folder libogg)" -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF
# Compiled as Debian compiles it (its configure script's flags for GCC,
# -ffast-math among them, with Debian's -O2): the decoder's arithmetic, and
# so every sample decoded from an Ogg Vorbis file, is then the same as on
# Linux.
cmake_build "$(folder libvorbis)" -DBUILD_TESTING=OFF \
    -DCMAKE_C_FLAGS="-ffast-math -D_REENTRANT -fsigned-char" -DCMAKE_C_FLAGS_RELEASE="-O2"
cmake_build "$(folder flac)" -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF \
    -DBUILD_DOCS=OFF -DINSTALL_MANPAGES=OFF -DWITH_OGG=ON -DWITH_STACK_PROTECTOR=OFF -DWITH_FORTIFY_SOURCE=OFF

rm -rf "$src"
touch "$prefix/.complete"
echo "$prefix"
