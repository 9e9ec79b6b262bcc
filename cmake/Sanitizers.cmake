# Sanitizer and fuzzing builds of the test suite. Included before any target
# is defined, so that the framework's sources, compiled into our targets, are
# instrumented too.
#
#   -DTESSAMUNE_SANITIZE=address,undefined   AddressSanitizer (with leak
#                                            checking) and UndefinedBehaviorSanitizer
#   -DTESSAMUNE_SANITIZE=thread              ThreadSanitizer; build it with clang:
#                                            the lock-free queue annotates its
#                                            hand-over for it only there
#   -DTESSAMUNE_FUZZ=ON                      coverage for the libFuzzer targets
#                                            in tests/fuzz (clang)
#
# Any report ends the program with a failure: nothing is left to scroll past.
# The tests' allocation guard replaces operator new, which the sanitizer
# runtimes define as well, so these builds leave it out (tests/CMakeLists.txt).

set(TESSAMUNE_SANITIZE "" CACHE STRING "Sanitizers to build with, as for -fsanitize= (empty: none)")
option(TESSAMUNE_FUZZ "Build the fuzz targets (needs clang)" OFF)

if(TESSAMUNE_SANITIZE)
    add_compile_options(-fsanitize=${TESSAMUNE_SANITIZE} -fno-sanitize-recover=all
                        -fno-omit-frame-pointer -g1)
    add_link_options(-fsanitize=${TESSAMUNE_SANITIZE})
endif()

if(TESSAMUNE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "TESSAMUNE_FUZZ needs clang (libFuzzer)")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
