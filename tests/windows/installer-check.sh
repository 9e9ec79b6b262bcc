#!/usr/bin/env bash
# The Windows installer, run silently under Wine: it installs the VST3
# bundle into the system's VST3 folder and the application and the renderer
# into Program Files with a Start menu entry, lists an uninstaller among the
# installed programs, and the uninstaller, run silently, leaves no file and
# no registry entry of the product behind.
#
#   installer-check.sh SETUP.EXE     (WINEPREFIX set up; run it on a prefix
#                                      where the product is not installed)
# Prints one line per check and "N passed, N failed".
set -euo pipefail

setup=$1
: "${WINEPREFIX:?}"
drive="$WINEPREFIX/drive_c"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvellin Tessamune'
vst3="$drive/Program Files/Common Files/VST3/Tessamune.vst3"
app="$drive/Program Files/Quorvellin/Tessamune"
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Quorvellin/Tessamune.lnk"

passed=0; failed=0
check() {   # description, then a command that must succeed
    local what=$1; shift
    if "$@" > /dev/null 2>&1; then passed=$((passed + 1)); echo "ok    $what"
    else failed=$((failed + 1)); echo "FAIL  $what"; fi
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
check "the uninstaller is listed among the installed programs" \
      sh -c "wine reg query '$key' /v UninstallString /reg:64 < /dev/null | grep -q 'Uninstall.exe'"
check "the installed renderer runs" sh -c "wine '$(winepath -w "$app/tessamune-render.exe")' --version < /dev/null | grep -q '^tessamune-render '"

wine "$(winepath -w "$app/Uninstall.exe")" /S < /dev/null
wineserver -w
# The uninstaller runs from a copy of itself in the temporary folder, which
# removes the original and exits; wait for it.
for _ in $(seq 50); do [[ -e "$app" ]] || break; sleep 0.2; done

after=$(files)
check "uninstalling leaves no file or folder behind" test "$before" == "$after"
if [[ "$before" != "$after" ]]; then diff <(echo "$before") <(echo "$after") || true; fi
check "uninstalling removes the installed programs' entry" \
      sh -c "! wine reg query '$key' /reg:64 < /dev/null"

echo "installer: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
