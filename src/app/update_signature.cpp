#include "app/update_signature.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>

#include "app/authenticode_image.h"
#include "ui/framework/scoped_win.h"

namespace {

// No program is this large; a larger file is not read at all.
const LONGLONG MAX_PROGRAM_BYTES = 256LL << 20;
const DWORD ENCODING = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct CHandleDeleter {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
struct CMessageDeleter {
    void operator()(HCRYPTMSG message) const { CryptMsgClose(message); }
};
struct CStoreDeleter {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
struct CCertificateDeleter {
    void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};

// A program file read whole, and held open so that nobody can write it
// while it is verified.
struct ProgramFile {
    CScopedHandle<HANDLE, CHandleDeleter> handle;
    std::vector<uint8_t> bytes;
    AuthenticodeLayout layout;
};

bool ReadProgramFile(const std::wstring& path, ProgramFile* file)
{
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    file->handle.Reset(handle);
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(handle, &size) || size.QuadPart > MAX_PROGRAM_BYTES) return false;
    file->bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < file->bytes.size()) {
        DWORD read = 0;
        DWORD wanted = static_cast<DWORD>(file->bytes.size() - done);
        if (!ReadFile(handle, file->bytes.data() + done, wanted, &read, nullptr) || read == 0) return false;
        done += read;
    }
    return ReadAuthenticodeLayout(file->bytes.data(), file->bytes.size(), &file->layout);
}

// The digest of the given ranges of bytes; false for an algorithm other
// than SHA-1 and SHA-256.
bool Digest(const std::string& algorithmOid, const uint8_t* bytes, const std::vector<ByteSpan>& ranges,
            std::vector<uint8_t>* digest)
{
    ALG_ID algorithm = algorithmOid == OID_SHA256 ? CALG_SHA_256 : algorithmOid == OID_SHA1 ? CALG_SHA1 : 0;
    if (algorithm == 0) return false;
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
    HCRYPTHASH hash = 0;
    bool done = CryptCreateHash(provider, algorithm, 0, 0, &hash) != FALSE;
    for (const ByteSpan& range : ranges) {
        done = done && CryptHashData(hash, bytes + range.offset, static_cast<DWORD>(range.length), 0);
    }
    DWORD size = 0;
    DWORD sizeBytes = sizeof(size);
    done = done && CryptGetHashParam(hash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &sizeBytes, 0);
    if (done) {
        digest->resize(size);
        done = CryptGetHashParam(hash, HP_HASHVAL, digest->data(), &size, 0) && size == digest->size();
    }
    if (hash) CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    return done;
}

bool SameBytes(const std::vector<uint8_t>& digest, const uint8_t* bytes, const ByteSpan& span)
{
    return digest.size() == span.length && std::memcmp(digest.data(), bytes + span.offset, span.length) == 0;
}

// The value of the signer's one messageDigest attribute.
bool SignedMessageDigest(const CMSG_SIGNER_INFO& signer, const uint8_t** der, ByteSpan* value)
{
    const CRYPT_ATTRIBUTE* found = nullptr;
    for (DWORD i = 0; i < signer.AuthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = signer.AuthAttrs.rgAttr[i];
        if (std::strcmp(attribute.pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) != 0) continue;
        if (found || attribute.cValue != 1) return false;
        found = &attribute;
    }
    if (!found) return false;
    *der = found->rgValue[0].pbData;
    return ReadOctetString(*der, found->rgValue[0].cbData, value);
}

// A WinVerifyTrust verification of one open file, with the state it keeps
// for the caller's own checks until it goes.
class CTrustVerification {
public:
    CTrustVerification(HANDLE file, const std::wstring& path) : m_path(path)
    {
        m_file.cbStruct = sizeof(m_file);
        m_file.pcwszFilePath = m_path.c_str();
        m_file.hFile = file;
        m_data.cbStruct = sizeof(m_data);
        m_data.dwUIChoice = WTD_UI_NONE;
        m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
        m_data.dwUnionChoice = WTD_CHOICE_FILE;
        m_data.pFile = &m_file;
        m_data.dwStateAction = WTD_STATEACTION_VERIFY;
        m_data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
        // The file was just read through the same handle.
        LARGE_INTEGER start = {};
        SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
        m_result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
    }
    ~CTrustVerification()
    {
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
    }
    CTrustVerification(const CTrustVerification&) = delete;
    CTrustVerification& operator=(const CTrustVerification&) = delete;

    // The provider's data once the file verified, null otherwise.
    CRYPT_PROVIDER_DATA* Trusted() const
    {
        return m_result == ERROR_SUCCESS ? WTHelperProvDataFromStateData(m_data.hWVTStateData) : nullptr;
    }

private:
    GUID m_action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    std::wstring m_path;
    WINTRUST_FILE_INFO m_file = {};
    WINTRUST_DATA m_data = {};
    LONG m_result = TRUST_E_NOSIGNATURE;
};

}  // namespace

