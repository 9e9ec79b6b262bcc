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
# target only from copies made at configure time, each with one text
# replaced. Written through configure_file, which leaves an unchanged copy
# (and what it compiles into) alone. A framework that lacks the text is used
# as it is.
get_target_property(_tessamune_juce_modules juce::juce_audio_plugin_client INTERFACE_JUCE_MODULE_PATH)
set(_tessamune_shadow "${CMAKE_CURRENT_BINARY_DIR}/framework-fixes")

# tessamune_framework_copy(FILE RESULT [FROM TO]...): copies the framework's
# FILE (relative to its modules) into the shadow tree with each FROM
# replaced by its TO; RESULT is true when every FROM was found. In FROM and
# TO, <sc> stands for a semicolon, which CMake's argument lists would split
# at; a TO of @FILE is that file's text (cmake/framework-fixes/).
function(tessamune_framework_copy file result)
    set(original "${_tessamune_juce_modules}/${file}")
    set(${result} FALSE PARENT_SCOPE)

    if(NOT EXISTS "${original}")
        return()
    endif()

    file(READ "${original}" text)
    set(pairs ${ARGN})

    while(pairs)
        list(POP_FRONT pairs from to)
        string(REPLACE "<sc>" ";" from "${from}")
        if(to MATCHES "^@")
            string(SUBSTRING "${to}" 1 -1 to)
            set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${to}")
            file(READ "${to}" to)
            string(STRIP "${to}" to)
        else()
            string(REPLACE "<sc>" ";" to "${to}")
        endif()
        string(FIND "${text}" "${from}" at)
        if(at EQUAL -1)
            return()
        endif()
        string(REPLACE "${from}" "${to}" text "${text}")
    endwhile()

    file(WRITE "${_tessamune_shadow}/${file}.in" "${text}")
    configure_file("${_tessamune_shadow}/${file}.in" "${_tessamune_shadow}/${file}" COPYONLY)
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${original}")
    set(${result} TRUE PARENT_SCOPE)
endfunction()

# The wrapper copies a channel mapping, vector and all, for every input bus
# of every block: one allocation per block on the audio thread. Its header is
# shadowed by a copy that takes the mapping by reference.
tessamune_framework_copy(juce_audio_processors/format_types/juce_VST3Common.h _tessamune_mapping_fixed
    "const auto mapping = map[busIndex]<sc>" "const auto& mapping = map[busIndex]<sc>")
if(_tessamune_mapping_fixed)
    target_include_directories(Tessamune_VST3 BEFORE PRIVATE "${_tessamune_shadow}")
endif()

# Three fixes to the VST3 client itself. The first makes what a host reads
# back of a parameter the value the plug-in takes and saves:
#  - the wrapper kept whatever normalised value a host set on a parameter as
#    the value it reports back, while the parameter takes the nearest legal
#    one: a host that sets the Chorus switch to 0.32 read 0.32 back, while
#    the plug-in is off and saves and restores off. The wrapper's parameter
#    now holds the value the parameter takes (for a switch the step the
#    value falls in, for a knob its nearest tenth) and, when that is not what
#    the host set, tells the host to read its parameters again
#    (restartComponent with kParamValuesChanged, on the host's UI thread,
#    where hosts set these values).
# The other two make a host's instances come up without waiting
# (bench/startup_bench measures them):
#  - its message thread no longer opens the X display when it starts, which
#    cost the first instance several milliseconds in every host, with or
#    without a window: the first window opens it, on the message thread, where
#    every window is made;
#  - making a component no longer waits for a round trip to the message
#    thread (which looks for messages once a millisecond): setting a member
#    held under the message manager's lock went through a temporary whose end
#    took that lock to let go of a reference that was never the last. Such a
#    member now takes the new value by exchange, and takes the lock only to
#    let go of a value it held.
# The client's source and the headers it includes by relative path are
# compiled from copies in the shadow tree; the one header the framework's
# module header includes too is left where it is.
set(_tessamune_client juce_audio_plugin_client)
tessamune_framework_copy(${_tessamune_client}/utility/juce_LinuxMessageThread.h _tessamune_thread_fixed
    "XWindowSystem::getInstance()<sc>" "")
tessamune_framework_copy(${_tessamune_client}/VST3/juce_VST3_Wrapper.cpp _tessamune_wrapper_fixed
    "LockedVSTComSmartPtr& operator= (const LockedVSTComSmartPtr&) = default<sc>"
    "LockedVSTComSmartPtr& operator= (const LockedVSTComSmartPtr&) = default<sc> LockedVSTComSmartPtr& operator= (LockedVSTComSmartPtr&& other) noexcept { std::swap (ptr, other.ptr)<sc> return *this<sc> }"
    "~LockedVSTComSmartPtr()"
    "~LockedVSTComSmartPtr() { if (ptr.get() != nullptr) releaseUnderLock()<sc> } void releaseUnderLock()"
    "v = jlimit (0.0, 1.0, v)<sc>" "@${PROJECT_SOURCE_DIR}/cmake/framework-fixes/vst3-parameter-value.inc")
tessamune_framework_copy(${_tessamune_client}/utility/juce_IncludeModuleHeaders.h _tessamune_headers_fixed
    "#include \"juce_CreatePluginFilter.h\"" "#include <juce_audio_plugin_client/utility/juce_CreatePluginFilter.h>")
if(NOT (_tessamune_thread_fixed AND _tessamune_wrapper_fixed AND _tessamune_headers_fixed))
    # The host tests then fail on what a parameter reads back.
    message(WARNING "The framework's VST3 client has changed: it is used as it is")
else()
    tessamune_framework_copy(${_tessamune_client}/juce_audio_plugin_client_VST3.cpp _tessamune_client_copied)

    foreach(header juce_CheckSettingMacros.h juce_IncludeSystemHeaders.h juce_WindowsHooks.h)
        tessamune_framework_copy(${_tessamune_client}/utility/${header} _tessamune_header_copied)
    endforeach()

    set_source_files_properties("${_tessamune_juce_modules}/${_tessamune_client}/juce_audio_plugin_client_VST3.cpp"
                                PROPERTIES HEADER_FILE_ONLY ON)
    target_sources(Tessamune_VST3 PRIVATE "${_tessamune_shadow}/${_tessamune_client}/juce_audio_plugin_client_VST3.cpp")
endif()

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
    "${_tessamune_lv2_bundle}/manifest.ttl" "${_tessamune_lv2_bundle}/dsp.ttl" "${_tessamune_lv2_bundle}/ui.ttl")
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

# --- Sanitizer builds --------------------------------------------------------
# clang links the sanitizer runtimes into programs only: the modules take them
# from the program that loads them (the host suite), so they may leave those
# symbols undefined.
if(TESSAMUNE_SANITIZE OR TESSAMUNE_FUZZ)
    target_link_options(Tessamune_VST3 PRIVATE -Wl,-z,undefs)
    target_link_options(Tessamune_LV2 PRIVATE -Wl,-z,undefs)
endif()
