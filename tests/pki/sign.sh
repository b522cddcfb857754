#!/usr/bin/env bash
# Signs a PE file with one of the test signers (Authenticode, SHA-256): sign.sh pki signer in out
set -euo pipefail
pki=$1 signer=$2 in=$3 out=$4
rm -f "$out"
osslsigncode sign -certs "$pki/$signer.chain.pem" -key "$pki/$signer.key" -h sha256 \
    -n "Brellocantix test" -in "$in" -out "$out" >/dev/null
