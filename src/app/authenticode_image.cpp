#include "app/authenticode_image.h"

#include "app/pe_fields.h"

#include <cstring>

namespace {

const size_t DOS_HEADER_BYTES = 0x40;
const size_t CHECKSUM_FIELD = 64;       // within the optional header, both kinds
const uint32_t SECURITY_DIRECTORY = 4;  // index of the certificate table entry
const size_t WIN_CERTIFICATE_HEADER = 8;
const uint16_t WIN_CERT_REVISION_2_0 = 0x0200;
const uint16_t WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002;

const uint8_t DER_INTEGER = 0x02;
const uint8_t DER_OCTET_STRING = 0x04;
const uint8_t DER_OID = 0x06;
const uint8_t DER_SEQUENCE = 0x30;
const uint8_t DER_SET = 0x31;
const uint8_t DER_CONTEXT_0 = 0xA0;

const char OID_SIGNED_DATA[] = "1.2.840.113549.1.7.2";
const char OID_SPC_INDIRECT_DATA[] = "1.3.6.1.4.1.311.2.1.4";

// One DER element: its tag, and where its content octets lie.
struct Element {
    uint8_t tag = 0;
    size_t start = 0;  // the tag's offset
    size_t contents = 0;
    size_t length = 0;
    size_t End() const { return contents + length; }
};

// Reads the element at offset within [0, end) of the bytes. Only the
// definite lengths of DER, with low tag numbers.
bool ReadElement(const uint8_t* der, size_t offset, size_t end, Element* element)
{
    if (offset >= end || end - offset < 2) return false;
    element->tag = der[offset];
    if ((element->tag & 0x1F) == 0x1F) return false;
    size_t at = offset + 1;
    size_t length = der[at++];
    if (length & 0x80) {
        size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > 4 || bytes > end - at) return false;
        length = 0;
        for (size_t i = 0; i < bytes; ++i) length = length << 8 | der[at++];
    }
    if (length > end - at) return false;
    element->start = offset;
    element->contents = at;
    element->length = length;
    return true;
}

// Reads the element at offset and checks its tag.
bool Expect(const uint8_t* der, size_t offset, size_t end, uint8_t tag, Element* element)
{
    return ReadElement(der, offset, end, element) && element->tag == tag;
}

// The dotted text of an object identifier's content octets.
bool OidText(const uint8_t* der, const Element& oid, std::string* text)
{
    if (oid.tag != DER_OID || oid.length == 0) return false;
    text->clear();
    uint64_t value = 0;
    bool first = true;
    for (size_t i = oid.contents; i < oid.End(); ++i) {
        if (value > (UINT64_MAX >> 7)) return false;
        value = value << 7 | (der[i] & 0x7F);
        if (der[i] & 0x80) continue;
        if (first) {
            uint64_t arc = value < 80 ? value / 40 : 2;
            *text = std::to_string(arc) + "." + std::to_string(value - 40 * arc);
            first = false;
        } else {
            *text += "." + std::to_string(value);
        }
        value = 0;
    }
    return !first && !(der[oid.End() - 1] & 0x80);
}

bool ExpectOid(const uint8_t* der, size_t offset, size_t end, const char* wanted, Element* element)
{
    std::string text;
    return Expect(der, offset, end, DER_OID, element) && OidText(der, *element, &text) && text == wanted;
}

}  // namespace

bool ReadAuthenticodeLayout(const uint8_t* image, size_t size, AuthenticodeLayout* layout)
{
    if (size < DOS_HEADER_BYTES || image[0] != 'M' || image[1] != 'Z') return false;
    size_t pe = Read32(image + PE_OFFSET_FIELD);
    if (pe > size || size - pe < 4 + FILE_HEADER_BYTES) return false;
    if (std::memcmp(image + pe, "PE\0\0", 4) != 0) return false;
    size_t optionalBytes = Read16(image + pe + 4 + 16);
    size_t optional = pe + 4 + FILE_HEADER_BYTES;
    if (optionalBytes > size - optional || optionalBytes < 2) return false;

    uint16_t magic = Read16(image + optional);
    size_t countField;
    if (magic == PE32_MAGIC) {
        countField = 92;
    } else if (magic == PE32_PLUS_MAGIC) {
        countField = 108;
    } else {
        return false;
    }
    size_t directories = countField + 4;
    size_t entry = directories + 8 * SECURITY_DIRECTORY;
    if (optionalBytes < entry + 8) return false;
    if (Read32(image + optional + countField) <= SECURITY_DIRECTORY) return false;

    AuthenticodeLayout found;
    found.checksumOffset = optional + CHECKSUM_FIELD;
    found.securityEntryOffset = optional + entry;
    // The certificate table's entry holds a file offset, not an address.
    found.certificateTable = Read32(image + found.securityEntryOffset);
    found.certificateBytes = Read32(image + found.securityEntryOffset + 4);
    if (found.certificateBytes == 0) {
        found.certificateTable = 0;
    } else if (found.certificateTable < found.securityEntryOffset + 8 || found.certificateTable > size ||
               found.certificateBytes > size - found.certificateTable) {
        return false;
    }
    *layout = found;
    return true;
}

