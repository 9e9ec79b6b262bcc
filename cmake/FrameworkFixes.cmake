# Fixes to the framework's VST3 code (JUCE 7.0.5). Each is a unified diff in
# cmake/framework-fixes/ whose header says what it fixes, why, and which test
# or benchmark shows it. They are applied at configure time to copies of the
# framework's files in a shadow tree (the framework itself is never
# touched); the copies are written through configure_file, which leaves an
# unchanged copy, and what it compiles into, alone. A fix that does not apply
# exactly, as when the framework's text around it has moved, stops the
# configuration with the fix's name and the file.
#
# Included by cmake/Formats.cmake. Also runs as a script, which the build
# tests use:
#   cmake -DTESSAMUNE_JUCE_MODULES=DIR -DTESSAMUNE_FRAMEWORK_SHADOW=DIR -P cmake/FrameworkFixes.cmake
#
# TESSAMUNE_JUCE_MODULES         the framework's modules folder
# TESSAMUNE_FRAMEWORK_SHADOW     the shadow tree to write
# TESSAMUNE_LEAVE_OUT_FRAMEWORK_FIXES   fixes to apply not (for measuring)

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    cmake_minimum_required(VERSION 3.22)
endif()

set(TESSAMUNE_FRAMEWORK_FIXES_DIR "${CMAKE_CURRENT_LIST_DIR}/framework-fixes")

# tessamune_framework_copy(FILE [FIX]...): copies the framework's FILE
# (relative to its modules) into the shadow tree, with the framework's CRLF
# line ends made LF (the diffs are written so), and applies each FIX
# (framework-fixes/FIX.patch) to it in order.
function(tessamune_framework_copy file)
    set(original "${TESSAMUNE_JUCE_MODULES}/${file}")

    if(NOT EXISTS "${original}")
        message(FATAL_ERROR "The framework has no ${file} (looked in ${TESSAMUNE_JUCE_MODULES}) "
            "to compile the VST3 client's fixes into")
    endif()

    set(work "${TESSAMUNE_FRAMEWORK_SHADOW}-work/${file}")
    file(READ "${original}" text)
    string(REPLACE "\r\n" "\n" text "${text}")
    file(WRITE "${work}" "${text}")

    if(NOT CMAKE_SCRIPT_MODE_FILE)
        set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${original}")
    endif()

    foreach(fix IN LISTS ARGN)
        set(diff "${TESSAMUNE_FRAMEWORK_FIXES_DIR}/${fix}.patch")

        if(NOT CMAKE_SCRIPT_MODE_FILE)
            set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${diff}")
        endif()

        if(fix IN_LIST TESSAMUNE_LEAVE_OUT_FRAMEWORK_FIXES)
            message(STATUS "Framework fix ${fix} left out (TESSAMUNE_LEAVE_OUT_FRAMEWORK_FIXES)")
            continue()
        endif()

        # Exact context only (no fuzz), no questions, no files beside it.
        execute_process(
            COMMAND "${TESSAMUNE_PATCH_PROGRAM}" --batch --forward --fuzz=0 --no-backup-if-mismatch
                    --reject-file=- --silent "--input=${diff}" "${work}"
            RESULT_VARIABLE failed
            OUTPUT_VARIABLE said
            ERROR_VARIABLE said)

        if(failed)
            message(FATAL_ERROR "The framework fix ${fix} (cmake/framework-fixes/${fix}.patch) "
                "does not apply to the framework's ${file} (${original}): the framework has "
                "changed there. Check whether the fix is still needed, then bring it up to date "
                "or remove it.\n${said}")
        endif()
    endforeach()

    configure_file("${work}" "${TESSAMUNE_FRAMEWORK_SHADOW}/${file}" COPYONLY)
endfunction()

# Every file of the shadow tree, with its fixes.
function(tessamune_copy_fixed_framework_files)
    find_program(TESSAMUNE_PATCH_PROGRAM patch)

    if(NOT TESSAMUNE_PATCH_PROGRAM)
        message(FATAL_ERROR "The framework fixes need the patch program "
            "(Debian package patch; ./scripts/install-deps.sh installs it)")
    endif()

    # The VST3 code shared with hosting, which the wrapper includes by its
    # path under the modules (the VST3 target finds the shadow tree first).
    tessamune_framework_copy(juce_audio_processors/format_types/juce_VST3Common.h vst3-channel-mapping)

    # The VST3 client: its source and the headers it includes by relative
    # path; the one header the framework's module header includes too is
    # left where it is.
    set(client juce_audio_plugin_client)
    tessamune_framework_copy(${client}/utility/juce_LinuxMessageThread.h vst3-lazy-display)
    tessamune_framework_copy(${client}/VST3/juce_VST3_Wrapper.cpp vst3-component-without-waiting vst3-parameter-value
        vst3-component-state-read-back)
    tessamune_framework_copy(${client}/utility/juce_IncludeModuleHeaders.h vst3-client-include-path)
    tessamune_framework_copy(${client}/juce_audio_plugin_client_VST3.cpp)

    foreach(header juce_CheckSettingMacros.h juce_IncludeSystemHeaders.h juce_WindowsHooks.h)
        tessamune_framework_copy(${client}/utility/${header})
    endforeach()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    tessamune_copy_fixed_framework_files()
endif()
