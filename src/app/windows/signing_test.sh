#!/usr/bin/env bash
# Signs the program with a throwaway self-signed certificate (scripts/sign.sh) and checks that
# osslsigncode accepts the signature with that certificate as the only trusted one, that it is
# SHA-256, and that one changed byte in .text makes it fail.
#   signing_test.sh OBJDUMP IMAGE SIGNED   (SIGNED: where the signed program goes)
set -eu
objdump=$1 image=$2 signed=$3
work=$signed.test
rm -rf "$work"
mkdir -p "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Larkspan test" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
bash "$(dirname "$0")/../../../scripts/sign.sh" "$work/cert.pem" "$work/key.pem" "$image" "$signed"
osslsigncode verify -CAfile "$work/cert.pem" -in "$signed" >"$work/verify.txt"
grep -q "Message digest algorithm *: SHA256" "$work/verify.txt"

# The middle byte of .text, its bits flipped (columns: Idx Name Size VMA LMA File-off).
read -r size offset < <("$objdump" -h "$signed" | awk '$2 == ".text" { print $3, $6 }')
at=$((0x$offset + 0x$size / 2))
cp "$signed" "$work/changed.exe"
byte=$(od -An -tu1 -j "$at" -N1 "$signed" | tr -d ' ')
printf "\\$(printf %03o $((byte ^ 255)))" | dd of="$work/changed.exe" bs=1 seek="$at" conv=notrunc 2>/dev/null
if osslsigncode verify -CAfile "$work/cert.pem" -in "$work/changed.exe" >"$work/changed.txt" 2>&1; then
  echo "a changed byte at $at in .text still verifies" >&2
  exit 1
fi
rm -rf "$work"
echo "signed: verifies with its certificate, and fails with one byte of .text changed"
