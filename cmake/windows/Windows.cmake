# What the 64-bit Windows build (cross-built with mingw-w64, see
# toolchain.cmake and scripts/build-windows.sh) needs beyond the Linux one.
# Included at the end of the top-level CMakeLists.txt when building for
# Windows; nothing here applies to the Linux build.

# --- Image codecs -------------------------------------------------------------
# Debian's framework reads PNG and JPEG with the system's libraries instead of
# its bundled copies. On Linux its CMake links them through pkg-config; for
# Windows it links none, so the static archives that build-deps.sh made are
# linked here (zlib after libpng, which uses it).
find_path(TESSAMUNE_PNG_INCLUDE_DIR png.h REQUIRED)
find_library(TESSAMUNE_PNG_ARCHIVE NAMES libpng16.a libpng.a REQUIRED)
find_library(TESSAMUNE_JPEG_ARCHIVE NAMES libjpeg.a REQUIRED)
find_library(TESSAMUNE_ZLIB_ARCHIVE NAMES libz.a REQUIRED)
target_include_directories(juce_graphics INTERFACE ${TESSAMUNE_PNG_INCLUDE_DIR})
target_link_libraries(juce_graphics INTERFACE
    ${TESSAMUNE_PNG_ARCHIVE} ${TESSAMUNE_JPEG_ARCHIVE} ${TESSAMUNE_ZLIB_ARCHIVE})

# FLAC's headers declare its functions as DLL imports unless told that it is
# linked statically.
target_compile_definitions(Tessamune PUBLIC FLAC__NO_DLL)

# --- Version resources and icon -------------------------------------------
# The framework's CMake gives the standalone application a version resource
# but no plug-in module one, and an icon only together with a bundle icon
# whose set-up runs Windows' attrib at build time. The module and the
# renderer get a version resource from version.rc.in; the application and
# the renderer the panel's icon, made by the framework's own juceaide.
get_target_property(_tessamune_juceaide juce::juceaide IMPORTED_LOCATION)
set(_tessamune_windows_dir "${CMAKE_CURRENT_BINARY_DIR}/windows")
set(TESSAMUNE_WINDOWS_ICON "${_tessamune_windows_dir}/Tessamune.ico")
set(_tessamune_icon_sources
    "${PROJECT_SOURCE_DIR}/resources/icons/icon-256.png"
    "${PROJECT_SOURCE_DIR}/resources/icons/icon-32.png")
file(MAKE_DIRECTORY "${_tessamune_windows_dir}")
execute_process(COMMAND "${_tessamune_juceaide}" winicon "${TESSAMUNE_WINDOWS_ICON}" ${_tessamune_icon_sources}
                RESULT_VARIABLE _tessamune_icon_result)
if(NOT _tessamune_icon_result EQUAL 0 OR NOT EXISTS "${TESSAMUNE_WINDOWS_ICON}")
    message(FATAL_ERROR "juceaide could not make the Windows icon")
endif()
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_tessamune_icon_sources})

# tessamune_windows_resource(TARGET FILE_NAME FILE_TYPE [ICON]): a version
# resource for TARGET, whose file is FILE_NAME, and the icon with ICON.
function(tessamune_windows_resource target file_name file_type)
    set(TESSAMUNE_RC_FILE "${file_name}")
    set(TESSAMUNE_RC_FILETYPE "${file_type}")
    set(TESSAMUNE_RC_DESCRIPTION "${TESSAMUNE_DESCRIPTION}")
    set(TESSAMUNE_RC_ICON "")
    if("ICON" IN_LIST ARGN)
        set(TESSAMUNE_RC_ICON "IDI_ICON1 ICON DISCARDABLE \"${TESSAMUNE_WINDOWS_ICON}\"")
    endif()
    set(rc "${_tessamune_windows_dir}/${target}.rc")
    configure_file("${PROJECT_SOURCE_DIR}/cmake/windows/version.rc.in" "${rc}" @ONLY)
    target_sources(${target} PRIVATE "${rc}")
    set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${TESSAMUNE_WINDOWS_ICON}")
endfunction()

tessamune_windows_resource(Tessamune_VST3 "${TESSAMUNE_PRODUCT_NAME}.vst3" VFT_DLL)
tessamune_windows_resource(tessamune-render "tessamune-render.exe" VFT_APP ICON)

# The application has the framework's version resource already: only the
# icon is added.
set(_tessamune_app_icon_rc "${_tessamune_windows_dir}/Tessamune_Standalone_icon.rc")
file(WRITE "${_tessamune_app_icon_rc}.in" "IDI_ICON1 ICON DISCARDABLE \"${TESSAMUNE_WINDOWS_ICON}\"\n")
configure_file("${_tessamune_app_icon_rc}.in" "${_tessamune_app_icon_rc}" COPYONLY)
target_sources(Tessamune_Standalone PRIVATE "${_tessamune_app_icon_rc}")
set_source_files_properties("${_tessamune_app_icon_rc}" PROPERTIES OBJECT_DEPENDS "${TESSAMUNE_WINDOWS_ICON}")

# --- The renderer's lettering ---------------------------------------------------
# On Linux the renderer reads the plot's fonts from Debian's fonts-dejavu-core
# at run time; Windows has no such files, so the Windows renderer carries
# them.
set(_tessamune_dejavu /usr/share/fonts/truetype/dejavu)
juce_add_binary_data(TessamuneRenderFonts
    HEADER_NAME RenderFonts.h
    NAMESPACE RenderFonts
    SOURCES ${_tessamune_dejavu}/DejaVuSans.ttf ${_tessamune_dejavu}/DejaVuSans-Bold.ttf
            ${_tessamune_dejavu}/DejaVuSerif-Bold.ttf)
target_link_libraries(tessamune-render PRIVATE TessamuneRenderFonts)
target_compile_definitions(tessamune-render PRIVATE TESSAMUNE_EMBEDDED_FONTS=1)
