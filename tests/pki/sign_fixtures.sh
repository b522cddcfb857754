#!/usr/bin/env bash
# Signed variants of the fixture programs, for the signature tests: sign_fixtures.sh pki bin.
# setup_signed_a/b.exe and unzip_signed_a/b.exe (signers a and b share one subject name),
# setup_altered.exe (signed by a, then one byte of its DOS stub changed), and unzip.sha256
# (sha256sum's hex of unzip.exe, computed here by a route independent of the program's).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
pki=$1 bin=$2
for s in a b; do
    "$here/sign.sh" "$pki" signer_$s "$bin/fake_setup.exe" "$bin/setup_signed_$s.exe"
    "$here/sign.sh" "$pki" signer_$s "$bin/unzip.exe" "$bin/unzip_signed_$s.exe"
done
cp "$bin/setup_signed_a.exe" "$bin/setup_altered.exe"
python3 - "$bin/setup_altered.exe" <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
data[0x60] ^= 0x01  # inside the DOS stub's text: covered by the signature, harmless to the loader
open(sys.argv[1], 'wb').write(data)
PY
sha256sum "$bin/unzip.exe" | cut -c1-64 > "$bin/unzip.sha256"
