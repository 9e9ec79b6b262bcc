#!/bin/bash
# check-ardour-edges.sh -- two things a musician meets in Ardour 7 (headless),
# checked with the built LV2 and VST3.  It builds nothing.
#
#   scripts/check-ardour-edges.sh --lv2 BUNDLE.lv2 --vst3 BUNDLE.vst3 [--out DIR]
#                                 [--only lv2|vst3] [--toggles N]
#                                 [--vst3-presets DIR]
#
# Needs: apt-get install ardour sox (Debian 12: Ardour 7.3).
#   bypass:  a 0.5-amplitude 440 Hz sine plays through the plug-in (mix 5,
#            depth 5, speed 5) in real time on the dummy backend and is
#            recorded on a second track; Ardour's bypass of the plug-in
#            (PluginInsert enable(false)/enable(true): the LV2's lv2:enabled
#            port, the VST3's bypass parameter) is switched N times (default 6)
#            while it plays.  PASS when no sample-to-sample step near a switch
#            is larger than 1.01 x the largest step of the steady output.
#   persist: Depth is set to 6 and the plug-in runs; then, with Ardour's
#            engine stopped so that no audio is processed, Depth goes to 2 and
#            the session is saved.  A new ardour7-lua process opens it: PASS
#            when Ardour's control shows 2, the session file holds 2 and the
#            reloaded plug-in, after running, saves 2 in its own state.  The
#            value in the session file: the VST3's own state (its <chunk>);
#            for the LV2, Ardour's <Port> node, which Ardour hands to the port
#            on load.  Ardour 7.3 writes a value set on an LV2 control port
#            into the port's memory only at the plug-in's next run, so with no
#            run after the change the LV2's own saved state cannot hold it;
#            the summary shows what it holds.
#   presets: (VST3) a user preset is saved from Ardour, then the factory
#            preset Mono Swirl and the user preset are loaded through
#            Ardour's preset API, as choosing them in the plug-in window
#            does.  PASS when every load returns, Ardour's controls show the
#            preset's five values and the plug-in, after playing, saves them
#            in its own state.  The factory presets are taken from DIR
#            (default: vst3-presets in the bundle's build folder, else the
#            installed ones).
#
# Prints PASS/FAIL per check and format; exit status 0 when all passed,
# 1 otherwise.  Logs, recordings and sessions go to DIR (default
# build-ardour-edges); the sessions open in Ardour's GUI.

set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
LUA="$ROOT/scripts/ardour-edges.lua"
LUA_TOOL="${ARDOUR_LUA:-ardour7-lua}"
VST3_SCANNER="${ARDOUR_VST3_SCANNER:-/usr/lib/ardour7/ardour-vst3-scanner}"
ARDOUR_LIBDIR="${ARDOUR_LIBDIR:-/usr/lib/ardour7}"

LV2="" VST3="" OUT="$ROOT/build-ardour-edges" ONLY="" TOGGLES=6 VST3_PRESETS=""
usage () { sed -n '2,39p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
while [ $# -gt 0 ]; do
	case "$1" in
		--lv2) LV2="$2"; shift 2 ;;
		--vst3) VST3="$2"; shift 2 ;;
		--out) OUT="$2"; shift 2 ;;
		--only) ONLY="$2"; shift 2 ;;
		--toggles) TOGGLES="$2"; shift 2 ;;
		--vst3-presets) VST3_PRESETS="$2"; shift 2 ;;
		-h|--help) usage ;;
		*) echo "unknown argument $1" >&2; usage ;;
	esac
done
[ -n "$LV2$VST3" ] || { echo "check-ardour-edges: give --lv2 and/or --vst3" >&2; exit 2; }
for b in "$LV2" "$VST3"; do [ -z "$b" ] || [ -d "$b" ] || { echo "check-ardour-edges: $b not found" >&2; exit 2; }; done
for t in "$LUA_TOOL" sox; do command -v "$t" >/dev/null || { echo "check-ardour-edges: $t missing (apt-get install ardour sox)" >&2; exit 2; }; done
[ -n "$LV2" ] && LV2="$(realpath "$LV2")"
[ -n "$VST3" ] && VST3="$(realpath "$VST3")"

