#!/usr/bin/env bash
# Runs the built LV2 in two of Debian's hosts that know only control ports,
# lv2file and jalv (on JACK's dummy backend), sets depth, speed, mix and
# Processing Mode from their command lines, and compares what they output
# with tessamune-render's output at the same settings, sample for sample.
#
#   scripts/check-lv2-hosts.sh [BUILD_DIR]
#
# BUILD_DIR is a build folder with Tessamune_LV2 and tessamune-render built
# (default build-release, what ./scripts/install.sh builds). Installs the
# packages it needs first if they are missing: lv2file, jalv, jackd2,
# jack-tools (a file player and recorder for JACK) and sox.
#
# lv2file starts the plug-in with the file, so its output equals the
# renderer's at every setting. jalv runs the plug-in from its start, before
# the file reaches it, so the oscillator's phase when the file begins is
# unknown: there the exact comparisons are at depth 0, where the output does
# not depend on that phase, and a setting with depth must come out different
# from the same setting at depth 0. The recording is lined up with the
# renderer's output at their first non-silent frame.
#
# It runs for about half a minute, in real time (JACK's dummy backend keeps
# time). Prints one line per check; exits non-zero if any fails.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-release}" && pwd)
bundle="$build/Tessamune_artefacts/Release/LV2/Tessamune.lv2"
renderer="$build/tools/render/tessamune-render"
uri="https://quorvellin.com/plugins/tessamune"

for f in "$bundle/libTessamune.so" "$bundle/dsp.ttl" "$renderer"; do
    [[ -e "$f" ]] || { echo "missing $f: build Tessamune_LV2 and tessamune-render in $build first" >&2; exit 2; }
done

needed=()
for tool in lv2file:lv2file jalv:jalv jackd:jackd2 jack_lsp:jackd2 jack-play:jack-tools jack-record:jack-tools sox:sox; do
    command -v "${tool%%:*}" > /dev/null || needed+=("${tool##*:}")
