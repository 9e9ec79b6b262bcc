#!/usr/bin/env bash
# Checks the LV2 in Debian's Audacity (3.2.4) as a user would meet it: a scan
# with the bundle in ~/.lv2, then the effect applied through Audacity's
# scripting module (mod-script-pipe), with the exports compared sample for
# sample with tessamune-render at the same settings, and a screenshot of the
# plug-in's own window opened from Audacity's effect dialog.
#
# Not part of ./scripts/test.sh: Audacity is a large install. To run it:
#
#   ./scripts/check-audacity.sh --install       # once: apt-get the packages below
#   ./scripts/check-audacity.sh [--bundle DIR] [--render EXE] [--out DIR]
#
#   --bundle DIR   the Tessamune.lv2 to check
#                  (default build-release/Tessamune_artefacts/Release/LV2/Tessamune.lv2)
#   --render EXE   tessamune-render (default build-release/tools/render/tessamune-render)
#   --out DIR      where inputs, exports, references, logs and the screenshot go
#                  (default build-audacity-check; not under /tmp, see below)
#   --keep-going   try the effect even when the scan marked the plug-in invalid
#
# Packages: audacity xvfb xauth sox xdotool x11-apps x11-utils imagemagick
# python3 strace gcc iproute2 util-linux. A run takes about a minute on two
# cores (Audacity starts three times; the first start scans every plug-in on
# the machine). It prints PASS or FAIL for each case, and exits non-zero on
# any FAIL:
#   - the scan: the plug-in registry lists Tessamune with Enabled=1, Valid=1;
#   - a stereo and a mono 48 kHz float file imported, processed and exported
#     as 32-bit float, equal to tessamune-render's output bit for bit: with
#     no effect (Audacity's own round trip), at the defaults, and with mix 5
#     and Processing Mode Mono. Audacity 3.2.4 ignores name=value lists given
#     to an LV2 effect from scripting (it answers OK and keeps the current
#     settings; the check prints what it made of one), so that setting is a
#     user preset chosen with Use_Preset, as a preset saved in the effect
#     dialog would be;
#   - the effect dialog holds the plug-in's own window (screenshot). Debian's
#     Audacity 3.2.4 empties SUIL_MODULE_DIR, so suil cannot load its
#     X11-in-GTK3 wrapper and the dialog falls back to generic controls: the
#     check then prints HOST for that case (seen in an strace of Audacity) and
#     checks the dialog again with suil's folder put back (LD_PRELOAD).
#
# Audacity runs with a private HOME and XDG folders under the output folder,
# so nothing of the machine's own Audacity set-up is read or changed. Its
# scripting pipes have fixed names (/tmp/audacity_script_pipe.to.UID), so the
# Audacity part runs in its own mount and network namespaces (unshare; as a
# normal user through a user namespace) with a private /tmp and loopback
# network: several copies of this check, or another Audacity, can run at once.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bundle="$root/build-release/Tessamune_artefacts/Release/LV2/Tessamune.lv2"
render="$root/build-release/tools/render/tessamune-render"
out="$root/build-audacity-check"
keep_going=0
packages=(audacity xvfb xauth sox xdotool x11-apps x11-utils imagemagick python3 strace gcc iproute2 util-linux)

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; }

inside=0
while [[ $# -gt 0 ]]; do
    case $1 in
        --install)
            if [[ $(id -u) -eq 0 ]]; then sudo=(); else sudo=(sudo); fi
            "${sudo[@]}" apt-get update
            DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y "${packages[@]}"
            exit 0 ;;
        --bundle) bundle=$2; shift 2 ;;
        --render) render=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        --keep-going) keep_going=1; shift ;;
        --inside) inside=1; shift ;;
        -h|--help) usage; exit 0 ;;
        *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
    esac
done

