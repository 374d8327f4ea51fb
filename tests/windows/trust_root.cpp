// Test helper: adds a certificate (DER) to the machine's Root store of the
// prefix it runs in, so that what the test PKI signed is trusted there and
// nowhere else.
//   trust_root.exe CERTIFICATE.der
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) return 2;
    FILE* file = _wfopen(argv[1], L"rb");
    if (!file) return 1;
    std::vector<BYTE> der(65536);
    size_t size = fread(der.data(), 1, der.size(), file);
    fclose(file);
    if (size == 0 || size == der.size()) return 1;
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!root) return 1;
    BOOL added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(size),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(root, 0);
    return added ? 0 : 1;
}
