#!/usr/bin/env bash
# Runs a Windows program under wine64: the test build's CMAKE_CROSSCOMPILING_EMULATOR.
#   wine_run.sh PROGRAM [ARGS...]          in the prefix named by WINEPREFIX, or when that is
#                                          unset (test discovery) in the wineprefix folder
#                                          beside the program's bin folder
#   wine_run.sh PREFIX PROGRAM [ARGS...]   in the given prefix
# The prefix is created on first use with the null graphics driver (real windows, no X server).
set -eu
if [ $# -ge 2 ] && [ ! -f "$1" ] && [[ "$1" == */* && "${1,,}" != *.exe ]]; then
    export WINEPREFIX=$1
    shift
fi
if [ -z "${WINEPREFIX:-}" ]; then
    bin=$(cd "$(dirname "$1")" && pwd)
    export WINEPREFIX=${bin%/*}/wineprefix
fi
prefix=$WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine=/usr/lib/wine/wine64
mkdir -p "$prefix"
(
    flock 9
    if [ ! -f "$prefix/.ready" ]; then
        "$wine" wineboot -i </dev/null >/dev/null 2>&1
        "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
        # A crash prints its backtrace and ends; no debugger dialog waits for a person.
        "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
        # The desktop process started during the boot chose its graphics driver before the
        # setting above existed: let this server and its processes end, so that the next start
        # uses the null driver.
        /usr/lib/wine/wineserver -w </dev/null >/dev/null 2>&1 || true
        touch "$prefix/.ready"
    fi
) 9>"$prefix.lock"
if [ -t 1 ]; then
    exec "$wine" "$@"
fi
# A program's end leaves the prefix's server and its system processes running for a few
# seconds, and they hold the output the program was given: through files, the caller (CTest)
# sees the end at once instead of waiting for them.
out=$(mktemp) err=$(mktemp)
trap 'cat "$out"; cat "$err" >&2; rm -f "$out" "$err"' EXIT
trap 'exit 143' TERM INT
status=0
"$wine" "$@" >"$out" 2>"$err" || status=$?
exit $status
