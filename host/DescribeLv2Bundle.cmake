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
#   -DCONTROL_PORTS=<file>  the control ports' Turtle, generated from the
#                           parameter layout (host/DescribeLv2Ports.cpp)
#   -DFIRST_CONTROL_PORT=<n> the index the binary gives the first of them
#
# What it changes:
# * the plug-in is of PLUGIN_CLASS as well as lv2:Plugin, in manifest.ttl and
#   dsp.ttl;
# * lv2:minorVersion and lv2:microVersion are ours, and manifest.ttl carries
#   them too (hosts read versions from the manifest without loading dsp.ttl);
# * audio ports are not lv2:connectionOptional: the plug-in always processes
#   all of them (an unconnected one still does no harm, see Lv2Bridge.cpp);
# * the parameters are control ports, after the framework's ports, instead of
#   patch:writable properties: the property definitions, the patch:writable
#   and patch:readable lists and the atom ports' patch:Message support go;
# * only the URID map is a required feature; the options and a bounded block
#   length are optional (the plug-in splits longer runs itself);
# * the editor may use the host's ui:touch to report its gestures;
# * an empty maintainer mailbox ("foaf:mbox <>") is dropped;
# * presets without a name are dropped.
# It stops the build if the files do not look as expected, if the audio
# ports differ from what the binary was built for, or if the ports are not
# numbered 0, 1, 2... as the binary numbers them.

foreach(var BUNDLE URI PLUGIN_CLASS MINOR MICRO AUDIO_INPUTS AUDIO_OUTPUTS CONTROL_PORTS FIRST_CONTROL_PORT)
    if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
        message(FATAL_ERROR "DescribeLv2Bundle: ${var} is not set")
    endif()
endforeach()

set(manifest "${BUNDLE}/manifest.ttl")
set(dsp "${BUNDLE}/dsp.ttl")
set(ui "${BUNDLE}/ui.ttl")

foreach(file "${manifest}" "${dsp}" "${ui}" "${CONTROL_PORTS}")
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

# Replaces the first occurrence of one text by another, unless the result is
# already there; stops the build when neither is.
function(replace_once var from to what)
    string(FIND "${${var}}" "${from}" at)
    if(NOT at EQUAL -1)
        string(REPLACE "${from}" "${to}" result "${${var}}")
        set(${var} "${result}" PARENT_SCOPE)
        return()
    endif()
    string(FIND "${${var}}" "${to}" done)
    if(done EQUAL -1)
        message(FATAL_ERROR "DescribeLv2Bundle: ${what} not as expected")
    endif()
endfunction()

# The parameters are ports, not properties.
string(REGEX REPLACE "\tpatch:(writable|readable)(\n\t\tplug:[A-Za-z0-9_]+ ,)*\n\t\tplug:[A-Za-z0-9_]+ ;\n" "" block "${block}")
replace_once(block "\t\tatom:supports\n\t\t\tpatch:Message ,\n\t\t\ttime:Position ;\n"
                   "\t\tatom:supports\n\t\t\ttime:Position ;\n" "the atom input's supported events")
string(REPLACE "\t\tatom:supports\n\t\t\tpatch:Message ;\n" "" block "${block}")
if(block MATCHES "patch:")
    message(FATAL_ERROR "DescribeLv2Bundle: the plug-in is still described with patch messages")
endif()

# Only the URID map is required.
replace_once(block "\tlv2:optionalFeature\n\t\tlv2:hardRTCapable ;\n"
                   "\tlv2:optionalFeature\n\t\tlv2:hardRTCapable ,\n\t\topts:options ,\n\t\tbufs:boundedBlockLength ;\n"
                   "the optional features")
replace_once(block "\tlv2:requiredFeature\n\t\turid:map ,\n\t\topts:options ,\n\t\tbufs:boundedBlockLength ;\n"
                   "\tlv2:requiredFeature\n\t\turid:map ;\n"
                   "the required features")

# The control ports close the port list.
file(READ "${CONTROL_PORTS}" control_ports)
string(FIND "${block}" "${control_ports}" present)
if(present EQUAL -1)
    replace_once(block "\t] ;\n\topts:supportedOption" "\t] , [\n${control_ports}\t] ;\n\topts:supportedOption"
                 "the end of the port list")
endif()

# Each port index once, from 0 up, the control ports from FIRST_CONTROL_PORT.
# (Matched without their ";", which CMake reads as a list separator.)
string(REGEX MATCHALL "lv2:index [0-9]+" index_lines "${block}")
string(REGEX MATCHALL "lv2:index [0-9]+" control_index_lines "${control_ports}")
list(LENGTH index_lines num_ports)
list(LENGTH control_index_lines num_controls)
math(EXPR expected_ports "${FIRST_CONTROL_PORT} + ${num_controls}")
if(NOT num_ports EQUAL expected_ports)
    message(FATAL_ERROR "DescribeLv2Bundle: ${num_ports} ports described, the binary has ${expected_ports}")
endif()
math(EXPR last_port "${num_ports} - 1")
foreach(index RANGE 0 ${last_port})
    list(FIND index_lines "lv2:index ${index}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "DescribeLv2Bundle: no port has index ${index}")
    endif()
endforeach()
string(FIND "${block}" "\t\tlv2:index ${FIRST_CONTROL_PORT} ;\n\t\tlv2:symbol" first_control)
if(first_control EQUAL -1)
    message(FATAL_ERROR "DescribeLv2Bundle: port ${FIRST_CONTROL_PORT} is not the first control port")
endif()

# The parameters' property definitions sit before the plug-in's block.
string(REGEX REPLACE "plug:[A-Za-z0-9_]+\n\ta lv2:Parameter ;\n(\t[^\n]* ;\n)*\t[^\n]* \\.\n\n" "" before "${before}")
if(before MATCHES "lv2:Parameter")
    message(FATAL_ERROR "DescribeLv2Bundle: a parameter property is still defined in ${dsp}")
endif()

write_if_changed("${dsp}" "${dsp_text}" "${before}${block}${after}")

# ui.ttl: the editor reports its gestures through ui:touch when the host has it.
file(READ "${ui}" ui_text)
set(new_ui "${ui_text}")
replace_once(new_ui "\t\topts:options ;\n\n\topts:supportedOption" "\t\topts:options ,\n\t\tui:touch ;\n\n\topts:supportedOption"
             "the editor's optional features")
write_if_changed("${ui}" "${ui_text}" "${new_ui}")
