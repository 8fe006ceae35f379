#!/usr/bin/python3
"""Loopback HTTP and HTTPS server for the download engine's bench.

It serves fixture packages the way a download server behaves and misbehaves: with and without Content-Length, a 404
with a body, other 2xx statuses (206 with the whole package, 204 without a body), bodies that are cut, short, long,
wrong by one byte or announced with the wrong length, a reset in the middle, stalls before the headers and in the
body, a redirect and a throttled body for cancellation; HEAD gets the same status and headers without a body. The same
handler answers on a plain port (127.0.0.1) and a TLS port (for "localhost", TLS 1.2 at most); a second TLS port
speaks TLS 1.3 only, so that a client offering TLS 1.0 to 1.2 fails its handshake, as an old machine does against a
server that has dropped what it speaks. A third port is bound but never listens, so a connection to it is refused.
The plain port also answers as an HTTP proxy would (a request line with an absolute address), and "record/TOKEN/NAME"
serves NAME whole after appending the request line and headers it received to requests/TOKEN.txt beside the info
file, for the tests to read.

The fixtures' sizes and SHA-256 digests are computed here and written, with the ports, to an info file that the test
programs read: the tests never take a digest from the code they test.

The server ends by itself: after --lifetime seconds, or after --idle seconds without a request.
"""
import argparse
import hashlib
import http.server
import os
import urllib.parse
import random
import shutil
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time

STALL_SECONDS = 1.5
SLOW_PIECE = 16384
SLOW_PAUSE = 0.01
BIG_SIZE = 121_346_568  # the largest package of the catalogue
BIG_BLOCK = 1 << 20
MISSING_BODY = b"<html><body>404: no such package here</body></html>"


class Fixture:
    def __init__(self, name, magic, size, seed):
        self.name = name
        self.size = size
        body = bytearray(random.Random(seed).randbytes(size))
        body[: len(magic)] = magic
        self.body = bytes(body)
        self.sha256 = hashlib.sha256(self.body).hexdigest()

    def chunks(self, start=0, end=None):
        end = self.size if end is None else end
        yield self.body[start:end]


class FileFixture:
    """A file served as it is on disk, under its own name (the installation road's packages)."""

    def __init__(self, path):
        self.name = os.path.basename(path)
        with open(path, "rb") as source:
            self.body = source.read()
        self.size = len(self.body)
        self.sha256 = hashlib.sha256(self.body).hexdigest()

    def chunks(self, start=0, end=None):
        end = self.size if end is None else end
        yield self.body[start:end]


class BigFixture:
    """The benchmark's package: never held in memory as a whole (one repeated block with an executable signature)."""

    def __init__(self, name, size):
        self.name = name
        self.size = size
        block = bytearray(random.Random(7).randbytes(BIG_BLOCK))
        self.first = bytes(b"MZ" + block[2:])
        self.block = bytes(block)
        digest = hashlib.sha256()
        for piece in self.chunks():
            digest.update(piece)
        self.sha256 = digest.hexdigest()

    def chunks(self, start=0, end=None):
        if start != 0 or end not in (None, self.size):
            raise ValueError("the benchmark's package is served whole only")
        for offset in range(0, self.size, BIG_BLOCK):
            block = self.first if offset == 0 else self.block
            yield memoryview(block)[: min(BIG_BLOCK, self.size - offset)]


FIXTURES = {}
LAST_MODIFIED = "Thu, 06 Feb 2025 10:00:00 GMT"


