"""A code-signing PKI made at test time with openssl, programs signed with
osslsigncode, and a time-stamping authority on a loopback port, for the tests
of the update's signature check and of the release's signature. Nothing here
is kept between runs, and no key leaves the folder it is made in.

The PKI: the test root and a third root, both trusted, and another root that
nobody trusts. Under the test root: publisher A, A renewed with a new key, an
A whose certificate has expired (valid from three years ago to one year ago)
and an A whose certificate may not sign code (client authentication only).
Under the third root an A of the same subject; under the untrusted root
publisher B and another A of the same subject. The time-stamping authority
has a root of its own, trusted too, and answers RFC 3161 queries with
`openssl ts -reply`, as of now or, under faketime, as of a time in its past.

    signing_pki.py files --out DIR --program EXE --other EXE

writes DIR/root.der, DIR/third-root.der and DIR/tsa-root.der (the roots to
trust), DIR/third-root-key.sha256 (the hex SHA-256 of the third root's
SubjectPublicKeyInfo) and the signed files of the check's table (see
table_files); the PKI itself stays in DIR/pki.

    signing_pki.py tsa --folder DIR [--port PORT]

makes a time-stamping authority in DIR (its root in DIR/tsa-root.pem and
DIR/tsa-root.der), prints its address on a line of its own and answers until
it is ended: the QUILLET_SIGN_TIMESTAMP_URL of scripts/sign-release."""
import argparse
import base64
import datetime
import hashlib
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from pe_image import Image  # noqa: E402

PUBLISHER_A = "/CN=Quillet Test Publisher/O=Quillet Test/C=CN"
PUBLISHER_B = "/CN=Other Test Publisher/O=Other Test/C=CN"

YEAR = datetime.timedelta(days=365)
# Every root and the time-stamping authority's certificate were valid long
# before the expired publisher's certificate, and stay valid long after.
ROOT_START, ROOT_END = -5 * YEAR, 10 * YEAR

CA_CONFIG = """[ ca ]
default_ca = signing
[ signing ]
dir = {folder}
database = {folder}/index.txt
new_certs_dir = {folder}
serial = {folder}/serial
certificate = {folder}/ca.pem
private_key = {folder}/ca.key
default_md = sha256
policy = anything
unique_subject = no
email_in_dn = no
preserve = yes
x509_extensions = publisher
[ anything ]
commonName = supplied
organizationName = optional
countryName = optional
[ root ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ publisher ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ client ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = clientAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ timestamping ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""

TSA_CONFIG = """[ tsa ]
default_tsa = quillet_test
[ quillet_test ]
serial = {folder}/tsa-serial
crypto_device = builtin
signer_cert = {certificate}
certs = {root}
signer_key = {key}
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def run(*command, env=None):
    """The standard output of command; a failure says what the command said."""
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed with {done.returncode}: "
                           f"{done.stderr.decode('utf-8', 'replace').strip()}")
    return done.stdout


def loopback_environment():
    """The environment without a proxy: the time-stamping authority is on
    the loopback, where a proxy named by the environment cannot reach it."""
    return {name: value for name, value in os.environ.items() if name.lower() not in ("http_proxy", "all_proxy")}


def stamp(when):
    return when.strftime("%Y%m%d%H%M%SZ")


def utc_now():
    return datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)


