# What each plug-in format says about the plug-in beyond what juce_add_plugin
# gives it, and how the formats are installed. Included at the end of
# Plugin.cmake; the values come from host/Identity.cmake.

# --- Channel configurations --------------------------------------------------
# The processor accepts exactly the configurations of the list (its
# isBusesLayoutSupported, host/ChannelConfigurations.cpp).
target_sources(Tessamune PRIVATE ${PROJECT_SOURCE_DIR}/host/ChannelConfigurations.cpp)
set_property(SOURCE ${PROJECT_SOURCE_DIR}/host/ChannelConfigurations.cpp APPEND PROPERTY COMPILE_DEFINITIONS
    "TESSAMUNE_CHANNEL_CONFIGURATIONS=${TESSAMUNE_CHANNEL_CONFIGURATIONS}")

# VST3 offers the whole list: the wrapper refuses any other arrangement and
# opens in the first configuration, with its buses active by default (the
# processor's own buses are not).
target_compile_definitions(Tessamune_VST3 PRIVATE
    "JucePlugin_PreferredChannelConfigurations=${TESSAMUNE_CHANNEL_CONFIGURATIONS}"
    # Hosts see each parameter's step count (2 for the switches, 101 for the
    # knobs): the wrapper otherwise declares steps only for discrete
    # parameters, and ours are not discrete.
    JUCE_FORCE_LEGACY_PARAMETER_AUTOMATION_TYPE=1)

# Fixes to the framework's VST3 code (JUCE 7.0.5), compiled for the VST3
# target only from copies of the framework's files in a shadow tree, each
# fix a unified diff applied at configure time (cmake/FrameworkFixes.cmake,
# which lists them; a fix that no longer applies stops the configuration).
#
# TESSAMUNE_LEAVE_OUT_FRAMEWORK_FIXES (names of fixes, without .patch) builds
# without them, to measure what a fix brings; the tests expect every one.
set(TESSAMUNE_LEAVE_OUT_FRAMEWORK_FIXES "" CACHE STRING
    "Framework fixes (cmake/framework-fixes/NAME.patch) to build without, for measuring them")

get_target_property(TESSAMUNE_JUCE_MODULES juce::juce_audio_plugin_client INTERFACE_JUCE_MODULE_PATH)
set(TESSAMUNE_FRAMEWORK_SHADOW "${CMAKE_CURRENT_BINARY_DIR}/framework-fixes")
include(${PROJECT_SOURCE_DIR}/cmake/FrameworkFixes.cmake)
tessamune_copy_fixed_framework_files()

# The VST3 code shared with hosting, which the wrapper includes by its path
# under the modules: the shadow tree comes first on that target's path.
target_include_directories(Tessamune_VST3 BEFORE PRIVATE "${TESSAMUNE_FRAMEWORK_SHADOW}")

# The client is compiled from its copy instead of the framework's file.
set_source_files_properties("${TESSAMUNE_JUCE_MODULES}/juce_audio_plugin_client/juce_audio_plugin_client_VST3.cpp"
                            PROPERTIES HEADER_FILE_ONLY ON)
target_sources(Tessamune_VST3 PRIVATE "${TESSAMUNE_FRAMEWORK_SHADOW}/juce_audio_plugin_client/juce_audio_plugin_client_VST3.cpp")

# The standalone application opens its audio device in one layout, the
# fixed one (the LV2 bundle's too). Without this it would open its device
# with the processor's default layout, in which both buses are off.
set(TESSAMUNE_FIXED_CONFIGURATION "{${TESSAMUNE_FIXED_INPUTS}, ${TESSAMUNE_FIXED_OUTPUTS}}")
target_compile_definitions(Tessamune_Standalone PRIVATE
    "JucePlugin_PreferredChannelConfigurations=${TESSAMUNE_FIXED_CONFIGURATION}")

# The LV2 is built for Linux only: its description is written by a program
# run at build time, and Windows hosts load VST3s.
if(NOT WIN32)
# --- LV2 ---------------------------------------------------------------------
# The LV2 binary is the project's own entry points around the processor
# (host/Lv2Plugin.cpp, host/Lv2Ui.cpp). Its description (manifest.ttl,
# dsp.ttl, ui.ttl) and the control ports' table it compiles in are written by
# a small program built from the plug-in's code, from the identity and the
# processor's parameter layout (host/DescribeLv2Bundle.cpp).

