# Completes the description that the framework's helper writes into the LV2
# bundle (run with cmake -P after it, on every build). Safe to run any number
# of times on the same bundle.
#
#   -DBUNDLE=<dir>          the .lv2 bundle
#   -DURI=<uri>             the plug-in URI
#   -DPLUGIN_CLASS=<curie>  e.g. lv2:ChorusPlugin
#   -DMINOR=<n> -DMICRO=<n> lv2:minorVersion and lv2:microVersion
#   -DAUDIO_INPUTS=<n> -DAUDIO_OUTPUTS=<n>
#                           the audio ports the plug-in binary was built for
#
# What it changes:
# * the plug-in is of PLUGIN_CLASS as well as lv2:Plugin, in manifest.ttl and
#   dsp.ttl;
# * lv2:minorVersion and lv2:microVersion are ours, and manifest.ttl carries
#   them too (hosts read versions from the manifest without loading dsp.ttl);
# * audio ports are not lv2:connectionOptional: the plug-in always processes
#   all of them (an unconnected one still does no harm, see Lv2PortGuard.cpp);
# * an empty maintainer mailbox ("foaf:mbox <>") is dropped;
# * presets without a name are dropped.
# It stops the build if the files do not look as expected, or if the audio
# ports differ from what the binary was built for.

foreach(var BUNDLE URI PLUGIN_CLASS MINOR MICRO AUDIO_INPUTS AUDIO_OUTPUTS)
    if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
        message(FATAL_ERROR "DescribeLv2Bundle: ${var} is not set")
    endif()
endforeach()

set(manifest "${BUNDLE}/manifest.ttl")
set(dsp "${BUNDLE}/dsp.ttl")

foreach(file "${manifest}" "${dsp}")
    if(NOT EXISTS "${file}")
        message(FATAL_ERROR "DescribeLv2Bundle: ${file} is missing")
    endif()
endforeach()

string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" uri_pattern "${URI}")

# The text of the plug-in's own block in a Turtle file: from the line "<URI>"
# to the first line that ends a statement with " ." (port lists in dsp.ttl
# close with "] ;" or "] ," inside the block, never with " .").
function(find_plugin_block text out_begin out_length)
    string(REGEX MATCH "(^|\n)<${uri_pattern}>\n" head "${text}")
    if(head STREQUAL "")
        message(FATAL_ERROR "DescribeLv2Bundle: no block for <${URI}>")
    endif()
    string(FIND "${text}" "${head}" begin)
    string(SUBSTRING "${text}" ${begin} -1 rest)
    # The first " .\n" after the head ends the block.
    string(FIND "${rest}" " .\n" end)
    if(end EQUAL -1)
        message(FATAL_ERROR "DescribeLv2Bundle: the block for <${URI}> never ends")
    endif()
    math(EXPR length "${end} + 3")
    set(${out_begin} ${begin} PARENT_SCOPE)
    set(${out_length} ${length} PARENT_SCOPE)
endfunction()

# Replaces the plug-in block of a file by the result of editing it.
macro(edit_plugin_block text)
    find_plugin_block("${${text}}" block_begin block_length)
    string(SUBSTRING "${${text}}" 0 ${block_begin} before)
    string(SUBSTRING "${${text}}" ${block_begin} ${block_length} block)
    math(EXPR after_begin "${block_begin} + ${block_length}")
    string(SUBSTRING "${${text}}" ${after_begin} -1 after)
endmacro()

function(set_class_and_version block_var with_version)
    set(block "${${block_var}}")

    # The class: "a lv2:Plugin ;" or, when already done, "a lv2:Plugin , <class> ;".
    # (Matches are counted without their ";", which CMake reads as a list separator.)
    string(REGEX MATCHALL "\ta lv2:Plugin[ ,]" classes "${block}")
    list(LENGTH classes count)
    if(NOT count EQUAL 1)
        message(FATAL_ERROR "DescribeLv2Bundle: expected one \"a lv2:Plugin\" line for <${URI}>, found ${count}")
    endif()
    string(REGEX REPLACE "\ta lv2:Plugin[^;\n]*;" "\ta lv2:Plugin , ${PLUGIN_CLASS} ;" block "${block}")

    # The version: drop whatever is there, then write ours after the class.
    string(REGEX REPLACE "\tlv2:m(inor|icro)Version [0-9]+ ;\n" "" block "${block}")
    if(with_version)
        string(REPLACE "\ta lv2:Plugin , ${PLUGIN_CLASS} ;\n"
                       "\ta lv2:Plugin , ${PLUGIN_CLASS} ;\n\tlv2:minorVersion ${MINOR} ;\n\tlv2:microVersion ${MICRO} ;\n"
                       block "${block}")
    endif()

    set(${block_var} "${block}" PARENT_SCOPE)
endfunction()

function(write_if_changed file old new)
    if(NOT old STREQUAL new)
        file(WRITE "${file}" "${new}")
    endif()
endfunction()

# manifest.ttl
file(READ "${manifest}" manifest_text)
edit_plugin_block(manifest_text)
set_class_and_version(block TRUE)
set(new_manifest "${before}${block}${after}")
# The framework declares a preset for every program; one without a name
# would show in hosts as a nameless entry, so those are dropped.
string(REGEX REPLACE
    "<${uri_pattern}:preset[0-9]+>\n\ta pset:Preset ;\n\tlv2:appliesTo <${uri_pattern}> ;\n\trdfs:label \"\" ;\n\tstate:state [^\n]* \\.\n\n?"
    "" new_manifest "${new_manifest}")
write_if_changed("${manifest}" "${manifest_text}" "${new_manifest}")

# dsp.ttl
file(READ "${dsp}" dsp_text)
edit_plugin_block(dsp_text)
set_class_and_version(block TRUE)
string(REPLACE "\t\tfoaf:mbox <> ;\n" "" block "${block}")
string(REPLACE "\t\tlv2:portProperty lv2:connectionOptional ;\n" "" block "${block}")

# Every audio port now has no property line of its own; count them.
string(REGEX MATCHALL "a lv2:InputPort , lv2:AudioPort" audio_ins "${block}")
string(REGEX MATCHALL "a lv2:OutputPort , lv2:AudioPort" audio_outs "${block}")
list(LENGTH audio_ins num_ins)
list(LENGTH audio_outs num_outs)
if(NOT num_ins EQUAL AUDIO_INPUTS OR NOT num_outs EQUAL AUDIO_OUTPUTS)
    message(FATAL_ERROR "DescribeLv2Bundle: the bundle has ${num_ins} audio inputs and ${num_outs} outputs, "
                        "the binary was built for ${AUDIO_INPUTS} and ${AUDIO_OUTPUTS}")
endif()

write_if_changed("${dsp}" "${dsp_text}" "${before}${block}${after}")
