# The plug-in: one shared-code library (target Tessamune) that the VST3, LV2
# and Standalone front ends, the tests and the benchmarks all link. The
# framework builds the VST3 and Standalone front ends; the LV2 one is the
# project's own (cmake/Formats.cmake).

juce_add_plugin(Tessamune
    PRODUCT_NAME              "${TESSAMUNE_PRODUCT_NAME}"
    DESCRIPTION               "${TESSAMUNE_DESCRIPTION}"
    COMPANY_NAME              "${TESSAMUNE_COMPANY_NAME}"
    COMPANY_WEBSITE           "${TESSAMUNE_COMPANY_WEBSITE}"
    VERSION                   "${PROJECT_VERSION}"
    PLUGIN_MANUFACTURER_CODE  ${TESSAMUNE_MANUFACTURER_CODE}
    PLUGIN_CODE               ${TESSAMUNE_PLUGIN_CODE}
    FORMATS                   VST3 Standalone
    IS_SYNTH                  FALSE
    NEEDS_MIDI_INPUT          FALSE
    NEEDS_MIDI_OUTPUT         FALSE
    IS_MIDI_EFFECT            FALSE
    EDITOR_WANTS_KEYBOARD_FOCUS FALSE
    VST3_CATEGORIES           Fx Modulation
    COPY_PLUGIN_AFTER_BUILD   FALSE)

file(GLOB TESSAMUNE_UI_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/ui/*.cpp)

target_sources(Tessamune PRIVATE
    plugin/Processor.cpp
    plugin/DecimalText.cpp
    plugin/EditorZoom.cpp
    plugin/Parameters.cpp
    plugin/ParameterListenerEngine.cpp
    plugin/State.cpp
    plugin/FactoryPresets.cpp
    ${TESSAMUNE_UI_SOURCES})

target_include_directories(Tessamune PUBLIC ${PROJECT_SOURCE_DIR})

target_compile_definitions(Tessamune
    PUBLIC
        JUCE_WEB_BROWSER=0
        JUCE_USE_CURL=0
        JUCE_USE_FLAC=1
        JUCE_USE_OGGVORBIS=1
        JUCE_INCLUDE_FLAC_CODE=0
        JUCE_INCLUDE_OGGVORBIS_CODE=0
        JUCE_VST3_CAN_REPLACE_VST2=0
        JUCE_DISPLAY_SPLASH_SCREEN=0
        JUCE_REPORT_APP_USAGE=0
        JUCE_MODAL_LOOPS_PERMITTED=0)

# GCC 12 reports a false dangling-pointer warning all over the framework's
# listener lists; it says nothing about our code.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
    target_compile_options(Tessamune PUBLIC -Wno-dangling-pointer)
endif()

find_path(READERWRITERQUEUE_INCLUDE_DIR readerwriterqueue/readerwriterqueue.h REQUIRED)
target_include_directories(Tessamune PUBLIC ${READERWRITERQUEUE_INCLUDE_DIR})

target_link_libraries(Tessamune
    PRIVATE
        juce::juce_audio_utils
    PUBLIC
        tessamune_dsp
        juce::juce_recommended_config_flags
        juce::juce_recommended_warning_flags)

# FLAC and Ogg Vorbis reading (the renderer): Debian's framework decodes
# them with the system's codec libraries. They are linked from their static
# archives, so that only a program that actually uses the framework's audio
# file code (the renderer, the standalone app, the tests)
# takes the codec objects in, and no plug-in format gains a run-time library
# dependency.
find_package(PkgConfig REQUIRED)
pkg_check_modules(TESSAMUNE_CODECS REQUIRED flac vorbisfile vorbisenc vorbis ogg)
target_include_directories(Tessamune PRIVATE ${TESSAMUNE_CODECS_INCLUDE_DIRS})
foreach(codec IN ITEMS vorbisenc vorbisfile vorbis FLAC ogg)   # users before what they use
    find_library(TESSAMUNE_${codec}_ARCHIVE NAMES lib${codec}.a
                 HINTS ${TESSAMUNE_CODECS_LIBRARY_DIRS} REQUIRED)
    target_link_libraries(Tessamune PUBLIC ${TESSAMUNE_${codec}_ARCHIVE})
endforeach()

# Saved states are read with expat, linked from its static archive as well:
# the plug-in modules gain no run-time library dependency, and its symbols
# stay inside them (the host may load another expat of its own).
find_path(TESSAMUNE_EXPAT_INCLUDE_DIR expat.h REQUIRED)
find_library(TESSAMUNE_EXPAT_ARCHIVE NAMES libexpat.a REQUIRED)
target_include_directories(Tessamune PRIVATE ${TESSAMUNE_EXPAT_INCLUDE_DIR})
target_link_libraries(Tessamune PUBLIC ${TESSAMUNE_EXPAT_ARCHIVE})
target_link_options(Tessamune INTERFACE LINKER:--exclude-libs,libexpat.a)

# Front-panel artwork, compiled into the module.
file(GLOB TESSAMUNE_ARTWORK CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/resources/*.png)
if(TESSAMUNE_ARTWORK)
    juce_add_binary_data(TessamuneArtwork
        HEADER_NAME BinaryData.h
        NAMESPACE BinaryData
        SOURCES ${TESSAMUNE_ARTWORK})
    # Position-independent for the plug-in modules, and kept out of their
    # exported symbols.
    set_target_properties(TessamuneArtwork PROPERTIES
        POSITION_INDEPENDENT_CODE ON
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
    target_link_libraries(Tessamune PRIVATE TessamuneArtwork)
endif()

# Lets an executable (tests, benchmarks, tools) use the plug-in's code and the
# framework headers exactly as the plug-in itself is compiled.
function(tessamune_use_plugin_code target)
    target_link_libraries(${target} PRIVATE Tessamune)
    target_include_directories(${target} PRIVATE $<TARGET_PROPERTY:Tessamune,INCLUDE_DIRECTORIES>)
    target_compile_definitions(${target} PRIVATE $<TARGET_PROPERTY:Tessamune,COMPILE_DEFINITIONS>)
endfunction()

# Per-format description, installation.
include(${PROJECT_SOURCE_DIR}/cmake/Formats.cmake OPTIONAL)