class Discard:
    """Where a HEAD answer's body goes."""

    def write(self, data):
        return len(data)

    def flush(self):
        pass


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 30  # an idle keep-alive connection ends after this many seconds
    server_version = "bench"
    sys_version = ""

    def log_message(self, fmt, *args):
        pass

    def send_body(self, fixture, start=0, end=None, pause=0.0):
        for piece in fixture.chunks(start, end):
            if pause:
                for at in range(0, len(piece), SLOW_PIECE):
                    self.wfile.write(piece[at : at + SLOW_PIECE])
                    self.wfile.flush()
                    time.sleep(pause)
            else:
                self.wfile.write(piece)
        self.wfile.flush()

    def head(self, status, length=None, extra=(), close=False):
        """Status and headers. A response that breaks its own framing closes its connection, so that no client
        ever reuses a connection with bytes of it left over."""
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if length is not None:
            self.send_header("Content-Length", str(length))
        for name, value in extra:
            self.send_header(name, value)
        if length is None or close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()

    def do_GET(self):
        self.server.touch()
        # A client that goes through a proxy names the whole address in its request line.
        parts = urllib.parse.urlsplit(self.path).path.strip("/").split("/")
        try:
            if parts[0] == "record" and len(parts) == 3:
                self.record(parts[1])
                parts = ["ok", parts[2]]
            kind, name = parts[0], parts[1] if len(parts) > 1 else ""
            self.route(kind, FIXTURES.get(name))
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            self.close_connection = True

    def do_HEAD(self):
        """The GET's status and headers, with a fixed date, and no body (the catalogue check asks this way)."""
        real = self.wfile
        self.head_only = True
        try:
            self.do_GET()
        finally:
            self.wfile, self.head_only = real, False

    def end_headers(self):
        if getattr(self, "head_only", False):
            self.send_header("Last-Modified", LAST_MODIFIED)
            super().end_headers()
            self.wfile = Discard()
        else:
            super().end_headers()

    def record(self, token):
        """The request as it arrived, written before the response so that it is there when the client is done."""
        if not token.isalnum():
            raise OSError("bad token")
        folder = os.path.join(os.path.dirname(os.path.abspath(self.server.info)), "requests")
        os.makedirs(folder, exist_ok=True)
        # Appended, one write per request, so that a test can count the requests made under its token.
        with open(os.path.join(folder, token + ".txt"), "a", newline="") as out:
            out.write(self.requestline + "\r\n" + "".join(f"{k}: {v}\r\n" for k, v in self.headers.items()) + "\r\n")

    def route(self, kind, f):
        if kind == "missing":
            self.head(404, len(MISSING_BODY))
            self.wfile.write(MISSING_BODY)
            return
        if kind == "stall-head":
            time.sleep(STALL_SECONDS)
            self.close_connection = True
            return
        if f is None:
            self.head(404, 0)
            return
        half = f.size // 2
        if kind == "ok":
            self.head(200, f.size)
            self.send_body(f)
        elif kind == "nolength":
            self.head(200, None)
            self.send_body(f)
        elif kind == "partial":  # the whole package, as a range that happens to cover it
            self.head(206, f.size, [("Content-Range", "bytes 0-%d/%d" % (f.size - 1, f.size))])
            self.send_body(f)
        elif kind == "nocontent":
            self.send_response(204)
            self.end_headers()
        elif kind == "redirect":
            self.head(302, 0, [("Location", "/ok/" + f.name)])
        elif kind == "slow":  # throttled, for cancellation at any moment of a flowing transfer
            self.head(200, f.size, close=True)
            self.send_body(f, pause=SLOW_PAUSE)
        elif kind == "cut":  # announced in full, then closed half way (a FIN, not a reset)
            self.head(200, f.size, close=True)
            self.send_body(f, 0, half)
        elif kind == "short":  # a complete, honest response that is one byte shorter than the package
            self.head(200, f.size - 1)
            self.send_body(f, 0, f.size - 1)
        elif kind == "long":  # a complete, honest response that is longer than the package
            extra = 70000
            self.head(200, f.size + extra, close=True)
            self.send_body(f)
            self.wfile.write(bytes(extra))
        elif kind == "flip":  # the right length, one byte wrong in the middle
            body = bytearray(f.body)
            body[half] ^= 0x01
            self.head(200, f.size)
            self.wfile.write(bytes(body))
        elif kind == "overstated":  # the whole package, announced as longer, then closed
            self.head(200, f.size + 10, close=True)
            self.send_body(f)
        elif kind == "understated":  # the whole package, announced as shorter
            self.head(200, f.size - 10, close=True)
            self.send_body(f)
        elif kind == "reset":  # half the body, then a reset instead of an orderly close
            self.head(200, f.size, close=True)
            self.send_body(f, 0, half)
            # Closed here, with no orderly shutdown first: a zero linger turns the close into a reset.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
            self.close_connection = True
        elif kind == "stall-body":
            self.head(200, f.size, close=True)
            self.send_body(f, 0, half)
            time.sleep(STALL_SECONDS)
        else:
            self.head(404, 0)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    last_request = time.monotonic()

    def touch(self):
        Server.last_request = time.monotonic()


