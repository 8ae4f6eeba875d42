#!/usr/bin/env bash
# Signs IMAGE into SIGNED (scripts/sign.sh) with a throwaway self-signed certificate, which alone
# must make osslsigncode accept the SHA-256 signature, until one byte of .text changes.
#   signing_test.sh OBJDUMP IMAGE SIGNED
set -eu
objdump=$1 image=$2 signed=$3 work=$3.test
mkdir -p "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Larkspan test" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
bash "$(dirname "$0")/../../../scripts/sign.sh" "$work/cert.pem" "$work/key.pem" "$image" "$signed"
verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.txt" 2>&1; }
verify "$signed"
grep -q "Message digest algorithm *: SHA256" "$work/verify.txt"
# The middle byte of .text, its bits flipped (objdump -h: Idx Name Size VMA LMA File-off).
read -r size offset < <("$objdump" -h "$signed" | awk '$2 == ".text" { print $3, $6 }')
at=$((0x$offset + 0x$size / 2))
byte=$(od -An -tu1 -j "$at" -N1 "$signed")
cp "$signed" "$work/changed.exe"
printf "\\$(printf %03o $((byte ^ 255)))" | dd of="$work/changed.exe" bs=1 seek="$at" conv=notrunc 2>/dev/null
if verify "$work/changed.exe"; then exit 1; fi
