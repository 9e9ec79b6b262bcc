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

# The framework's VST3 wrapper (JUCE 7.0.5) copies a channel mapping, vector
# and all, for every input bus of every block: one allocation per block on
# the audio thread. Its header is shadowed, for the VST3 target only, by a
# copy that takes the mapping by reference. A framework without that line
# is used as it is.
get_target_property(_tessamune_juce_modules juce::juce_audio_plugin_client INTERFACE_JUCE_MODULE_PATH)
set(_tessamune_vst3_common "${_tessamune_juce_modules}/juce_audio_processors/format_types/juce_VST3Common.h")
if(EXISTS "${_tessamune_vst3_common}")
    file(READ "${_tessamune_vst3_common}" _tessamune_text)
    set(_tessamune_copying_line "const auto mapping = map[busIndex];")
    string(FIND "${_tessamune_text}" "${_tessamune_copying_line}" _tessamune_at)
    if(NOT _tessamune_at EQUAL -1)
        string(REPLACE "${_tessamune_copying_line}" "const auto& mapping = map[busIndex];" _tessamune_text "${_tessamune_text}")
        set(_tessamune_shadow "${CMAKE_CURRENT_BINARY_DIR}/framework-fixes")
        # Written through configure_file, which leaves an unchanged copy (and
        # what it compiles into) alone.
        file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/juce_VST3Common.h.in"
             "// Generated from ${_tessamune_vst3_common}: a channel mapping taken by reference.\n${_tessamune_text}")
        configure_file("${CMAKE_CURRENT_BINARY_DIR}/juce_VST3Common.h.in"
                       "${_tessamune_shadow}/juce_audio_processors/format_types/juce_VST3Common.h" COPYONLY)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_tessamune_vst3_common}")
        target_include_directories(Tessamune_VST3 BEFORE PRIVATE "${_tessamune_shadow}")
    endif()
endif()

# The framework's VST3 wrapper (JUCE 7.0.5) keeps whatever normalised value a
# host sets on a parameter as the value it reports back, while the parameter
# takes the nearest legal one: a host that sets the Chorus switch to 0.32
# reads 0.32 back, while the plug-in is off and saves and restores off. The
# wrapper is compiled, for the VST3 target only, from a copy in which its
# parameter holds the value the parameter takes (for a switch the step the
# value falls in, for a knob its nearest tenth) and, when that is not what
# the host set, tells the host to read its parameters again
# (restartComponent with kParamValuesChanged, on the host's UI thread, where
# hosts set these values). A framework without that line is used as it is,
# and the host tests then fail.
set(_tessamune_vst3_wrapper "${_tessamune_juce_modules}/juce_audio_plugin_client/VST3/juce_VST3_Wrapper.cpp")
set(_tessamune_vst3_client "${_tessamune_juce_modules}/juce_audio_plugin_client/juce_audio_plugin_client_VST3.cpp")
if(EXISTS "${_tessamune_vst3_wrapper}" AND EXISTS "${_tessamune_vst3_client}")
    file(READ "${_tessamune_vst3_wrapper}" _tessamune_text)
    set(_tessamune_clamping_line "v = jlimit (0.0, 1.0, v);")
    string(FIND "${_tessamune_text}" "${_tessamune_clamping_line}" _tessamune_at)
    if(_tessamune_at EQUAL -1)
        message(WARNING "The framework's VST3 wrapper has changed: its parameters report back what a host sets")
    else()
        string(REPLACE "${_tessamune_clamping_line}" [=[v = jlimit (0.0, 1.0, v);

            // The parameter holds the value it takes, which is what the host
            // reads back and the plug-in saves. A host that set another is
            // told to read the parameters again, on the thread it called on
            // (its UI thread). Legal values come as doubles, which differ
            // from the parameter's float by far less than the tolerance.
            const auto requested = v;

            if (auto* ranged = dynamic_cast<RangedAudioParameter*> (&param))
                v = std::isfinite (v) ? (Vst::ParamValue) ranged->convertTo0to1 (ranged->convertFrom0to1 ((float) v))
                                      : (Vst::ParamValue) ranged->getDefaultValue();

            const ScopeGuard tellHostWhatWasTaken { [&]
            {
                if (! (std::abs (v - requested) <= 1.0e-6))
                    if (auto* handler = owner.getComponentHandler())
                        handler->restartComponent (Vst::kParamValuesChanged);
            } };]=] _tessamune_text "${_tessamune_text}")
        # The copy lives elsewhere: its includes of the wrapper's neighbours
        # go through the module path.
        string(REGEX REPLACE "#include \"\\.\\./utility/([^\"]+)\"" "#include <juce_audio_plugin_client/utility/\\1>"
               _tessamune_text "${_tessamune_text}")
        set(_tessamune_wrapper_copy "${CMAKE_CURRENT_BINARY_DIR}/framework-fixes/juce_VST3_Wrapper.cpp")
        file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/juce_VST3_Wrapper.cpp.in"
             "// Generated from ${_tessamune_vst3_wrapper}: parameters report the value they take.\n${_tessamune_text}")
        configure_file("${CMAKE_CURRENT_BINARY_DIR}/juce_VST3_Wrapper.cpp.in" "${_tessamune_wrapper_copy}" COPYONLY)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_tessamune_vst3_wrapper}")

        # The framework's own unit holds nothing but the include of its
        # wrapper, and only the VST3 target gets code from it.
        set_source_files_properties("${_tessamune_vst3_client}" PROPERTIES HEADER_FILE_ONLY ON)
        target_sources(Tessamune_VST3 PRIVATE "${_tessamune_wrapper_copy}")
    endif()
