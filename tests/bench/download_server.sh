#!/usr/bin/env bash
# The download bench's server, as a CTest fixture and for the benchmark script.
#   download_server.sh start DIR [ARGS]    test CA (DIR/pki/ca.pem) and localhost certificate (made once, in DIR),
#                                          the CA trusted in the user Root store of the prefix WINEPREFIX names (when
#                                          set), the server started detached; returns when DIR/server.txt lists its
#                                          ports and fixtures; ARGS go to the server (--big, --files FOLDER,
#                                          --port/--tls-port/--closed-port N)
#   download_server.sh stop DIR            stops the server of DIR
# Wine's WinHTTP checks the certificate against the prefix's stores and matches DNS names only, so the certificate
# names "localhost"; the server speaks TLS 1.2 at most, which is what Wine can negotiate (and on one more port TLS 1.3
# only, for a handshake that fails).
set -eu
. "$(dirname "$0")/wine-env.sh"
action=${1:?start or stop}
dir=${2:?folder of the server}
here=$(cd "$(dirname "$0")" && pwd)
info=$dir/server.txt

stop_server() {
  if [ -f "$dir/server.pid" ]; then
    pid=$(cat "$dir/server.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    rm -f "$dir/server.pid"
  fi
  rm -f "$info"
}

make_certificates() {
  [ -f "$dir/server.pem" ] && [ -f "$dir/ca.der" ] && return 0
  local work=$dir/pki
  rm -rf "$work" && mkdir -p "$work"
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "/CN=Download Bench Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=localhost" \
    -keyout "$dir/server.key" -out "$work/server.csr" 2>/dev/null
  printf '%s\n' "subjectAltName=DNS:localhost" "basicConstraints=CA:FALSE" \
    "keyUsage=critical,digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" >"$work/server.ext"
  openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial -days 3650 \
    -sha256 -extfile "$work/server.ext" -out "$work/server.crt" 2>/dev/null
  cat "$work/server.crt" "$work/ca.pem" >"$dir/server.pem"
  openssl x509 -in "$work/ca.pem" -outform DER -out "$dir/ca.der"
}

# A registry certificate store keeps each certificate as a "Blob" of serialized properties; the certificate itself
# is property 32 (CERT_CERT_PROP_ID): id, 1, length, then the DER bytes, little-endian DWORDs.
trust_ca() {
  [ -n "${WINEPREFIX:-}" ] || return 0   # a client outside Wine (the catalogue check's test) brings its own CA file
  local thumb blob
  thumb=$(openssl x509 -inform DER -in "$dir/ca.der" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
  blob=$(/usr/bin/python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(); print((struct.pack("<III",32,1,len(d))+d).hex())' \
    "$dir/ca.der")
  "$WINE64" reg add \
    "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumb" /v Blob /t REG_BINARY /d "$blob" /f \
    </dev/null >/dev/null 2>&1
}

case "$action" in
start)
  mkdir -p "$dir"
  stop_server
  make_certificates
  trust_ca
  setsid /usr/bin/python3 "$here/download_server.py" --info "$info" --cert "$dir/server.pem" --key "$dir/server.key" \
    "${@:3}" </dev/null >"$dir/server.log" 2>&1 &
  echo $! >"$dir/server.pid"
  for _ in $(seq 300); do
    [ -f "$info" ] && { echo "download server ready: $(tr '\n' ' ' <"$info")"; exit 0; }
    kill -0 "$(cat "$dir/server.pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "download server did not start:" >&2
  cat "$dir/server.log" >&2
  stop_server
  exit 1
  ;;
stop)
  stop_server
  echo "download server stopped"
  ;;
*)
  echo "usage: $0 start|stop DIR [server arguments]" >&2
  exit 2
  ;;
esac
