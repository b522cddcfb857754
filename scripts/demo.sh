#!/usr/bin/env bash
# The main job, for a newcomer: installs what is missing, builds, starts the demo download
# server on loopback and runs Download.exe against it under Wine, three times: the first install,
# a second start that takes the update road, and a third whose slow download is cancelled.
# Without a display it runs under Xvfb, types the code itself, presses Cancel and answers the
# question, and saves screenshots of every window it meets in build/demo/shots.
# The server listens on port 80 of DOWNLOAD_TEST_HOST (127.0.0.2 unless set; the test build
# is made for the same address).
set -euo pipefail
cd "$(dirname "$0")/.."
export DOWNLOAD_TEST_HOST=${DOWNLOAD_TEST_HOST:-127.0.0.2}
scripts/install-deps.sh --demo
scripts/build.sh demo_driver >/dev/null
demo=$PWD/build/demo
rm -rf "$demo/program" "$demo/packages" "$demo/shots"
mkdir -p "$demo/program" "$demo/packages" "$demo/shots"
# The build that trusts one signer key (the test key "signer_a" stands in for the publisher's), so
# the demo shows the signature check passing: its Setup.exe and unzip.exe are signed with that key.
cp build/test/bin/Download_signed.exe "$demo/program/Download.exe"
# The sample package for the code DEMO1: the signed fixture installer as Setup.exe and a readme.
python3 - "$demo/packages/DEMO1.zip" build/test/bin/setup_signed_a.exe <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.write(sys.argv[2], 'Setup.exe')
    z.writestr('readme.txt', 'Demo package for the product code DEMO1.\n')
PY
# DEMO2: a larger product (4 MiB that do not compress), which the server trickles out at
# 256 KiB/s so that there is time to cancel its download.
python3 - "$demo/packages/DEMO2.zip" build/test/bin/setup_signed_a.exe <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.write(sys.argv[2], 'Setup.exe')
    z.writestr(zipfile.ZipInfo('data.bin'), os.urandom(4 << 20), zipfile.ZIP_STORED)
PY
python3 demo/server.py "$demo/packages" build/test/bin/unzip_signed_a.exe "$DOWNLOAD_TEST_HOST" 80 \
    --slow DEMO2 >"$demo/server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
sleep 1
if [ -n "${DISPLAY:-}" ]; then
    bash scripts/demo-run.sh "$demo"
else
    xvfb-run -a -s "-screen 0 1024x768x24" bash scripts/demo-run.sh "$demo" --auto
fi
echo
echo "What the server saw:"
sed 's/^/  /' "$demo/server.log"
echo
echo "The run log the three runs left (build/demo/program/Download.log):"
sed 's/^/  /' "$demo/program/Download.log"
for shot in "$demo"/shots/*.bmp; do
    convert "$shot" "${shot%.bmp}.png" && rm "$shot"
done
echo
echo "Screenshots: $(ls "$demo"/shots/*.png | wc -l) in build/demo/shots"
