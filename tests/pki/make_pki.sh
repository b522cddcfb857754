#!/usr/bin/env bash
# Makes the test keys and certificates in the given folder, once: a test root authority (trusted
# only inside the end-to-end Wine prefix), a foreign authority nobody trusts, TLS certificates for
# the loopback server, and two code-signing keys whose certificates carry the same subject name.
# Prints nothing; signer_a.spki.sha256 and signer_b.spki.sha256 hold the hex SHA-256 of each
# signer's SubjectPublicKeyInfo, the form the program's signer list takes.
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
[ -f done ] && exit 0
days=3650
quiet() { "$@" >/dev/null 2>&1; }

make_ca() {  # name subject
    quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.crt" -days $days \
        -subj "$2" -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
    openssl x509 -in "$1.crt" -outform DER -out "$1.der"
}

issue() {  # name issuer subject extensions...
    local name=$1 issuer=$2 subject=$3
    shift 3
    quiet openssl req -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "$subject"
    printf '%s\n' "$@" > "$name.ext"
    quiet openssl x509 -req -in "$name.csr" -CA "$issuer.crt" -CAkey "$issuer.key" -CAcreateserial \
        -out "$name.crt" -days $days -sha256 -extfile "$name.ext"
    cat "$name.crt" "$issuer.crt" > "$name.chain.pem"
    rm -f "$name.csr" "$name.ext"
}

make_ca test_ca "/CN=Brellocantix Test Root/O=Brellocantix Test"
make_ca foreign_ca "/CN=Brellocantix Test Root/O=Brellocantix Test"

tls=("basicConstraints=CA:FALSE" "extendedKeyUsage=serverAuth")
issue tls_localhost test_ca "/CN=localhost" "${tls[@]}" "subjectAltName=DNS:localhost"
issue tls_other_name test_ca "/CN=download.brellocantix.test" "${tls[@]}" \
    "subjectAltName=DNS:download.brellocantix.test"
issue tls_foreign foreign_ca "/CN=localhost" "${tls[@]}" "subjectAltName=DNS:localhost"

sign=("basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning")
issue signer_a test_ca "/CN=Brellocantix Publisher/O=Brellocantix" "${sign[@]}"
issue signer_b test_ca "/CN=Brellocantix Publisher/O=Brellocantix" "${sign[@]}"
for s in signer_a signer_b; do
    openssl x509 -in $s.crt -pubkey -noout | openssl pkey -pubin -outform DER | sha256sum | cut -c1-64 > $s.spki.sha256
done
touch done
