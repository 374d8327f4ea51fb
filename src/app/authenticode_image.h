// What a program file's embedded Authenticode signature covers, read from
// its bytes alone: where the certificate table lies, which bytes the image
// digest covers, and what the signed content says that digest is. The
// cryptography (trust, signatures, hashing) is the caller's; this file only
// finds the bytes, and every reader fails on bytes that do not hold what it
// looks for instead of reading past them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A run of bytes inside a buffer the caller holds.
struct ByteSpan {
    size_t offset = 0;
    size_t length = 0;
};

// Where the parts of a PE image that its signature speaks of lie.
struct AuthenticodeLayout {
    size_t checksumOffset = 0;       // the optional header's 4-byte CheckSum
    size_t securityEntryOffset = 0;  // the 8-byte certificate table entry of the data directory
    size_t certificateTable = 0;     // file offset of the certificate table
    size_t certificateBytes = 0;     // its length; 0 when the image carries no signature
};

// Reads the layout of a PE image (PE32 or PE32+). False when the bytes are
// no PE image, or when the certificate table entry names bytes outside them.
bool ReadAuthenticodeLayout(const uint8_t* image, size_t size, AuthenticodeLayout* layout);

// True when the image carries an embedded signature, valid or not.
bool HasEmbeddedSignature(const AuthenticodeLayout& layout);

// The ranges of the file that the image digest covers, in order: the whole
// file up to its certificate table (to its end when it has none), without
// the CheckSum field and the certificate table entry.
std::vector<ByteSpan> ImageDigestRanges(const AuthenticodeLayout& layout, size_t fileSize);

// True when nothing follows the certificate table: bytes appended after it
// would be covered by no digest.
bool CertificateTableEndsFile(const AuthenticodeLayout& layout, size_t fileSize);

// The PKCS #7 SignedData (DER) of the certificate table, which must hold
// exactly one entry: a WIN_CERTIFICATE of revision 2.0 and type PKCS signed
// data. The span excludes the entry's header and its padding.
bool ReadEmbeddedSignature(const uint8_t* image, size_t size, const AuthenticodeLayout& layout, ByteSpan* signature);

// What a SignedData's content (an SpcIndirectDataContent) says of the image.
// Spans are offsets into the SignedData's bytes.
struct IndirectData {
    ByteSpan contents;            // its content octets, which the signed messageDigest attribute covers
    std::string digestAlgorithm;  // the image digest's algorithm, as a dotted object identifier
    ByteSpan digest;              // the image digest
};

// Reads the SpcIndirectDataContent of a PKCS #7 SignedData (DER). False for
// anything else: another content type, an indefinite length, a length past
// the bytes.
bool ReadIndirectData(const uint8_t* signedData, size_t size, IndirectData* data);

// The value of a DER OCTET STRING that fills the bytes exactly (the encoded
// value of a messageDigest attribute).
bool ReadOctetString(const uint8_t* der, size_t size, ByteSpan* value);

// Object identifiers of the digests an image may be signed with.
const char OID_SHA1[] = "1.3.14.3.2.26";
const char OID_SHA256[] = "2.16.840.1.101.3.4.2.1";
