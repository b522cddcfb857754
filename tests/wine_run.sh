#!/usr/bin/env bash
# Runs a Windows test program under wine64 in the given prefix, created on first use with the
# null graphics driver (real windows, no X server needed).
set -eu
prefix=$1
shift
export WINEPREFIX=$prefix
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
exec "$wine" "$@"
