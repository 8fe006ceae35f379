#!/usr/bin/env bash
# Signs a host exe with Authenticode (SHA-256), then checks the result with scripts/verify-signature.sh. A signed file
# that does not verify is deleted, so a failed signing can never pass for a good one.
#
# usage: scripts/sign.sh UNSIGNED.exe SIGNED.exe
#
# The certificate comes from the environment:
#   HOST_SIGN_PKCS12=file.p12                      a PKCS#12 with the certificate, its chain and the key, or
#   HOST_SIGN_CERT=cert.pem HOST_SIGN_KEY=key.pem  the certificate (with its chain) and the key, PEM or DER;
#   HOST_SIGN_PASSWORD                             the password of the PKCS#12 or of an encrypted key;
#   HOST_SIGN_CA=ca.pem                            the CA certificates to check the signature against
#                                                  (default: the system's bundle);
#   HOST_TIMESTAMP_URL=http://...                  an RFC 3161 timestamp server (default: no timestamp);
#   HOST_TIMESTAMP_CA=ca.pem                       the CA certificates of that server (default: the system's bundle).
# With neither HOST_SIGN_PKCS12 nor HOST_SIGN_CERT, a throw-away test CA and certificate are made for this run only:
# the file is TEST-SIGNED, and the test CA is written next to it as test-signing-ca.pem so that it can be checked.
set -eu
in=${1:?usage: sign.sh UNSIGNED.exe SIGNED.exe}
out=${2:?usage: sign.sh UNSIGNED.exe SIGNED.exe}
here=$(cd "$(dirname "$0")" && pwd)
rm -f "$out"
command -v osslsigncode >/dev/null || { echo "osslsigncode is missing (scripts/bootstrap.sh installs it)" >&2; exit 1; }
[ -f "$in" ] || { echo "no such file: $in" >&2; exit 1; }
[ -z "${HOST_SIGN_PKCS12:-}" ] || [ -z "${HOST_SIGN_CERT:-}${HOST_SIGN_KEY:-}" ] ||
  { echo "give HOST_SIGN_PKCS12 or HOST_SIGN_CERT with HOST_SIGN_KEY, not both" >&2; exit 1; }
[ -z "${HOST_SIGN_CERT:-}${HOST_SIGN_KEY:-}" ] || { [ -n "${HOST_SIGN_CERT:-}" ] && [ -n "${HOST_SIGN_KEY:-}" ]; } ||
  { echo "HOST_SIGN_CERT and HOST_SIGN_KEY go together" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ca=${HOST_SIGN_CA:-/etc/ssl/certs/ca-certificates.crt}
credentials=()
test_signed=0
if [ -n "${HOST_SIGN_PKCS12:-}" ]; then
  credentials=(-pkcs12 "$HOST_SIGN_PKCS12")
elif [ -n "${HOST_SIGN_CERT:-}" ]; then
  credentials=(-certs "$HOST_SIGN_CERT" -key "$HOST_SIGN_KEY")
else
  # Made for this run and thrown away with it: only the CA certificate outlives the run, so that the result can be
  # checked; nobody can sign anything else with these keys.
  test_signed=1
  openssl req -x509 -newkey rsa:3072 -nodes -keyout "$work/ca.key" -out "$work/ca.pem" -days 30 \
    -subj "/CN=Velvaro TEST signing CA - not trusted, throw-away" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  openssl req -newkey rsa:3072 -nodes -keyout "$work/sign.key" -out "$work/sign.csr" \
    -subj "/CN=Velvaro TEST-SIGNED build - not a release" 2>/dev/null
  printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
    "extendedKeyUsage=codeSigning" >"$work/sign.ext"
  openssl x509 -req -in "$work/sign.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial -days 30 \
    -extfile "$work/sign.ext" -out "$work/sign.pem" 2>/dev/null
  credentials=(-certs "$work/sign.pem" -key "$work/sign.key")
  ca="$work/ca.pem"
fi
# The password reaches osslsigncode through a pipe, never on its command line, where every user could read it.
password=()
if [ -n "${HOST_SIGN_PASSWORD:-}" ]; then
  password=(-readpass /dev/stdin)
fi
timestamp=()
if [ -n "${HOST_TIMESTAMP_URL:-}" ]; then
  timestamp=(-ts "$HOST_TIMESTAMP_URL")
fi

if ! printf '%s' "${HOST_SIGN_PASSWORD:-}" |
     osslsigncode sign "${credentials[@]}" "${password[@]}" "${timestamp[@]}" -h sha256 -n "Qumo盒子检测工具" \
       -in "$in" -out "$work/signed.exe" >"$work/sign.log" 2>&1; then
  cat "$work/sign.log" >&2
  echo "signing FAILED: $in" >&2
  exit 1
fi
if ! checked=$("$here/verify-signature.sh" "$work/signed.exe" "$ca" \
                 "${HOST_TIMESTAMP_CA:-/etc/ssl/certs/ca-certificates.crt}"); then
  echo "the signed file does not verify against $ca: nothing written" >&2
  exit 1
fi
if [ -n "${HOST_TIMESTAMP_URL:-}" ] && [[ "$checked" != *", timestamped)" ]]; then
  echo "$checked" >&2
  echo "no timestamp from $HOST_TIMESTAMP_URL in the signed file: nothing written" >&2
  exit 1
fi
echo "$checked"
out_dir=$(dirname "$out")
rm -f "$out_dir/test-signing-ca.pem"
if [ "$test_signed" -eq 1 ]; then
  cp "$work/ca.pem" "$out_dir/test-signing-ca.pem"
fi
mv "$work/signed.exe" "$out"
if [ "$test_signed" -eq 1 ]; then
  cat >&2 <<EOF
**********************************************************************************************************************
  TEST-SIGNED: no certificate was given, so a throw-away test certificate signed $(basename "$out"). No Windows
  machine trusts it; it only shows that signing works (its CA: test-signing-ca.pem, next to the file).
  For a real release give HOST_SIGN_PKCS12 (with HOST_SIGN_PASSWORD) or HOST_SIGN_CERT and HOST_SIGN_KEY.
**********************************************************************************************************************
EOF
fi