# ---------------------------------------------------------------------------
# Outside the namespaces: check the tools, then start again inside them.
if [[ $inside -eq 0 ]]; then
    missing=()
    for tool in audacity Xvfb xdotool xwd xwininfo xprop convert sox python3 strace cc ip unshare; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    if [[ ${#missing[@]} -gt 0 ]]; then
        echo "missing: ${missing[*]}; run $0 --install (packages: ${packages[*]})" >&2
        exit 2
    fi
    bundle=$(realpath "$bundle"); render=$(realpath "$render")
    [[ -f $bundle/manifest.ttl ]] || { echo "no LV2 bundle at $bundle" >&2; exit 2; }
    [[ -x $render ]] || { echo "no tessamune-render at $render" >&2; exit 2; }
    mkdir -p "$out"; out=$(realpath "$out")
    case $out/ in
        /tmp/*) echo "--out must not be under /tmp: the check gives Audacity a private /tmp" >&2
                exit 2 ;;
    esac
    ns=(unshare --mount --net --fork)
    [[ $(id -u) -eq 0 ]] || ns=(unshare --map-root-user --mount --net --fork)
    inner=(--inside --bundle "$bundle" --render "$render" --out "$out")
    [[ $keep_going -eq 0 ]] || inner+=(--keep-going)
    exec "${ns[@]}" "$0" "${inner[@]}"
fi

# ---------------------------------------------------------------------------
# Inside: a private /tmp and loopback (Audacity's scan talks to its helper
# processes over 127.0.0.1), a virtual display, a private home.
run="$out/run"
rm -rf "$run"
rm -f "$out"/audacity-*.wav "$out"/render-*.wav "$out"/*.png "$out"/*-windows.txt \
      "$out"/pipe.log "$out"/registry-entry.txt
mkdir -p "$run/tmp" "$run/home" "$run/audio" "$run/audacity-temp"
chmod 1777 "$run/tmp"
mount --bind "$run/tmp" /tmp
ip link set lo up

results=()
failed=0
record() {   # record PASS|FAIL name [detail]
    local verdict=$1 name=$2 detail=${3:-}
    results+=("$verdict  $name${detail:+  ($detail)}")
    [[ $verdict == PASS ]] || failed=1
    echo "$verdict  $name${detail:+  ($detail)}"
}

# On exit, stop what this script started and is still running (its own
# background jobs: Xvfb, Audacity, strace).
cleanup() {
    local pid
    for pid in $(jobs -p); do kill "$pid" 2>/dev/null || true; done
    sleep 1
    for pid in $(jobs -p); do kill -9 "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

export DISPLAY=:1
Xvfb :1 -screen 0 1280x1024x24 -nolisten tcp >"$run/xvfb.log" 2>&1 &
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.2; done
xdotool getdisplaygeometry >/dev/null

home="$run/home"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
       XDG_CACHE_HOME="$home/.cache" XDG_STATE_HOME="$home/.local/state"
export NO_AT_BRIDGE=1
unset LV2_PATH
mkdir -p "$home/.lv2" "$XDG_CONFIG_HOME/audacity" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME"
cp -R "$bundle" "$home/.lv2/Tessamune.lv2"
uri=$(sed -n 's/^<\([^>]*\)>$/\1/p' "$bundle/manifest.ttl" | grep -v ':UI$' | head -n 1)
echo "bundle: $bundle"
echo "plug-in: $uri"

cfg="$XDG_CONFIG_HOME/audacity/audacity.cfg"
registry="$XDG_CONFIG_HOME/audacity/pluginregistry.cfg"

# Audacity loads a module only when the configuration records it, by path and
# modification time, as enabled; anything else counts as new and is skipped
# (lib-module-manager, ModuleSettings.cpp). WAV exports are 32-bit float, so
# that the comparison sees every bit the plug-in produced. The version entry
# keeps Audacity from resetting the GUI settings of an older profile, which
# would bring the welcome dialog back.
module=""
for dir in /usr/lib/audacity/modules /usr/lib/*/audacity/modules /usr/local/lib/audacity/modules; do
    [[ -f $dir/mod-script-pipe.so ]] && module=$dir/mod-script-pipe.so && break
done
[[ -n $module ]] || { echo "mod-script-pipe.so not found" >&2; exit 2; }
write_config() {   # write_config MODULE_STATUS
    cat >"$cfg" <<EOF
[Version]
Major=3
Minor=2
Micro=4
[GUI]
ShowSplashScreen=0
[Directories]
TempDir=$run/audacity-temp
[FileFormats/ExportFormat_SF1_Type]
WAV_10000=6
[Module]
mod-script-pipe=$1
[ModulePath]
mod-script-pipe=$module
[ModuleDateTime]
mod-script-pipe=$(date -r "$module" +%Y-%m-%dT%H:%M:%S)
EOF
}

audacity_pid=""
start_audacity() {   # start_audacity LOG
    audacity >"$1" 2>&1 &
    audacity_pid=$!
}
stop_audacity() {
    [[ -n $audacity_pid ]] || return 0
    kill "$audacity_pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$audacity_pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$audacity_pid" 2>/dev/null || true
    wait "$audacity_pid" 2>/dev/null || true
    audacity_pid=""
    # The check's projects are never saved: drop them, or the next start
    # would offer to recover them.
    find "$run/audacity-temp" -mindepth 1 -delete
    sed -i '/^\[ActiveProjects\]/,/^\[/{/^\[ActiveProjects\]/d;/^[^[]/d}' "$cfg"
}
main_window() { xdotool search --name '^Audacity$' 2>/dev/null | head -n 1; }

# The section of the plug-in registry whose Path is the plug-in's URI.
registry_section() {
    awk -v uri="$uri" '
        /^\[/ { if (found) exit; n = 0 }
        { buf[n++] = $0 }
        $0 == "Path=" uri { found = 1; for (i = 0; i < n; i++) print buf[i]; next }
        found { print }
    ' "$registry" 2>/dev/null
}
registry_value() {   # registry_value KEY
    registry_section | sed -n "s/^$1=//p" | head -n 1
}

# ---------------------------------------------------------------------------
# 1. Scan. Audacity checks every new plug-in at start-up, each in a helper
# process. Those helpers load the enabled modules too, and each copy of the
# scripting module recreates the pipes, which leaves the main process reading
# a deleted one. So the scan runs first without the module, as a first start
# would, and Audacity then starts again with it.
echo
echo "== Scan (first start of Audacity)"
write_config 0
start_audacity "$run/audacity-scan.log"
scanned=0
for _ in $(seq 900); do
    if [[ -s $registry ]] && grep -qxF "Path=$uri" "$registry" && [[ -n $(main_window) ]]; then
        scanned=1; break
    fi
    kill -0 "$audacity_pid" 2>/dev/null || break
    sleep 1
done
sleep 2
xwd -root -silent | convert xwd:- "$out/after-scan.png" 2>/dev/null || true
stop_audacity
registry_section >"$out/registry-entry.txt" || true
enabled=$(registry_value Enabled); valid=$(registry_value Valid)
if [[ $scanned -eq 1 && $enabled == 1 && $valid == 1 ]]; then
    record PASS "scan: registry lists Tessamune" "Enabled=1 Valid=1"
else
    record FAIL "scan: registry lists Tessamune" \
        "$( [[ $scanned -eq 1 ]] && echo "Enabled=$enabled Valid=$valid" || echo "not listed")"
fi
usable=0
[[ $scanned -eq 1 && $enabled == 1 && $valid == 1 ]] && usable=1

# ---------------------------------------------------------------------------
# 2. Inputs and references. Float WAV at 48 kHz: a stereo file whose channels
# differ, and a mono one.
audio="$run/audio"
sox -D -n -r 48000 -c 2 -e floating-point -b 32 "$audio/stereo.wav" \
    synth 4 sine 110-880 sawtooth 220-165 gain -9
sox -D -n -r 48000 -c 1 -e floating-point -b 32 "$audio/mono.wav" \
    synth 4 sine 180-1400 gain -6

# The plug-in's input control ports as the bundle describes them:
# symbol|name|default, one a line.
control_ports() {
    awk '
        /lv2:InputPort/ && /lv2:ControlPort/ { inport = 1; sym = ""; name = ""; def = ""; next }
        inport && /lv2:symbol/  { match($0, /"[^"]*"/); sym = substr($0, RSTART + 1, RLENGTH - 2) }
        inport && /lv2:name/    { match($0, /"[^"]*"/); name = substr($0, RSTART + 1, RLENGTH - 2) }
        inport && /lv2:default/ { def = $2 }
        inport && /^[ \t]*\]/   { print sym "|" name "|" def; inport = 0 }
    ' "$bundle/dsp.ttl"
}
# Audacity keeps an LV2's settings as "name"="value" pairs, one for every
# input control port (the framework's Free Wheeling and Enabled ports too),
# keyed by the port's name with spaces as underscores (LV2Effect::SaveSettings
# and LoadSettings, CommandParameters::NormalizeName).
audacity_settings() {   # audacity_settings [symbol=value ...]: the defaults, with these changed
    local symbol name default value override list=""
    while IFS='|' read -r symbol name default; do
        value=${default%.0}
        for override in "$@"; do
            [[ ${override%%=*} == "$symbol" ]] && value=${override#*=}
        done
        list+="${name// /_}=\"$value\" "
    done < <(control_ports)
    echo "${list% }"
}
echo
echo "Control ports (symbol|name|default):"
control_ports | sed 's/^/  /'

# Audacity 3.2.4 drops "name=value" lists given to an LV2 effect from
# scripting: Effect::LoadSettingsFromString takes the VisitSettings path,
# which Effect implements with an empty parameter table and LV2Effect does not
# override, so LV2Effect::LoadSettings is never called and the command still
# answers OK. Presets do reach the ports (Use_Preset -> LoadUserPreset ->
# LoadSettings). So the non-default setting is a user preset, stored as the
# effect dialog's "Save Preset" stores it, and chosen from scripting.
preset="check-mix5-mono"
mix5_mono=(chorus_mix=5 stereo_proc=0)

# name | input | channels | Audacity's effect command (empty: none) | tessamune-render options
cases=(
    "stereo file, no effect (host round trip)|stereo|2||"
    "mono file, no effect (host round trip)|mono|1||"
    "stereo file, defaults|stereo|2|Tessamune:|--depth 0 --speed 0 --mix 10 --mode stereo"
    "mono file, defaults|mono|1|Tessamune:|--depth 0 --speed 0 --mix 10 --mode stereo --mono-out"
    "stereo file, mix 5, Processing Mode Mono|stereo|2|Tessamune: Use_Preset=\"User Preset:$preset\"|--depth 0 --speed 0 --mix 5 --mode mono"
    "mono file, mix 5, Processing Mode Mono|mono|1|Tessamune: Use_Preset=\"User Preset:$preset\"|--depth 0 --speed 0 --mix 5 --mode mono --mono-out"
)

compare_wav() {   # compare_wav EXPORTED REFERENCE: exact equality of format and samples
    python3 - "$1" "$2" <<'EOF'
import struct, sys

def read_wav(path):
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise SystemExit(f"{path}: not a WAV file")
    pos, fmt, samples = 12, None, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        body = data[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            tag, channels, rate = struct.unpack_from("<HHI", body)
            bits = struct.unpack_from("<H", body, 14)[0]
            if tag == 0xFFFE:                      # WAVE_FORMAT_EXTENSIBLE
                tag = struct.unpack_from("<H", body, 24)[0]
            fmt = (tag, channels, rate, bits)
        elif cid == b"data":
            samples = body
        pos += 8 + size + (size & 1)
    if fmt is None or samples is None:
        raise SystemExit(f"{path}: no fmt or data chunk")
    return fmt, samples

def describe(fmt):
    kind = {1: "int", 3: "float"}.get(fmt[0], f"format {fmt[0]}")
    return f"{fmt[1]} ch, {fmt[2]} Hz, {fmt[3]}-bit {kind}"

(fa, a), (fb, b) = read_wav(sys.argv[1]), read_wav(sys.argv[2])
if fa != fb:
    print(f"formats differ: Audacity {describe(fa)}, reference {describe(fb)}")
    sys.exit(1)
if fa[0] != 3 or fa[3] != 32:
    print(f"not 32-bit float: {describe(fa)}")
    sys.exit(1)
frames_a, frames_b = len(a) // 4 // fa[1], len(b) // 4 // fb[1]
if a != b:
    n = min(len(a), len(b)) // 4
    xa, xb = struct.unpack(f"<{n}f", a[:4 * n]), struct.unpack(f"<{n}f", b[:4 * n])
    diff = [i for i in range(n) if a[4 * i:4 * i + 4] != b[4 * i:4 * i + 4]]
    worst = max((abs(xa[i] - xb[i]) for i in diff), default=0.0)
    first = f", first at frame {diff[0] // fa[1]}" if diff else ""
    print(f"{frames_a} vs {frames_b} frames, {len(diff)} samples differ{first}, largest difference {worst:.3g}")
    sys.exit(1)
print(f"{frames_a} frames x {fa[1]} ch identical, {describe(fa)}")
EOF
}

# ---------------------------------------------------------------------------
# 3. Audacity again, now with the scripting module: apply, export, compare.
echo
echo "== Through mod-script-pipe (second start of Audacity)"
write_config 1
# A shortcut for the effect's menu item, written as Audacity's keyboard
# preferences store it (under /NewKeys/ by command name, which is the
# plug-in's ID), to open its dialog for the screenshot.
shortcut="Ctrl+Shift+F9"
plugin_id=$(registry_section | sed -n '1s/^\[pluginregistry\/Effect\/base64\\:\(.*\)\]$/\1/p' | base64 -d 2>/dev/null || true)
if [[ -n $plugin_id ]]; then
    id_escaped=${plugin_id//:/\\:}
    printf '[NewKeys/%s]\n%s=%s\n' "${id_escaped%/*}" "${plugin_id##*/}" "$shortcut" >>"$cfg"
fi
# The preset, in the effect's private settings group (PluginManager::SettingsPath:
# type, family, vendor and symbol, base64-encoded; wxFileConfig escapes ':' and '=').
settings_id=$(printf 'Effect_%s_%s_%s' "$(registry_value EffectFamily)" "$(registry_value Vendor)" "$(registry_value Symbol)" | base64 -w0)
settings_id=${settings_id//=/\\=}
printf '[pluginsettings/base64\\:%s/private/UserPresets/%s]\nParameters=%s\n' \
    "$settings_id" "$preset" "$(audacity_settings "${mix5_mono[@]}")" \
    >>"$XDG_CONFIG_HOME/audacity/pluginsettings.cfg"

to_pipe="/tmp/audacity_script_pipe.to.$(id -u)"
from_pipe="/tmp/audacity_script_pipe.from.$(id -u)"
pipe_log="$out/pipe.log"
: >"$pipe_log"
main=""
pipe_dead=1

# Starts Audacity with the scripting module and connects to its pipes.
start_scripting() {   # start_scripting LOG
    exec 3>&- 4<&- 2>/dev/null || true
    rm -f "$to_pipe" "$from_pipe"
    start_audacity "$1"
    main=""
    for _ in $(seq 300); do
        main=$(main_window)
        [[ -p $to_pipe && -p $from_pipe && -n $main ]] && break
        kill -0 "$audacity_pid" 2>/dev/null || break
        sleep 0.5
    done
    [[ -p $to_pipe && -p $from_pipe && -n $main ]] || return 1
    sleep 2
    exec 3>"$to_pipe"
    exec 4<"$from_pipe"
    # A command sent right after start-up can stay unanswered until the next
    # one arrives; read up to the answer to a marked message, so that every
    # later answer belongs to its own command.
    local marker="ready-$$-$RANDOM" line synced=0
    printf 'Message: Text=%s\n' "$marker-1" "$marker-2" >&3
    while IFS= read -r -t 60 line <&4; do
        [[ $line == *"$marker-2"* ]] && synced=1
        if [[ $synced -eq 1 && $line == "BatchCommand finished: "* ]]; then
            IFS= read -r -t 5 line <&4 || true
            break
        fi
    done
    [[ $synced -eq 1 ]] || return 1
    pipe_dead=0
}

# Each command is one line; Audacity answers with lines ending in
# "BatchCommand finished: OK|Failed!" and an empty line.
reply=""
send() {   # send COMMAND [TIMEOUT]: 0 when Audacity answers OK; its answer is in $reply
    local line status=""
    printf '%s\n' "$1" >&3
    reply=""
    while IFS= read -r -t "${2:-120}" line <&4; do
        if [[ $line == "BatchCommand finished: "* ]]; then
            status=${line#BatchCommand finished: }
            IFS= read -r -t 5 line <&4 || true
            break
        fi
        reply+="$line"$'\n'
    done
    printf '>> %s\n%s<< %s\n' "$1" "$reply" "${status:-no answer}" >>"$pipe_log"
    [[ -n $status ]] || pipe_dead=1
    [[ $status == OK ]]
}

run_case() {   # run_case INPUT CHANNELS COMMAND EXPORTED: sets $detail on failure
    local input=$1 channels=$2 command=$3 exported=$4
    detail=""
    rm -f "$exported"
    if ! send "Import2: Filename=\"$audio/$input.wav\""; then
        detail="import failed: $(tr '\n' ' ' <<<"$reply")"
    elif ! send "SelectAll:"; then
        detail="select failed"
    elif [[ -n $command ]] && ! send "$command"; then
        detail="Audacity refused \"$command\": $(tr '\n' ' ' <<<"$reply")"
    elif ! send "Export2: Filename=\"$exported\" NumChannels=$channels"; then
        detail="export failed: $(tr '\n' ' ' <<<"$reply")"
    fi
    [[ $pipe_dead -eq 1 ]] || { send "SelectAll:"; send "RemoveTracks:"; } || true
    [[ -z $detail ]]
}

if ! start_scripting "$run/audacity.log"; then
    record FAIL "mod-script-pipe: Audacity answers through its pipes" "see $run/audacity.log"
fi

for entry in "${cases[@]}"; do
    IFS='|' read -r name input channels command options <<<"$entry"
    if [[ $pipe_dead -eq 1 ]]; then
        record FAIL "$name" "not run: Audacity does not answer"
        continue
    fi
    if [[ -n $command && $usable -eq 0 && $keep_going -eq 0 ]]; then
        record FAIL "$name" "not run: the scan did not accept the plug-in"
        continue
    fi
    slug=$(tr -c 'a-z0-9\n' '-' <<<"${name,,}" | tr -s '-' | sed 's/-$//')
    exported="$out/audacity-$slug.wav"
    reference="$out/render-$slug.wav"
    if [[ -n $command ]]; then
        # shellcheck disable=SC2086  # the options are words
        "$render" "$audio/$input.wav" "$reference" $options --quiet
    else
        cp "$audio/$input.wav" "$reference"
    fi
    if ! run_case "$input" "$channels" "$command" "$exported"; then
        record FAIL "$name" "$detail"
    elif verdict=$(compare_wav "$exported" "$reference"); then
        record PASS "$name" "$verdict"
    else
        record FAIL "$name" "$verdict"
    fi

    # Right after the defaults, while the effect's settings are still the
    # defaults: what Audacity makes of a name=value list (reported, not
    # judged; see above).
    if [[ $name == "mono file, defaults" && $usable -eq 1 && $pipe_dead -eq 0 ]]; then
        probe="Tessamune: $(audacity_settings "${mix5_mono[@]}" | tr -d '"')"
        probe_ref="$out/render-probe-mix-5-mono.wav"
        "$render" "$audio/mono.wav" "$probe_ref" --mix 5 --mode mono --mono-out --quiet
        if run_case mono 1 "$probe" "$out/audacity-named-parameters.wav"; then
            if compare_wav "$out/audacity-named-parameters.wav" "$probe_ref" >/dev/null; then
                verdict="applied: equals the mix 5, Mono render"
            elif compare_wav "$out/audacity-named-parameters.wav" "$reference" >/dev/null; then
                verdict="answered OK but ignored: equals the defaults render"
            else
                verdict="equals neither the defaults nor the mix 5, Mono render"
            fi
        else
            verdict=$detail
        fi
        echo "note: \"$probe\" -> $verdict"
    fi
done

# ---------------------------------------------------------------------------
# 4. The plug-in's own window in Audacity's effect dialog.
#
# The effect is opened with its shortcut and the dialog is found by its
# title. Under Xvfb, with no window manager, Audacity's dialogs stay unpainted
# until their size changes, so the size is nudged once. The plug-in's editor
# is an X window made over the plug-in's own display connection, inside the
# dialog: a window there whose X resource id has another client part (the bits
# above the low 21) than the dialog's is that editor.
open_dialog() {   # open_dialog PNG: 0 when the dialog holds the plug-in's own window
    local png=$1 w h child
    dialog=""; editor=""
    send "Import2: Filename=\"$audio/stereo.wav\"" && send "SelectAll:" || return 1
    xdotool windowfocus --sync "$main" 2>/dev/null || true
    local key=${shortcut,,}
    xdotool key --clearmodifiers "${key%+*}+${shortcut##*+}"
    for _ in $(seq 60); do
        dialog=$(xdotool search --onlyvisible --name '^Tessamune' 2>/dev/null | head -n 1 || true)
        [[ -n $dialog ]] && break
        sleep 0.5
    done
    if [[ -z $dialog ]]; then
        xwd -root -silent | convert xwd:- "$png"
        for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
            echo "$w \"$(xdotool getwindowname "$w")\" $(xwininfo -id "$w" | awk '/Width:|Height:/ {printf "%s ", $2}')"
        done >"${png%.png}-windows.txt"
        return 1
    fi
    sleep 3
    read -r w h < <(xwininfo -id "$dialog" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}')
    xdotool windowsize "$dialog" $((w + 1)) $((h + 1)); sleep 1
    xdotool windowsize "$dialog" "$w" "$h"; sleep 2
    xwd -id "$dialog" -silent | convert xwd:- "$png"
    xwd -root -silent | convert xwd:- "${png%.png}-screen.png"
    xwininfo -tree -id "$dialog" >"${png%.png}-windows.txt" 2>&1 || true
    for child in $(sed -n 's/^ *\(0x[0-9a-f]*\) .*/\1/p' "${png%.png}-windows.txt"); do
        if (( (child >> 21) != (dialog >> 21) )); then editor=$child; break; fi
    done
    # Close it (it is modal) so that Audacity takes commands again.
    xdotool windowfocus --sync "$dialog" 2>/dev/null || true
    xdotool key Escape
    sleep 1
    [[ -n $editor ]]
}
editor_size() { xwininfo -id "$1" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}'; }

echo
dialog_case="effect dialog shows the plug-in's own window"
shot="$out/tessamune-dialog.png"
rm -f "$out"/tessamune-dialog*.png
if [[ $usable -eq 0 || -z $plugin_id || $pipe_dead -eq 1 ]]; then
    record FAIL "$dialog_case" "not run"
else
    # Watch which files Audacity opens meanwhile: its LV2 support embeds an
    # editor of another toolkit through suil, which loads a wrapper module.
    strace_log="$run/dialog-strace.log"
    strace -f -e trace=openat -o "$strace_log" -p "$audacity_pid" 2>/dev/null &
    strace_pid=$!
    sleep 1
    open_dialog "$shot" && stock=1 || stock=0
    kill "$strace_pid" 2>/dev/null || true
    wait "$strace_pid" 2>/dev/null || true
    module_miss=$(grep 'libsuil_x11_in_gtk3.*ENOENT' "$strace_log" | grep -o '"[^"]*"' | head -n 1 | tr -d '"' || true)
    if [[ $stock -eq 1 ]]; then
        record PASS "$dialog_case" "$(editor_size "$editor") editor; $shot"
    elif [[ $module_miss == /libsuil* ]]; then
        # Debian's Audacity 3.2.4 sets SUIL_MODULE_DIR to an empty string
        # (its LV2 module does so with a build-time folder that is empty in
        # this build), so suil looks for /libsuil_x11_in_gtk3.so, no X11
        # editor of any plug-in can be embedded, and Audacity shows its
        # generic controls instead. That is the host's fault, not the
        # plug-in's: note it, and check the editor again with that one
        # setting put right.
        line="HOST  $dialog_case  (Audacity's generic controls: it looked for suil's X11-in-GTK3 wrapper at $module_miss; $shot)"
        echo "$line"
        results+=("$line")
        suil_dir=$(dirname "$(ls /usr/lib/*/suil-0/libsuil_x11_in_gtk3.so /usr/lib/suil-0/libsuil_x11_in_gtk3.so 2>/dev/null | head -n 1)")
        keep_env="$run/keep-suil-module-dir.so"
        cat >"$run/keep-suil-module-dir.c" <<'EOF'
/* Ignores an attempt to set SUIL_MODULE_DIR to an empty string while the
   environment already names the folder, so that suil finds its modules. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>
int setenv(const char *name, const char *value, int overwrite)
{
    static int (*next)(const char *, const char *, int);
    if (!next)
        next = (int (*)(const char *, const char *, int)) dlsym(RTLD_NEXT, "setenv");
    if (strcmp(name, "SUIL_MODULE_DIR") == 0 && value[0] == '\0' && getenv(name))
        return 0;
    return next(name, value, overwrite);
}
EOF
        shot="$out/tessamune-dialog-suil-fixed.png"
        if [[ $suil_dir == . ]] || ! cc -shared -fPIC -O2 -o "$keep_env" "$run/keep-suil-module-dir.c" -ldl; then
            record FAIL "$dialog_case, suil's module folder restored" "no suil wrapper module or no C compiler"
        else
            exec 3>&- 4<&-
            stop_audacity
            if ! LD_PRELOAD="$keep_env" SUIL_MODULE_DIR="$suil_dir" start_scripting "$run/audacity-suil.log"; then
                record FAIL "$dialog_case, suil's module folder restored" "Audacity does not answer"
            elif open_dialog "$shot"; then
                record PASS "$dialog_case, suil's module folder restored" "$(editor_size "$editor") editor; $shot"
            else
                record FAIL "$dialog_case, suil's module folder restored" "no editor window in the dialog; $shot"
            fi
        fi
    else
        if [[ -n $dialog ]]; then why="the dialog holds no window of the plug-in"; else why="no dialog opened"; fi
        record FAIL "$dialog_case" "$why; $shot"
    fi
fi

exec 3>&- 4<&- 2>/dev/null || true
stop_audacity

echo
echo "== Summary ($bundle)"
printf '%s\n' "${results[@]}"
echo "Output, logs and screenshots: $out"
exit "$failed"