class TlsServer(Server):
    def __init__(self, address, handler, context):
        super().__init__(address, handler)
        self.context = context

    def finish_request(self, request, client_address):
        # The handshake runs on the request's own thread, so a slow client never holds up the others.
        request.settimeout(Handler.timeout)
        try:
            tls = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        finally:
            tls.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--info", required=True, help="file to write the ports and fixtures to")
    parser.add_argument("--cert", required=True, help="server certificate chain (PEM, DNS name localhost)")
    parser.add_argument("--key", required=True, help="server private key (PEM)")
    parser.add_argument("--lifetime", type=float, default=3600)
    parser.add_argument("--idle", type=float, default=1200)
    parser.add_argument("--big", action="store_true", help="also serve the benchmark's 121,346,568-byte package")
    parser.add_argument("--big-size", type=int, default=BIG_SIZE, help="the benchmark package's size, for a quick run")
    parser.add_argument("--files", help="also serve every file of this folder under its own name")
    # Fixed ports, for a client whose addresses are built in (the installation road's test catalogue); 0 lets the
    # system choose.
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--tls-port", type=int, default=0)
    parser.add_argument("--closed-port", type=int, default=0)
    parser.add_argument("--tls13-port", type=int, default=0)
    args = parser.parse_args()

    for fixture in (
        Fixture("setup.exe", b"MZ", 300_001, 1),
        Fixture("update.msu", b"MSCF", 131_072, 2),
        Fixture("slow.exe", b"MZ", 2_097_152, 3),
    ):
        FIXTURES[fixture.name] = fixture
    if args.big:
        FIXTURES["big.exe"] = BigFixture("big.exe", args.big_size)
    if args.files:
        for name in sorted(os.listdir(args.files)):
            FIXTURES[name] = FileFixture(os.path.join(args.files, name))

    Server.info = args.info
    # Records of an earlier run would read as requests of this one.
    shutil.rmtree(os.path.join(os.path.dirname(os.path.abspath(args.info)), "requests"), ignore_errors=True)
    plain = Server(("127.0.0.1", args.port), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.maximum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(args.cert, args.key)
    secure = TlsServer(("127.0.0.1", args.tls_port), Handler, context)
    modern = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    modern.minimum_version = ssl.TLSVersion.TLSv1_3
    modern.load_cert_chain(args.cert, args.key)
    tls13_only = TlsServer(("127.0.0.1", args.tls13_port), Handler, modern)
    closed = socket.socket(socket.AF_INET, socket.SOCK_STREAM)  # bound, never listening: connections are refused
    closed.bind(("127.0.0.1", args.closed_port))

    for server in (plain, secure, tls13_only):
        threading.Thread(target=server.serve_forever, daemon=True).start()

    lines = [
        "http_port=%d" % plain.server_address[1],
        "https_port=%d" % secure.server_address[1],
        "closed_port=%d" % closed.getsockname()[1],
        "tls13_port=%d" % tls13_only.server_address[1],
        "missing_length=%d" % len(MISSING_BODY),
        "pid=%d" % os.getpid(),
    ]
    lines += ["fixture=%s %d %s" % (f.name, f.size, f.sha256) for f in FIXTURES.values()]
    temp = args.info + ".tmp"
    with open(temp, "w") as out:
        out.write("\n".join(lines) + "\n")
    os.replace(temp, args.info)  # readers never see half a file

    started = Server.last_request = time.monotonic()
    while True:
        time.sleep(1)
        now = time.monotonic()
        if now - started > args.lifetime or now - Server.last_request > args.idle:
            break
    try:
        os.remove(args.info)
    except OSError:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
