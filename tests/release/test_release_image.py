"""The program a player gets, read as a file: a 32-bit GUI image that runs on
every Windows with only system DLLs, hardened, with its manifest, version
string and shipping hosts, and nothing of the build machine in it."""

import os
import re
import struct
from pathlib import Path

import pytest

EXE = Path(os.environ["QUILLET_RELEASE_EXE"])
VERSION = os.environ["QUILLET_RELEASE_VERSION"]
HOSTS = os.environ["QUILLET_RELEASE_HOSTS"].split(",")

# DLLs that every supported Windows has; the C++ runtime is linked in.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
    "oleaut32.dll", "comctl32.dll", "ws2_32.dll", "wininet.dll", "msvcrt.dll", "shlwapi.dll",
    "version.dll", "crypt32.dll", "wintrust.dll", "imm32.dll", "msimg32.dll",
}

RT_STRING, RT_MANIFEST = 6, 24


class Image:
    def __init__(self, data):
        self.data = data
        assert data[:2] == b"MZ"
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0"
        (self.machine, sections, _, self.symbols_at, self.symbols, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        pe32plus = self.magic == 0x20B
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
        directories = optional + (112 if pe32plus else 96)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            name, vsize, va, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("latin-1"), va, max(vsize, raw_size), raw))

    def offset(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise AssertionError(f"address {rva:#x} is in no section")

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imported_dlls(self):
        rva = self.directories[1][0]
        names = []
        while True:
            entry = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if entry == (0, 0, 0, 0, 0):
                return names
            names.append(self.c_string(entry[3]).lower())
            rva += 20

    def resources(self, kind):
        """{(name, language): bytes} of every resource of one type."""
        base = self.offset(self.directories[2][0])

        def entries(at):
            named, numbered = struct.unpack_from("<HH", self.data, base + at + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, base + at + 16 + 8 * i)
                yield ident, target

        found = {}
        for ident, target in entries(0):
            if ident != kind:
                continue
            for name, languages in entries(target & 0x7FFFFFFF):
                for language, leaf in entries(languages & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(rva)
                    found[(name, language)] = self.data[start:start + size]
        return found

    def string(self, ident):
        texts = set()
        for (block, _), data in self.resources(RT_STRING).items():
            if block != ident // 16 + 1:
                continue
            at = 0
            for index in range(16):
                length = struct.unpack_from("<H", data, at)[0]
                if index == ident % 16:
                    texts.add(data[at + 2:at + 2 + 2 * length].decode("utf-16-le"))
                at += 2 + 2 * length
        return texts


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
