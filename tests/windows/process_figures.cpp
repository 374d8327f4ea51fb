// Test helper: prints, as one line of JSON, what Windows says of the running
// process whose program file has the given name: its handles and threads,
// its address space (committed, reserved and free, walked region by region)
// and its working set. For the load tier, which
// cannot read a Windows process's handles from outside its prefix.
//   process_figures.exe NAME.exe
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

DWORD FindProcess(const wchar_t* name, DWORD* threads)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    DWORD found = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, name) == 0) {
            found = entry.th32ProcessID;
            *threads = entry.cntThreads;
            break;
        }
    }
    CloseHandle(snapshot);
    return found;
}

// The handles the process holds, counted in the system's list of every
// process's handles: Wine answers GetProcessHandleCount for another process
// with 0, but keeps this list.
unsigned long CountHandles(DWORD id)
{
    std::vector<BYTE> buffer(1 << 20);
    for (;;) {
        ULONG needed = 0;
        NTSTATUS status = NtQuerySystemInformation(SystemHandleInformation, buffer.data(),
                                                   static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<NTSTATUS>(0xC0000004L) && buffer.size() < (256u << 20)) {  // length mismatch
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0) return 0;
        const auto* list = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
        unsigned long count = 0;
        for (ULONG i = 0; i < list->Count; ++i) {
            if (list->Handle[i].OwnerPid == id) ++count;
        }
        return count;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) return 2;
    DWORD threads = 0;
    DWORD id = FindProcess(argv[1], &threads);
    if (id == 0) return 1;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    if (!process) return 1;

    unsigned long handles = CountHandles(id);
    PROCESS_MEMORY_COUNTERS memory = {};
    GetProcessMemoryInfo(process, &memory, sizeof(memory));

    // Wine holds most of a 32-bit process's space as reserved regions of its
    // own, which it hands out as the program allocates: reserved and free
    // space are told apart, not added up.
    unsigned long long committed = 0, reserved = 0, free = 0;
    MEMORY_BASIC_INFORMATION region = {};
    for (const char* at = nullptr; VirtualQueryEx(process, at, &region, sizeof(region)) == sizeof(region);) {
        if (region.State == MEM_COMMIT) committed += region.RegionSize;
        if (region.State == MEM_RESERVE) reserved += region.RegionSize;
        if (region.State == MEM_FREE) free += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    CloseHandle(process);
    std::printf("{\"handles\": %lu, \"threads\": %lu, \"committed_kib\": %llu, \"reserved_kib\": %llu, "
                "\"free_kib\": %llu, \"working_set_kib\": %lu}\n",
                handles, static_cast<unsigned long>(threads), committed / 1024, reserved / 1024, free / 1024,
                static_cast<unsigned long>(memory.WorkingSetSize / 1024));
    return 0;
}
