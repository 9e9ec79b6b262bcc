#!/usr/bin/env bash
# The Windows installer, run silently under Wine: it installs the VST3
# bundle into the system's VST3 folder, the factory presets (the same files,
# byte for byte, as the Linux build writes) into the folder where VST3 hosts
# look for all users' presets, and the application and the renderer into
# Program Files with a Start menu entry, lists an uninstaller among the
# installed programs, and the uninstaller, run silently, leaves no file and
# no registry entry of the product behind.
#
#   installer-check.sh SETUP.EXE PRESETS
#       PRESETS: the Linux build's vst3-presets folder. WINEPREFIX set up;
#       run it on a prefix where the product is not installed.
# Prints one line per check and "N passed, N failed".
set -euo pipefail

setup=$1
linux_presets=$2
: "${WINEPREFIX:?}"
drive="$WINEPREFIX/drive_c"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvellin Tessamune'
vst3="$drive/Program Files/Common Files/VST3/Tessamune.vst3"
app="$drive/Program Files/Quorvellin/Tessamune"
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Quorvellin/Tessamune.lnk"
presets_root="$drive/ProgramData/VST3 Presets"
presets="$presets_root/Quorvellin/Tessamune"

passed=0; failed=0
check() {   # description, then a command that must succeed
    local what=$1; shift
    if "$@" > /dev/null 2>&1; then passed=$((passed + 1)); echo "ok    $what"
    else failed=$((failed + 1)); echo "FAIL  $what"; fi
}
# The installed presets are the Linux build's, no file more or less, each
# the same bytes.
same_presets() {
    local bad=0 names
    names=$(cd "$linux_presets" && ls -- *.vstpreset)
    [[ -n "$names" ]] || { echo "no presets in $linux_presets"; return 1; }
    [[ "$(cd "$presets" && ls)" == "$names" ]] || { echo "the installed presets are not the same set"; bad=1; }
    while IFS= read -r name; do
        cmp -s "$linux_presets/$name" "$presets/$name" || { echo "$name differs"; bad=1; }
    done <<< "$names"
    return $bad
}
files() { (cd "$drive" && find . -path ./windows -prune -o -path ./users -prune -o -print | sort); }

wineserver -w
before=$(files)

wine "$(winepath -w "$setup" 2>/dev/null || echo "Z:${setup//\//\\}")" /S < /dev/null
wineserver -w

check "the VST3's module is in Common Files\\VST3" test -f "$vst3/Contents/x86_64-win/Tessamune.vst3"
check "the application is in Program Files\\Quorvellin\\Tessamune" test -f "$app/Tessamune.exe"
check "the renderer is beside it" test -f "$app/tessamune-render.exe"
check "the Start menu has an entry" test -f "$menu"
check "the factory presets are in ProgramData\\VST3 Presets\\Quorvellin\\Tessamune, as on Linux" same_presets
check "the uninstaller is listed among the installed programs" \
      sh -c "wine reg query '$key' /v UninstallString /reg:64 < /dev/null | grep -q 'Uninstall.exe'"
check "the installed renderer runs" sh -c "wine '$(winepath -w "$app/tessamune-render.exe")' --version < /dev/null | grep -q '^tessamune-render '"

wine "$(winepath -w "$app/Uninstall.exe")" /S < /dev/null
wineserver -w
# The uninstaller runs from a copy of itself in the temporary folder, which
# removes the original and exits; wait for it.
for _ in $(seq 50); do [[ -e "$app" ]] || break; sleep 0.2; done

after=$(files)
check "uninstalling removes the presets and the folders it made for them" test ! -e "$presets_root"
check "uninstalling leaves no file or folder behind" test "$before" == "$after"
if [[ "$before" != "$after" ]]; then diff <(echo "$before") <(echo "$after") || true; fi
check "uninstalling removes the installed programs' entry" \
      sh -c "! wine reg query '$key' /reg:64 < /dev/null"

echo "installer: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
