// The per-folder instance check and the self-update of CClientApp.
#include <windows.h>

#include "app/client_app.h"
#include "app/update_rules.h"
#include "app/process_start.h"
#include "app/update_signature.h"
#include "build_config.h"
#include "net/download_client.h"
#include "platform/event_log.h"
#include "platform/wide_text_win32.h"
#include "resource.h"

namespace {

const size_t VERSION_BLOCK_BYTES = 256;
// The version file must have arrived whole this soon, or there is no update
// this time: a silent, firewalled or trickling update CDN must not keep the
// player from the launcher, and the next start tries again. The program's
// own download has no such deadline; it keeps the low-speed bound.
const uint32_t VERSION_DEADLINE_MS = 10000;
const size_t URL_CHARS = 256;

std::wstring UpdateBaseUrl()
{
    return L"http://" + ToWide(kUpdateHost, CP_UTF8) + UPDATE_PATH;
}

}  // namespace

bool CClientApp::CheckInstanceAndUpdate(bool bReopen)
{
    std::wstring program = GetProgramPath();
    if (program.empty()) return true;
    std::wstring exeName = FileNamePart(program);
    exeName.copy(m_szExeName, MAX_PATH_CHARS - 1);
    m_szExeName[exeName.size() < MAX_PATH_CHARS ? exeName.size() : MAX_PATH_CHARS - 1] = L'\0';

    // One process per program folder looks for an update; the mutex is held
    // for the life of the process and never released by the program.
    std::wstring mutexName = MutexNameForFolder(FolderPart(program));
    m_hUpdateMutex = CreateMutexW(nullptr, TRUE, mutexName.c_str());
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return true;
    if (error != 0) return false;
    if (bReopen) return true;

    // The version file must fit the block with its terminator; a longer one
    // is no update information at all.
    uint8_t block[VERSION_BLOCK_BYTES] = {};
    std::wstring base = UpdateBaseUrl();
    std::string versionUrl = WideToUtf8(base + VERSION_FILE);
    if (DownloadToMemoryWithin(versionUrl, block, sizeof(block), VERSION_DEADLINE_MS) == 0) {
        LogEvent("update: no version file from %s within %u s: no update this time", versionUrl.c_str(),
                 VERSION_DEADLINE_MS / 1000);
        return true;
    }
    const char* text = reinterpret_cast<const char*>(block);
    std::wstring advertised = ToWide(GetKeyValue(text, "version"), CP_ACP);
    std::string md5 = GetKeyValue(text, "md5");
    std::wstring exe = ToWide(GetKeyValue(text, "exe"), CP_ACP);

    wchar_t builtIn[256] = {};
    LoadStringW(g_hInstance, IDS_VERSION, builtIn, 256);
    bool bNew = IsAdvertisedVersionNew(builtIn, advertised);
    LogEvent("update: version \"%s\" advertised, %s running: %s", WideToUtf8(advertised).c_str(),
             WideToUtf8(builtIn).c_str(), bNew ? "updating" : "no update");
    if (!bNew) return true;

    // A program address that does not fit its 256-character buffer is never
    // fetched in a cut form: the update waits for a sound version file.
    std::wstring url = base + exe;
    if (url.size() >= URL_CHARS) {
        LogEvent("update: the program's address is longer than %u characters: not fetched",
                 static_cast<unsigned>(URL_CHARS - 1));
        return true;
    }
    // A running program whose own file cannot be read cannot tell what it
    // may take: nothing is downloaded.
    ProgramPublisher publisher = ReadProgramPublisher(program);
    if (!publisher.bRead) {
        LogEvent("update: refused: the running program's own file could not be read");
        return true;
    }
    if (!DownloadVerifiedFile(WideToUtf8(url), WideToUtf8(NEW_PROGRAM_FILE), md5.c_str())) {
        LogEvent("update: the download of %s failed or its MD5 is not %s", WideToUtf8(url).c_str(), md5.c_str());
        return true;
    }
    LogEvent("update: downloaded %s, MD5 %s matches", WideToUtf8(url).c_str(), md5.c_str());
    // The MD5 came from the same plain-HTTP host as the program: a signed
    // program takes only a later version of itself that its publisher
    // signed, and a refused download counts as failed, so it does not
    // remain. The verdict holds the file it judged until the swap is done.
    UpdateVerdict verdict = JudgeUpdate(publisher, NEW_PROGRAM_FILE);
    if (!verdict.bAccepted) {
        LogEvent("update: refused: %s", verdict.reason);
        verdict.file.Reset();
        DeleteFileW(NEW_PROGRAM_FILE);
        return true;
    }
    LogEvent("update: accepted: %s", verdict.reason);

    // Each move is on the disk when it returns: after a power cut the
    // program file is the old program or the whole new one.
    ProgramFileMoves files;
    files.move = [](const std::wstring& from, const std::wstring& to) {
        return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
    };
    if (SwapProgramFiles(files, GetProgramPath(), m_szExeName)) {
        LogEvent("update: the new program is in place");
        m_nRunMode = RUN_MODE_RESTART;
    } else {
        LogEvent("update: the swap of the program files failed (error %lu)", GetLastError());
    }
    return true;
}
