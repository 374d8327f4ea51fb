"""The program a player gets, read as a file: a 32-bit GUI image that runs on
every Windows with only system DLLs, hardened, with its manifest, version
string and shipping hosts, and nothing of the build machine in it."""

import os
import re
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools"))
from pe_image import RT_MANIFEST, Image  # noqa: E402

EXE = Path(os.environ["QUILLET_RELEASE_EXE"])
VERSION = os.environ["QUILLET_RELEASE_VERSION"]
HOSTS = os.environ["QUILLET_RELEASE_HOSTS"].split(",")

# DLLs that every supported Windows has; the C++ runtime is linked in.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
    "oleaut32.dll", "comctl32.dll", "ws2_32.dll", "wininet.dll", "msvcrt.dll", "shlwapi.dll",
    "version.dll", "crypt32.dll", "wintrust.dll", "imm32.dll", "msimg32.dll", "iphlpapi.dll",
}


@pytest.fixture(scope="module")
def image():
    return Image(EXE.read_bytes())


def test_is_a_32_bit_windows_gui_program(image):
    assert image.machine == 0x14C, "i386"
    assert image.magic == 0x10B, "PE32"
    assert image.subsystem == 2, "GUI subsystem"
    assert image.characteristics & 0x0002, "executable image"
    assert image.characteristics & 0x0020, "large-address-aware"


def test_is_hardened(image):
    assert image.dll_characteristics & 0x0040, "dynamic base (ASLR)"
    assert image.dll_characteristics & 0x0100, "NX compatible (DEP)"
    if image.magic == 0x20B:
        assert image.dll_characteristics & 0x0020, "high-entropy addresses"
    # A dynamic base is honoured only with the relocations to move it.
    assert not image.characteristics & 0x0001, "relocations stripped"
    assert image.directories[5][1] > 0, "base relocation table"


def test_imports_only_system_dlls(image):
    dlls = image.imported_dlls()
    assert "kernel32.dll" in dlls
    assert set(dlls) <= SYSTEM_DLLS, sorted(set(dlls) - SYSTEM_DLLS)
    assert not any(dll.startswith(("libstdc++", "libgcc", "libwinpthread")) for dll in dlls)


def test_manifest_asks_for_invoker_and_common_controls_6_on_x86(image):
    manifests = image.resources(RT_MANIFEST)
    assert list(manifests) and all(name == 1 for name, _ in manifests)
    manifest = next(iter(manifests.values())).decode("utf-8")
    assert 'level="asInvoker"' in manifest
    controls = manifest[manifest.index('name="Microsoft.Windows.Common-Controls"'):]
    controls = controls[:controls.index("/>")]
    assert 'version="6.0.0.0"' in controls
    assert 'processorArchitecture="x86"' in controls


def test_version_string_is_the_programs_version(image):
    assert image.string(1016) == {VERSION}


def test_carries_no_debug_information(image):
    names = [name for name, *_ in image.sections]
    assert not [name for name in names if name.startswith((".debug", "/"))], names
    assert image.symbols_at == 0 and image.symbols == 0, "COFF symbol table"
    assert image.directories[6] == (0, 0), "debug directory"


def test_talks_to_the_shipping_hosts_only(image):
    for host in HOSTS:
        assert host.encode() in image.data or host.encode("utf-16-le") in image.data, host
    # The program's own server is the one loopback address it may name.
    for text in (image.data, image.data.decode("utf-16-le", "replace").encode("ascii", "replace")):
        ports = set(re.findall(rb"127\.0\.0\.1:(\d+)", text))
        assert ports <= {b"12315"}, ports
        assert b"localhost" not in text
