"""Start-up from drive C: the move to another fixed drive, the old file's
removal by the copy, and the desktop shortcut that follows the program."""
from conftest import PROGRAM


def link_text(path):
    """The shortcut file as text in both encodings, for finding paths in it."""
    data = path.read_bytes()
    return data.decode("latin-1") + data.decode("utf-16-le", errors="ignore")


def test_moves_itself_to_the_other_fixed_drive(prefix, tmp_path):
    other = tmp_path / "drive-d"
    prefix.map_drive("d", other)
    folder = prefix.install()

    # The original ends by itself; the copy shows the game, which is ended.
    assert prefix.run_and_quit("C:\\Quillet\\Quillet.exe", cwd=folder) == (0, 0)

    assert (other / "mbrl" / "Quillet.exe").read_bytes() == PROGRAM.read_bytes()
    assert not (folder / "Quillet.exe").exists(), "the copy deletes the original"
    shortcut = prefix.desktop() / "ZelmicVantorra.lnk"
    assert shortcut.exists()
    text = link_text(shortcut)
    assert "D:\\mbrl\\Quillet.exe" in text
    assert "C:\\Quillet" not in text


def test_stays_in_place_without_another_fixed_drive(prefix):
    folder = prefix.install()

    assert prefix.run_and_quit("C:\\Quillet\\Quillet.exe", cwd=folder) == (0, 0)

    assert (folder / "Quillet.exe").exists()
    shortcut = prefix.desktop() / "ZelmicVantorra.lnk"
    assert "C:\\Quillet\\Quillet.exe" in link_text(shortcut)
