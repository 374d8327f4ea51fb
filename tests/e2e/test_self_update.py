"""Self-update of the real program under Wine: the version file on the
update CDN, the verified download, the file swap and the relaunch."""
import hashlib
import shutil

import pytest

from conftest import HELPERS, PROGRAM, STATE, WinePrefix, wait_until
from signing_pki import SigningPki

VERSION_PATH = "/weiduan/Zelmic/ver.txt"
NEW_PATH = "/weiduan/Zelmic/Quillet_new.exe"


@pytest.fixture(scope="module")
def new_program(display):
    """A real copy of the build whose built-in version is 1.0.4, patched in
    the run's template prefix."""
    template = WinePrefix(STATE / "prefix", STATE / "template.log")
    folder = template.drive_c / "set-version"
    folder.mkdir(exist_ok=True)
    shutil.copy2(PROGRAM, folder / "Quillet.exe")
    shutil.copy2(HELPERS / "set_version.exe", folder / "set_version.exe")
    assert template.run("C:\\set-version\\set_version.exe", ["C:\\set-version\\Quillet.exe", "1.0.4"]) == 0
    data = (folder / "Quillet.exe").read_bytes()
    shutil.rmtree(folder)
    assert data != PROGRAM.read_bytes()
    return data


def advertise(origin, version, md5, exe="Quillet_new.exe", line_end="\n"):
    origin.put(VERSION_PATH, line_end.join([f"version={version}", f"md5={md5}", f"exe={exe}", ""]))


def start(prefix):
    """Runs the program until the game it ends up showing is ended: its own
    after no update, the relaunched program's after an update."""
    folder = prefix.install()
    assert prefix.run_and_quit("C:\\Quillet\\Quillet.exe", cwd=folder) == (0, 0)
    return folder


@pytest.mark.parametrize("version", ["1.0.5", "1.0.50", "1.0.5 "])
def test_same_version_downloads_nothing(prefix, origin, new_program, version):
    origin.put(NEW_PATH, new_program)
    advertise(origin, version, hashlib.md5(new_program).hexdigest())
    folder = start(prefix)
    assert origin.count(VERSION_PATH) == 1
    assert origin.count(NEW_PATH) == 0
    assert (folder / "Quillet.exe").read_bytes() == PROGRAM.read_bytes()


@pytest.mark.parametrize("case", ["lower", "upper", "crlf"])
def test_other_version_is_installed_and_relaunched(prefix, origin, new_program, case):
    origin.put(NEW_PATH, new_program)
    md5 = hashlib.md5(new_program).hexdigest()
    advertise(origin, "1.0.4", md5.upper() if case == "upper" else md5,
              line_end="\r\n" if case == "crlf" else "\n")
    folder = start(prefix)
    assert (folder / "Quillet.exe").read_bytes() == new_program
    assert not (folder / "Quillet.exe.old").exists(), "the relaunched program removes the old file"
    assert not (folder / "Quillet.exe.tmp").exists()
    assert origin.count(NEW_PATH) == 1
    assert origin.count(VERSION_PATH) == 1, "the relaunched program never asks for the version file"


@pytest.mark.parametrize("served", ["wrong-md5", "cut", "no-length"])
def test_broken_download_leaves_the_program_untouched(prefix, origin, new_program, served):
    md5 = hashlib.md5(new_program).hexdigest()
    if served == "wrong-md5":
        broken = bytearray(new_program)
        broken[len(broken) // 2] ^= 1
        origin.put(NEW_PATH, bytes(broken))
        exe = "Quillet_new.exe"
    elif served == "cut":
        exe = f"../../cut/{len(new_program)}/{len(new_program) // 2}"
    else:
        exe = f"../../chunked/{len(new_program)}"
    advertise(origin, "1.0.4", md5, exe=exe)
    folder = start(prefix)
    assert (folder / "Quillet.exe").read_bytes() == PROGRAM.read_bytes()
    assert not (folder / "Quillet.exe.tmp").exists()
    assert not (folder / "Quillet.exe.old").exists()
    # The address's dot segments are resolved by the client: the origin's
    # misbehaving route was reached.
    requested = "/" + exe.replace("../", "") if served != "wrong-md5" else NEW_PATH
    assert origin.count(requested) == 1


def test_second_process_of_the_folder_never_asks(prefix, origin, new_program):
    origin.put(NEW_PATH, new_program)
    advertise(origin, "1.0.4", hashlib.md5(new_program).hexdigest())
    folder = prefix.install()
    shutil.copy2(HELPERS / "hold_mutex.exe", prefix.drive_c / "hold_mutex.exe")
    holder = prefix.start("C:\\hold_mutex.exe", ["C__Quillet", "8000", "C:\\held"])
    try:
        assert wait_until(lambda: (prefix.drive_c / "held").exists(), 30)
        assert prefix.run_and_quit("C:\\Quillet\\Quillet.exe", cwd=folder) == (0, 0)
        assert origin.count(VERSION_PATH) == 0
        assert (folder / "Quillet.exe").read_bytes() == PROGRAM.read_bytes()
    finally:
        holder.kill()
        holder.wait(timeout=30)


def test_old_file_that_stays_stops_the_swap(prefix, origin, new_program):
    origin.put(NEW_PATH, new_program)
    advertise(origin, "1.0.4", hashlib.md5(new_program).hexdigest())
    folder = prefix.install()
    # A folder of that name cannot be deleted as a file, nor moved over.
    (folder / "Quillet.exe.old").mkdir()
    (folder / "Quillet.exe.old" / "keep").write_text("x")
    assert prefix.run_and_quit("C:\\Quillet\\Quillet.exe", cwd=folder) == (0, 0)
    assert (folder / "Quillet.exe").read_bytes() == PROGRAM.read_bytes()
    assert (folder / "Quillet.exe.tmp").read_bytes() == new_program, "kept for a later start"


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    return SigningPki(tmp_path_factory.mktemp("pki"))


@pytest.mark.parametrize("update, installed", [("same-publisher", True), ("unsigned", False),
                                               ("other-publisher", False)])
def test_signed_program_installs_only_what_its_publisher_signed(prefix, origin, new_program, pki, tmp_path,
                                                                update, installed):
    # The prefix trusts the test PKI's root, and nothing else does.
    (prefix.drive_c / "root.der").write_bytes(pki.root_der)
    shutil.copy2(HELPERS / "trust_root.exe", prefix.drive_c / "trust_root.exe")
    assert prefix.run("C:\\trust_root.exe", ["C:\\root.der"]) == 0
    running = tmp_path / "Quillet.exe"
    running.write_bytes(pki.sign(PROGRAM.read_bytes(), "a"))
    served = {"same-publisher": lambda: pki.sign(new_program, "a"), "unsigned": lambda: new_program,
              "other-publisher": lambda: pki.sign(new_program, "b")}[update]()
    origin.put(NEW_PATH, served)
    advertise(origin, "1.0.4", hashlib.md5(served).hexdigest())
    folder = prefix.install(program=running)
    assert prefix.run_and_quit("C:\\Quillet\\Quillet.exe", cwd=folder) == (0, 0)
    assert origin.count(NEW_PATH) == 1
    assert origin.count(VERSION_PATH) == 1, "a relaunched program never asks for the version file"
    assert (folder / "Quillet.exe").read_bytes() == (served if installed else running.read_bytes())
    assert not (folder / "Quillet.exe.tmp").exists()
    assert not (folder / "Quillet.exe.old").exists()
