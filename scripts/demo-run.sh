#!/usr/bin/env bash
# The Wine side of the demo (see demo.sh): a prefix of its own with the real Shell, and three runs.
set -euo pipefail
demo=$1
mode=${2:-}
export WINEPREFIX=$demo/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i </dev/null >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
fi
# Wine draws frames and captions itself, so the screenshots show them without a window manager
# (under Xvfb there is none).
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f </dev/null >/dev/null 2>&1
windows() { local p=$1; echo "Z:${p//\//\\}"; }
driver=build/test/bin/demo_driver.exe
exe=$(windows "$demo/program/Download.exe")
shots=$(windows "$demo/shots")
echo "== First run: nothing cached yet, so the program asks for the package =="
"$wine" "$driver" "$exe" DEMO1 "$shots" first $mode
ls "$demo/program" | sed 's/^/  program folder: /'
echo
echo "== Second run: the package is there, so the program asks whether it is current =="
"$wine" "$driver" "$exe" DEMO1 "$shots" second $mode
echo "  trace.txt: $(cat "$demo/program/trace.txt")"
echo
echo "== Third run: DEMO2, a larger package served slowly; Cancel during its download =="
package=$demo/program/brellocantix_hwn.zip
before=$(md5sum <"$package")
"$wine" "$driver" "$exe" DEMO2 "$shots" cancel $mode --cancel
if [ "$(md5sum <"$package")" = "$before" ]; then
    echo "  The cached package is unchanged (MD5 ${before%% *})."
else
    echo "  The cached package CHANGED."
fi
ls "$demo/program" | sed 's/^/  program folder: /'
/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
