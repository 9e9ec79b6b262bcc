#!/usr/bin/env bash
# Checks the packages that ./scripts/package.sh left in dist/ the way a
# musician meets them, on a fresh Debian 12 root made with debootstrap
# (minbase: nothing installed but apt and what it needs):
#
#   - apt installs ./dist/*.deb with their dependencies, and every ELF file
#     they hold finds its libraries;
#   - tessamune-render renders the demo, with its plot, before anything else
#     is installed (so its dependencies alone suffice);
#   - then, with no LV2_PATH or any other setting: lv2ls lists the plug-in,
#     jalv runs it on JACK's dummy backend, Ardour's plug-in scan finds the
#     LV2 and the VST3 (Ardour 7.3 headless, as its "Scan for Plugins" does:
#     Ardour's VST3 scanner over each bundle of its VST3 folders, then the
#     plug-in list of a new session), man shows tessamune-render's page, the
#     desktop entry passes desktop-file-validate and the AppStream file
#     appstreamcli validate;
#   - with a copy of each bundle also in ~/.lv2 and ~/.vst3, as
#     ./scripts/install.sh puts them: which one lilv and Ardour load, at the
#     same version, and when the per-user copy is newer or older;
#   - apt remove, then purge, leave none of the packages' files behind.
#
# Not part of the test command: it downloads a Debian base system and
# Ardour. Needs root (debootstrap and chroot) and the network to Debian's
# mirror. Prints PASS or FAIL per check and exits non-zero on any FAIL.
#
#   scripts/check-packages.sh [--dist DIR] [--out DIR] [--new-base]
#
#   --dist DIR    the packages to check (default dist/)
#   --out DIR     where the roots go (default build-package-check). The
#                 debootstrap result is kept there as base/ and copied afresh
#                 for each run, untouched; --new-base makes it again.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dist="$root/dist"
out="$root/build-package-check"
new_base=0
mirror=http://deb.debian.org/debian

while [[ $# -gt 0 ]]; do
    case $1 in
        --dist) dist=$(realpath "$2"); shift 2 ;;
        --out) out=$2; shift 2 ;;
        --new-base) new_base=1; shift ;;
        -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
    esac
done

if [[ $(id -u) -ne 0 ]]; then
    exec sudo "$0" --dist "$dist" --out "$out" $([[ $new_base -eq 1 ]] && echo --new-base)
fi