bool HasEmbeddedSignature(const AuthenticodeLayout& layout)
{
    return layout.certificateBytes != 0;
}

std::vector<ByteSpan> ImageDigestRanges(const AuthenticodeLayout& layout, size_t fileSize)
{
    size_t end = HasEmbeddedSignature(layout) ? layout.certificateTable : fileSize;
    size_t checksumEnd = layout.checksumOffset + 4;
    size_t entryEnd = layout.securityEntryOffset + 8;
    return {{0, layout.checksumOffset},
            {checksumEnd, layout.securityEntryOffset - checksumEnd},
            {entryEnd, end - entryEnd}};
}

bool CertificateTableEndsFile(const AuthenticodeLayout& layout, size_t fileSize)
{
    return HasEmbeddedSignature(layout) && layout.certificateTable + layout.certificateBytes == fileSize;
}

bool ReadEmbeddedSignature(const uint8_t* image, size_t size, const AuthenticodeLayout& layout, ByteSpan* signature)
{
    if (!HasEmbeddedSignature(layout) || layout.certificateTable > size ||
        layout.certificateBytes > size - layout.certificateTable ||
        layout.certificateBytes < WIN_CERTIFICATE_HEADER) {
        return false;
    }
    const uint8_t* entry = image + layout.certificateTable;
    size_t length = Read32(entry);
    if (length < WIN_CERTIFICATE_HEADER || length > layout.certificateBytes) return false;
    // Entries are padded to 8 bytes; a second entry would be a second
    // signature, which no check here would look at.
    if (layout.certificateBytes - length >= 8) return false;
    if (Read16(entry + 4) != WIN_CERT_REVISION_2_0 || Read16(entry + 6) != WIN_CERT_TYPE_PKCS_SIGNED_DATA) return false;
    Element outer;
    size_t start = layout.certificateTable + WIN_CERTIFICATE_HEADER;
    if (!Expect(image, start, layout.certificateTable + length, DER_SEQUENCE, &outer)) return false;
    signature->offset = start;
    signature->length = outer.End() - start;
    return true;
}

bool ReadIndirectData(const uint8_t* der, size_t size, IndirectData* data)
{
    // ContentInfo { contentType signedData, [0] SignedData {
    //   version, digestAlgorithms, encapContentInfo { eContentType, [0] content }, ... } }
    Element contentInfo, type, explicitSigned, signedData, version, algorithms, encap, encapType, explicitContent;
    if (!Expect(der, 0, size, DER_SEQUENCE, &contentInfo)) return false;
    if (!ExpectOid(der, contentInfo.contents, contentInfo.End(), OID_SIGNED_DATA, &type)) return false;
    if (!Expect(der, type.End(), contentInfo.End(), DER_CONTEXT_0, &explicitSigned)) return false;
    if (!Expect(der, explicitSigned.contents, explicitSigned.End(), DER_SEQUENCE, &signedData)) return false;
    if (!Expect(der, signedData.contents, signedData.End(), DER_INTEGER, &version)) return false;
    if (!Expect(der, version.End(), signedData.End(), DER_SET, &algorithms)) return false;
    if (!Expect(der, algorithms.End(), signedData.End(), DER_SEQUENCE, &encap)) return false;
    if (!ExpectOid(der, encap.contents, encap.End(), OID_SPC_INDIRECT_DATA, &encapType)) return false;
    if (!Expect(der, encapType.End(), encap.End(), DER_CONTEXT_0, &explicitContent)) return false;

    // SpcIndirectDataContent { data SpcAttributeTypeAndOptionalValue,
    //   messageDigest DigestInfo { digestAlgorithm { algorithm, parameters }, digest } }
    Element indirect, attribute, digestInfo, algorithm, algorithmOid, digest;
    if (!Expect(der, explicitContent.contents, explicitContent.End(), DER_SEQUENCE, &indirect)) return false;
    if (indirect.End() != explicitContent.End()) return false;
    if (!Expect(der, indirect.contents, indirect.End(), DER_SEQUENCE, &attribute)) return false;
    if (!Expect(der, attribute.End(), indirect.End(), DER_SEQUENCE, &digestInfo)) return false;
    if (digestInfo.End() != indirect.End()) return false;
    if (!Expect(der, digestInfo.contents, digestInfo.End(), DER_SEQUENCE, &algorithm)) return false;
    if (!ReadElement(der, algorithm.contents, algorithm.End(), &algorithmOid)) return false;
    if (!Expect(der, algorithm.End(), digestInfo.End(), DER_OCTET_STRING, &digest)) return false;
    if (digest.End() != digestInfo.End()) return false;

    IndirectData found;
    if (!OidText(der, algorithmOid, &found.digestAlgorithm)) return false;
    found.contents = {indirect.contents, indirect.length};
    found.digest = {digest.contents, digest.length};
    *data = found;
    return true;
}

bool ReadOctetString(const uint8_t* der, size_t size, ByteSpan* value)
{
    Element element;
    if (!Expect(der, 0, size, DER_OCTET_STRING, &element) || element.End() != size) return false;
    *value = {element.contents, element.length};
    return true;
}