done
if (( ${#needed[@]} > 0 )); then
    sudo=(); [[ $(id -u) -eq 0 ]] || sudo=(sudo)
    readarray -t packages < <(printf '%s\n' "${needed[@]}" | sort -u)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${packages[@]}" > /dev/null
fi

work=$(mktemp -d)
jackd_pid=""
cleanup() {
    [[ -n "$jackd_pid" ]] && kill "$jackd_pid" 2> /dev/null && wait "$jackd_pid" 2> /dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Only this bundle: an installed copy must not stand in for it.
mkdir -p "$work/lv2"
cp -R "$bundle" "$work/lv2/"
export LV2_PATH="$work/lv2"

failures=0
pass() { echo "PASS  $*"; }
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }

# Input: two seconds of a stereo and of a mono signal, 32-bit float, 48 kHz.
sox -n -r 48000 -c 2 -b 32 -e float "$work/stereo.wav" synth 2 sine 220 sine 331 synth 2 sine amod 3 vol 0.4
sox -n -r 48000 -c 1 -b 32 -e float "$work/mono.wav" synth 2 sine 277 synth 2 square amod 5 vol 0.4

frames_of() { soxi -s "$1" 2> /dev/null; }
raw_of() { sox "$1" -t f32 "$2" 2> /dev/null; }
# Index of the first frame (8 bytes: two float channels) that is not all zero.
first_sound() { od -An -v -tx4 -w8 "$1" | awk '$1 != "00000000" || $2 != "00000000" { print NR - 1; found = 1; exit } END { if (!found) print -1 }'; }

# same OUTPUT.wav REFERENCE.wav: OUTPUT, from its first sound on, begins with
# REFERENCE's frames from its first sound on, bit for bit (status 0); they
# differ (1); one of them is silent (2).
same() {
    raw_of "$1" "$work/a.raw"; raw_of "$2" "$work/b.raw"
    local a b frames
    a=$(first_sound "$work/a.raw"); b=$(first_sound "$work/b.raw")
    (( a >= 0 && b >= 0 )) || return 2
    frames=$(( $(frames_of "$2") - b ))
    cmp -s <(tail -c +$(( a * 8 + 1 )) "$work/a.raw" | head -c $(( frames * 8 ))) \
           <(tail -c +$(( b * 8 + 1 )) "$work/b.raw")
}

render() {   # render INPUT OUTPUT [renderer options]
    local input=$1 output=$2; shift 2
    "$renderer" "$input" "$output" --quiet "$@"
}

# --- lv2file ------------------------------------------------------------------
# Its parameter values are whole numbers (its syntax takes no decimal point).
lv2file_case() {   # label input "lv2file parameters" [renderer options...]
    local label=$1 input=$2 parameters=$3; shift 3
    local connect=()
    # A mono file feeds both plug-in inputs; the plug-in in Mono mode then
    # processes one channel into two, as the renderer does with a mono file.
    [[ $(soxi -c "$input") -eq 1 ]] && connect=(-c 1:audio_in_1 -c 1:audio_in_2)
    if ! lv2file "${connect[@]}" -i "$input" -o "$work/lv2file.wav" -p "$parameters" "$uri" > "$work/lv2file.log" 2>&1; then
        fail "lv2file, $label: $(tail -1 "$work/lv2file.log")"
        return
    fi
    render "$input" "$work/reference.wav" "$@"
    raw_of "$work/lv2file.wav" "$work/a.raw"; raw_of "$work/reference.wav" "$work/b.raw"
    if cmp -s "$work/a.raw" "$work/b.raw"; then
        pass "lv2file, $label: equals tessamune-render $*"
    else
        fail "lv2file, $label: differs from tessamune-render $*"
    fi
}

lv2file_case "depth 5, speed 3, mix 7" "$work/stereo.wav" chorus_depth:5,chorus_speed:3,chorus_mix:7 --depth 5 --speed 3 --mix 7
lv2file_case "depth 8, speed 6, mix 10, Mono" "$work/stereo.wav" chorus_depth:8,chorus_speed:6,chorus_mix:10,stereo_proc:0 \
             --depth 8 --speed 6 --mix 10 --mode mono
lv2file_case "chorus off" "$work/stereo.wav" chorus_on:0,chorus_depth:5 --off --depth 5
lv2file_case "mono file, depth 4, speed 2, mix 5" "$work/mono.wav" chorus_depth:4,chorus_speed:2,chorus_mix:5,stereo_proc:0 \
             --depth 4 --speed 2 --mix 5

# --- jalv on JACK's dummy backend --------------------------------------------
export JACK_DEFAULT_SERVER="tessamune-check-$$"
jackd -n "$JACK_DEFAULT_SERVER" --no-realtime -d dummy -r 48000 -p 256 > "$work/jackd.log" 2>&1 &
jackd_pid=$!

wait_for_port() {   # up to 10 s
    for _ in $(seq 100); do
        jack_lsp 2> /dev/null | grep -qx "$1" && return 0
        sleep 0.1
    done
    return 1
}
wait_for_port "system:playback_1" || { echo "JACK's dummy backend did not start: $(tail -3 "$work/jackd.log")" >&2; exit 1; }

# The player starts playing before its ports are connected and stops before
# it has played out its last buffer, so the file it plays carries half a
# second of silence before the signal and a second after it; only the
# signal's own length is compared.
sox "$work/stereo.wav" "$work/stereo-padded.wav" pad 0.5 1

# jalv_run OUTPUT.wav CONTROL...: the padded file through jalv, recorded.
jalv_run() {
    local output=$1; shift
    local controls=() c
    for c in "$@"; do controls+=(-c "$c"); done

    mkfifo "$work/jalv.in"
    jalv -x -n tessacheck "${controls[@]}" "$uri" < "$work/jalv.in" > "$work/jalv.log" 2>&1 &
    local jalv_pid=$!
    exec 3> "$work/jalv.in"   # jalv quits when its input closes

    wait_for_port "tessacheck:audio_out_2" || { exec 3>&-; wait "$jalv_pid" || true; rm -f "$work/jalv.in"; return 1; }

    rm -f "$output"
    jack-record -n 2 -f 0x10006 "$output" > "$work/record.log" 2>&1 &
    local record_pid=$!
    wait_for_port "jack-record-$record_pid:in_2"
    jack_connect tessacheck:audio_out_1 "jack-record-$record_pid:in_1"
    jack_connect tessacheck:audio_out_2 "jack-record-$record_pid:in_2"

    # Zero-order hold: at the server's own rate the player's resampler then
    # passes the samples unchanged.
    JACK_PLAY_CONNECT_TO="tessacheck:audio_in_%d" jack-play -u -c 3 "$work/stereo-padded.wav" > /dev/null 2>&1

    sleep 0.3
    kill -INT "$record_pid"; wait "$record_pid" || true
    exec 3>&-
    wait "$jalv_pid" || true
    rm -f "$work/jalv.in"
}

# jalv_accepted CONTROL...: jalv knew every control and set it.
jalv_accepted() {
    local c
    ! grep -q "Ignoring value" "$work/jalv.log" || return 1
    for c in "$@"; do
        grep -q "^${c%%=*} = $(printf '%f' "${c##*=}")\$" "$work/jalv.log" || return 1
    done
}

jalv_case() {   # label "renderer options" CONTROL...
    local label=$1 options=$2; shift 2
    if ! jalv_run "$work/jalv.wav" "$@"; then
        fail "jalv, $label: did not start ($(tail -1 "$work/jalv.log"))"
        return
    fi
    # shellcheck disable=SC2086
    render "$work/stereo.wav" "$work/reference.wav" $options
    if ! jalv_accepted "$@"; then
        fail "jalv, $label: did not take its controls ($(grep -m1 -i "ignor\|error" "$work/jalv.log" || true))"
    elif same "$work/jalv.wav" "$work/reference.wav"; then
        pass "jalv, $label: equals tessamune-render $options"
    else
        fail "jalv, $label: differs from tessamune-render $options"
    fi
}

jalv_case "depth 0, speed 7, mix 5, Mono" "--depth 0 --speed 7 --mix 5 --mode mono" \
          chorus_depth=0 chorus_speed=7 chorus_mix=5 stereo_proc=0
jalv_case "depth 0, mix 2.5, Stereo" "--depth 0 --mix 2.5" \
          chorus_depth=0 chorus_mix=2.5 stereo_proc=1
jalv_case "chorus off" "--off --depth 5 --speed 3" \
          chorus_on=0 chorus_depth=5 chorus_speed=3

# With depth the oscillator is heard: the output is no longer the depth-0 one.
if jalv_run "$work/jalv-depth.wav" chorus_depth=5 chorus_speed=3 chorus_mix=7 && jalv_accepted chorus_depth=5 chorus_speed=3 chorus_mix=7; then
    render "$work/stereo.wav" "$work/reference.wav" --depth 0 --speed 3 --mix 7
    status=0
    same "$work/jalv-depth.wav" "$work/reference.wav" || status=$?
    case $status in
        0) fail "jalv, depth 5, speed 3, mix 7: sounds like depth 0" ;;
        1) pass "jalv, depth 5, speed 3, mix 7: set, and the chorus moves" ;;
        *) fail "jalv, depth 5, speed 3, mix 7: nothing recorded" ;;
    esac
else
    fail "jalv, depth 5, speed 3, mix 7: did not take its controls"
fi

if (( failures > 0 )); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "All checks passed"
