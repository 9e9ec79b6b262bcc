#!/usr/bin/env bash
# The installed standalone application under Wine: it must open its window
# with the panel in it within 30 seconds. The window is photographed into
# OUT.png (ImageMagick's import), for a person to look at.
#
#   standalone-check.sh APP.EXE OUT.png   (WINEPREFIX set up; DISPLAY set)
set -euo pipefail

app=$1; out=$2
wine "$app" < /dev/null > "${out%.png}.log" 2>&1 &
pid=$!
geometry=
for _ in $(seq 60); do
    sleep 0.5
    # The top-level window's title is the product's name; its size is the
    # panel's (370 x 476 at 100%) and the title bar's.
    geometry=$(xwininfo -root -tree | sed -n 's/.*"Tessamune": ("tessamune.exe".*)  \([0-9]*x[0-9]*+[0-9]*+[0-9]*\) .*/\1/p' \
               | awk -F x '$1 >= 370' | head -1)
    [[ -n "$geometry" ]] && break
done

status=1
if [[ -n "$geometry" ]]; then
    sleep 3   # the panel's first paint
    width=${geometry%%x*}
    import -window root -crop "$geometry" +repage "$out"
    echo "the application's window: $geometry"
    [[ $width -ge 370 ]] && status=0
else
    echo "no window of the application appeared"
fi

wineserver -k || true
wait $pid 2> /dev/null || true
exit $status