RATE=48000
BUFFER=1024
SECS=5
mkdir -p "$OUT" || exit 2
OUT="$(realpath "$OUT")"
rm -f "$OUT/retries.log"

# Ardour's units: LV2 ports are in the plug-in's own units, the VST3's
# controls are normalised 0..1 (plain = 10 x normalised for the knobs).
LV2_SETS=("Chorus Mix=5" "Chorus Depth=5" "Chorus Speed=5")
VST3_SETS=("Chorus Mix=0.5" "Chorus Depth=0.5" "Chorus Speed=0.5")
LV2_DEPTH=(before=6 value=2 scale=1)
VST3_DEPTH=(before=0.6 value=0.2 scale=10)

# A private Ardour config and cache per format, with only the bundle under test
# on the plug-in paths (see tools/daw-check/README.md, a-b).
setup_env () { # FORMAT BUNDLE -> sets ENVDIR, PID
	local fmt="$1" bundle="$2" s d
	ENVDIR="$OUT/$fmt/.ardour-env"
	rm -rf "$OUT/$fmt"
	mkdir -p "$ENVDIR/home" "$ENVDIR/cache" "$ENVDIR/config" "$ENVDIR/lv2" "$ENVDIR/vst3" "$OUT/$fmt/staging"
	for s in atom buf-size core data-access instance-access log midi options parameters patch port-groups port-props presets resize-port state time ui units urid worker; do
		for d in /usr/local/lib/lv2 /usr/lib/lv2; do
			if [ -d "$d/$s.lv2" ] && [ ! -e "$ENVDIR/lv2/$s.lv2" ]; then ln -s "$d/$s.lv2" "$ENVDIR/lv2/"; fi
		done
	done
	if [ "$fmt" = lv2 ]; then
		cp -a "$bundle" "$ENVDIR/lv2/"
		PID="$(tr '\n\t' '  ' < "$bundle/manifest.ttl" | grep -oE '<[^>]+>[[:space:]]+a[[:space:]]+lv2:Plugin' | head -1 | sed -E 's/^<([^>]+)>.*/\1/')"
		[ -n "$PID" ] || { echo "check-ardour-edges: no plug-in URI in $bundle/manifest.ttl" >&2; return 1; }
	else
		cp -a "$bundle" "$ENVDIR/vst3/"
		PID="$ENVDIR/vst3/$(basename "$bundle")/"
	fi
}
in_env () { # FORMAT command...
	local fmt="$1"; shift
	HOME="$ENVDIR/home" XDG_CONFIG_HOME="$ENVDIR/config" XDG_CACHE_HOME="$ENVDIR/cache" \
		LV2_PATH="$ENVDIR/lv2" VST3_PATH="$ENVDIR/vst3" "$@"
}
ardour () { # FORMAT PHASE LOG NEWDIR|- key=value...
	# NEWDIR: the session the phase creates, removed before each try.  Ardour
	# 7.3 has died by a signal in headless runs now and then (see
	# tools/daw-check/README.md, limitation 9): such a phase is run again,
	# up to twice, and the retry is logged.
	local fmt="$1" phase="$2" log="$3" fresh="$4"; shift 4
	local rc try
	for try in 1 2 3; do
		[ "$fresh" = - ] || rm -rf "$fresh"
		in_env "$fmt" timeout 300 nice -n 5 "$LUA_TOOL" "$LUA" "$phase" rate=$RATE buffer=$BUFFER ptype="$fmt" pid="$PID" "$@" > "$log" 2>&1
		rc=$?
		case $rc in 134|135|139) echo "[check-ardour-edges] $fmt $phase: ardour7-lua died by signal $((rc - 128)) (try $try)" | tee -a "$OUT/retries.log" ;; *) break ;; esac
	done
	echo "[check-ardour-edges] ardour7-lua exit status: $rc" >> "$log"
	return $rc
}
rec () { grep -h "^@@ $2"$'\t' "$1" 2>/dev/null | sed 's/^@@ //'; }  # LOG RECORD

