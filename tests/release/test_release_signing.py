"""The signature scripts/sign-release gives the program a player gets, made
as `make release` makes it: with a code-signing certificate of the test PKI
and the test time-stamping authority started as a command of its own, whose
address QUILLET_SIGN_TIMESTAMP_URL names. The signature must verify under
the test root, and carry a timestamp that verifies under the authority's
root, so that the release still verifies once its certificate has expired."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
TOOLS = ROOT / "tests" / "tools"
sys.path.insert(0, str(TOOLS))
from pe_image import Image  # noqa: E402
from signing_pki import PUBLISHER_A, SigningPki, loopback_environment  # noqa: E402
from waiting import wait_until  # noqa: E402

EXE = Path(os.environ["QUILLET_RELEASE_EXE"])
# The OID of the RFC 3161 timestamp that an Authenticode signature carries
# among its signer's unauthenticated attributes (1.3.6.1.4.1.311.3.3.1).
RFC3161_TIMESTAMP_OID = bytes.fromhex("060a2b060104018237030301")


@pytest.fixture(scope="module")
def timestamps(tmp_path_factory):
    """The address of the test time-stamping authority, and its folder."""
    folder = tmp_path_factory.mktemp("tsa")
    printed = folder.parent / "tsa-address"
    with printed.open("w") as out:
        authority = subprocess.Popen([sys.executable, str(TOOLS / "signing_pki.py"), "tsa", "--folder", str(folder)],
                                     stdout=out, stderr=subprocess.STDOUT)
    try:
        assert wait_until(lambda: printed.read_text().endswith("\n") or authority.poll() is not None, 60)
        assert authority.poll() is None, printed.read_text()
        yield printed.read_text().strip(), folder
    finally:
        authority.terminate()
        authority.wait(timeout=30)


def test_signed_release_verifies_with_a_timestamp(tmp_path, timestamps):
    url, tsa = timestamps
    with SigningPki(tmp_path / "pki") as pki:
        chain, key = pki.signers["a"]
    program = tmp_path / "Quillet.exe"
    shutil.copyfile(EXE, program)
    environment = dict(loopback_environment(), QUILLET_SIGN_CERT=str(chain), QUILLET_SIGN_KEY=str(key),
                       QUILLET_SIGN_TIMESTAMP_URL=url)
    signing = subprocess.run([str(ROOT / "scripts" / "sign-release"), str(program)], env=environment,
                             capture_output=True, text=True, timeout=120)
    assert signing.returncode == 0, signing.stdout + signing.stderr

    signature = Image(program.read_bytes()).signature()
    assert signature.count(RFC3161_TIMESTAMP_OID) == 1, "no timestamp"
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(pki.root_pem),
                               "-TSA-CAfile", str(tsa / "tsa-root.pem"), "-in", str(program)],
                              capture_output=True, text=True, timeout=60)
    report = verified.stdout + verified.stderr
    assert verified.returncode == 0, report
    lines = report.splitlines()
    assert "Timestamp Server Signature verification: ok" in lines, report
    assert "Signature verification: ok" in lines, report
    assert "Subject: " + PUBLISHER_A in report, "signed by the certificate given"
