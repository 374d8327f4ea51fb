// The update's signature check against programs signed at test time by a
// PKI of the test's own (tests/tools/signing_pki.py), whose root the prefix
// trusts: which downloads a running program may take in its place.
#include "app/update_signature.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// The signed files, made beside the test programs by the signing fixture.
std::wstring SigningFile(const wchar_t* name)
{
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"..\\signing\\" + name;
}

struct SignatureCase {
    const wchar_t* running;  // the running program
    const wchar_t* update;   // the verified download
    bool bReplaces;
};

const SignatureCase CASES[] = {
    {L"running.exe", L"same-publisher.exe", true},
    {L"running.exe", L"renewed-key.exe", true},
    {L"running.exe", L"unsigned.exe", false},
    {L"running.exe", L"flipped-byte.exe", false},
    {L"running.exe", L"moved.exe", false},
    {L"running.exe", L"moved-digest-patched.exe", false},
    {L"running.exe", L"other-publisher.exe", false},
    {L"running.exe", L"subject-from-other-root.exe", false},
    {L"running.exe", L"expired.exe", false},
    // A development build keeps to the MD5 alone.
    {L"unsigned.exe", L"unsigned.exe", true},
    {L"unsigned.exe", L"other-publisher.exe", true},
    // A release whose own certificate has expired is still signed: it
    // never falls back to the MD5 alone, and takes its publisher's updates.
    {L"expired-running.exe", L"unsigned.exe", false},
    {L"expired-running.exe", L"same-publisher.exe", true},
};

}  // namespace

TEST(UpdateSignature, ASignedProgramTakesOnlyWhatItsPublisherSigned)
{
    for (const SignatureCase& c : CASES) {
        ProgramPublisher running = ReadProgramPublisher(SigningFile(c.running));
        EXPECT_EQ(c.bReplaces, MayReplaceProgram(running, SigningFile(c.update)))
            << "running " << std::string(c.running, c.running + wcslen(c.running)) << ", update "
            << std::string(c.update, c.update + wcslen(c.update));
    }
}

TEST(UpdateSignature, SignedMeansASignatureIsPresentAndItsSignerIsRead)
{
    ProgramPublisher signedProgram = ReadProgramPublisher(SigningFile(L"running.exe"));
    EXPECT_TRUE(signedProgram.bSigned);
    EXPECT_FALSE(signedProgram.subject.empty());
    ProgramPublisher expired = ReadProgramPublisher(SigningFile(L"expired-running.exe"));
    EXPECT_TRUE(expired.bSigned);
    EXPECT_EQ(signedProgram.subject, expired.subject);
    EXPECT_FALSE(ReadProgramPublisher(SigningFile(L"unsigned.exe")).bSigned);
    EXPECT_FALSE(ReadProgramPublisher(SigningFile(L"no-such-file.exe")).bSigned);
}