RESULTS=()  # "format|check|PASS/FAIL|detail"
result () { RESULTS+=("$1|$2|$3|$4"); printf '%-4s %-5s %-8s %s\n' "$3" "$1" "$2" "$4"; }

# The VST3's presets in Ardour (the environment set up by check_format).
# Ardour's controls of the VST3 are normalised; the plug-in's state holds
# the knobs from 0 to 10 and the switches as 0 or 1.
PRESET_PARAMS="Chorus:chorus_on,Chorus Depth:chorus_depth,Chorus Speed:chorus_speed,Chorus Mix:chorus_mix,Processing Mode:stereo_proc"
PRESET_FACTORY="Mono Swirl"
PRESET_FACTORY_VALUES=(1 0.8 0.1 0.7 0)
PRESET_USER_SETS=("Chorus=0" "Chorus Depth=0.3" "Chorus Speed=0.7" "Chorus Mix=0.4" "Processing Mode=1")
PRESET_USER_VALUES=(0 0.3 0.7 0.4 1)
PRESET_STATE_SCALES=(1 10 10 10 1)
check_presets () { # DIR
	local dir="$1" src="" c
	for c in "$VST3_PRESETS" "$(dirname "$VST3")/../../../vst3-presets" "$HOME/.vst3/presets/Quorvellin/Tessamune" /usr/share/vst3/presets/Quorvellin/Tessamune; do
		if [ -n "$c" ] && [ -f "$c/$PRESET_FACTORY.vstpreset" ]; then src="$c"; break; fi
	done
	[ -n "$src" ] || { result vst3 presets FAIL "no factory presets found (give --vst3-presets DIR)"; return; }
	local pdir="$ENVDIR/home/.vst3/presets/Quorvellin/Tessamune"
	mkdir -p "$pdir" && cp "$src"/*.vstpreset "$pdir/"
	local setargs=() s log="$dir/presets.log"
	for s in "${PRESET_USER_SETS[@]}"; do setargs+=("set=$s"); done
	ardour vst3 preset "$log" "$dir/preset-session" dir="$dir/preset-session" name=edges \
		factory="$PRESET_FACTORY" user="Edges User" params="$PRESET_PARAMS" "${setargs[@]}"
	local rc=$? fatal; fatal="$(rec "$log" FATAL | cut -f2)"
	if [ $rc = 124 ]; then result vst3 presets FAIL "Ardour froze (no end within 300 s); see $log"; return; fi
	if [ -n "$fatal" ]; then result vst3 presets FAIL "$fatal; see $log"; return; fi
	local good=1 detail="" which i name id shown state want
	local -a names ids
	IFS=',' read -r -a pairs <<< "$PRESET_PARAMS"
	for i in "${!pairs[@]}"; do names[i]="${pairs[i]%%:*}"; ids[i]="${pairs[i]#*:}"; done
	near () { awk -v x="$1" -v y="$2" 'BEGIN { exit !(x != "" && x != "absent" && x - y < 1e-4 && y - x < 1e-4) }'; }
	for which in factory user; do
		[ "$(rec "$log" loaded | awk -F'\t' -v w="$which" '$2 == w {print $4; exit}')" = true ] || { good=0; detail="$detail $which: not loaded;"; }
		local bad=""
		for i in "${!names[@]}"; do
			name="${names[i]}"; id="${ids[i]}"
			if [ $which = factory ]; then want="${PRESET_FACTORY_VALUES[i]}"; else want="${PRESET_USER_VALUES[i]}"; fi
			shown="$(rec "$log" shown | awk -F'\t' -v w="$which" -v n="$name" '$2 == w && $3 == "later" && $4 == n {print $5; exit}')"
			state="$(rec "$log" played-state | awk -F'\t' -v w="$which" -v n="$id" '$2 == w && $3 == n {print $4; exit}')"
			near "$shown" "$want" || bad="$bad $name shown ${shown:-nothing} (wanted $want);"
			near "$state" "$(awk -v v="$want" -v s="${PRESET_STATE_SCALES[i]}" 'BEGIN{printf "%g", v * s}')" || bad="$bad $id in the state ${state:-nothing};"
		done
		[ -z "$bad" ] || { good=0; detail="$detail $which:$bad"; }
	done
	local times; times="$(rec "$log" loaded | awk -F'\t' '{printf "%s%s %s ms", (NR > 1 ? ", " : ""), $2, $5}')"
	if [ $good = 1 ]; then
		result vst3 presets PASS "$PRESET_FACTORY and a user preset loaded ($times); Ardour shows and the plug-in plays their values"
	else
		result vst3 presets FAIL "loads: $times;$detail see $log"
	fi
}

check_format () { # FORMAT BUNDLE
	local fmt="$1" bundle="$2" dir log sets depth
	setup_env "$fmt" "$bundle" || { result "$fmt" setup FAIL "no plug-in"; return; }
	dir="$OUT/$fmt"
	if [ "$fmt" = vst3 ]; then
		# luasession reads only Ardour's VST3 cache: index the bundle first
		in_env vst3 env LD_LIBRARY_PATH="$ARDOUR_LIBDIR" timeout 120 "$VST3_SCANNER" -f -v "$ENVDIR/vst3/$(basename "$bundle")" > "$dir/scan.log" 2>&1
		sets=("${VST3_SETS[@]}"); depth=("${VST3_DEPTH[@]}")
	else
		sets=("${LV2_SETS[@]}"); depth=("${LV2_DEPTH[@]}")
	fi

	# ---- bypass while playing
	local nf; nf=$((RATE * SECS))
	sox -V1 -r $RATE -n -b 32 -e floating-point -c 1 "$dir/staging/tone-L.wav" synth "${nf}s" sine 440 vol 0.5
	cp "$dir/staging/tone-L.wav" "$dir/staging/tone-R.wav"
	local setargs=() s
	for s in "${sets[@]}"; do setargs+=("set=$s"); done
	log="$dir/bypass.log"
	ardour "$fmt" bypass "$log" "$dir/bypass-session" dir="$dir/bypass-session" name=edges staging="$dir/staging" seconds=$SECS toggles="$TOGGLES" "${setargs[@]}"
	local steps fatal
	steps="$(rec "$log" steps)"
	fatal="$(rec "$log" FATAL | cut -f2)"
	if [ -z "$steps" ]; then
		result "$fmt" bypass FAIL "no measurement (${fatal:-see $log})"
	else
		local steady at where ratio n spans bypassed active
		IFS=$'\t' read -r _ steady at where ratio <<< "$steps"
		IFS=$'\t' read -r _ spans bypassed active <<< "$(rec "$log" spans)"
		n=$(rec "$log" switch | wc -l)
		local each; each="$(rec "$log" switchstep | awk -F'\t' '{printf "%s%s %s", (NR > 1 ? ", " : ""), $3, $5}')"
		local detail="$n switches: largest step near a switch $at (sample $where), steady $steady (x$ratio, allowed x1.01; each switch: $each); between switches the output differs from the tone by ${bypassed:-?} dBFS bypassed, ${active:-?} dBFS with the chorus"
		# the switches must have been heard: the dry tone while bypassed, the
		# chorus otherwise
		if [ "$n" -eq "$TOGGLES" ] && awk -v a="$at" -v s="$steady" -v b="$bypassed" -v c="$active" '
			BEGIN { exit !(s > 0 && a <= 1.01 * s && (b == "-inf" || b + 0 <= -90) && c != "-inf" && c + 0 > -40) }'; then
			result "$fmt" bypass PASS "$detail"
		else
			result "$fmt" bypass FAIL "$detail"
		fi
	fi

	[ "$fmt" = vst3 ] && check_presets "$dir"

	# ---- a change made while nothing is processed, saved, reopened
	local before value scale want_state
	before="${depth[0]#before=}"; value="${depth[1]#value=}"; scale="${depth[2]#scale=}"
	want_state=$(awk -v v="$value" -v s="$scale" 'BEGIN{printf "%g", v * s}')
	local common=(dir="$dir/persist-session" name=edges param="Chorus Depth" stateid=chorus_depth)
	ardour "$fmt" persist "$dir/persist.log" "$dir/persist-session" "${common[@]}" before="$before" value="$value"
	if [ -n "$(rec "$dir/persist.log" FATAL)" ] || [ "$(rec "$dir/persist.log" save | cut -f2)" != 0 ]; then
		result "$fmt" persist FAIL "the change or the save failed ($(rec "$dir/persist.log" FATAL | cut -f2)); see $dir/persist.log"
		return
	fi
	if [ "$(rec "$dir/persist.log" engine | cut -f3)" != false ]; then
		result "$fmt" persist FAIL "Ardour's engine did not stop; see $dir/persist.log"
		return
	fi
	ardour "$fmt" reload "$dir/reload.log" - "${common[@]}"
	local shown state port played
	shown="$(rec "$dir/reload.log" reloaded | cut -f3)"
	state="$(rec "$dir/reload.log" file-state | cut -f3)"
	port="$(rec "$dir/reload.log" file-port | cut -f2)"
	played="$(rec "$dir/reload.log" played-state | cut -f3)"
	near () { awk -v x="$1" -v y="$2" 'BEGIN { exit !(x != "" && x != "absent" && x - y < 1e-4 && y - x < 1e-4) }'; }
	local detail="Depth $before -> $value with the engine stopped, saved; reopened: Ardour shows ${shown:-nothing}, the plug-in's state in the session file holds ${state:-nothing}"
	[ "$fmt" = lv2 ] && detail="$detail, Ardour's <Port chorus_depth> ${port:-nothing}"
	detail="$detail; after playing the plug-in saves ${played:-nothing} (wanted: $value in Ardour, $want_state in the plug-in's state)"
	# Ardour 7.3 writes a value set on an LV2 control port into the port's
	# memory only at the plug-in's next run (LV2Plugin::set_parameter keeps a
	# shadow copy), so with no run after the change the LV2 cannot see it: the
	# session keeps it in Ardour's <Port> node, which Ardour hands to the port
	# on load.  A VST3 gets the value at once and must hold it in its state.
	local kept=1
	if [ "$fmt" = lv2 ]; then near "$port" "$value" || kept=0; else near "$state" "$want_state" || kept=0; fi
	if [ $kept = 1 ] && near "$shown" "$value" && near "$played" "$want_state"; then
		result "$fmt" persist PASS "$detail"
	else
		result "$fmt" persist FAIL "$detail"
	fi
}

echo "== Ardour $("$LUA_TOOL" -V 2>/dev/null | awk '{print $NF; exit}'): bypass while playing, presets (VST3), and a change saved with no audio processed"
[ -n "$LV2" ] && { [ -z "$ONLY" ] || [ "$ONLY" = lv2 ]; } && check_format lv2 "$LV2"
[ -n "$VST3" ] && { [ -z "$ONLY" ] || [ "$ONLY" = vst3 ]; } && check_format vst3 "$VST3"

echo
fails=0
for r in "${RESULTS[@]}"; do
	IFS='|' read -r f c v _ <<< "$r"
	printf '  %-5s %-8s %s\n' "$f" "$c" "$v"
	[ "$v" = PASS ] || fails=$((fails + 1))
done
echo "  (logs and sessions under $OUT)"
[ "$fails" -eq 0 ]
