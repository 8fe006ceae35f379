#!/usr/bin/env bash
# Checks the Authenticode signature of a signed host exe: a SHA-256 signature whose chain ends in the given CA
# certificates (default: the system's bundle), a valid RFC 3161 timestamp when the file carries one, and nothing
# changed after signing, not even where the signature's own digest does not look. Works with Debian 12's osslsigncode
# (2.5) and later ones.
#
# usage: scripts/verify-signature.sh FILE [CA_FILE [TSA_CA_FILE]]
set -eu
file=${1:?usage: verify-signature.sh FILE [CA_FILE [TSA_CA_FILE]]}
ca=${2:-/etc/ssl/certs/ca-certificates.crt}
tsa_ca=${3:-/etc/ssl/certs/ca-certificates.crt}
command -v osslsigncode >/dev/null || { echo "osslsigncode is missing (scripts/bootstrap.sh installs it)" >&2; exit 1; }

report=$(osslsigncode verify -in "$file" -CAfile "$ca" -TSA-CAfile "$tsa_ca" 2>&1) && rc=0 || rc=$?
fail() {
  printf '%s\n' "$report" >&2
  echo "signature check FAILED for $file: $1" >&2
  exit 1
}
[ "$rc" -eq 0 ] || fail "osslsigncode verify exited with $rc"
grep -q '^Signature verification: ok$' <<<"$report" || fail "no verified signature"
grep -q '^Number of verified signatures: 1$' <<<"$report" || fail "not exactly one verified signature"
grep -q '^Message digest algorithm  : SHA256' <<<"$report" || fail "the signature's digest is not SHA-256"
# Two parts of a signed file lie outside the signature's own digest, and osslsigncode lets both change: the PE checksum
# (it only warns, in words that differ between its versions) and the bytes after the signature blob in its entry
# (any value passes, which lets data ride along in a file that still verifies: the weakness behind CVE-2013-3900).
# So the checksum must match, and the blob must be the one certificate entry, padded with at most seven zero bytes, at
# the very end of the file.
layout=$(/usr/bin/python3 - "$file" 2>&1 <<'PY'
import struct
import sys

data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
magic = struct.unpack_from("<H", data, pe + 24)[0]
field = pe + 24 + 64  # CheckSum, at the same place in PE32 and PE32+
total = sum(word for (word,) in struct.iter_unpack("<H", data + b"\0" * (len(data) % 2)))
total -= struct.unpack_from("<H", data, field)[0] + struct.unpack_from("<H", data, field + 2)[0]
while total >> 16:
    total = (total & 0xFFFF) + (total >> 16)
if total + len(data) != struct.unpack_from("<I", data, field)[0]:
    sys.exit("the PE checksum no longer matches the file")
directory = pe + 24 + (96 if magic == 0x10B else 112) + 4 * 8  # IMAGE_DIRECTORY_ENTRY_SECURITY
offset, size = struct.unpack_from("<II", data, directory)
length, revision, kind = struct.unpack_from("<IHH", data, offset)
if offset + size != len(data) or length != size or size % 8:
    sys.exit(f"certificate table at {offset}, {size} bytes, entry of {length} bytes, in a file of {len(data)} bytes")
if (revision, kind) != (0x0200, 2):  # WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA
    sys.exit(f"certificate entry of revision {revision:#x}, type {kind}")
blob = data[offset + 8:]
if blob[0] != 0x30 or not 0x81 <= blob[1] <= 0x84:
    sys.exit("the signature is not one DER sequence")
count = blob[1] & 0x7F
blob_size = 2 + count + int.from_bytes(blob[2:2 + count], "big")
padding = blob[blob_size:]
if len(padding) > 7 or padding.strip(b"\0"):
    sys.exit(f"{len(padding)} bytes after the signature, not all zero")
PY
) || fail "changed after signing: $layout"
signer=$(grep -m1 '^[[:space:]]*Subject:' <<<"$report" | sed 's/^[[:space:]]*Subject: *//')
# osslsigncode reports a timestamp that fails its own check, and still exits with 0 after checking the chain at the
# current time instead: a timestamp is either absent or verified here.
if grep -q '^Timestamp is not available' <<<"$report"; then
  stamp="no timestamp"
elif grep -q '^Timestamp Server Signature verification: ok$' <<<"$report"; then
  stamp="timestamped"
else
  fail "the timestamp does not verify against $tsa_ca"
fi
echo "signature ok: $file (SHA-256, signed by $signer, $stamp)"