class Authority:
    """A root certificate authority kept in a folder of its own."""

    def __init__(self, folder, name, now):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.pem = self.folder / "ca.pem"
        self.now = now
        (self.folder / "index.txt").write_text("")
        (self.folder / "serial").write_text("1000\n")
        self.config = self.folder / "ca.cnf"
        self.config.write_text(CA_CONFIG.format(folder=self.folder))
        # Signed by openssl ca rather than made by req -x509, whose validity
        # can only start now.
        key, request = self.folder / "ca.key", self.folder / "ca.csr"
        run("openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key), "-out", str(request),
            "-subj", f"/CN={name}/O=Quillet Test")
        run("openssl", "ca", "-batch", "-notext", "-selfsign", "-config", str(self.config), "-keyfile", str(key),
            "-in", str(request), "-out", str(self.pem), "-extensions", "root",
            "-startdate", stamp(now + ROOT_START), "-enddate", stamp(now + ROOT_END))

    def der(self):
        return run("openssl", "x509", "-in", str(self.pem), "-outform", "DER")

    def key_sha256(self):
        """The lowercase hex SHA-256 of the root's DER SubjectPublicKeyInfo."""
        public = run("openssl", "x509", "-in", str(self.pem), "-noout", "-pubkey").decode("ascii")
        der = base64.b64decode("".join(line for line in public.splitlines() if not line.startswith("-----")))
        return hashlib.sha256(der).hexdigest()

    def issue(self, name, subject, start, end, extensions="publisher"):
        """A certificate with a key of its own, valid from start to end
        (offsets from now): (chain file, key file)."""
        key, request, certificate = (self.folder / f"{name}.{ext}" for ext in ("key", "csr", "pem"))
        run("openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key), "-out", str(request),
            "-subj", subject)
        run("openssl", "ca", "-batch", "-notext", "-config", str(self.config), "-in", str(request),
            "-out", str(certificate), "-extensions", extensions,
            "-startdate", stamp(self.now + start), "-enddate", stamp(self.now + end))
        chain = self.folder / f"{name}-chain.pem"
        chain.write_bytes(certificate.read_bytes() + self.pem.read_bytes())
        return chain, key