shopt -s nullglob
debs=("$dist"/*.deb)
if [[ ${#debs[@]} -eq 0 ]]; then
    echo "no packages in $dist: run ./scripts/package.sh first" >&2
    exit 2
fi

export DEBIAN_FRONTEND=noninteractive
if ! command -v debootstrap > /dev/null; then
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends debootstrap > /dev/null
fi

mkdir -p "$out"
out=$(realpath "$out")
base="$out/base"
chroot_dir="$out/root"

if [[ $new_base -eq 1 || ! -x "$base/usr/bin/apt-get" ]]; then
    echo "== debootstrap: a fresh Debian 12 (minbase) in $base"
    rm -rf "$base"
    debootstrap --variant=minbase bookworm "$base" "$mirror" > "$out/debootstrap.log" 2>&1 ||
        { tail -5 "$out/debootstrap.log" >&2; exit 2; }
fi

# Nothing is ever mounted inside these folders outside the private mount
# namespace below, so removing them touches nothing else.
rm -rf "$chroot_dir"
cp -a "$base" "$chroot_dir"
cat > "$chroot_dir/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
mkdir -p "$chroot_dir/tmp/debs"
cp "${debs[@]}" "$chroot_dir/tmp/debs/"

cat > "$chroot_dir/tmp/check.sh" <<'INSIDE'
#!/bin/bash
set -uo pipefail
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin
unset LV2_PATH VST3_PATH LADSPA_PATH
uri=https://quorvellin.com/plugins/tessamune
failures=0
pass() { echo "PASS $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
apt_get() { apt-get -o DPkg::Lock::Timeout=600 -o APT::Sandbox::User=root "$@"; }

apt_get update -qq
cd /tmp/debs
mapfile -t ours < <(for d in *.deb; do dpkg-deb -f "$d" Package; done)
dpkg-query -W -f '${Package}\n' | sort > /tmp/before.txt

# --- install -----------------------------------------------------------------
if apt_get install -y -q ./*.deb > /tmp/install.log 2>&1; then
    dpkg-query -W -f '${Package}\n' | sort | comm -13 /tmp/before.txt - > /tmp/added.txt
    pass "apt install ./dist/*.deb: ${ours[*]} with $(($(wc -l < /tmp/added.txt) - ${#ours[@]})) dependencies"
else
    tail -15 /tmp/install.log
    fail "apt install ./dist/*.deb"
    exit 1
fi
for p in "${ours[@]}"; do dpkg -L "$p"; done | sort -u > /tmp/files.txt
echo "     files: $(grep -c . /tmp/files.txt) paths; bundles: $(grep -E '^/usr/lib/(lv2|vst3)/[^/]+$' /tmp/files.txt | tr '\n' ' ')"

missing=$(while read -r f; do
              [[ -f $f && ! -L $f ]] && head -c 4 "$f" | grep -q ELF && ldd "$f" 2> /dev/null | grep 'not found' | sed "s|^|$f: |"
          done < /tmp/files.txt)
if [[ -z $missing ]]; then pass "every ELF file finds its libraries (ldd)"; else echo "$missing"; fail "libraries missing"; fi

# --- tessamune-render, with only the packages' own dependencies ---------------
mkdir -p /tmp/render
if tessamune-render /tmp/render/demo.wav --depth 10 --speed 6 --plot /tmp/render/demo.png > /tmp/render.log 2>&1 &&
   [[ -s /tmp/render/demo.wav && -s /tmp/render/demo.png ]]; then
    pass "tessamune-render renders the demo: $(tail -1 /tmp/render.log)"
else
    cat /tmp/render.log; fail "tessamune-render"
fi

# --- the hosts' and desktop's tools --------------------------------------------
if ! apt_get install -y -q --no-install-recommends lilv-utils jalv jackd2 ardour man-db \
        desktop-file-utils appstream > /tmp/tools.log 2>&1; then
    tail -15 /tmp/tools.log; fail "installing the checking tools"; exit 1
fi

if lv2ls | grep -qx "$uri"; then pass "lv2ls lists $uri"; else lv2ls; fail "lv2ls does not list $uri"; fi
lv2_bundle() { lv2info "$uri" 2> /dev/null | sed -n 's/^[[:space:]]*Bundle:[[:space:]]*//p' | head -1; }
echo "     lv2info: $(lv2info "$uri" | grep -m3 -E '^[[:space:]]*(Name|Bundle|Binary):' | sed -E 's/[[:space:]]+/ /g' | tr -d '\n')"

# jalv on JACK's dummy backend: the plug-in instantiated, its ports on the
# server, running until its input closes.
export JACK_DEFAULT_SERVER=check
jackd -n check --no-realtime -d dummy -r 48000 -p 256 > /tmp/jackd.log 2>&1 &
jackd_pid=$!
wait_port() { for _ in $(seq 100); do jack_lsp 2> /dev/null | grep -qx "$1" && return 0; sleep 0.1; done; return 1; }
if wait_port system:playback_1; then
    mkfifo /tmp/jalv.in
    jalv -n tessacheck -c chorus_depth=5 "$uri" < /tmp/jalv.in > /tmp/jalv.log 2>&1 &
    jalv_pid=$!
    exec 3> /tmp/jalv.in
    running=0
    wait_port tessacheck:audio_out_2 && sleep 1 && kill -0 "$jalv_pid" 2> /dev/null && running=1
    ports=$(jack_lsp | grep -c '^tessacheck:')
    exec 3>&-
    wait "$jalv_pid" 2> /dev/null
    if [[ $running -eq 1 ]] && grep -q '^chorus_depth = 5' /tmp/jalv.log; then
        pass "jalv runs it: $ports ports on JACK, $(grep -m1 '^chorus_depth' /tmp/jalv.log)"
    else
        cat /tmp/jalv.log; fail "jalv did not run the plug-in"
    fi
else
    cat /tmp/jackd.log; fail "JACK's dummy backend did not start"
fi
kill "$jackd_pid" 2> /dev/null; wait "$jackd_pid" 2> /dev/null

# Ardour 7.3 headless: its VST3 scanner over every bundle in its VST3 folders,
# as its "Scan for Plugins" runs it, then the plug-in list of a new session.
cat > /tmp/scan.lua <<'LUA'
AudioEngine:set_backend ("None (Dummy)", "", "")
assert (create_session ("/tmp/ardour-scan/session", "scan", 48000), "create_session failed")
for p in ARDOUR.LuaAPI.list_plugins ():iter () do
	if p.name:find ("Tessamune") then
		local t = p.type == ARDOUR.PluginType.LV2 and "LV2" or p.type == ARDOUR.PluginType.VST3 and "VST3" or "other"
		print ("@@", t, p.name, p.creator, p.category, p.unique_id, p.path, p.n_inputs:n_audio () .. " in", p.n_outputs:n_audio () .. " out")
		if t == "VST3" then vst3 = p.unique_id end
	end
end
-- The VST3 Ardour instantiates for the class ID (the one a project opens with).
if vst3 then
	local proc = ARDOUR.LuaAPI.new_plugin (Session, vst3, ARDOUR.PluginType.VST3, "")
	if not proc:isnil () then print ("@@", "loads", proc:to_insert ():plugin (0):get_info ().path) end
end
close_session ()
LUA
ardour_scan() {   # prints one @@ line per Tessamune plug-in Ardour lists
    rm -rf /tmp/ardour-scan; mkdir -p /tmp/ardour-scan
    export XDG_CONFIG_HOME=/tmp/ardour-scan/config XDG_CACHE_HOME=/tmp/ardour-scan/cache
    for dir in "$HOME/.vst3" /usr/local/lib/vst3 /usr/lib/vst3; do
        for b in "$dir"/*.vst3; do
            [[ -e $b ]] && LD_LIBRARY_PATH=/usr/lib/ardour7 timeout 300 /usr/lib/ardour7/ardour-vst3-scanner "$b" > /dev/null 2>&1
        done
    done
    timeout 600 ardour7-lua /tmp/scan.lua 2> /dev/null | grep '^@@'
    unset XDG_CONFIG_HOME XDG_CACHE_HOME
}
ardour_scan > /tmp/ardour.txt
sed 's/^@@/    /' /tmp/ardour.txt
if grep -qE '^@@[[:space:]]+LV2[[:space:]]+Tessamune' /tmp/ardour.txt && grep -qE '^@@[[:space:]]+VST3[[:space:]]+Tessamune' /tmp/ardour.txt; then
    pass "Ardour $(ardour7-lua -V 2> /dev/null | awk '{print $NF; exit}')'s scan finds the LV2 and the VST3"
else
    fail "Ardour's scan does not find both formats"
fi

page=$(man -P cat tessamune-render 2> /dev/null)
if grep -q 'run the Tessamune chorus over an audio file' <<< "$page"; then
    pass "man tessamune-render shows its page ($(wc -l <<< "$page") lines)"
else
    fail "man tessamune-render"
fi

desktop=$(grep '^/usr/share/applications/.*\.desktop$' /tmp/files.txt)
if [[ -n $desktop ]] && desktop-file-validate $desktop; then pass "desktop-file-validate $desktop"; else fail "desktop-file-validate ${desktop:-(no desktop entry)}"; fi
metainfo=$(grep '^/usr/share/metainfo/.*\.xml$' /tmp/files.txt)
if [[ -n $metainfo ]] && appstreamcli validate --no-net $metainfo; then pass "appstreamcli validate $metainfo"; else fail "appstreamcli validate ${metainfo:-(no metainfo)}"; fi
icons=$(grep -c '^/usr/share/icons/hicolor/.*\.png$' /tmp/files.txt)
echo "     icons: $(grep '^/usr/share/icons/hicolor/.*\.png$' /tmp/files.txt | cut -d/ -f6 | tr '\n' ' ')"

# --- the package and a per-user copy --------------------------------------------
lv2_system=$(grep -E '^/usr/lib/lv2/[^/]+\.lv2$' /tmp/files.txt)
vst3_system=$(grep -E '^/usr/lib/vst3/[^/]+\.vst3$' /tmp/files.txt)
mkdir -p "$HOME/.lv2" "$HOME/.vst3"
cp -a "$lv2_system" "$HOME/.lv2/"; cp -a "$vst3_system" "$HOME/.vst3/"
lv2_user="$HOME/.lv2/$(basename "$lv2_system")"
set_micro() {   # the per-user copy's lv2:microVersion
    grep -rl 'lv2:microVersion' "$lv2_user" | xargs sed -i -E "s/(lv2:microVersion) [0-9]+/\1 $1/"
}
micro=$(grep -rhoE 'lv2:microVersion [0-9]+' "$lv2_system" | head -1 | awk '{print $2}')
echo "     both installed, same version: lilv loads $(lv2_bundle)"
set_micro $((micro + 2)); echo "     per-user copy newer: lilv loads $(lv2_bundle)"
set_micro $((micro - 2)); echo "     per-user copy older: lilv loads $(lv2_bundle)"
set_micro "$micro"
echo "     lv2ls lists it $(lv2ls 2> /dev/null | grep -cx "$uri") time(s)"
ardour_scan > /tmp/ardour-both.txt
echo "     Ardour lists, with both installed:"
sed 's/^@@/      /' /tmp/ardour-both.txt
rm -rf "$lv2_user" "$HOME/.vst3/$(basename "$vst3_system")"

# --- remove, purge ---------------------------------------------------------------
# What is left of the packages' paths that no other package owns, and any
# trace of them in dpkg's database.
left_behind() {
    while read -r f; do
        [[ $f == /. ]] && continue
        [[ -e $f || -L $f ]] && ! dpkg -S "$f" > /dev/null 2>&1 && echo "$f"
    done < /tmp/files.txt
    dpkg -l "${ours[@]}" 2> /dev/null | grep -E '^[a-z][a-z]' | grep -v '^un'
}
for how in remove purge; do
    [[ $how == purge ]] && apt_get install -y -q /tmp/debs/*.deb > /tmp/reinstall.log 2>&1
    apt_get "$how" -y -q "${ours[@]}" > "/tmp/$how.log" 2>&1 || { tail -5 "/tmp/$how.log"; fail "apt $how"; }
    left=$(left_behind)
    if [[ -z $left ]]; then pass "apt $how leaves none of the packages' files and no package state"
    else echo "$left"; fail "apt $how left something"; fi
done

echo
if (( failures > 0 )); then echo "$failures check(s) failed"; exit 1; fi
echo "All checks passed"
INSIDE
chmod +x "$chroot_dir/tmp/check.sh"

# A private mount and PID namespace: /dev, /proc and a fresh /dev/shm for
# JACK inside the root, gone with every process started there when the
# check ends.
echo "== Checking $(printf '%s ' "${debs[@]##*/}")in a fresh Debian 12 root"
unshare --mount --pid --fork --propagation private bash -c '
    r=$1
    mount --rbind /dev "$r/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$r/dev/shm"
    mount -t proc proc "$r/proc"
    mount -t sysfs sysfs "$r/sys"
    exec chroot "$r" /tmp/check.sh' check "$chroot_dir"
