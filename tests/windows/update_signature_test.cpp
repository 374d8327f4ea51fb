// The update's signature check against programs signed at test time by a
// PKI of the test's own (tests/tools/signing_pki.py), whose roots the prefix
// trusts: which downloads a running program may take in its place.
#include "app/update_signature.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "win32_test_support.h"

namespace {

std::wstring TestFolder()
{
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

// The signed files, made beside the test programs by the signing fixture.
std::wstring SigningFile(const wchar_t* name)
{
    return TestFolder() + L"..\\signing\\" + name;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

struct SignatureCase {
    const wchar_t* running;  // the running program (1.0.5 unless said)
    const wchar_t* update;   // the verified download
    bool bReplaces;
    const char* reason;      // the verdict's reason starts so
};

const SignatureCase CASES[] = {
    // A later version by the same publisher under the same root.
    {L"running.exe", L"same-publisher.exe", true, "signed by"},
    {L"running.exe", L"same-publisher-timestamped.exe", true, "signed by"},
    {L"running.exe", L"renewed-key.exe", true, "signed by"},
    // Anything else.
    {L"running.exe", L"older.exe", false, "not newer"},
    {L"running.exe", L"same-version.exe", false, "not newer"},
    {L"running.exe", L"other-product.exe", false, "another product"},
    {L"running.exe", L"other-original-name.exe", false, "another product"},
    {L"running.exe", L"other-program.exe", false, "no version resource"},
    {L"running.exe", L"unsigned.exe", false, "no embedded signature"},
    {L"running.exe", L"flipped-byte.exe", false, "no signature that the system trusts"},
    {L"running.exe", L"moved.exe", false, "no signature that the system trusts"},
    {L"running.exe", L"moved-digest-patched.exe", false, "its signed digest"},
    {L"running.exe", L"other-publisher.exe", false, "its chain fails"},
    {L"running.exe", L"subject-from-other-root.exe", false, "its chain fails"},
    {L"running.exe", L"subject-from-third-root.exe", false, "a root other"},
    {L"running.exe", L"no-code-signing.exe", false, "its certificate may not sign code"},
    {L"running.exe", L"expired.exe", false, "its chain fails"},
    {L"running.exe", L"expired-timestamped.exe", false, "its chain fails"},
    // A development build keeps to the MD5 alone.
    {L"unsigned.exe", L"unsigned.exe", true, "the running program is unsigned"},
    {L"unsigned.exe", L"other-publisher.exe", true, "the running program is unsigned"},
    // A release whose own certificate has expired is still signed: it
    // never falls back to the MD5 alone, and takes its publisher's updates.
    {L"expired-running.exe", L"unsigned.exe", false, "no embedded signature"},
    {L"expired-running.exe", L"same-publisher.exe", true, "signed by"},
};

}  // namespace

TEST(UpdateSignature, ASignedProgramTakesOnlyALaterVersionOfItselfFromItsPublisherAndRoot)
{
    for (const SignatureCase& c : CASES) {
        ProgramPublisher running = ReadProgramPublisher(SigningFile(c.running));
        UpdateVerdict verdict = JudgeUpdate(running, SigningFile(c.update), {});
        EXPECT_EQ(c.bReplaces, verdict.bAccepted)
            << "running " << Narrow(c.running) << ", update " << Narrow(c.update) << ": " << verdict.reason;
        EXPECT_EQ(0u, std::string(verdict.reason).find(c.reason))
            << "running " << Narrow(c.running) << ", update " << Narrow(c.update) << ": " << verdict.reason;
    }
}

TEST(UpdateSignature, ARootPinnedAtBuildTimeIsTakenLikeTheProgramsOwn)
{
    std::string pinned;
    std::ifstream(Narrow(SigningFile(L"third-root-key.sha256"))) >> pinned;
    ASSERT_EQ(64u, pinned.size());
    ProgramPublisher running = ReadProgramPublisher(SigningFile(L"running.exe"));
    EXPECT_TRUE(JudgeUpdate(running, SigningFile(L"subject-from-third-root.exe"), {pinned}).bAccepted);
    EXPECT_FALSE(JudgeUpdate(running, SigningFile(L"subject-from-other-root.exe"), {pinned}).bAccepted);
}

TEST(UpdateSignature, SignedMeansASignatureIsPresentAndItsSignerIsRead)
{
    ProgramPublisher signedProgram = ReadProgramPublisher(SigningFile(L"running.exe"));
    EXPECT_TRUE(signedProgram.bRead);
    EXPECT_TRUE(signedProgram.bSigned);
    EXPECT_FALSE(signedProgram.subject.empty());
    EXPECT_EQ(32u, signedProgram.rootKey.size());
    EXPECT_TRUE(signedProgram.bVersion);
    EXPECT_EQ(0x0001000000050000ull, signedProgram.version.nFileVersion);
    ProgramPublisher expired = ReadProgramPublisher(SigningFile(L"expired-running.exe"));
    EXPECT_TRUE(expired.bSigned);
    EXPECT_EQ(signedProgram.subject, expired.subject);
    EXPECT_EQ(signedProgram.rootKey, expired.rootKey);
    ProgramPublisher unsignedProgram = ReadProgramPublisher(SigningFile(L"unsigned.exe"));
    EXPECT_TRUE(unsignedProgram.bRead);
    EXPECT_FALSE(unsignedProgram.bSigned);
    EXPECT_FALSE(ReadProgramPublisher(SigningFile(L"no-such-file.exe")).bRead);
}

// A running program whose own file cannot be read (another process holds it
// without read sharing) is not taken for unsigned: it refuses every update.
TEST(UpdateSignature, ARunningProgramThatCannotBeReadTakesNothing)
{
    std::wstring held = SigningFile(L"held-running.exe");
    ASSERT_TRUE(CopyFileW(SigningFile(L"unsigned.exe").c_str(), held.c_str(), FALSE));
    DeleteFileW((held + L".held").c_str());
    std::wstring command = L"\"" + TestFolder() + L"hold_file.exe\" \"" + held + L"\" 30000";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    ASSERT_TRUE(WaitUntil([&] { return GetFileAttributesW((held + L".held").c_str()) != INVALID_FILE_ATTRIBUTES; },
                          10000));
    ProgramPublisher running = ReadProgramPublisher(held);
    EXPECT_FALSE(running.bRead);
    EXPECT_FALSE(JudgeUpdate(running, SigningFile(L"unsigned.exe"), {}).bAccepted);
    EXPECT_FALSE(JudgeUpdate(running, SigningFile(L"same-publisher.exe"), {}).bAccepted);
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_TRUE(ReadProgramPublisher(held).bRead) << "read once it is free";
    DeleteFileW((held + L".held").c_str());
    DeleteFileW(held.c_str());
}

// The file moved into place is the file verified: while the verdict lives,
// nobody can write the download, and it can still be moved.
TEST(UpdateSignature, AnAcceptedDownloadStaysHeldUntilItIsMoved)
{
    std::wstring download = SigningFile(L"download.tmp");
    std::wstring moved = SigningFile(L"download-moved.exe");
    DeleteFileW(moved.c_str());
    ASSERT_TRUE(CopyFileW(SigningFile(L"same-publisher.exe").c_str(), download.c_str(), FALSE));
    {
        UpdateVerdict verdict = JudgeUpdate(ReadProgramPublisher(SigningFile(L"running.exe")), download, {});
        ASSERT_TRUE(verdict.bAccepted) << verdict.reason;
        HANDLE writer = CreateFileW(download.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                    FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(INVALID_HANDLE_VALUE, writer) << "the verified file could be opened for writing";
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        EXPECT_TRUE(MoveFileExW(download.c_str(), moved.c_str(), MOVEFILE_WRITE_THROUGH)) << GetLastError();
    }
    DeleteFileW(download.c_str());
    DeleteFileW(moved.c_str());
}
