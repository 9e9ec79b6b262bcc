#!/usr/bin/env bash
# Builds Tessamune for 64-bit Windows (./scripts/build-windows.sh) and proves
# it under Wine, on a virtual display: every module and program imports only
# Windows' own DLLs and carries its version resource; the installer installs
# and uninstalls silently and leaves nothing behind; the renderer writes the
# same samples as the Linux one; a VST3 host of ours loads the installed
# VST3, processes audio bit for bit as the renderer does, sets and reads
# every parameter, opens and closes the editor at 100% and 200%, and
# exchanges saved states with the Linux VST3 both ways; pluginval passes at
# strictness 10. Exits non-zero if any check fails. Installs the packages it
# needs first (root or sudo).
#
#   TESSAMUNE_TEST_BUILD_DIR   the Linux build compared against (default
#                              build-test, configured as scripts/test.sh does)
#   TESSAMUNE_PLUGINVAL        a pluginval.exe (1.0.3) built for Windows; by
#                              default one kept in the cache
#                              (TESSAMUNE_CACHE/windows/pluginval-1.0.3-*/)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
linux="${TESSAMUNE_TEST_BUILD_DIR:-$root/build-test}"
windows="${TESSAMUNE_WINDOWS_BUILD_DIR:-$root/build-windows}"
dist="$root/dist/windows"
work="$windows/checks"

if [[ "${1:-}" != "--checks" ]]; then
    start=$SECONDS
    "$root/scripts/build-windows.sh"
    # The Windows side of our VST3 host.
    nice -n 10 cmake --build "$windows" --parallel "$(nproc)" --target tessamune-host-check
    built=$SECONDS

    if [[ $(id -u) -eq 0 ]]; then sudo=(); else sudo=(sudo); fi
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        wine wine64 xvfb xauth x11-utils imagemagick sox python3-pefile > /dev/null

    echo "== The Linux build to compare with ($linux)"
    mkdir -p "$linux"
    cmake -S "$root" -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DTESSAMUNE_BUILD_TESTS=ON -DTESSAMUNE_BUILD_BENCH=ON -DTESSAMUNE_BUILD_TOOLS=ON \
          -DTESSAMUNE_BUILD_HOST_CHECK=ON > "$linux/host-check-configure.log" 2>&1 || { cat "$linux/host-check-configure.log"; exit 1; }
    nice -n 10 cmake --build "$linux" --parallel "$(nproc)" --target tessamune-render Tessamune_VST3 tessamune-host-check

    status=0
    xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --checks || status=$?
    echo "Windows: build $(( (built - start) / 60 )) min $(( (built - start) % 60 )) s," \
         "checks $(( (SECONDS - built) / 60 )) min $(( (SECONDS - built) % 60 )) s"
    exit $status
fi

# --- The checks, on the virtual display ---------------------------------------
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$windows/CMakeCache.txt")
cache=$(sed -n 's/^TESSAMUNE_WINDOWS_DEPS:[A-Z]*=//p' "$windows/CMakeCache.txt")
cache=$(dirname "$cache")
rm -rf "$work"
mkdir -p "$work"

export WINEPREFIX="$work/wine" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine wineboot --init > "$work/wineboot.log" 2>&1
wineserver -w

passed=0; failed=0
result() {   # name, status
    if [[ $2 -eq 0 ]]; then passed=$((passed + 1)); echo "PASS  $1"
    else failed=$((failed + 1)); echo "FAIL  $1"; fi
}
run() {   # name, command...
    local name=$1; shift
    echo "== $name"
    local status=0
    "$@" || status=$?
    result "$name" $status
}
winpath() { echo "Z:${1//\//\\}"; }