# LV2 versions have no major number (the URI is the major version). Odd
# numbers and a minor version of 0 mark development versions, which hosts
# are asked to hide, so a release x.y.z is written as minor 2 * (100x + y),
# micro 2z: 1.0.2 becomes 200.4, both even, ordered as our versions are.
if(PROJECT_VERSION_MINOR GREATER_EQUAL 100)
    message(FATAL_ERROR "The LV2 version mapping assumes a minor version below 100")
endif()
math(EXPR TESSAMUNE_LV2_MINOR_VERSION "2 * (100 * ${PROJECT_VERSION_MAJOR} + ${PROJECT_VERSION_MINOR})")
math(EXPR TESSAMUNE_LV2_MICRO_VERSION "2 * ${PROJECT_VERSION_PATCH}")

set(TESSAMUNE_LV2_BINARY "libTessamune.so")
set(_tessamune_lv2_bundle "${CMAKE_CURRENT_BINARY_DIR}/Tessamune_artefacts/$<CONFIG>/LV2/${TESSAMUNE_PRODUCT_NAME}.lv2")
set(_tessamune_lv2_generated "${CMAKE_CURRENT_BINARY_DIR}/lv2-generated")

add_executable(tessamune_lv2_bundle ${PROJECT_SOURCE_DIR}/host/DescribeLv2Bundle.cpp)
tessamune_use_plugin_code(tessamune_lv2_bundle)
target_compile_definitions(tessamune_lv2_bundle PRIVATE
    "TESSAMUNE_LV2_URI=\"${TESSAMUNE_LV2_URI}\""
    "TESSAMUNE_LV2_BINARY=\"${TESSAMUNE_LV2_BINARY}\""
    "TESSAMUNE_LV2_CLASS=\"${TESSAMUNE_LV2_CLASS}\""
    TESSAMUNE_LV2_MINOR_VERSION=${TESSAMUNE_LV2_MINOR_VERSION}
    TESSAMUNE_LV2_MICRO_VERSION=${TESSAMUNE_LV2_MICRO_VERSION}
    "TESSAMUNE_PRODUCT_NAME=\"${TESSAMUNE_PRODUCT_NAME}\""
    "TESSAMUNE_DESCRIPTION=\"${TESSAMUNE_DESCRIPTION}\""
    "TESSAMUNE_COMPANY_NAME=\"${TESSAMUNE_COMPANY_NAME}\""
    "TESSAMUNE_COMPANY_WEBSITE=\"${TESSAMUNE_COMPANY_WEBSITE}\""
    "TESSAMUNE_VERSION=\"${PROJECT_VERSION}\"")

set(_tessamune_lv2_description
    "${_tessamune_lv2_bundle}/manifest.ttl" "${_tessamune_lv2_bundle}/dsp.ttl" "${_tessamune_lv2_bundle}/ui.ttl"
    "${_tessamune_lv2_bundle}/presets.ttl")
add_custom_command(
    OUTPUT "${_tessamune_lv2_generated}/Lv2ControlPortTable.h" ${_tessamune_lv2_description}
    COMMAND tessamune_lv2_bundle "${_tessamune_lv2_generated}/Lv2ControlPortTable.h" "${_tessamune_lv2_bundle}"
    DEPENDS tessamune_lv2_bundle
    COMMENT "Describing the LV2 bundle from the identity and the parameter layout"
    VERBATIM)

add_library(Tessamune_LV2 MODULE
    ${PROJECT_SOURCE_DIR}/host/Lv2Plugin.cpp
    ${PROJECT_SOURCE_DIR}/host/Lv2Ui.cpp
    ${PROJECT_SOURCE_DIR}/host/Lv2Features.cpp
    "${_tessamune_lv2_generated}/Lv2ControlPortTable.h"
    ${_tessamune_lv2_description})
tessamune_use_plugin_code(Tessamune_LV2)
target_link_libraries(Tessamune_LV2 PRIVATE juce::juce_recommended_config_flags juce::juce_recommended_warning_flags)
target_include_directories(Tessamune_LV2 PRIVATE "${_tessamune_lv2_generated}")
target_compile_definitions(Tessamune_LV2 PRIVATE
    "TESSAMUNE_LV2_URI=\"${TESSAMUNE_LV2_URI}\""
    TESSAMUNE_LV2_AUDIO_INPUTS=${TESSAMUNE_FIXED_INPUTS}
    TESSAMUNE_LV2_AUDIO_OUTPUTS=${TESSAMUNE_FIXED_OUTPUTS})
