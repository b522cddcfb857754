#!/usr/bin/env bash
# Benchmark: each figure measured side by side with its baseline in one run, as the median of
# several runs, and given as a ratio. Prints the table and writes build/bench/results.md.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
command -v curl >/dev/null || { apt-get update -qq && apt-get install -y -qq curl >/dev/null; }
scripts/build.sh bench trivial_dialog >/dev/null 2>&1
runs=${BENCH_RUNS:-5}
size=$((200 * 1000 * 1000))
out=build/bench
mkdir -p "$out"
bin=$PWD/build/test/bin
export WINEPREFIX=$PWD/build/test/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
tests/wine_run.sh "$WINEPREFIX" cmd /c exit >/dev/null 2>&1 || true   # prefix ready
wine() { /usr/lib/wine/wine64 "$@" 2>/dev/null | tr -d '\r'; }
median() { python3 -c 'import sys,statistics; print(statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }

port=18080
/usr/lib/wine/wine64 "$bin/bench.exe" serve $port $size >"$out/server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
until grep -q ready "$out/server.log" 2>/dev/null; do sleep 0.2; done
url=http://127.0.0.1:$port/big

declare -A time peak
for mode in ours bare ui curl; do time[$mode]=""; peak[$mode]=""; done
# Alternating order, so that neither side always runs on a warmer machine.
for i in $(seq "$runs"); do
    order="ours bare"; [ $((i % 2)) -eq 0 ] && order="bare ours"
    [ "$i" -eq 1 ] && order="$order ui"  # the painting run is slow: once is enough to see it
    for mode in $order; do
        read -r ms bytes body < <(wine "$bin/bench.exe" fetch "$url" $mode)
        [ "$body" = "$size" ] || { echo "fetch $mode got $body bytes"; exit 1; }
        time[$mode]+=" $ms"; peak[$mode]+=" $bytes"
    done
    ms=$(curl -s -o /dev/null -w '%{time_total}' "$url" | python3 -c 'import sys; print(float(sys.stdin.read())*1000)')
    time[curl]+=" $ms"
done

head -c $size /dev/urandom >"$out/package.bin"
md5file="Z:${PWD//\//\\}\\build\\bench\\package.bin"
declare -A hash
for mode in ours bare md5sum; do hash[$mode]=""; done
for i in $(seq $((runs * 2 - 1))); do
    order="ours bare"; [ $((i % 2)) -eq 0 ] && order="bare ours"
    for mode in $order; do
        read -r ms hex < <(wine "$bin/bench.exe" md5 "$md5file" $mode)
        hash[$mode]+=" $ms"
    done
    start=$(date +%s%N); md5sum "$out/package.bin" >/dev/null; end=$(date +%s%N)
    hash[md5sum]+=" $(( (end - start) / 1000000 ))"
done
rm -f "$out/package.bin"

declare -A start
start[ours]=""; start[trivial]=""
for i in $(seq $((runs * 4 - 1))); do
    ours=$(wine "$bin/bench.exe" startup "$bin\\Download.exe" Setup)
    trivial=$(wine "$bin/bench.exe" startup "$bin\\trivial_dialog.exe" Trivial)
    start[ours]+=" $ours"; start[trivial]+=" $trivial"
done

release=build/release/Download.exe
bytes=$(stat -c %s "$release")
headers=$(i686-w64-mingw32-objdump -p "$release")
imports=$(awk '/DLL Name/ {print $3}' <<<"$headers" | tr '\n' ' ')
laa=$(grep -c "large address aware" <<<"$headers" || true)
[ "$laa" -gt 0 ] && laa=yes || laa=no

python3 - "$out/results.md" <<PY
import statistics, sys
def m(s): return statistics.median(float(x) for x in s.split())
size = $size
t = {k: m(v) for k, v in {"ours": "${time[ours]}", "bare": "${time[bare]}", "ui": "${time[ui]}", "curl": "${time[curl]}"}.items()}
p = {k: m(v) for k, v in {"ours": "${peak[ours]}", "bare": "${peak[bare]}", "ui": "${peak[ui]}"}.items()}
h = {k: m(v) for k, v in {"ours": "${hash[ours]}", "bare": "${hash[bare]}", "md5sum": "${hash[md5sum]}"}.items()}
s = {k: m(v) for k, v in {"ours": "${start[ours]}", "trivial": "${start[trivial]}"}.items()}
rows = [
    "| measure | ours | baseline | ratio | context |",
    "|---|---|---|---|---|",
    f"| fetch 200 MB, wall time (DownloadToBuffer vs bare WinINet loop) | {t['ours']:.0f} ms | {t['bare']:.0f} ms | {t['ours']/t['bare']:.3f} | curl {t['curl']:.0f} ms (ours/curl {t['ours']/t['curl']:.1f}) |",
    f"| fetch 200 MB with the progress window painting | {t['ui']:.0f} ms | {t['bare']:.0f} ms | {t['ui']/t['bare']:.3f} | |",
    f"| fetch 200 MB, peak memory / body | {p['ours']/size:.2f} | {p['bare']/size:.2f} | {p['ours']/p['bare']:.3f} | with window {p['ui']/size:.2f} |",
    f"| MD5 of 200 MB (ComputeFileMd5 vs bare CryptoAPI loop) | {h['ours']:.0f} ms | {h['bare']:.0f} ms | {h['ours']/h['bare']:.3f} | md5sum {h['md5sum']:.0f} ms |",
    f"| start-up to visible dialog (Download.exe vs trivial dialog, Wine) | {s['ours']:.0f} ms | {s['trivial']:.0f} ms | {s['ours']/s['trivial']:.3f} | |",
    f"| release exe size | {$bytes/1024:.0f} KB ($bytes bytes) | 300 KB target | {$bytes/300/1024:.2f} | large-address-aware: $laa |",
    f"| release exe imports | $imports | | | |",
]
text = f"Medians: fetch $runs runs (painting 1), MD5 {$runs * 2 - 1}, start-up {$runs * 4 - 1}; one machine, one run, baselines interleaved.\n\n" + "\n".join(rows) + "\n"
open(sys.argv[1], "w").write(text)
print(text)
PY
