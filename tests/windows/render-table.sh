#!/usr/bin/env bash
# The Windows renderer, run under Wine, must write the same samples, bit for
# bit, as the Linux renderer built from the same sources: the built-in demo,
# the same input read from FLAC and Ogg Vorbis files, and a table of
# settings over every routing (mono in and out, mono in and
# stereo out, stereo), both processing modes, the chorus off and the host
# bypass, at block sizes 1, 64 and 4096 and at 44.1 and 96 kHz.
#
#   render-table.sh LINUX_RENDERER WINDOWS_RENDERER WORK_DIR
# Needs sox (the inputs) and wine, with WINEPREFIX set up. Prints one line
# per case and "N passed, N failed"; exits non-zero on any difference.
set -euo pipefail

linux=$1; windows=$2; work=$3
mkdir -p "$work"
work=$(cd "$work" && pwd)

winpath() { echo "Z:${1//\//\\}"; }

passed=0; failed=0
compare() {   # name, then the renderer's arguments (input and output as {in} and {out})
    local name=$1; shift
    local linux_args=() windows_args=()
    for a in "$@"; do
        case "$a" in
            "{in}")  linux_args+=("$input"); windows_args+=("$(winpath "$input")") ;;
            "{out}") linux_args+=("$work/$name.linux.wav"); windows_args+=("$(winpath "$work/$name.windows.wav")") ;;
            *)       linux_args+=("$a"); windows_args+=("$a") ;;
        esac
    done
    rm -f "$work/$name".*.wav
    "$linux" --quiet "${linux_args[@]}"
    wine "$windows" --quiet "${windows_args[@]}" < /dev/null
    if [[ -s "$work/$name.linux.wav" ]] && cmp -s "$work/$name.linux.wav" "$work/$name.windows.wav"; then
        passed=$((passed + 1)); echo "same     $name"
    else
        failed=$((failed + 1)); echo "DIFFERS  $name"
    fi
}

# The demo, with the plug-in's defaults and deep and fast.
input=
compare demo-default "{out}"
compare demo-deep-fast --depth 10 --speed 6 "{out}"

# Inputs: plucked strings and noise, different on each channel.
for rate in 44100 96000; do
    sox -n -r $rate -c 1 -b 24 "$work/mono-$rate.wav" synth 1.5 pluck 220 pluck 330 : synth 1.5 pinknoise vol 0.3 2> /dev/null \
        || sox -n -r $rate -c 1 -b 24 "$work/mono-$rate.wav" synth 1.5 pluck 220 vol 0.8
    sox -n -r $rate -c 2 -b 24 "$work/stereo-$rate.wav" synth 1.5 pluck 196 pluck 294 vol 0.8
done

# Compressed inputs: the decoders must give the same samples too.
for format in flac ogg; do
    sox "$work/stereo-44100.wav" "$work/stereo-44100.$format"
    input="$work/stereo-44100.$format"
    compare "$format-input" "{in}" "{out}" --depth 4.5 --speed 3
done

i=0
for rate in 44100 96000; do
    for block in 1 64 4096; do
        for routing in mono-mono mono-stereo stereo-stereo; do
            for mode in mono stereo; do
                i=$((i + 1))
                case $routing in
                    mono-mono)     input="$work/mono-$rate.wav"; extra=(--mono-out) ;;
                    mono-stereo)   input="$work/mono-$rate.wav"; extra=() ;;
                    stereo-stereo) input="$work/stereo-$rate.wav"; extra=() ;;
                esac
                # The knobs move through their range from case to case.
                depth=$(( i % 10 )); speed=$(( (i * 7) % 10 )); mix=$(( 10 - i % 5 ))
                compare "$routing-$mode-$rate-b$block" "{in}" "{out}" --block $block --mode $mode \
                    --depth $depth.3 --speed $speed.7 --mix $mix "${extra[@]}"
            done
        done
        input="$work/stereo-$rate.wav"
        compare "off-$rate-b$block" "{in}" "{out}" --block $block --depth 7 --speed 3 --off
        compare "bypass-$rate-b$block" "{in}" "{out}" --block $block --depth 7 --speed 3 --bypass
    done
done

echo "render table: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