endif()

# LV2 describes one fixed layout per bundle, and the standalone application
# opens its audio device in one layout: both take the fixed one. Without this
# the standalone would open its device with the processor's default layout,
# in which both buses are off.
set(TESSAMUNE_FIXED_CONFIGURATION "{${TESSAMUNE_FIXED_INPUTS}, ${TESSAMUNE_FIXED_OUTPUTS}}")
target_compile_definitions(Tessamune_LV2 PRIVATE
    "JucePlugin_PreferredChannelConfigurations=${TESSAMUNE_FIXED_CONFIGURATION}")
target_compile_definitions(Tessamune_Standalone PRIVATE
    "JucePlugin_PreferredChannelConfigurations=${TESSAMUNE_FIXED_CONFIGURATION}")

# --- LV2 ---------------------------------------------------------------------
# The framework's LV2 entry points are compiled under other names, and the
# plug-in's LV2 layer in host/ exports the real ones (host/Lv2Bridge.cpp): it
# carries the parameters as control ports, accepts the block-length options
# hosts send, splits long runs, and keeps a host that leaves a port
# unconnected from crashing the plug-in.
set(_tessamune_lv2_client "${_tessamune_juce_modules}/juce_audio_plugin_client/juce_audio_plugin_client_LV2.cpp")
if(NOT EXISTS "${_tessamune_lv2_client}")
    message(FATAL_ERROR "The framework's LV2 wrapper is not at ${_tessamune_lv2_client}")
endif()
# Every format target compiles this file; only the LV2 one gets code from it.
set_property(SOURCE "${_tessamune_lv2_client}" APPEND PROPERTY COMPILE_DEFINITIONS
    lv2_descriptor=tessamune_framework_lv2_descriptor
    lv2ui_descriptor=tessamune_framework_lv2ui_descriptor)

# The control ports, one per parameter after the framework's ports (audio
# inputs and outputs, atom input and output, latency, free-wheeling,
# enabled), are described from the processor's parameter layout by a small
# program built from the plug-in's code: a table for the binary and the
# ports' Turtle for the bundle.
math(EXPR TESSAMUNE_LV2_FIRST_CONTROL_PORT "${TESSAMUNE_FIXED_INPUTS} + ${TESSAMUNE_FIXED_OUTPUTS} + 5")
set(_tessamune_lv2_generated "${CMAKE_CURRENT_BINARY_DIR}/lv2-ports")
add_executable(tessamune_lv2_ports ${PROJECT_SOURCE_DIR}/host/DescribeLv2Ports.cpp)
tessamune_use_plugin_code(tessamune_lv2_ports)
add_custom_command(
    OUTPUT "${_tessamune_lv2_generated}/Lv2ControlPortTable.h" "${_tessamune_lv2_generated}/control-ports.ttl"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${_tessamune_lv2_generated}"
    COMMAND tessamune_lv2_ports ${TESSAMUNE_LV2_FIRST_CONTROL_PORT}
            "${_tessamune_lv2_generated}/Lv2ControlPortTable.h" "${_tessamune_lv2_generated}/control-ports.ttl"
    DEPENDS tessamune_lv2_ports
    COMMENT "Describing the LV2 control ports from the parameter layout"
    VERBATIM)

