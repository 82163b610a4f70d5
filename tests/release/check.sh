#!/usr/bin/env bash
# The release as its maker and a rebuilder run it: signed with a throwaway authority's
# RSA code-signing certificate, made here and never kept (without CRL distribution
# points, which a verifier would try to reach), checked with osslsigncode, and rebuilt
# in another folder with the detached signature attached. Expects tools/lib/env.sh's
# environment and a build in $BUILD; leaves the signed program in $BUILD/release/signed.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
W=$BUILD/release
rm -rf "$W"; mkdir -p "$W"
passed=0 failed=0
check() {  # check NAME COMMAND...
    local name=$1; shift
    if "$@"; then passed=$((passed + 1)); echo "ok   $name"; else failed=$((failed + 1)); echo "FAIL $name"; fi
}

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tarquelin test authority" -keyout "$W/ca.key" \
    -out "$W/ca.pem" -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=Kestrova (test)" -keyout "$W/key.pem" -out "$W/signer.csr" 2>/dev/null
openssl x509 -req -in "$W/signer.csr" -CA "$W/ca.pem" -CAkey "$W/ca.key" -CAcreateserial -days 2 -out "$W/signer.pem" \
    -extfile <(printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
                              "extendedKeyUsage=codeSigning") 2>/dev/null
cat "$W/signer.pem" "$W/ca.pem" > "$W/chain.pem"
openssl pkcs12 -export -inkey "$W/key.pem" -in "$W/signer.pem" -certfile "$W/ca.pem" -passout pass:prueba \
    -out "$W/signer.p12" 2>/dev/null

release() { DIST=$W/$1 bash "$ROOT/tools/release" "${@:2}" > "$W/$1.out" 2>&1; }
verify() { osslsigncode verify -CAfile "$W/ca.pem" -in "$1" > "$W/verify.out" 2>&1 && grep -q '^Succeeded' "$W/verify.out"; }
# The last verification found two signatures, SHA-1 then SHA-256.
nested() {
    grep -q '^Number of verified signatures: 2' "$W/verify.out" &&
        [ "$(sed -n 's/^Message digest algorithm  : //p' "$W/verify.out" | tr '\n' ' ')" = "SHA1 SHA256 " ]
}
sums_hold() { (cd "$W/$1" && sha256sum --quiet -c SHA256SUMS); }

release unsigned
check "without a key: says it did not sign" grep -q '^not signed' "$W/unsigned.out"
check "without a key: the program as built, no signature beside it" \
    bash -c "cmp -s '$W/unsigned/tarquelin.exe' '$BUILD/tarquelin.exe' && [ ! -e '$W/unsigned/tarquelin.exe.sig' ]"
check "without a key: SHA256SUMS holds" sums_hold unsigned

SIGN_KEY=$W/key.pem SIGN_CERTS=$W/chain.pem release signed
signed=$W/signed/tarquelin.exe
check "signed: both signatures verify against the authority" verify "$signed"
check "signed: SHA-1, with a SHA-256 one nested" nested
check "signed: SHA256SUMS names the signed file" sums_hold signed
check "signed: the detached signature is there" test -s "$signed.sig"
# One byte of the code changed: neither signature may hold.
cp "$signed" "$W/changed.exe"
text=$((16#$(i686-w64-mingw32-objdump -h "$signed" | awk '$2 == ".text" { print $6 }')))
printf '\xcc' | dd of="$W/changed.exe" bs=1 seek=$((text + 64)) conv=notrunc status=none
check "signed: one byte of its code changed, it no longer verifies" bash -c "! osslsigncode verify -CAfile '$W/ca.pem' -in '$W/changed.exe' >/dev/null 2>&1"
check "signed: still only what Windows XP has" bash "$ROOT/tests/imports/check.sh" "$signed"

SIGN_PKCS12=$W/signer.p12 SIGN_PASSWORD=prueba release again
check "signed twice (from PKCS#12 with a password the second time): the same bytes" cmp -s "$signed" "$W/again/tarquelin.exe"
BUILD=$BUILD/again release attached --attach "$signed.sig"
check "rebuilt in another folder with the signature attached: the signed file, byte for byte" \
    cmp -s "$signed" "$W/attached/tarquelin.exe"
refused() { ! release wrong --attach "$W/probe.sig" && [ ! -e "$W/wrong/tarquelin.exe" ]; }
osslsigncode sign -certs "$W/chain.pem" -key "$W/key.pem" -h sha256 -in "$BUILD/tests/probe.exe" -out "$W/probe.exe" \
    >/dev/null && osslsigncode extract-signature -in "$W/probe.exe" -out "$W/probe.sig" >/dev/null
check "the signature of another program: refused, nothing written" refused

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
