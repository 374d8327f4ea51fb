"""A Windows program file read as bytes, for the tests that look inside one:
its headers, sections, imports and resources, its version resource, and the
parts its Authenticode signature speaks of (the certificate table and the
image digest). Copies of a program with another version or other names are
patched in place, byte for byte, so that nothing else of the image moves."""
import hashlib
import struct

RT_STRING, RT_VERSION, RT_MANIFEST = 6, 16, 24
SECURITY_DIRECTORY = 4
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD
# The built-in version text that the update check compares with the version file.
VERSION_STRING = 1016


def align4(at):
    return (at + 3) & ~3


def version_blocks(data, at=0, end=None, path=()):
    """Yields (path of keys, value offset, value length in bytes) of every
    block of a version resource (data), depth first. A text value's length
    counts its terminating zero."""
    end = len(data) if end is None else end
    while at + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        if length < 6:
            return
        key_end = at + 6
        while key_end + 2 <= end and data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        if key_end + 2 > end:
            return
        key = path + (data[at + 6:key_end].decode("utf-16-le"),)
        value = align4(key_end + 2)
        size = 2 * value_length if kind == 1 else value_length
        yield key, value, size
        yield from version_blocks(data, align4(value + size), at + length, key)
        at = align4(at + length)


class Image:
    def __init__(self, data):
        self.data = bytes(data)
        assert self.data[:2] == b"MZ", "no MZ header"
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        assert self.data[pe:pe + 4] == b"PE\0\0", "no PE header"
        (self.machine, sections, _, self.symbols_at, self.symbols, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", self.data, optional)[0]
        pe32plus = self.magic == 0x20B
        self.checksum_offset = optional + 64
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", self.data, optional + 68)
        directories = optional + (112 if pe32plus else 96)
        count = struct.unpack_from("<I", self.data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i) for i in range(count)]
        self.security_entry_offset = directories + 8 * SECURITY_DIRECTORY
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            name, vsize, va, raw_size, raw = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("latin-1"), va, max(vsize, raw_size), raw))

    # Addresses, imports and resources --------------------------------------

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
        return {key: self.data[start:start + size] for key, (start, size) in self.resource_places(kind).items()}

    def resource_places(self, kind):
        """{(name, language): (file offset, length)} of every resource of one type."""
        if not self.directories[2][1]:
            return {}
        base = self.offset(self.directories[2][0])

        def entries(at):
            named, numbered = struct.unpack_from("<HH", self.data, base + at + 12)
            for i in range(named + numbered):
                yield struct.unpack_from("<II", self.data, base + at + 16 + 8 * i)

        found = {}
        for ident, target in entries(0):
            if ident != kind:
                continue
            for name, languages in entries(target & 0x7FFFFFFF):
                for language, leaf in entries(languages & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    found[(name, language)] = (self.offset(rva), size)
        return found

    def string(self, ident):
        """The texts of one string resource, in every language."""
        return {self.data[at:at + size].decode("utf-16-le") for at, size in self.string_places(ident)}

    def string_places(self, ident):
        """(file offset, length in bytes) of the text of one string resource, in every language."""
        places = []
        for (block, _), (start, _) in self.resource_places(RT_STRING).items():
            if block != ident // 16 + 1:
                continue
            at = start
            for index in range(16):
                length = struct.unpack_from("<H", self.data, at)[0]
                if index == ident % 16:
                    places.append((at + 2, 2 * length))
                at += 2 + 2 * length
        return places

    # The version resource --------------------------------------------------

    def version_places(self):
        """{path of keys: (file offset, length in bytes)} of the values of the
        one version resource: ("VS_VERSION_INFO",) is its VS_FIXEDFILEINFO,
        ("VS_VERSION_INFO", "StringFileInfo", TABLE, NAME) a text, with its
        terminating zero."""
        resources = list(self.resource_places(RT_VERSION).values())
        assert len(resources) == 1, f"{len(resources)} version resources"
        start, size = resources[0]
        data = self.data[start:start + size]
        return {key: (start + at, length) for key, at, length in version_blocks(data)}

    def fixed_version(self):
        """(file version, product version) of the VS_FIXEDFILEINFO, each four numbers."""
        at, size = self.version_places()[("VS_VERSION_INFO",)]
        assert size >= 52, "VS_FIXEDFILEINFO cut short"
        signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", self.data, at)
        assert signature == FIXED_FILE_INFO_SIGNATURE, "no VS_FIXEDFILEINFO signature"
        return ((file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16, file_ls & 0xFFFF),
                (product_ms >> 16, product_ms & 0xFFFF, product_ls >> 16, product_ls & 0xFFFF))

    def version_strings(self):
        """{name: text} of every StringFileInfo table of the version resource."""
        return {key[3]: self.data[at:at + size].decode("utf-16-le").rstrip("\0")
                for key, (at, size) in self.version_places().items()
                if len(key) == 4 and key[1] == "StringFileInfo"}

    def with_version(self, version=None, **texts):
        """The bytes of the same unsigned program with another version and
        other version texts, patched in place: version (up to four numbers)
        becomes its file and product version, and its first three numbers
        the texts of both and the built-in version string; texts
        (ProductName="Quillex") replace StringFileInfo values. Nothing moves,
        so every new text has the length of the one it replaces."""
        assert not self.certificate_table[1], "a signed program is patched before it is signed"
        data = bytearray(self.data)
        places = self.version_places()

        def put_text(at, size, text):
            encoded = text.encode("utf-16-le")
            old = data[at:at + size].decode("utf-16-le")
            terminated = old.endswith("\0")
            encoded += b"\0\0" if terminated else b""
            assert len(encoded) == size, f"{text!r} is not as long as {old.rstrip(chr(0))!r}"
            data[at:at + size] = encoded

        def strings_named(name):
            return [place for key, place in places.items()
                    if len(key) == 4 and key[1] == "StringFileInfo" and key[3] == name]

        if version is not None:
            numbers = tuple(version) + (0,) * (4 - len(version))
            self.fixed_version()
            at, _ = places[("VS_VERSION_INFO",)]
            ms, ls = numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]
            struct.pack_into("<4I", data, at + 8, ms, ls, ms, ls)
            text = ".".join(str(n) for n in numbers[:3])
            for at, size in self.string_places(VERSION_STRING) + strings_named("FileVersion") + \
                    strings_named("ProductVersion"):
                put_text(at, size, text)
        for name, text in texts.items():
            found = strings_named(name)
            assert found, f"no version text {name}"
            for at, size in found:
                put_text(at, size, text)
        return bytes(data)

    # The signature ---------------------------------------------------------

    @property
    def certificate_table(self):
        """(file offset, length) of the certificate table; length 0 when unsigned."""
        return struct.unpack_from("<II", self.data, self.security_entry_offset)

    def signature(self):
        """The PKCS #7 SignedData of the first entry of the certificate table."""
        table, size = self.certificate_table
        assert size, "unsigned"
        length = struct.unpack_from("<I", self.data, table)[0]
        return self.data[table + 8:table + length]

    def image_digest(self, algorithm="sha256"):
        """The Authenticode image digest: the file up to its certificate table,
        without the CheckSum field and the certificate table entry."""
        table, size = self.certificate_table
        end = table if size else len(self.data)
        digest = hashlib.new(algorithm)
        digest.update(self.data[:self.checksum_offset])
        digest.update(self.data[self.checksum_offset + 4:self.security_entry_offset])
        digest.update(self.data[self.security_entry_offset + 8:end])
        return digest.digest()

    def unsigned(self):
        """The bytes of the same program without its signature."""
        table, size = self.certificate_table
        if not size:
            return self.data
        data = bytearray(self.data[:table])
        struct.pack_into("<II", data, self.security_entry_offset, 0, 0)
        return bytes(data)

    def with_signature(self, signature):
        """The bytes of the same program carrying another program's SignedData
        as its certificate table, padded to 8 bytes, as a signing tool writes it."""
        data = bytearray(self.unsigned())
        data += b"\0" * (-len(data) % 8)
        entry = struct.pack("<IHH", 8 + len(signature), 0x0200, 0x0002) + signature
        entry += b"\0" * (-len(entry) % 8)
        struct.pack_into("<II", data, self.security_entry_offset, len(data), len(entry))
        return bytes(data + entry)