target_sources(Tessamune_LV2 PRIVATE
    ${PROJECT_SOURCE_DIR}/host/Lv2Bridge.cpp
    ${PROJECT_SOURCE_DIR}/host/Lv2Features.cpp
    ${PROJECT_SOURCE_DIR}/host/Lv2Ui.cpp
    "${_tessamune_lv2_generated}/Lv2ControlPortTable.h")
target_include_directories(Tessamune_LV2 PRIVATE "${_tessamune_lv2_generated}")
target_compile_definitions(Tessamune_LV2 PRIVATE
    TESSAMUNE_LV2_AUDIO_INPUTS=${TESSAMUNE_FIXED_INPUTS}
    TESSAMUNE_LV2_AUDIO_OUTPUTS=${TESSAMUNE_FIXED_OUTPUTS})

# LV2 versions have no major number (the URI is the major version). Odd
# numbers and a minor version of 0 mark development versions, which hosts
# are asked to hide, so a release x.y.z is written as minor 2 * (100x + y),
# micro 2z: 1.0.2 becomes 200.4, both even, ordered as our versions are.
if(PROJECT_VERSION_MINOR GREATER_EQUAL 100)
    message(FATAL_ERROR "The LV2 version mapping assumes a minor version below 100")
endif()
math(EXPR TESSAMUNE_LV2_MINOR_VERSION "2 * (100 * ${PROJECT_VERSION_MAJOR} + ${PROJECT_VERSION_MINOR})")
math(EXPR TESSAMUNE_LV2_MICRO_VERSION "2 * ${PROJECT_VERSION_PATCH}")

# After the framework's helper has written the bundle's description (its own
# POST_BUILD step, which runs first), complete it.
add_custom_command(TARGET Tessamune_LV2 POST_BUILD
    COMMAND ${CMAKE_COMMAND}
        "-DBUNDLE=$<TARGET_FILE_DIR:Tessamune_LV2>"
        "-DURI=${TESSAMUNE_LV2_URI}"
        "-DPLUGIN_CLASS=${TESSAMUNE_LV2_CLASS}"
        "-DMINOR=${TESSAMUNE_LV2_MINOR_VERSION}"
        "-DMICRO=${TESSAMUNE_LV2_MICRO_VERSION}"
        "-DAUDIO_INPUTS=${TESSAMUNE_FIXED_INPUTS}"
        "-DAUDIO_OUTPUTS=${TESSAMUNE_FIXED_OUTPUTS}"
        "-DCONTROL_PORTS=${_tessamune_lv2_generated}/control-ports.ttl"
        "-DFIRST_CONTROL_PORT=${TESSAMUNE_LV2_FIRST_CONTROL_PORT}"
        -P ${PROJECT_SOURCE_DIR}/host/DescribeLv2Bundle.cmake
    VERBATIM)

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
tessamune_install_bundle(lv2 "${_tessamune_products}/LV2" "${TESSAMUNE_PRODUCT_NAME}.lv2" lib/lv2)
install(TARGETS Tessamune_Standalone RUNTIME DESTINATION bin COMPONENT standalone)

# --- Sanitizer builds --------------------------------------------------------
# clang links the sanitizer runtimes into programs only: the modules take them
# from the program that loads them (the host suite), so they may leave those
# symbols undefined.
if(TESSAMUNE_SANITIZE OR TESSAMUNE_FUZZ)
    target_link_options(Tessamune_VST3 PRIVATE -Wl,-z,undefs)
    target_link_options(Tessamune_LV2 PRIVATE -Wl,-z,undefs)
endif()
