"""A code-signing PKI made at test time with openssl, and programs signed with
osslsigncode, for the tests of the update's signature check. Nothing here is
kept between runs, and no key leaves the folder it is made in.

The PKI: two roots (only the first is ever trusted), publisher A, A renewed
with a new key, publisher B under the second root, a certificate with A's
subject under the second root, and an A whose certificate has expired.

    signing_pki.py files --out DIR --program EXE --other EXE

writes DIR/root.der (the root to trust) and the signed files of the check's
table (see FILES)."""
import argparse
import datetime
import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from pe_image import Image  # noqa: E402

PUBLISHER_A = "/CN=Quillet Test Publisher/O=Quillet Test/C=CN"
PUBLISHER_B = "/CN=Other Test Publisher/O=Other Test/C=CN"

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
[ publisher ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def stamp(when):
    return when.strftime("%Y%m%d%H%M%SZ")


class Authority:
    """A root certificate authority kept in a folder of its own."""

    def __init__(self, folder, name):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.pem = self.folder / "ca.pem"
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650",
            "-keyout", str(self.folder / "ca.key"), "-out", str(self.pem), "-subj", f"/CN={name}/O=Quillet Test",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        (self.folder / "index.txt").write_text("")
        (self.folder / "serial").write_text("1000\n")
        (self.folder / "ca.cnf").write_text(CA_CONFIG.format(folder=self.folder))

    def der(self):
        return subprocess.run(["openssl", "x509", "-in", str(self.pem), "-outform", "DER"], check=True,
                              capture_output=True).stdout

    def issue(self, name, subject, expired=False):
        """A code-signing certificate with a key of its own: (chain file, key file)."""
        key, request, certificate = (self.folder / f"{name}.{ext}" for ext in ("key", "csr", "pem"))
        run("openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key), "-out", str(request),
            "-subj", subject)
        now = datetime.datetime.now(datetime.timezone.utc)
        start, end = (now - datetime.timedelta(days=3 * 365), now - datetime.timedelta(days=365)) if expired \
            else (now - datetime.timedelta(days=1), now + datetime.timedelta(days=3650))
        run("openssl", "ca", "-batch", "-notext", "-config", str(self.folder / "ca.cnf"), "-in", str(request),
            "-out", str(certificate), "-startdate", stamp(start), "-enddate", stamp(end))
        chain = self.folder / f"{name}-chain.pem"
        chain.write_bytes(certificate.read_bytes() + self.pem.read_bytes())
        return chain, key


class SigningPki:
    """The roots and publishers of the signature tests, made in folder."""

    def __init__(self, folder):
        self.folder = Path(folder)
        trusted = Authority(self.folder / "root", "Quillet Test Root")
        other = Authority(self.folder / "other-root", "Other Test Root")
        self.root_der = trusted.der()
        self.signers = {
            "a": trusted.issue("a", PUBLISHER_A),
            "a-renewed": trusted.issue("a-renewed", PUBLISHER_A),
            "a-expired": trusted.issue("a-expired", PUBLISHER_A, expired=True),
            "b": other.issue("b", PUBLISHER_B),
            "a-from-other-root": other.issue("a-from-other-root", PUBLISHER_A),
        }

    def sign(self, program, signer):
        """The bytes of program (bytes) signed by one of the signers, without a timestamp."""
        chain, key = self.signers[signer]
        source, signed = self.folder / "unsigned.tmp", self.folder / "signed.tmp"
        source.write_bytes(program)
        signed.unlink(missing_ok=True)
        run("osslsigncode", "sign", "-certs", str(chain), "-key", str(key), "-h", "sha256", "-n", "Quillet",
            "-in", str(source), "-out", str(signed))
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
    """{file name: bytes} of the check's table. running.exe is the running
    program (signed by A); expired-running.exe a running program whose
    signer's certificate has expired; unsigned.exe a development build."""
    same = pki.sign(program, "a")
    return {
        "running.exe": pki.sign(other, "a"),
        "expired-running.exe": pki.sign(other, "a-expired"),
        "same-publisher.exe": same,
        "renewed-key.exe": pki.sign(program, "a-renewed"),
        "unsigned.exe": program,
        "flipped-byte.exe": flipped(same),
        "moved.exe": moved_signature(same, other, patch_digest=False),
        "moved-digest-patched.exe": moved_signature(same, other, patch_digest=True),
        "other-publisher.exe": pki.sign(program, "b"),
        "subject-from-other-root.exe": pki.sign(program, "a-from-other-root"),
        "expired.exe": pki.sign(program, "a-expired"),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("command", choices=["files"])
    parser.add_argument("--out", required=True, type=Path)
    parser.add_argument("--program", required=True, type=Path)
    parser.add_argument("--other", required=True, type=Path)
    args = parser.parse_args()
    shutil.rmtree(args.out, ignore_errors=True)
    pki = SigningPki(args.out / "pki")
    for name, data in table_files(pki, Image(args.program.read_bytes()).unsigned(),
                                  Image(args.other.read_bytes()).unsigned()).items():
        (args.out / name).write_bytes(data)
    (args.out / "root.der").write_bytes(pki.root_der)
    return 0


if __name__ == "__main__":
    sys.exit(main())
