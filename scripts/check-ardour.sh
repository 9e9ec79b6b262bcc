#!/bin/bash
# check-ardour.sh -- checks the built LV2 and VST3 inside Ardour 7 (headless),
# on a mono and a stereo track, with tools/daw-check, and compares the DAW's
# bounces with tessamune-render sample for sample.  It builds nothing.
#
#   scripts/check-ardour.sh --lv2 BUNDLE.lv2 --vst3 BUNDLE.vst3 --render TESSAMUNE-RENDER
#                           [--old-lv2 BUNDLE.lv2] [--out DIR] [--only lv2|vst3|upgrade|downgrade]
#
# Needs: apt-get install ardour sox (Debian 12: Ardour 7.3).
# Two runs per format:
#   controls: chorus on, depth 0, speed 2.7, mix 4.1, mode Mono; an automation
#             lane takes depth from 0 to 10 a little after the middle (8 s signal)
#   values:   chorus off, depth 6.3, speed 10, mix 0.5, mode Stereo (3 s signal)
# Between them every parameter is saved and reloaded with a value other than
# its default.  Both settings give output that does not depend on the
# oscillator's phase, so the bounces can equal tessamune-render's exactly.
# With --old-lv2, the two runs are repeated as an upgrade: the session is made
# with the old bundle and reopened with --lv2 in its place (same URI); and as
# a downgrade: made with --lv2 and reopened with the old bundle, as a
# musician who goes back to the last release would.
#
# Prints the summary of every run and a table; exit status 0 when every check
# passed, 1 when one failed, 2 when a run could not be made.

set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DAWCHECK="$ROOT/tools/daw-check/daw-check.sh"

LV2="" VST3="" RENDER="" OLD_LV2="" OUT="$ROOT/build-ardour-check" ONLY=""
usage () { sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
while [ $# -gt 0 ]; do
	case "$1" in
		--lv2) LV2="$2"; shift 2 ;;
		--vst3) VST3="$2"; shift 2 ;;
		--render) RENDER="$2"; shift 2 ;;
		--old-lv2) OLD_LV2="$2"; shift 2 ;;
		--out) OUT="$2"; shift 2 ;;
		--only) ONLY="$2"; shift 2 ;;
		-h|--help) usage ;;
		*) echo "unknown argument $1" >&2; usage ;;
	esac
done
[ -n "$RENDER" ] && [ -x "$RENDER" ] || { echo "check-ardour: --render must name the tessamune-render binary" >&2; exit 2; }
[ -n "$LV2$VST3" ] || { echo "check-ardour: give --lv2 and/or --vst3" >&2; exit 2; }
for b in "$LV2" "$VST3" "$OLD_LV2"; do [ -z "$b" ] || [ -d "$b" ] || { echo "check-ardour: $b not found" >&2; exit 2; }; done
for t in ardour7-lua sox soxi; do command -v $t >/dev/null || { echo "check-ardour: $t missing (apt-get install ardour sox)" >&2; exit 2; }; done

RATE=48000
TAIL=0.5
mkdir -p "$OUT/signals"
OUT="$(realpath "$OUT")"
SIG="$OUT/signals"

# ------------------------------------------------------------ signals, references
# The test signals daw-check would make itself (440 Hz mono; 440/660 Hz stereo),
# made here so that tessamune-render can run on exactly the same samples.
# Ardour feeds the mono track into the plug-in's first input and silence into
# the second, and keeps the first output: the mono reference is the render of
# that stereo pair.
F32=(-b 32 -e floating-point)
make_signal () { # SECONDS NAME
	local nf tf
	nf=$(awk -v r=$RATE -v s="$1" 'BEGIN{printf "%d", r*s}')
	tf=$(awk -v r=$RATE -v s=$TAIL 'BEGIN{printf "%d", r*s}')
	sox -V1 -r $RATE -n "${F32[@]}" -c 1 "$SIG/$2-mono.wav" synth "${nf}s" sine 440 vol 0.5
	sox -V1 -r $RATE -n "${F32[@]}" -c 2 "$SIG/$2-stereo.wav" synth "${nf}s" sine 440 sine 660 vol 0.5
	sox -V1 "$SIG/$2-mono.wav" "$SIG/$2-mono-fed.wav" pad 0 "${tf}s" remix 1 0
	sox -V1 "$SIG/$2-stereo.wav" "$SIG/$2-stereo-fed.wav" pad 0 "${tf}s"
}
reference () { # NAME TAG renderer-options...
	local name="$1" tag="$2"; shift 2
	for track in mono stereo; do
		"$RENDER" "$SIG/$name-$track-fed.wav" "$SIG/ref-$tag-$track.wav" --block 1024 --quiet "$@" ||
			{ echo "check-ardour: tessamune-render failed ($*)" >&2; exit 2; }
	done
}
make_signal 8 long
make_signal 3 short
reference long controls --depth 0 --speed 2.7 --mix 4.1 --mode mono
reference short values --off --depth 6.3 --speed 10 --mix 0.5 --mode stereo

