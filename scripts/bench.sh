#!/usr/bin/env bash
# Benchmark: each figure measured side by side with its baseline in one run, as the median of
# several runs in alternating order, and given as a ratio. Prints the table and writes
# build/bench/results.md. BENCH_RUNS sets the number of rounds (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
command -v curl >/dev/null || { apt-get update -qq && apt-get install -y -qq curl >/dev/null; }
out=build/bench
mkdir -p "$out"
scripts/build.sh bench trivial_dialog >"$out/build.log" 2>&1 || { tail -20 "$out/build.log"; exit 1; }
runs=${BENCH_RUNS:-5}
size=$((200 * 1000 * 1000))
small=$((1 << 20))
large=$((1 << 30))
bin=$PWD/build/test/bin
export WINEPREFIX=$PWD/build/test/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
tests/wine_run.sh "$WINEPREFIX" cmd /c exit >/dev/null 2>&1 || true   # prefix ready
wine() { /usr/lib/wine/wine64 "$@" 2>/dev/null | tr -d '\r'; }
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
# The list after the first argument, rotated by it: round i starts with the i-th entry.
rotate() { local i=$1; shift; local a=("$@") n=$#; for k in $(seq 0 $((n - 1))); do echo -n "${a[(i + k) % n]} "; done; }

# The bodies come from a separate process, so that the probe's memory is the fetch's own.
python3 bench/serve.py 0 >"$out/server.log" 2>&1 &
server=$!
saved=$PWD/$out/fetched.bin
trap 'kill $server 2>/dev/null || true; rm -f "$saved"' EXIT
until grep -q ready "$out/server.log" 2>/dev/null; do sleep 0.1; done
base=http://127.0.0.1:$(awk '/ready/ {print $2}' "$out/server.log")/bytes

declare -A wall peak cpu
# One fetch: mode (ours, ui, bare<KiB>, curl, server) and body size; adds its figures.
fetch() {
    local mode=$1 bytes=$2 key=$1${3:-} ms mem body used=0
    case $mode in
    curl | server)
        local to=$saved; [ "$mode" = server ] && to=/dev/null
        read -r ms body < <(curl -s -o "$to" -w '%{time_total} %{size_download}\n' "$base/$bytes")
        ms=$(python3 -c "print($ms * 1000)"); mem=0 ;;
    bare*)
        read -r ms mem body used < <(wine "$bin/bench.exe" fetch "$base/$bytes" bare "$(winpath "$saved")" "${mode#bare}") ;;
    *)
        read -r ms mem body used < <(wine "$bin/bench.exe" fetch "$base/$bytes" "$mode" "$(winpath "$saved")") ;;
    esac
    rm -f "$saved"
    [ "$body" = "$bytes" ] || { echo "fetch $key of $bytes bytes got ${body:-nothing}"; exit 1; }
    wall[$key]+=" $ms"; peak[$key]+=" $mem"; cpu[$key]+=" $used"
}

# 200 MB: the program's fetch, with and without its window, the bare loop at three read sizes,
# curl saving to a file, and the server alone (curl to /dev/null) to show it is not the limit.
for i in $(seq "$runs"); do
    for mode in $(rotate "$i" ours bare64 ui bare128 curl bare256 server); do
        fetch "$mode" "$size"
    done
done
# Memory: 1 MiB and 1 GiB bodies (after the timed fetches: 1 GiB of writes would disturb them).
for i in $(seq "$runs"); do
    if [ $((i % 2)) -eq 1 ]; then fetch ours $small S; fetch ours $large L
    else fetch ours $large L; fetch ours $small S; fi
done

head -c $size /dev/urandom >"$out/package.bin"
md5file=$(winpath "$PWD/$out/package.bin")
declare -A hash
for i in $(seq $((runs * 2 - 1))); do
    for mode in $(rotate "$i" ours bare); do
        read -r ms hex < <(wine "$bin/bench.exe" md5 "$md5file" "$mode")
        hash[$mode]+=" $ms"
    done
    start=$(date +%s%N); md5sum "$out/package.bin" >/dev/null; end=$(date +%s%N)
    hash[md5sum]+=" $(( (end - start) / 1000000 ))"
done
rm -f "$out/package.bin"

declare -A start
for i in $(seq $((runs * 4 - 1))); do
    start[ours]+=" $(wine "$bin/bench.exe" startup "$bin\\Download.exe" Setup)"
    start[trivial]+=" $(wine "$bin/bench.exe" startup "$bin\\trivial_dialog.exe" Trivial)"
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
MiB = 1 << 20
t = {k: m(v) for k, v in {"ours": "${wall[ours]}", "ui": "${wall[ui]}", "bare64": "${wall[bare64]}",
     "bare128": "${wall[bare128]}", "bare256": "${wall[bare256]}", "curl": "${wall[curl]}",
     "server": "${wall[server]}"}.items()}
