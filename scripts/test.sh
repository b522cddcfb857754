#!/usr/bin/env bash
# The test command: installs what is missing, builds both exes and runs every test under wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
cd build/test
status=0
ctest -j2 --output-on-failure --timeout 600 || status=$?
for prefix in wineprefix*/; do
    WINEPREFIX=$PWD/$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
done
exit $status