# ------------------------------------------------------------------ settings
# Ardour's units: the LV2 ports are in the plug-in's own units; the VST3's
# controls are normalised 0..1 (plain = 10 x normalised for the knobs).
NAMES=("Chorus" "Chorus Depth" "Chorus Speed" "Chorus Mix" "Processing Mode")
IDS=(chorus_on chorus_depth chorus_speed chorus_mix stereo_proc)
LV2_DEFAULTS=("Chorus=1" "Chorus Depth=0" "Chorus Speed=0" "Chorus Mix=10" "Processing Mode=Stereo")
VST3_DEFAULTS=("Chorus=1" "Chorus Depth=0" "Chorus Speed=0" "Chorus Mix=1" "Processing Mode=1")
LV2_CONTROLS=("Chorus Depth=0" "Chorus Speed=2.7" "Chorus Mix=4.1" "Processing Mode=0")
VST3_CONTROLS=("Chorus Depth=0" "Chorus Speed=0.27" "Chorus Mix=0.41" "Processing Mode=0")
LV2_VALUES=("Chorus=0" "Chorus Depth=6.3" "Chorus Speed=10" "Chorus Mix=0.5" "Processing Mode=1")
VST3_VALUES=("Chorus=0" "Chorus Depth=0.63" "Chorus Speed=1" "Chorus Mix=0.05" "Processing Mode=1")
state_map () { # scale of the knobs
	local i a=()
	for i in 0 1 2 3 4; do
		if [ "$i" -ge 1 ] && [ "$i" -le 3 ] && [ "$1" != 1 ]; then a+=(--state-map "${NAMES[$i]}=${IDS[$i]}*$1")
		else a+=(--state-map "${NAMES[$i]}=${IDS[$i]}"); fi
	done
	printf '%s\n' "${a[@]}"
}
# step at 204800 samples (4.27 s of 8): on an 8192-sample bounce chunk, a
# 1024-sample period and a tick of Ardour's musical time (12.5 samples at 120 bpm).
# On such a boundary Ardour 7.3 hands the VST3 the new value for the block that
# starts there, and LV2 control ports only from the next cycle on (Ardour's own
# a-delay too): the output must change at the step (VST3) or by the next
# boundary (LV2), and a plug-in that applied changes a block late would fail.
AUTO_AT=204800