only_system_dlls() {
    # Windows' own DLLs, as the binaries may import them.
    local system
    system=" $(echo advapi32 bcrypt comctl32 comdlg32 crypt32 dwmapi dxgi gdi32 imm32 kernel32 msvcrt ole32 \
                    oleaut32 opengl32 rpcrt4 setupapi shell32 shlwapi user32 uxtheme version winhttp wininet \
                    winmm ws2_32 wsock32) "
    local bad=0
    while IFS= read -r -d '' f; do
        for dll in $(x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
            if [[ "$system" != *" ${dll%.dll} "* ]]; then
                echo "$f imports $dll"; bad=1
            fi
        done
        echo "$(basename "$f"): $(x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')"
    done < <(find "$dist" \( -name '*.exe' -o -type f -name '*.vst3' \) -print0)
    return $bad
}
run "imports: only Windows' own DLLs" only_system_dlls

run "version resources" /usr/bin/python3 "$root/tests/windows/version-info.py" "$version" \
    "$dist/Tessamune.vst3/Contents/x86_64-win/Tessamune.vst3" \
    "$dist/Tessamune.exe" --icon "$dist/tessamune-render.exe" --icon

setup="$dist/Tessamune-$version-x64-setup.exe"
run "installer: silent install and uninstall" "$root/tests/windows/installer-check.sh" "$setup" "$linux/vst3-presets"

run "renderer: bit for bit as on Linux" "$root/tests/windows/render-table.sh" \
    "$linux/tools/render/tessamune-render" "$dist/tessamune-render.exe" "$work/render"

# The product installed for the remaining checks.
wine "$(winepath "$setup")" /S < /dev/null
wineserver -w
# The framework's Windows host finds a VST3 by its module inside the bundle.
vst3='C:\Program Files\Common Files\VST3\Tessamune.vst3\Contents\x86_64-win\Tessamune.vst3'
host="$windows/tests/windows/tessamune-host-check.exe"
linux_host="$linux/tests/windows/tessamune-host-check"
linux_vst3="$linux/Tessamune_artefacts/Release/VST3/Tessamune.vst3"

host_processing() {
    local input="$work/render/stereo-44100.wav" mono="$work/render/mono-96000.wav" bad=0
    local cases=(
        "$input|64|--depth 7.3 --speed 2.4 --mix 8|Chorus Depth=7.3|Chorus Speed=2.4|Chorus Mix=8"
        "$input|4096|--depth 10 --speed 10 --mode mono|Chorus Depth=10|Chorus Speed=10|Processing Mode=0"
        "$mono|1|--depth 3 --speed 6.1|Chorus Depth=3|Chorus Speed=6.1"
        "$input|512|--depth 5 --off|Chorus Depth=5|Chorus=0"
    )
    local i=0
    for c in "${cases[@]}"; do
        i=$((i + 1))
        IFS='|' read -r -a f <<< "$c"
        local in=${f[0]} block=${f[1]} options=${f[2]}
        # shellcheck disable=SC2086
        "$linux/tools/render/tessamune-render" --quiet "$in" "$work/host-$i.render.wav" --block "$block" $options
        wine "$host" process "$vst3" "$(winpath "$in")" "$(winpath "$work/host-$i.host.wav")" "$block" "${f[@]:3}" < /dev/null
        if cmp -s "$work/host-$i.render.wav" "$work/host-$i.host.wav"; then echo "same     case $i ($options, blocks of $block)"
        else echo "DIFFERS  case $i ($options, blocks of $block)"; bad=1; fi
    done
    return $bad
}
run "host: the installed VST3 processes as the renderer does" host_processing
run "host: every parameter reads back what it takes" wine "$host" parameters "$vst3"
run "host: the editor at 100%" wine "$host" editor "$vst3" 1
run "host: the editor at 200%" wine "$host" editor "$vst3" 2

state_round_trip() {
    local settings=("Chorus Depth=6.4" "Chorus Speed=1.7" "Chorus Mix=3.5" "Processing Mode=0" "Chorus=0")
    "$linux_host" save "$linux_vst3" "$work/linux.state" "${settings[@]}" > "$work/linux-saved.txt"
    wine "$host" save "$vst3" "$(winpath "$work/windows.state")" "${settings[@]}" < /dev/null | tr -d '\r' > "$work/windows-saved.txt"
    wine "$host" load "$vst3" "$(winpath "$work/linux.state")" < /dev/null | tr -d '\r' > "$work/windows-loaded.txt"
    "$linux_host" load "$linux_vst3" "$work/windows.state" > "$work/linux-loaded.txt"
    local bad=0
    echo "saved on Linux:"; sed 's/^/  /' "$work/linux-saved.txt"
    cmp -s "$work/linux.state" "$work/windows.state" && echo "the two VST3s save the same bytes" \
        || { echo "the saved states differ"; bad=1; }
    cmp -s "$work/linux-saved.txt" "$work/windows-loaded.txt" && echo "the Windows VST3 restores the Linux state" \
        || { echo "the Windows VST3 restores the Linux state as:"; cat "$work/windows-loaded.txt"; bad=1; }
    cmp -s "$work/windows-saved.txt" "$work/linux-loaded.txt" && echo "the Linux VST3 restores the Windows state" \
        || { echo "the Linux VST3 restores the Windows state as:"; cat "$work/linux-loaded.txt"; bad=1; }
    return $bad
}
run "state: saved on Linux, restored on Windows, and the other way round" state_round_trip

# pluginval is not packaged in Debian, and the project does not build it:
# a pluginval.exe built for Windows is taken from TESSAMUNE_PLUGINVAL, or
# from the machine's cache, where one was kept.
pluginval=${TESSAMUNE_PLUGINVAL:-$(ls "$cache"/pluginval-1.0.3-*/pluginval.exe 2>/dev/null | head -1 || true)}
if [[ -n "$pluginval" && -f "$pluginval" ]]; then
    run "pluginval 1.0.3 at strictness 10" wine "$pluginval" --strictness-level 10 --timeout-ms 300000 \
        --output-dir "$(winpath "$work/pluginval")" "$vst3"
else
    echo "SKIP  pluginval: no pluginval.exe in $cache, and TESSAMUNE_PLUGINVAL names none"
fi

run "the application opens and shows the panel" "$root/tests/windows/standalone-check.sh" \
    'C:\Program Files\Quorvellin\Tessamune\Tessamune.exe' "$work/standalone.png"
echo "(a picture of the application's window: $work/standalone.png)"

wine "C:\\Program Files\\Quorvellin\\Tessamune\\Uninstall.exe" /S < /dev/null
wineserver -w

echo "Windows checks: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
