"""A Windows program file read as bytes, for the tests that look inside one:
its headers, sections, imports and resources, and the parts its Authenticode
signature speaks of (the certificate table and the image digest)."""
import hashlib
import struct

RT_STRING, RT_MANIFEST = 6, 24
SECURITY_DIRECTORY = 4


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
                    start = self.offset(rva)
                    found[(name, language)] = self.data[start:start + size]
        return found

    def string(self, ident):
        """The texts of one string resource, in every language."""
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
