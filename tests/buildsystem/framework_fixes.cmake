# cmake -DMODULES=DIR -DFIXES=cmake/FrameworkFixes.cmake -DOUT=DIR -P framework_fixes.cmake
#
# Applies the framework fixes to the framework in MODULES, which must work;
# then, for each fix, to a copy of the framework in which the first line the
# fix looks for has changed, which must stop with an error that names the
# fix and the file.

file(REMOVE_RECURSE "${OUT}")
get_filename_component(fixes_dir "${FIXES}" DIRECTORY)
set(fixes_dir "${fixes_dir}/framework-fixes")

function(apply_fixes modules shadow result output)
    execute_process(COMMAND "${CMAKE_COMMAND}" "-DTESSAMUNE_JUCE_MODULES=${modules}"
                            "-DTESSAMUNE_FRAMEWORK_SHADOW=${shadow}" -P "${FIXES}"
                    RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said)
    set(${result} "${failed}" PARENT_SCOPE)
    set(${output} "${said}" PARENT_SCOPE)
endfunction()

apply_fixes("${MODULES}" "${OUT}/as-installed" failed said)

if(failed)
    message(FATAL_ERROR "the fixes do not apply to the framework in ${MODULES}:\n${said}")
endif()

file(GLOB patches "${fixes_dir}/*.patch")

if(NOT patches)
    message(FATAL_ERROR "no fixes found in ${fixes_dir}")
endif()

foreach(patch IN LISTS patches)
    get_filename_component(fix "${patch}" NAME_WE)
    file(STRINGS "${patch}" lines)

    # The file the fix is for, and the first line of text it looks for.
    set(file "")
    set(looked_for "")
    set(in_hunk FALSE)

    foreach(line IN LISTS lines)
        if(line MATCHES "^\\+\\+\\+ b/(.+)$")
            set(file "${CMAKE_MATCH_1}")
        elseif(line MATCHES "^@@ ")
            set(in_hunk TRUE)
        elseif(in_hunk AND line MATCHES "^[ -](.*[^ \t].*)$")
            set(looked_for "${CMAKE_MATCH_1}")
            break()
        endif()
    endforeach()

    if(file STREQUAL "" OR looked_for STREQUAL "")
        message(FATAL_ERROR "${patch} holds no diff of a file")
    endif()

    # A framework in which that text has moved on.
    set(modules "${OUT}/${fix}/modules")
    file(COPY "${MODULES}/juce_audio_plugin_client" DESTINATION "${modules}")
    file(COPY "${MODULES}/juce_audio_processors/format_types/juce_VST3Common.h"
         DESTINATION "${modules}/juce_audio_processors/format_types")
    file(READ "${modules}/${file}" text)
    string(REPLACE "${looked_for}" "${looked_for} // changed" changed "${text}")

    if(changed STREQUAL text)
        message(FATAL_ERROR "${fix}: the framework's ${file} has no \"${looked_for}\"")
    endif()

    file(WRITE "${modules}/${file}" "${changed}")
    apply_fixes("${modules}" "${OUT}/${fix}/shadow" failed said)

    if(NOT failed)
        message(FATAL_ERROR "${fix}: applied to a ${file} whose text had changed, without an error")
    endif()

    string(FIND "${said}" "${fix}" names_fix)
    string(FIND "${said}" "${file}" names_file)

    if(names_fix EQUAL -1 OR names_file EQUAL -1)
        message(FATAL_ERROR "${fix}: the error does not name the fix and the file:\n${said}")
    endif()

    message(STATUS "${fix}: stops the configuration when ${file} has changed")
endforeach()
