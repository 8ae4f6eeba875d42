#!/usr/bin/env bash
# Signs a Windows program with Authenticode (SHA-256): the one way the project signs, for the
# release (scripts/release.sh --sign) and for the test build that the Wine scenarios run.
#   sign.sh CERT KEY IN OUT   CERT: the certificate (and its chain), PEM; KEY: its private key,
#                             PEM, unencrypted; IN is left as it is
# Only options osslsigncode 2.5 (Debian 12) has.
set -eu
if [ $# -ne 4 ]; then
  echo "usage: $0 CERT KEY IN OUT" >&2
  exit 2
fi
rm -f "$4"
osslsigncode sign -h sha256 -certs "$1" -key "$2" -n Larkspan -in "$3" -out "$4" >/dev/null
