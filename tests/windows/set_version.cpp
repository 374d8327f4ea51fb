// Test helper: gives a copy of Quillet.exe another built-in version by
// rewriting string 1016 in its resources.
//   set_version.exe PROGRAM VERSION
#include <windows.h>

#include <string>
#include <vector>

namespace {

const int VERSION_STRING = 1016;
const WORD LANGUAGE = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

// The 16 strings of a string table block.
bool ReadBlock(const wchar_t* program, int block, std::vector<std::wstring>* strings)
{
    HMODULE module = LoadLibraryExW(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return false;
    HRSRC info = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), LANGUAGE);
    const WORD* data = info ? static_cast<const WORD*>(LockResource(LoadResource(module, info))) : nullptr;
    if (data) {
        for (int i = 0; i < 16; ++i) {
            WORD length = *data++;
            strings->emplace_back(reinterpret_cast<const wchar_t*>(data), length);
            data += length;
        }
    }
    FreeLibrary(module);
    return data != nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) return 2;
    int block = VERSION_STRING / 16 + 1;
    std::vector<std::wstring> strings;
    if (!ReadBlock(argv[1], block, &strings)) return 1;
    strings[VERSION_STRING % 16] = argv[2];
    std::vector<WORD> data;
    for (const std::wstring& text : strings) {
        data.push_back(static_cast<WORD>(text.size()));
        data.insert(data.end(), text.begin(), text.end());
    }
    HANDLE update = BeginUpdateResourceW(argv[1], FALSE);
    if (!update) return 1;
    if (!UpdateResourceW(update, RT_STRING, MAKEINTRESOURCEW(block), LANGUAGE, data.data(),
                         static_cast<DWORD>(data.size() * sizeof(WORD)))) {
        EndUpdateResourceW(update, TRUE);
        return 1;
    }
    return EndUpdateResourceW(update, FALSE) ? 0 : 1;
}