class TimestampAuthority:
    """An RFC 3161 time-stamping authority made in folder: its own root, a
    certificate whose critical extended key use is time stamping, and an
    HTTP responder on a loopback port once started. A query posted to
    /at/UNIX-TIME is answered as of that time (the authority's openssl runs
    under faketime); any other path is answered as of now."""

    def __init__(self, folder, now=None):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.root = Authority(self.folder / "root", "Quillet Test Timestamp Root", now or utc_now())
        _, key = self.root.issue("tsa", "/CN=Quillet Test Timestamps/O=Quillet Test", ROOT_START, ROOT_END,
                                 extensions="timestamping")
        (self.folder / "tsa-serial").write_text("01\n")
        self.config = self.folder / "tsa.cnf"
        self.config.write_text(TSA_CONFIG.format(folder=self.folder, certificate=self.root.folder / "tsa.pem",
                                                 root=self.root.pem, key=key))
        self.root_pem = self.root.pem
        self.root_der = self.root.der()
        self.server = None
        # openssl ts -reply counts its serial number in a file: one answer at a time.
        self.lock = threading.Lock()

    def reply(self, query, at=None):
        """The DER TimeStampResp to a DER TimeStampReq, as of at (a datetime) or now."""
        with self.lock, tempfile.TemporaryDirectory(dir=self.folder) as work:
            request, response = Path(work) / "query.tsq", Path(work) / "reply.tsr"
            request.write_bytes(query)
            command = ["openssl", "ts", "-reply", "-config", str(self.config), "-queryfile", str(request),
                       "-out", str(response)]
            env = None
            if at is not None:
                command = ["faketime", at.strftime("%Y-%m-%d %H:%M:%S")] + command
                env = dict(os.environ, TZ="UTC")
            run(*command, env=env)
            return response.read_bytes()

    def start(self, port=0):
        """Starts answering on 127.0.0.1; the address of "now"."""
        authority = self

        class Handler(http.server.BaseHTTPRequestHandler):
            # One query at a time: a client that says nothing is dropped.
            timeout = 30

            def do_POST(self):
                path = self.path.strip("/")
                try:
                    at = (datetime.datetime.fromtimestamp(int(path[3:]), datetime.timezone.utc)
                          if path.startswith("at/") else None)
                    query = self.rfile.read(int(self.headers["Content-Length"]))
                except (TypeError, ValueError) as error:
                    self.send_error(400, explain=str(error))
                    return
                try:
                    answer = authority.reply(query, at)
                except (OSError, RuntimeError) as error:
                    self.send_error(500, explain=str(error))
                    return
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(answer)))
                self.end_headers()
                self.wfile.write(answer)

            def log_message(self, *args):
                pass

        self.server = http.server.HTTPServer(("127.0.0.1", port), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self.url()

    def url(self, at=None):
        """The address that answers as of at (a datetime), or as of now."""
        assert self.server, "not started"
        base = f"http://127.0.0.1:{self.server.server_address[1]}/"
        return base if at is None else f"{base}at/{int(at.timestamp())}"

    def stop(self):
        if self.server:
            self.server.shutdown()
            self.server.server_close()
            self.server = None


class SigningPki:
    """The roots, publishers and time-stamping authority of the signature
    tests, made in folder. The authority answers from the first timestamped
    signature until close()."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.now = utc_now()
        trusted = Authority(self.folder / "root", "Quillet Test Root", self.now)
        third = Authority(self.folder / "third-root", "Third Test Root", self.now)
        other = Authority(self.folder / "other-root", "Other Test Root", self.now)
        self.tsa = TimestampAuthority(self.folder / "tsa", self.now)
        self.root_der, self.root_pem = trusted.der(), trusted.pem
        self.third_root_der, self.third_root_key_sha256 = third.der(), third.key_sha256()
        # Every root the prefix of the tests trusts, by the name of its file.
        self.trusted_roots = {"root.der": self.root_der, "third-root.der": self.third_root_der,
                              "tsa-root.der": self.tsa.root_der}
        valid = (-datetime.timedelta(days=1), 10 * YEAR)
        expired = (-3 * YEAR, -YEAR)
        # A time at which the expired certificate was valid.
        self.expired_valid_at = self.now - 2 * YEAR
        self.signers = {
            "a": trusted.issue("a", PUBLISHER_A, *valid),
            "a-renewed": trusted.issue("a-renewed", PUBLISHER_A, *valid),
            "a-expired": trusted.issue("a-expired", PUBLISHER_A, *expired),
            "a-no-code-signing": trusted.issue("a-no-code-signing", PUBLISHER_A, *valid, extensions="client"),
            "a-from-third-root": third.issue("a-from-third-root", PUBLISHER_A, *valid),
            "b": other.issue("b", PUBLISHER_B, *valid),
            "a-from-other-root": other.issue("a-from-other-root", PUBLISHER_A, *valid),
        }

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def close(self):
        self.tsa.stop()

    def sign(self, program, signer, timestamp=False, when=None):
        """The bytes of program (bytes) signed by one of the signers; with
        timestamp, timestamped by the test authority. when (a datetime)
        signs as of that time: the signing time, and the timestamp's."""
        chain, key = self.signers[signer]
        source, signed = self.folder / "unsigned.tmp", self.folder / "signed.tmp"
        source.write_bytes(program)
        signed.unlink(missing_ok=True)
        command = ["osslsigncode", "sign", "-certs", str(chain), "-key", str(key), "-h", "sha256", "-n", "Quillet"]
        if when is not None:
            command += ["-time", str(int(when.timestamp()))]
        if timestamp:
            if not self.tsa.server:
                self.tsa.start()
            command += ["-ts", self.tsa.url(when)]
        run(*command, "-in", str(source), "-out", str(signed), env=loopback_environment())
        return signed.read_bytes()


def moved_signature(signed, other, patch_digest):
    """other carrying the signature of signed; with patch_digest the image
    digest inside the signed content is replaced by other's own, which leaves
    the signed messageDigest attribute naming the old content."""
    signature = Image(signed).signature()
    moved = Image(other).with_signature(signature)
    if patch_digest:
        # The digest covers the padding that carrying a signature adds.
        old, new = Image(signed).image_digest(), Image(moved).image_digest()
        assert signature.count(old) == 1
        moved = Image(other).with_signature(signature.replace(old, new))
    return moved


def flipped(signed):
    """signed with one byte of its image changed after signing."""
    data = bytearray(signed)
    data[len(Image(signed).unsigned()) // 2] ^= 0x01
    return bytes(data)


def table_files(pki, program, other):
    """{file name: bytes} of the check's table, from program (unsigned) and
    other (another unsigned program, without a version resource).
    running.exe is the running program, as program's version and signed by
    A; expired-running.exe the same signed by A's expired certificate.
    The updates are one build newer (the third number of the version one
    higher) unless their name says otherwise; unsigned.exe is a newer
    development build."""
    file_version = Image(program).fixed_version()[0]
    assert file_version[2] > 0, f"no older version than {file_version} to make"
    newer = Image(program).with_version(file_version[:2] + (file_version[2] + 1, file_version[3]))
    older = Image(program).with_version(file_version[:2] + (file_version[2] - 1, file_version[3]))
    same = pki.sign(newer, "a")
    return {
        "running.exe": pki.sign(program, "a"),
        "expired-running.exe": pki.sign(program, "a-expired"),
        "unsigned.exe": newer,
        "same-publisher.exe": same,
        "same-publisher-timestamped.exe": pki.sign(newer, "a", timestamp=True),
        "renewed-key.exe": pki.sign(newer, "a-renewed"),
        "older.exe": pki.sign(older, "a"),
        "same-version.exe": pki.sign(program, "a"),
        "other-product.exe": pki.sign(Image(newer).with_version(ProductName="Quillex"), "a"),
        "other-original-name.exe": pki.sign(Image(newer).with_version(OriginalFilename="Quillex.exe"), "a"),
        "flipped-byte.exe": flipped(same),
        "moved.exe": moved_signature(same, other, patch_digest=False),
        "moved-digest-patched.exe": moved_signature(same, other, patch_digest=True),
        "other-publisher.exe": pki.sign(newer, "b"),
        "subject-from-other-root.exe": pki.sign(newer, "a-from-other-root"),
        "subject-from-third-root.exe": pki.sign(newer, "a-from-third-root"),
        "no-code-signing.exe": pki.sign(newer, "a-no-code-signing"),
        "expired.exe": pki.sign(newer, "a-expired"),
        "expired-timestamped.exe": pki.sign(newer, "a-expired", timestamp=True, when=pki.expired_valid_at),
        "other-program.exe": pki.sign(other, "a"),
    }


def write_files(out, program, other):
    shutil.rmtree(out, ignore_errors=True)
    with SigningPki(out / "pki") as pki:
        for name, data in table_files(pki, Image(program.read_bytes()).unsigned(),
                                      Image(other.read_bytes()).unsigned()).items():
            (out / name).write_bytes(data)
        for name, der in pki.trusted_roots.items():
            (out / name).write_bytes(der)
        (out / "third-root-key.sha256").write_text(pki.third_root_key_sha256 + "\n")


def serve_timestamps(folder, port):
    authority = TimestampAuthority(folder)
    shutil.copyfile(authority.root_pem, folder / "tsa-root.pem")
    (folder / "tsa-root.der").write_bytes(authority.root_der)
    print(authority.start(port), flush=True)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
    finally:
        authority.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    files = commands.add_parser("files", help="the signed files of the update's signature check")
    files.add_argument("--out", required=True, type=Path)
    files.add_argument("--program", required=True, type=Path)
    files.add_argument("--other", required=True, type=Path)
    tsa = commands.add_parser("tsa", help="a time-stamping authority on a loopback port, until ended")
    tsa.add_argument("--folder", required=True, type=Path)
    tsa.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    if args.command == "files":
        write_files(args.out, args.program, args.other)
    else:
        serve_timestamps(args.folder, args.port)
    return 0


if __name__ == "__main__":
    sys.exit(main())
