# Cross-builds for 64-bit Windows on Debian with the mingw-w64 compiler
# (POSIX threads: the C++ standard library's threads and mutexes need them).
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/windows/toolchain.cmake \
#         -DTESSAMUNE_WINDOWS_DEPS=<prefix of the libraries built by build-deps.sh>
#
# The framework is Debian's JUCE (its headers and CMake support are
# architecture-independent; its helper juceaide runs natively at build time).
# Libraries are looked for only in the cross prefixes, never among the build
# machine's own.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_tessamune_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${_tessamune_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_tessamune_triplet}-g++-posix)
set(CMAKE_RC_COMPILER  ${_tessamune_triplet}-windres)
set(CMAKE_AR           /usr/bin/${_tessamune_triplet}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       /usr/bin/${_tessamune_triplet}-ranlib CACHE FILEPATH "")

# Passed on to try_compile projects and to the libraries' own builds.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TESSAMUNE_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${_tessamune_triplet})
if(TESSAMUNE_WINDOWS_DEPS)
    list(PREPEND CMAKE_FIND_ROOT_PATH "${TESSAMUNE_WINDOWS_DEPS}")
    # pkg-config reads only the cross prefix's .pc files.
    set(ENV{PKG_CONFIG_LIBDIR} "${TESSAMUNE_WINDOWS_DEPS}/lib/pkgconfig")
    set(ENV{PKG_CONFIG_PATH} "")
    set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's framework installs its CMake package under the build machine's
# multiarch folder, outside the cross prefixes.
if(NOT JUCE_DIR)
    file(GLOB _tessamune_juce_dirs /usr/lib/*-linux-gnu/cmake/JUCE-*)
    list(GET _tessamune_juce_dirs 0 _tessamune_juce_dir)
    set(JUCE_DIR "${_tessamune_juce_dir}" CACHE PATH "Debian's JUCE CMake package")
endif()

# The C and C++ runtimes, winpthreads included, are linked in: the modules
# and programs then import only Windows' own DLLs (a host or a user's machine
# has no mingw runtime DLLs).
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
