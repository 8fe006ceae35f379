"""What the release tests need around the scripts: certificates made with openssl the way a user's would be (a CA, a
code-signing certificate, a timestamping certificate, a PKCS#12), an RFC 3161 timestamp server on loopback, and the
scripts run with an environment holding nothing but what a test gives them."""
import http.server
import os
import subprocess
import tempfile
import threading

SOURCE = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPTS = os.path.join(SOURCE, "scripts")
PYTHON = "/usr/bin/python3"  # Debian's, which has python3-pefile
PRODUCT_DIR = os.environ.get("HOST_PRODUCT_DIR") or os.path.join(SOURCE, "build", "x86-release")
PRODUCT_EXE = os.path.join(PRODUCT_DIR, "bin", "VelvaroHost.exe")


def openssl(*args, cwd=None):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_ca(folder, name):
    key, cert = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".pem")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
            "-subj", "/CN=" + name, "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    return key, cert


def make_leaf(folder, name, ca, usage, password=None):
    """A certificate for `usage` (codeSigning or timeStamping) issued by `ca`; its key encrypted when a password is
    given. Returns (key, cert)."""
    ca_key, ca_cert = ca
    key, cert = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".pem")
    csr, ext = os.path.join(folder, name + ".csr"), os.path.join(folder, name + ".ext")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=" + name)
    critical = "critical," if usage == "timeStamping" else ""
    with open(ext, "w", encoding="ascii") as f:
        f.write("basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                f"extendedKeyUsage={critical}{usage}\n")
    openssl("x509", "-req", "-in", csr, "-CA", ca_cert, "-CAkey", ca_key, "-CAcreateserial", "-days", "2",
            "-extfile", ext, "-out", cert)
    if password is not None:
        encrypted = os.path.join(folder, name + ".enc.key")
        openssl("pkey", "-in", key, "-out", encrypted, "-aes256", "-passout", "pass:" + password)
        key = encrypted
    return key, cert


def make_pkcs12(folder, name, leaf, ca, password):
    key, cert = leaf
    p12 = os.path.join(folder, name + ".p12")
    openssl("pkcs12", "-export", "-inkey", key, "-in", cert, "-certfile", ca[1], "-out", p12,
            "-passout", "pass:" + password)
    return p12


def script_env(**given):
    """The caller's environment without any variable the scripts read, nor proxies (the timestamp server is on
    loopback), plus what the test gives."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("HOST_SIGN_", "HOST_TIMESTAMP_", "HOST_RELEASE_", "HOST_PAYLOAD", "HOST_PRODUCT_"))
           and "proxy" not in k.lower()}
    env.update(given)
    return env


def run_script(name, *args, timeout=120, **given):
    # A changed signature can make osslsigncode print any bytes.
    return subprocess.run([os.path.join(SCRIPTS, name), *args], env=script_env(**given), capture_output=True,
                          encoding="utf-8", errors="replace", timeout=timeout)


class TimestampServer:
    """An RFC 3161 timestamp authority on 127.0.0.1, answering with `openssl ts -reply`; `requests` counts the
    timestamps it gave."""

    def __init__(self, folder):
        self.folder = folder
        self.ca = make_ca(folder, "Test timestamp CA")
        self.key, self.cert = make_leaf(folder, "Test timestamp authority", self.ca, "timeStamping")
        self.config = os.path.join(folder, "tsa.cnf")
        with open(os.path.join(folder, "tsa.serial"), "w", encoding="ascii") as f:
            f.write("01\n")
        with open(self.config, "w", encoding="ascii") as f:
            f.write("[ tsa ]\ndefault_tsa = tsa_config\n[ tsa_config ]\n"
                    f"serial = {folder}/tsa.serial\ncrypto_device = builtin\nsigner_digest = sha256\n"
                    "default_policy = 1.2.3.4.1\nother_policies = 1.2.3.4.2\ndigests = sha256, sha384, sha512\n"
                    "accuracy = secs:1\nordering = no\ntsa_name = no\ness_cert_id_chain = no\n"
                    "ess_cert_id_alg = sha256\n")
        self.requests = 0
        bench = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers["Content-Length"]))
                with tempfile.TemporaryDirectory() as work:
                    with open(os.path.join(work, "query"), "wb") as f:
                        f.write(query)
                    openssl("ts", "-reply", "-config", bench.config, "-queryfile", os.path.join(work, "query"),
                            "-signer", bench.cert, "-inkey", bench.key, "-chain", bench.ca[1],
                            "-out", os.path.join(work, "reply"))
                    with open(os.path.join(work, "reply"), "rb") as f:
                        reply = f.read()
                bench.requests += 1
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *args):
                pass

        self.server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()
        self.thread.join(10)
