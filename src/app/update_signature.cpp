#include "app/update_signature.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>

#include "app/authenticode_image.h"
#include "build_config.h"
#include "net/download_client.h"

namespace {

const DWORD ENCODING = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// What an update must call itself, and the name its file must have had.
const char16_t PRODUCT_NAME[] = u"Quillet";
const char16_t ORIGINAL_FILENAME[] = u"Quillet.exe";

struct CMessageDeleter {
    void operator()(HCRYPTMSG message) const { CryptMsgClose(message); }
};
struct CStoreDeleter {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
struct CCertificateDeleter {
    void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
struct CChainDeleter {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};

// A program file read whole, and held open so that nobody can write it
// while it is verified. Deletion is shared: an update's file is moved into
// place while its verdict still holds it.
struct ProgramFile {
    CScopedHandle<HANDLE, CHandleDeleter> handle;
    std::vector<uint8_t> bytes;
    AuthenticodeLayout layout;
};

bool ReadProgramFile(const std::wstring& path, ProgramFile* file)
{
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    file->handle.Reset(handle);
    LARGE_INTEGER size = {};
    // No program is larger than a download may be; a larger file is not read at all.
    if (!GetFileSizeEx(handle, &size) || size.QuadPart > MAX_PROGRAM_DOWNLOAD_BYTES) return false;
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

// The SHA-256 of a certificate's DER SubjectPublicKeyInfo; empty when it
// cannot be encoded.
std::vector<uint8_t> PublicKeyHash(PCCERT_CONTEXT certificate)
{
    const CERT_PUBLIC_KEY_INFO* info = &certificate->pCertInfo->SubjectPublicKeyInfo;
    DWORD size = 0;
    if (!CryptEncodeObject(ENCODING, X509_PUBLIC_KEY_INFO, info, nullptr, &size)) return {};
    std::vector<uint8_t> der(size);
    if (!CryptEncodeObject(ENCODING, X509_PUBLIC_KEY_INFO, info, der.data(), &size)) return {};
    std::vector<uint8_t> digest;
    if (!Digest(OID_SHA256, der.data(), {ByteSpan{0, size}}, &digest)) return {};
    return digest;
}

// The key hash of the last certificate of a chain's first simple chain.
std::vector<uint8_t> RootKeyHash(PCCERT_CHAIN_CONTEXT chain)
{
    if (!chain || chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return {};
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    return PublicKeyHash(simple->rgpElement[simple->cElement - 1]->pCertContext);
}

std::string Hex(const std::vector<uint8_t>& bytes)
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text += DIGITS[b >> 4];
        text += DIGITS[b & 0xF];
    }
    return text;
}

// True when the certificate names code signing among its extended key uses.
// A certificate without the extension is refused: it was not issued for it.
bool MaySignCode(PCCERT_CONTEXT certificate)
{
    DWORD size = 0;
    if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size)) return false;
    std::vector<uint8_t> block(size);
    auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(block.data());
    if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size)) return false;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        if (std::strcmp(usage->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0) return true;
    }
    return false;
}