c = {k: m(v) for k, v in {"ours": "${cpu[ours]}", "ui": "${cpu[ui]}", "bare64": "${cpu[bare64]}",
     "bare128": "${cpu[bare128]}", "bare256": "${cpu[bare256]}"}.items()}
b = {k: min(float(x) for x in v.split()) for k, v in {"ours": "${wall[ours]}", "ui": "${wall[ui]}",
     "bare64": "${wall[bare64]}", "bare128": "${wall[bare128]}", "bare256": "${wall[bare256]}"}.items()}
def also(a, z): return f"CPU {c[a]:.0f} vs {c[z]:.0f} ms ({c[a]/c[z]:.3f}); best of each {b[a]:.0f} vs {b[z]:.0f} ms ({b[a]/b[z]:.3f})"
p = {k: m(v) / MiB for k, v in {"ours": "${peak[ours]}", "ui": "${peak[ui]}", "bare64": "${peak[bare64]}",
     "S": "${peak[oursS]}", "L": "${peak[oursL]}"}.items()}
large_ms = m("${wall[oursL]}")
h = {k: m(v) for k, v in {"ours": "${hash[ours]}", "bare": "${hash[bare]}", "md5sum": "${hash[md5sum]}"}.items()}
s = {k: m(v) for k, v in {"ours": "${start[ours]}", "trivial": "${start[trivial]}"}.items()}
rows = [
    "| measure | ours | baseline | ratio | context |",
    "|---|---|---|---|---|",
    f"| fetch-and-save 200 MB, wall time (FetchInBackground + KeepFetchedBody vs bare WinINet loop, 64 KiB reads, to a file) | {t['ours']:.0f} ms | {t['bare64']:.0f} ms | {t['ours']/t['bare64']:.3f} | {also('ours', 'bare64')} |",
    f"| fetch-and-save 200 MB, wall time (ours vs curl -o to a file) | {t['ours']:.0f} ms | {t['curl']:.0f} ms | {t['ours']/t['curl']:.2f} | the server alone (curl -o /dev/null) {t['server']:.0f} ms |",
    f"| fetch-and-save 200 MB with the progress window painting (vs the same without) | {t['ui']:.0f} ms | {t['ours']:.0f} ms | {t['ui']/t['ours']:.3f} | {also('ui', 'ours')} |",
    f"| bare loop, 128 KiB reads (vs 64 KiB) | {t['bare128']:.0f} ms | {t['bare64']:.0f} ms | {t['bare128']/t['bare64']:.3f} | {also('bare128', 'bare64')} |",
    f"| bare loop, 256 KiB reads (vs 64 KiB) | {t['bare256']:.0f} ms | {t['bare64']:.0f} ms | {t['bare256']/t['bare64']:.3f} | {also('bare256', 'bare64')} |",
    f"| peak private memory, 1 GiB body (vs 1 MiB body) | {p['L']:.1f} MiB | {p['S']:.1f} MiB | {p['L']/p['S']:.3f} | difference {p['L']-p['S']:+.1f} MiB (target within 16); 1 GiB fetched in {large_ms:.0f} ms |",
    f"| peak private memory, 200 MB fetch (vs bare loop) | {p['ours']:.1f} MiB | {p['bare64']:.1f} MiB | {p['ours']/p['bare64']:.3f} | with the window {p['ui']:.1f} MiB |",
    f"| MD5 of 200 MB (ComputeFileMd5 vs bare CryptoAPI loop) | {h['ours']:.0f} ms | {h['bare']:.0f} ms | {h['ours']/h['bare']:.3f} | md5sum {h['md5sum']:.0f} ms |",
    f"| start-up to visible dialog (Download.exe vs trivial dialog, Wine) | {s['ours']:.0f} ms | {s['trivial']:.0f} ms | {s['ours']/s['trivial']:.3f} | |",
    f"| release exe size | {$bytes/1024:.0f} KB ($bytes bytes) | 300 KB target | {$bytes/300/1024:.2f} | large-address-aware: $laa |",
    f"| release exe imports | $imports | | | |",
]
text = (f"Medians: fetches $runs rounds, MD5 {$runs * 2 - 1}, start-up {$runs * 4 - 1}; one machine, one run, "
        "baselines interleaved in rotating order; loopback, Wine 8 (x86_64 build), bodies from bench/serve.py. "
        "Ratios are of medians; CPU is the probe process's user + kernel time.\n\n"
        + "\n".join(rows) + "\n")
open(sys.argv[1], "w").write(text)
print(text)
PY