set_target_properties(Tessamune_LV2 PROPERTIES
    OUTPUT_NAME Tessamune
    PREFIX lib
    LIBRARY_OUTPUT_DIRECTORY "${_tessamune_lv2_bundle}"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
# The module exports its two entry points and nothing else: the framework
# and the engine inside stay its own, whatever other plug-in (another build
# of the framework among them) the host loads beside it. Libraries it does
# not call are not loaded with it.
target_link_options(Tessamune_LV2 PRIVATE
    "LINKER:--version-script=${PROJECT_SOURCE_DIR}/host/Lv2Exports.map"
    LINKER:--as-needed)
set_property(TARGET Tessamune_LV2 APPEND PROPERTY LINK_DEPENDS "${PROJECT_SOURCE_DIR}/host/Lv2Exports.map")

endif()

# --- VST3 presets ------------------------------------------------------------
# The factory presets as VST3 preset files, one per preset, written by a
# small program from the presets' table and the processor's own state
# (host/WriteVst3Presets.cpp). Built with the VST3, and installed with it
# where VST3 hosts look for a maker's presets. A cross build runs the program
# it builds through CMAKE_CROSSCOMPILING_EMULATOR (the Windows build: Wine,
# set by scripts/build-windows.sh); without one it writes none. The folder is
# given relative to the build folder, a path both systems read alike.
set(_tessamune_vst3_presets "${CMAKE_CURRENT_BINARY_DIR}/vst3-presets")
if(NOT CMAKE_CROSSCOMPILING OR CMAKE_CROSSCOMPILING_EMULATOR)
add_executable(tessamune_vst3_presets ${PROJECT_SOURCE_DIR}/host/WriteVst3Presets.cpp)
tessamune_use_plugin_code(tessamune_vst3_presets)
add_custom_command(
    OUTPUT "${_tessamune_vst3_presets}/stamp"
    COMMAND tessamune_vst3_presets vst3-presets
    COMMAND ${CMAKE_COMMAND} -E touch "${_tessamune_vst3_presets}/stamp"
    DEPENDS tessamune_vst3_presets
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    COMMENT "Writing the factory presets as VST3 preset files"
    VERBATIM)
add_custom_target(Tessamune_VST3_Presets DEPENDS "${_tessamune_vst3_presets}/stamp")
add_dependencies(Tessamune_VST3 Tessamune_VST3_Presets)
endif()

# --- Installation ------------------------------------------------------------
# cmake --install <build> [--prefix P]: the VST3 bundle into P/lib/vst3, the
# LV2 bundle into P/lib/lv2, the application into P/bin. A bundle is replaced
# whole, so nothing of an older version stays behind.
set(_tessamune_products "${CMAKE_CURRENT_BINARY_DIR}/Tessamune_artefacts/$<CONFIG>")

function(tessamune_install_bundle component bundle_dir bundle_name destination)
    install(CODE "file(REMOVE_RECURSE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/${bundle_name}\")"
        COMPONENT ${component})
    install(DIRECTORY "${bundle_dir}/${bundle_name}" DESTINATION "${destination}"
        USE_SOURCE_PERMISSIONS COMPONENT ${component})
endfunction()

tessamune_install_bundle(vst3 "${_tessamune_products}/VST3" "${TESSAMUNE_PRODUCT_NAME}.vst3" lib/vst3)
if(NOT WIN32)
    tessamune_install_bundle(lv2 "${_tessamune_products}/LV2" "${TESSAMUNE_PRODUCT_NAME}.lv2" lib/lv2)
endif()
install(TARGETS Tessamune_Standalone RUNTIME DESTINATION bin COMPONENT standalone)
# VST3 hosts on Linux look for a maker's presets in P/share/vst3/presets/
# (/usr/share/vst3/presets for the Debian package).
if(NOT CMAKE_CROSSCOMPILING)
    install(CODE "file(REMOVE_RECURSE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/vst3/presets/${TESSAMUNE_COMPANY_NAME}/${TESSAMUNE_PRODUCT_NAME}\")"
        COMPONENT vst3)
    install(DIRECTORY "${_tessamune_vst3_presets}/" DESTINATION "share/vst3/presets/${TESSAMUNE_COMPANY_NAME}/${TESSAMUNE_PRODUCT_NAME}"
        COMPONENT vst3 FILES_MATCHING PATTERN "*.vstpreset")
endif()

# --- Sanitizer builds --------------------------------------------------------
# clang links the sanitizer runtimes into programs only: the modules take them
# from the program that loads them (the host suite), so they may leave those
# symbols undefined.
if(TESSAMUNE_SANITIZE OR TESSAMUNE_FUZZ)
    target_link_options(Tessamune_VST3 PRIVATE -Wl,-z,undefs)
    target_link_options(Tessamune_LV2 PRIVATE -Wl,-z,undefs)
endif()