// The checks of the signed file itself, in the order of the rule; the
// reason of the first that fails, or null when all pass.
const char* RefusalOf(const ProgramPublisher& running, const ProgramFile& file, const std::wstring& path,
                      const std::vector<std::string>& pinnedRootKeys)
{
    const uint8_t* image = file.bytes.data();
    size_t size = file.bytes.size();
    ByteSpan signature;
    IndirectData indirect;
    if (!HasEmbeddedSignature(file.layout)) return "no embedded signature";
    if (!CertificateTableEndsFile(file.layout, size)) return "bytes follow its certificate table";
    if (!ReadEmbeddedSignature(image, size, file.layout, &signature)) return "no embedded signature";
    const uint8_t* signedData = image + signature.offset;
    if (!ReadIndirectData(signedData, signature.length, &indirect)) return "its signed content is not a program's";

    CTrustVerification trust(file.handle.Get(), path);
    CRYPT_PROVIDER_DATA* data = trust.Trusted();
    if (!data) return "no signature that the system trusts";
    if (data->csSigners != 1) return "not exactly one signer";
    CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(data, 0, FALSE, 0);
    if (!signer || !signer->psSigner || !signer->pChainContext) return "no signer chain";
    CRYPT_PROVIDER_CERT* certificate = WTHelperGetProvCertFromChain(signer, 0);
    if (!certificate || !certificate->pCert) return "no signer certificate";
    PCCERT_CONTEXT leaf = certificate->pCert;

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
        return "its chain fails the code-signing policy";
    }
    DWORD signers = 0;
    DWORD bytes = sizeof(signers);
    if (!CryptMsgGetParam(data->hMsg, CMSG_SIGNER_COUNT_PARAM, 0, &signers, &bytes) || signers != 1) {
        return "not exactly one signer";
    }
    if (!CryptMsgControl(data->hMsg, 0, CMSG_CTRL_VERIFY_SIGNATURE, leaf->pCertInfo)) {
        return "its signature does not verify";
    }
    const uint8_t* attributeDer = nullptr;
    ByteSpan messageDigest;
    std::vector<uint8_t> digest;
    if (!SignedMessageDigest(*signer->psSigner, &attributeDer, &messageDigest) ||
        !Digest(signer->psSigner->HashAlgorithm.pszObjId, signedData, {indirect.contents}, &digest) ||
        !SameBytes(digest, attributeDer, messageDigest)) {
        return "its signed digest is not that of its content";
    }
    if (!Digest(indirect.digestAlgorithm, image, ImageDigestRanges(file.layout, size), &digest) ||
        !SameBytes(digest, signedData, indirect.digest)) {
        return "its image digest is not the file's";
    }

    // The publisher: its subject, under the running program's root or a
    // pinned one. A same subject under any other root the machine trusts
    // (an inspection proxy's, an enterprise's) is someone else.
    const CERT_NAME_BLOB& subject = leaf->pCertInfo->Subject;
    if (running.subject.empty() || subject.cbData != running.subject.size() ||
        std::memcmp(subject.pbData, running.subject.data(), subject.cbData) != 0) {
        return "another publisher";
    }
    std::vector<uint8_t> root = RootKeyHash(signer->pChainContext);
    bool pinned = false;
    for (const std::string& key : pinnedRootKeys) pinned = pinned || (!root.empty() && key == Hex(root));
    if (root.empty() || (root != running.rootKey && !pinned)) return "a root other than the running program's";
    if (!MaySignCode(leaf)) return "its certificate may not sign code";
    // Valid now, whatever a countersignature says: no countersignature is
    // verified here, so a timestamp never extends a certificate. (Windows
    // checks a timestamped chain at the timestamp's time; Wine's policy
    // above already refuses an expired leaf.)
    if (CertVerifyTimeValidity(nullptr, leaf->pCertInfo) != 0) return "its certificate is not valid now";

    // The same product, and a later version of it.
    ProgramVersion version;
    if (!running.bVersion) return "the running program has no version";
    if (!ReadProgramVersion(image, size, &version)) return "no version resource";
    if (version.productName != PRODUCT_NAME || version.originalFilename != ORIGINAL_FILENAME) {
        return "another product";
    }
    if (version.nFileVersion <= running.version.nFileVersion) return "not newer than the running program";
    return nullptr;
}

}  // namespace

ProgramPublisher ReadProgramPublisher(const std::wstring& path)
{
    ProgramPublisher publisher;
    ProgramFile file;
    if (!ReadProgramFile(path, &file)) return publisher;
    publisher.bRead = true;
    publisher.bVersion = ReadProgramVersion(file.bytes.data(), file.bytes.size(), &publisher.version);
    if (!HasEmbeddedSignature(file.layout)) return publisher;
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

    // Its root, as the machine and the signature's own certificates give
    // it, whether or not the certificate is still valid: a release whose
    // certificate has expired still takes its publisher's updates.
    CERT_CHAIN_PARA chainPara = {};
    chainPara.cbSize = sizeof(chainPara);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (CertGetCertificateChain(nullptr, signer.Get(), nullptr, store.Get(), &chainPara,
                                CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &chain)) {
        CScopedHandle<PCCERT_CHAIN_CONTEXT, CChainDeleter> owned(chain);
        publisher.rootKey = RootKeyHash(chain);
    }
    return publisher;
}

std::vector<std::string> PinnedRootKeys()
{
    std::vector<std::string> keys;
    std::string list = kPinnedRootKeys;
    for (size_t start = 0; start < list.size();) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        if (end > start) keys.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return keys;
}

UpdateVerdict JudgeUpdate(const ProgramPublisher& running, const std::wstring& update,
                          const std::vector<std::string>& pinnedRootKeys)
{
    UpdateVerdict verdict;
    if (!running.bRead) {
        verdict.reason = "the running program's own file could not be read: no update is taken";
        return verdict;
    }
    if (!running.bSigned) {
        verdict.bAccepted = true;
        verdict.reason = "the running program is unsigned: its MD5 decides";
        return verdict;
    }
    ProgramFile file;
    if (!ReadProgramFile(update, &file)) {
        verdict.reason = "the download is not a whole program";
        return verdict;
    }
    if (const char* refusal = RefusalOf(running, file, update, pinnedRootKeys)) {
        verdict.reason = refusal;
        return verdict;
    }
    verdict.bAccepted = true;
    verdict.reason = "signed by the running program's publisher under its root, a later version";
    verdict.file = std::move(file.handle);
    return verdict;
}
