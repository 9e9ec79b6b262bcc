#!/usr/bin/env bash
# The LV2 bundle in the small file-processing hosts Debian ships, which know
# audio and control ports only and offer a plug-in few features or none:
# lilv's lv2apply (blocks of one frame, no features), lv2proc, ecasound and
# lv2file. Each renders a stereo and a mono file with settings from its
# command line, and what it writes must equal tessamune-render's output at
# the same settings, sample for sample (the chorus's output does not depend
# on the block length). lv2_validate checks the bundle's description first.
# lv2file also lists the bundle's presets, which must be the renderer's, and
# applies one by name.
#
#   tests/host/debian-hosts.sh BUNDLE RENDERER
#
# Exits 0 if every check passes; prints one line per check.
set -uo pipefail

bundle=$1
renderer=$2
uri="https://quorvellin.com/plugins/tessamune"

for tool in lv2_validate sord_validate lv2apply lv2proc ecasound lv2file sox; do
    command -v "$tool" > /dev/null || { echo "missing $tool (./scripts/install-deps.sh --tests installs it)"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Only this bundle: an installed copy must not stand in for it.
mkdir -p "$work/lv2"
cp -R "$bundle" "$work/lv2/"
export LV2_PATH="$work/lv2"

failures=0
pass() { echo "PASS  $*"; }
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }

if (cd "$bundle" && lv2_validate manifest.ttl dsp.ttl ui.ttl presets.ttl) > "$work/validate.log" 2>&1 \
   && grep -q "Found 0 errors" "$work/validate.log"; then
    pass "lv2_validate: no error"
else
    fail "lv2_validate: $(grep -v '^Skipping' "$work/validate.log" | tail -5 | tr '\n' ' ')"
fi

sox -n -r 48000 -c 2 -b 32 -e float "$work/stereo.wav" synth 1 sine 220 sine 331 synth 1 sine amod 3 vol 0.4
sox -n -r 48000 -c 1 -b 32 -e float "$work/mono.wav" synth 1 sine 277 synth 1 square amod 5 vol 0.4

# same OUTPUT REFERENCE: the same samples, as 32-bit floats.
same() {
    sox "$1" -t f32 "$work/a.raw" 2> /dev/null && sox "$2" -t f32 "$work/b.raw" 2> /dev/null \
        && [[ -s "$work/b.raw" ]] && cmp -s "$work/a.raw" "$work/b.raw"
}

# check LABEL INPUT "renderer options" COMMAND...: COMMAND writes $work/out.wav.
check() {
    local label=$1 input=$2 options=$3; shift 3
    rm -f "$work/out.wav"
    if ! "$@" > "$work/host.log" 2>&1 || [[ ! -s "$work/out.wav" ]]; then
        fail "$label: $(tail -2 "$work/host.log" | tr '\n' ' ')"
        return
    fi
    # The options as a shell reads them, so that a preset's name may be
    # written with its spaces escaped.
    eval "\"\$renderer\" \"\$input\" \"\$work/reference.wav\" --quiet $options"
    if same "$work/out.wav" "$work/reference.wav"; then
        pass "$label: equals tessamune-render $options"
    else
        fail "$label: differs from tessamune-render $options"
    fi
}

stereo=$work/stereo.wav mono=$work/mono.wav out=$work/out.wav

# lv2apply feeds a mono file to both inputs; in Mono mode the plug-in then
# processes one channel into two, as the renderer does with a mono file.
check "lv2apply, stereo" "$stereo" "--depth 5 --speed 3 --mix 7" \
      lv2apply -i "$stereo" -o "$out" -c chorus_depth 5 -c chorus_speed 3 -c chorus_mix 7 "$uri"
check "lv2apply, mono, Mono mode" "$mono" "--depth 4 --speed 2 --mix 5 --mode mono" \
      lv2apply -i "$mono" -o "$out" -c chorus_depth 4 -c chorus_speed 2 -c chorus_mix 5 -c stereo_proc 0 "$uri"
check "lv2apply, chorus off" "$stereo" "--off --depth 5" \
      lv2apply -i "$stereo" -o "$out" -c chorus_on 0 -c chorus_depth 5 "$uri"

check "lv2proc, stereo" "$stereo" "--depth 8 --speed 6 --mode mono" \
      lv2proc -i "$stereo" -o "$out" -c chorus_depth:8 -c chorus_speed:6 -c stereo_proc:0 "$uri"

# ecasound takes the control ports in index order, outputs included: the
# two unused ports, latency, free-wheeling, enabled, then the parameters.
check "ecasound, stereo" "$stereo" "--depth 5 --speed 3 --mix 7" \
      ecasound -q -f:f32,2,48000 -i "$stereo" -o "$out" -elv2:"$uri",0,0,0,0,1,1,5,3,7,1

check "lv2file, stereo" "$stereo" "--depth 6 --speed 2 --mix 9" \
      lv2file -i "$stereo" -o "$out" -p chorus_depth:6,chorus_speed:2,chorus_mix:9 "$uri"

listed=$(lv2file --list-presets "$uri" 2>&1 | sed -n 's/^Preset: //p' | sort)
known=$("$renderer" --list-presets | sort)
if [[ -n "$known" && "$listed" == "$known" ]]; then
    pass "lv2file --list-presets: the renderer's presets"
else
    fail "lv2file --list-presets: $(echo "$listed" | tr '\n' ',') against $(echo "$known" | tr '\n' ',')"
fi

check "lv2file, stereo, a preset" "$stereo" "--preset Slow\ Deep\ Sweep" \
      lv2file -i "$stereo" -o "$out" --preset "Slow Deep Sweep" "$uri"
check "lv2file, stereo, a Mono-mode preset" "$stereo" "--preset Mono\ Swirl" \
      lv2file -i "$stereo" -o "$out" --preset "Mono Swirl" "$uri"

exit $(( failures > 0 ))