RUNS=()   # name|exit status
run () { # NAME FORMAT PLUGIN SIGNAL REFTAG extra-args... -- settings...
	local name="$1" fmt="$2" plugin="$3" sig="$4" ref="$5"; shift 5
	local secs; secs=$([ "$sig" = long ] && echo 8 || echo 3)
	echo "---- $name"
	nice -n 5 "$DAWCHECK" --rate $RATE --seconds "$secs" --tail $TAIL --buffer 1024 \
		--input-mono "$SIG/$sig-mono.wav" --input-stereo "$SIG/$sig-stereo.wav" \
		--reference-mono "$SIG/ref-$ref-mono.wav" --reference-stereo "$SIG/ref-$ref-stereo.wav" \
		"$@" > "$OUT/$name.out" 2>&1
	local rc=$?
	cat "$OUT/$name.out"
	RUNS+=("$name|$rc")
}
daw () { # NAME FORMAT PLUGIN SIGNAL REFTAG [options...] -- [settings...]
	local name="$1" fmt="$2" plugin="$3" sig="$4" ref="$5"; shift 5
	local opts=() sets=()
	while [ $# -gt 0 ] && [ "$1" != -- ]; do opts+=("$1"); shift; done
	[ $# -gt 0 ] && shift
	sets=("$@")
	run "$name" "$fmt" "$plugin" "$sig" "$ref" "${opts[@]+"${opts[@]}"}" "$fmt" "$plugin" "$OUT/$name" "${sets[@]+"${sets[@]}"}"
}

want () { [ -z "$ONLY" ] || [ "$ONLY" = "$1" ]; }
if [ -n "$LV2" ] && want lv2; then
	mapfile -t SM < <(state_map 1)
	EXP=(); for e in "${LV2_DEFAULTS[@]}"; do EXP+=(--expect "$e"); done
	daw lv2-controls lv2 "$LV2" long controls "${EXP[@]}" "${SM[@]}" --automate "Chorus Depth=0,10" --automate-at $AUTO_AT --automate-cycles 1 -- "${LV2_CONTROLS[@]}"
	daw lv2-values lv2 "$LV2" short values "${SM[@]}" -- "${LV2_VALUES[@]}"
fi
if [ -n "$VST3" ] && want vst3; then
	mapfile -t SM < <(state_map 10)
	EXP=(); for e in "${VST3_DEFAULTS[@]}"; do EXP+=(--expect "$e"); done
	daw vst3-controls vst3 "$VST3" long controls "${EXP[@]}" "${SM[@]}" --automate "Chorus Depth=0,1" --automate-at $AUTO_AT --automate-cycles 0 -- "${VST3_CONTROLS[@]}"
	daw vst3-values vst3 "$VST3" short values "${SM[@]}" -- "${VST3_VALUES[@]}"
fi
if [ -n "$OLD_LV2" ] && [ -n "$LV2" ] && want upgrade; then
	# settings made with the old bundle, session reopened with the new one
	mapfile -t SM < <(state_map 1)
	daw upgrade-controls lv2 "$OLD_LV2" long controls "${SM[@]}" --reload-plugin "$LV2" -- "${LV2_CONTROLS[@]}"
	daw upgrade-values lv2 "$OLD_LV2" short values "${SM[@]}" --reload-plugin "$LV2" -- "${LV2_VALUES[@]}"
fi
if [ -n "$OLD_LV2" ] && [ -n "$LV2" ] && want downgrade; then
	# settings made with the new bundle, session reopened with the old one
	mapfile -t SM < <(state_map 1)
	daw downgrade-controls lv2 "$LV2" long controls "${SM[@]}" --reload-plugin "$OLD_LV2" -- "${LV2_CONTROLS[@]}"
	daw downgrade-values lv2 "$LV2" short values "${SM[@]}" --reload-plugin "$OLD_LV2" -- "${LV2_VALUES[@]}"
fi

# ------------------------------------------------------------------ table
# one cell per (format, track, check): FAIL if any line of that kind failed in
# either run, PASS if at least one passed, otherwise what was reported.
echo
echo "== Ardour $(ardour7-lua -V 2>/dev/null | awk '{print $NF; exit}'): checks by format and track (runs: controls + values)"
for r in "${RUNS[@]}"; do
	name="${r%|*}"; f="$OUT/$name/summary.txt"
	[ -f "$f" ] || continue
	awk -v run="$name" '
		/^(PASS|FAIL|WARN|INFO) / {
			v = $1; line = substr($0, 7); fmt = run; sub(/-.*/, "", fmt)
			check = ""
			if (line ~ /^insert (mono|stereo):/) check = "defaults after insert"
			else if (line ~ /^set (mono|stereo):/) check = "set in Ardour"
			else if (line ~ /^session (mono|stereo)[: ]/) check = "values in session file"
			else if (line ~ /^reload (mono|stereo):/) check = "Ardour value after reload"
			else if (line ~ /plug-in state .* (agrees|Ardour.s)/) check = "plug-in state = Ardour"
			else if (line ~ /plug-in state .* after reload|plug-in.s own state/) check = "plug-in state kept"
			else if (line ~ /^E-/) check = "automation lane"
			else if (line ~ /== .*sample for sample|differs from .*ref-|reference/) check = "== tessamune-render"
			else if (line ~ /enable\(false\)|deactivate\(\)/) check = "bypass"
			else if (line ~ /after reload (==|differs)/) check = "audio after reload"
			else next
			n = split("mono stereo", T, " ")
			for (i = 1; i <= n; i++) if (line ~ ("(^|[ -])" T[i] "[: ]") || line ~ ("-" T[i] " ") || line ~ ("-" T[i] "$")) print fmt "\t" T[i] "\t" check "\t" v
		}' "$f"
done | awk -F'\t' '
	{ k = $1 "\t" $2 "\t" $3; cols[$1 "/" $2] = 1; rows[$3] = 1
	  r = cell[k]; v = $4
	  if (r == "FAIL" || v == "FAIL") cell[k] = "FAIL"
	  else if (r == "PASS" || v == "PASS") cell[k] = "PASS"
	  else if (r == "WARN" || v == "WARN") cell[k] = "WARN"
	  else cell[k] = v }
	END {
		nc = 0; for (c in cols) C[++nc] = c
		for (i = 1; i <= nc; i++) for (j = i + 1; j <= nc; j++) if (C[j] < C[i]) { t = C[i]; C[i] = C[j]; C[j] = t }
		split("defaults after insert|set in Ardour|values in session file|Ardour value after reload|plug-in state = Ardour|plug-in state kept|automation lane|== tessamune-render|audio after reload|bypass", R, "|")
		printf "  %-26s", "check"; for (i = 1; i <= nc; i++) printf " %-16s", C[i]; printf "\n"
		for (j = 1; j <= 10; j++) {
			if (!(R[j] in rows)) continue
			printf "  %-26s", R[j]
			for (i = 1; i <= nc; i++) { split(C[i], fc, "/"); k = fc[1] "\t" fc[2] "\t" R[j]; printf " %-16s", (k in cell) ? cell[k] : "-" }
			printf "\n"
		}
	}'
echo
worst=0
for r in "${RUNS[@]}"; do
	name="${r%|*}"; rc="${r#*|}"
	printf '  %-18s %s\n' "$name" "$([ "$rc" = 0 ] && echo PASS || { [ "$rc" = 1 ] && echo FAIL || echo "ERROR ($rc)"; })"
	if [ "$rc" -gt "$worst" ]; then worst=$rc; fi
done
echo "  (summaries and logs under $OUT)"
[ "$worst" -le 2 ] || worst=2
exit "$worst"
