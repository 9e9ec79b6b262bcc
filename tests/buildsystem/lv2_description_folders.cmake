# cmake -DWRITER=tessamune_lv2_bundle -DOUT=DIR -P lv2_description_folders.cmake
#
# Runs the LV2 description's writer into folders that do not exist yet, as
# a fresh build tree with a build tool that makes no output folders has
# them, and checks that it wrote everything.

file(REMOVE_RECURSE "${OUT}")

set(table "${OUT}/lv2-generated/Lv2ControlPortTable.h")
set(bundle "${OUT}/artefacts/Release/LV2/Tessamune.lv2")

execute_process(COMMAND "${WRITER}" "${table}" "${bundle}"
                RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said)

if(failed)
    message(FATAL_ERROR "the writer failed (${failed}) into fresh folders: ${said}")
endif()

foreach(written IN ITEMS "${table}" "${bundle}/manifest.ttl" "${bundle}/dsp.ttl" "${bundle}/ui.ttl")
    if(EXISTS "${written}")
        file(SIZE "${written}" size)
    else()
        set(size 0)
    endif()

    if(size EQUAL 0)
        message(FATAL_ERROR "the writer did not write ${written}")
    endif()
endforeach()