ProgramPublisher ReadProgramPublisher(const std::wstring& path)
{
    ProgramPublisher publisher;
    ProgramFile file;
    if (!ReadProgramFile(path, &file) || !HasEmbeddedSignature(file.layout)) return publisher;
    publisher.bSigned = true;

    ByteSpan signature;
    if (!ReadEmbeddedSignature(file.bytes.data(), file.bytes.size(), file.layout, &signature)) return publisher;
    CScopedHandle<HCRYPTMSG, CMessageDeleter> message(CryptMsgOpenToDecode(ENCODING, 0, 0, 0, nullptr, nullptr));
    if (!message.Get() || !CryptMsgUpdate(message.Get(), file.bytes.data() + signature.offset,
                                          static_cast<DWORD>(signature.length), TRUE)) {
        return publisher;
    }
    DWORD size = 0;
    if (!CryptMsgGetParam(message.Get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size)) return publisher;
    std::vector<uint8_t> signerInfo(size);
    if (!CryptMsgGetParam(message.Get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, signerInfo.data(), &size)) return publisher;
    CScopedHandle<HCERTSTORE, CStoreDeleter> store(
        CertOpenStore(CERT_STORE_PROV_MSG, ENCODING, 0, 0, message.Get()));
    if (!store.Get()) return publisher;
    CScopedHandle<PCCERT_CONTEXT, CCertificateDeleter> signer(CertGetSubjectCertificateFromStore(
        store.Get(), ENCODING, reinterpret_cast<CERT_INFO*>(signerInfo.data())));
    if (!signer.Get()) return publisher;
    const CERT_NAME_BLOB& subject = signer.Get()->pCertInfo->Subject;
    publisher.subject.assign(subject.pbData, subject.pbData + subject.cbData);
    return publisher;
}

bool IsSignedByPublisher(const std::wstring& path, const std::vector<uint8_t>& subject)
{
    if (subject.empty()) return false;
    ProgramFile file;
    if (!ReadProgramFile(path, &file)) return false;
    const uint8_t* image = file.bytes.data();
    size_t size = file.bytes.size();
    ByteSpan signature;
    IndirectData indirect;
    if (!CertificateTableEndsFile(file.layout, size)) return false;
    if (!ReadEmbeddedSignature(image, size, file.layout, &signature)) return false;
    const uint8_t* signedData = image + signature.offset;
    if (!ReadIndirectData(signedData, signature.length, &indirect)) return false;

    CTrustVerification trust(file.handle.Get(), path);
    CRYPT_PROVIDER_DATA* data = trust.Trusted();
    if (!data || data->csSigners != 1) return false;
    CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(data, 0, FALSE, 0);
    if (!signer || !signer->psSigner || !signer->pChainContext) return false;
    CRYPT_PROVIDER_CERT* certificate = WTHelperGetProvCertFromChain(signer, 0);
    if (!certificate || !certificate->pCert) return false;

    // Windows checks the chain's policy and the signed content's digest
    // inside WinVerifyTrust; Wine's skips the root and expiry checks of
    // certificates signed with SHA-256 and never compares the messageDigest
    // attribute with the content, so both are checked here as well.
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof(policy);
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof(status);
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, signer->pChainContext, &policy, &status) ||
        status.dwError != ERROR_SUCCESS) {
        return false;
    }

    DWORD signers = 0;
    DWORD bytes = sizeof(signers);
    if (!CryptMsgGetParam(data->hMsg, CMSG_SIGNER_COUNT_PARAM, 0, &signers, &bytes) || signers != 1) return false;
    if (!CryptMsgControl(data->hMsg, 0, CMSG_CTRL_VERIFY_SIGNATURE, certificate->pCert->pCertInfo)) return false;

    const uint8_t* attributeDer = nullptr;
    ByteSpan messageDigest;
    std::vector<uint8_t> digest;
    if (!SignedMessageDigest(*signer->psSigner, &attributeDer, &messageDigest)) return false;
    if (!Digest(signer->psSigner->HashAlgorithm.pszObjId, signedData, {indirect.contents}, &digest) ||
        !SameBytes(digest, attributeDer, messageDigest)) {
        return false;
    }
    if (!Digest(indirect.digestAlgorithm, image, ImageDigestRanges(file.layout, size), &digest) ||
        !SameBytes(digest, signedData, indirect.digest)) {
        return false;
    }

    const CERT_NAME_BLOB& signerSubject = certificate->pCert->pCertInfo->Subject;
    return signerSubject.cbData == subject.size() &&
           std::memcmp(signerSubject.pbData, subject.data(), subject.size()) == 0;
}

bool MayReplaceProgram(const ProgramPublisher& running, const std::wstring& update)
{
    return !running.bSigned || IsSignedByPublisher(update, running.subject);
}
