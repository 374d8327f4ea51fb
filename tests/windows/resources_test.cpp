// Quillet.exe, loaded as a data file, carries exactly the resources its
// windows, menus and update check are built on.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "dialog_template.h"
#include "resource.h"
#include "skin_catalog.h"
#include "webp_check.h"

namespace {

const WORD kChineseSimplified = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

std::wstring ProgramPath()
{
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"Quillet.exe";
}

class ProgramResources : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        module_ = LoadLibraryExW(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite()
    {
        if (module_) FreeLibrary(module_);
        module_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(nullptr, module_) << "cannot load Quillet.exe"; }

    static const uint8_t* Bytes(LPCWSTR type, LPCWSTR name, DWORD* size)
    {
        HRSRC info = FindResourceW(module_, name, type);
        if (!info) return nullptr;
        *size = SizeofResource(module_, info);
        return static_cast<const uint8_t*>(LockResource(LoadResource(module_, info)));
    }

    static DialogTemplate Dialog(int id)
    {
        DWORD size = 0;
        const uint8_t* data = Bytes(RT_DIALOG, MAKEINTRESOURCEW(id), &size);
        DialogTemplate dialog;
        EXPECT_NE(nullptr, data) << "dialog " << id;
        if (data) {
            EXPECT_TRUE(ParseDialogTemplateEx(data, size, &dialog)) << "dialog " << id;
        }
        return dialog;
    }

    static HMODULE module_;
};

HMODULE ProgramResources::module_ = nullptr;

void ExpectSmallFonts(const DialogTemplate& dialog)
{
    EXPECT_EQ(5, dialog.pointSize);
    EXPECT_EQ(400, dialog.weight);
    EXPECT_EQ(L"Small Fonts", dialog.typeface);
    EXPECT_EQ(L"", dialog.title);
    EXPECT_EQ(L"", dialog.menu);
    EXPECT_EQ(L"", dialog.windowClass);
}

struct ExpectedItem {
    uint32_t id;
    const wchar_t* windowClass;
    const wchar_t* text;
    uint32_t style;
    int x, y, cx, cy;
};

void ExpectItems(const DialogTemplate& dialog, const std::vector<ExpectedItem>& expected)
{
    ASSERT_EQ(expected.size(), dialog.items.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const DialogItem& item = dialog.items[i];
        SCOPED_TRACE("control " + std::to_string(expected[i].id));
        EXPECT_EQ(expected[i].id, item.id);
        // Window class names are matched without regard to case.
        EXPECT_EQ(0, _wcsicmp(expected[i].windowClass, item.windowClass.c_str()))
            << "class " << testing::PrintToString(item.windowClass);
        EXPECT_EQ(expected[i].text, item.text);
        EXPECT_EQ(expected[i].style, item.style);
        EXPECT_EQ(0u, item.exStyle);
        EXPECT_EQ(expected[i].x, item.x);
        EXPECT_EQ(expected[i].y, item.y);
        EXPECT_EQ(expected[i].cx, item.cx);
        EXPECT_EQ(expected[i].cy, item.cy);
    }
}

TEST_F(ProgramResources, EverySkinPictureDecodesToItsSize)
{
    for (const SkinPicture& picture : SkinCatalog()) {
        LPCWSTR name = MAKEINTRESOURCEW(picture.id);
        std::wstring wideName;
        if (!picture.id) {
            wideName.assign(picture.name, picture.name + strlen(picture.name));
            name = wideName.c_str();
        }
        // Lookups pass no language; the pictures themselves carry 2052.
        EXPECT_NE(nullptr, FindResourceExW(module_, L"WEBP", name, kChineseSimplified))
            << SkinPictureLabel(picture);
        DWORD size = 0;
        const uint8_t* data = Bytes(L"webp", name, &size);
        ASSERT_NE(nullptr, data) << SkinPictureLabel(picture);
        ExpectPictureMatches(data, size, picture);
    }
}

TEST_F(ProgramResources, LauncherWindowTemplate)
{
    DialogTemplate dialog = Dialog(IDD_TRANSLUCENT_DIALOG);
    EXPECT_EQ(0x10000040u, dialog.style);
    EXPECT_EQ(static_cast<uint32_t>(WS_EX_APPWINDOW), dialog.exStyle);
    EXPECT_EQ(0, dialog.x);
    EXPECT_EQ(0, dialog.y);
    EXPECT_EQ(1024, dialog.cx);
    EXPECT_EQ(768, dialog.cy);
    ExpectSmallFonts(dialog);
    EXPECT_TRUE(dialog.items.empty());
}

TEST_F(ProgramResources, StandardDialogTemplate)
{
    DialogTemplate dialog = Dialog(IDD_MAIN_DIALOG);
    EXPECT_EQ(0x80000040u, dialog.style);
    EXPECT_EQ(0u, dialog.exStyle);
    EXPECT_EQ(1024, dialog.cx);
    EXPECT_EQ(768, dialog.cy);
    ExpectSmallFonts(dialog);
    ExpectItems(dialog, {
        {1001, L"Static", L"", 0x5200002F, 445, 250, 580, 400},
        {1006, L"Button", L"????", 0x4201002B, 549, 527, 205, 101},
        {1007, L"Button", L"???", 0x4201002B, 10017, 176, 30, 31},
        {1008, L"Button", L"??", 0x5201002B, 1017, 198, 30, 31},
    });
}

TEST_F(ProgramResources, GameWindowTemplate)
{
    DialogTemplate dialog = Dialog(IDD_GAME_DIALOG);
    EXPECT_EQ(static_cast<uint32_t>(WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN | DS_SETFONT), dialog.style);
    EXPECT_EQ(static_cast<uint32_t>(WS_EX_APPWINDOW), dialog.exStyle);
    EXPECT_EQ(1360, dialog.cx);
    EXPECT_EQ(1020, dialog.cy);
    ExpectSmallFonts(dialog);
    const uint32_t button = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW;
    ExpectItems(dialog, {
        {1006, L"Button", L"??", button, 1329, 3, 26, 25},
        {1007, L"Button", L"??", button, 1305, 3, 26, 25},
        {1012, L"Button", L"??", button, 1305, 3, 26, 25},
        {1008, L"Button", L"??", button, 1281, 3, 26, 25},
        {1009, L"Button", L"??", button, 1257, 3, 26, 25},
        {1010, L"Button", L"??", button, 1233, 3, 26, 25},
        {1011, L"Button", L"??", button, 0, 0, 64, 27},
    });
}

struct ExpectedMenuItem {
    UINT id;
    const wchar_t* text;
};

void ExpectMenu(HMODULE module, int id, const wchar_t* popupText, const std::vector<ExpectedMenuItem>& items)
{
    SCOPED_TRACE("menu " + std::to_string(id));
    HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(id));
    ASSERT_NE(nullptr, menu);
    ASSERT_EQ(1, GetMenuItemCount(menu));
    wchar_t text[128] = {};
    GetMenuStringW(menu, 0, text, 128, MF_BYPOSITION);
    EXPECT_STREQ(popupText, text);
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(nullptr, popup);
    ASSERT_EQ(static_cast<int>(items.size()), GetMenuItemCount(popup));
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].id, GetMenuItemID(popup, static_cast<int>(i)));
        GetMenuStringW(popup, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
        EXPECT_STREQ(items[i].text, text);
    }
    DestroyMenu(menu);
}

TEST_F(ProgramResources, TrayAndMainMenus)
{
    ExpectMenu(module_, IDR_MENU_TRAY, L"托盘", {
        {32786, L"刷新            F5"},
        {32787, L"隐藏/显示     F9"},
        {32788, L"清理缓存"},
        {32789, L"退出"},
    });
    ExpectMenu(module_, IDR_MENU_MAIN, L"主菜单", {
        {32781, L"刷新            F5"},
        {32782, L"隐藏/显示     F9"},
        {32783, L"清理缓存"},
        {32784, L"重置窗口"},
        {32785, L"退出"},
    });
}

TEST_F(ProgramResources, NameAndBuiltInVersionStrings)
{
    wchar_t text[256] = {};
    EXPECT_EQ(7, LoadStringW(module_, IDS_APP_NAME, text, 256));
    EXPECT_STREQ(L"Quillet", text);
    EXPECT_EQ(5, LoadStringW(module_, IDS_VERSION, text, 256));
    EXPECT_STREQ(L"1.0.5", text);
}

TEST_F(ProgramResources, IconGroupHasSeveralSizes)
{
    DWORD size = 0;
    const uint8_t* data = Bytes(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_QUILLET), &size);
    ASSERT_NE(nullptr, data);
    ASSERT_GE(size, 6u);
    WORD count = 0;
    memcpy(&count, data + 4, sizeof(count));
    EXPECT_GE(count, 3);
    EXPECT_EQ(6u + 14u * count, size);
}

TEST_F(ProgramResources, ManifestAsksForInvokerAndCommonControls6ForItsOwnProcessor)
{
    DWORD size = 0;
    const uint8_t* data = Bytes(RT_MANIFEST, MAKEINTRESOURCEW(1), &size);
    ASSERT_NE(nullptr, data);
    std::string manifest(reinterpret_cast<const char*>(data), size);
    EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
    EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    // Windows refuses to start a program whose manifest names another
    // processor: the program's own identity and its dependency both name
    // the processor it was built for.
    const std::string processor = sizeof(void*) == 4 ? "processorArchitecture=\"x86\""
                                                      : "processorArchitecture=\"amd64\"";
    size_t first = manifest.find(processor);
    ASSERT_NE(std::string::npos, first) << manifest;
    EXPECT_NE(std::string::npos, manifest.find(processor, first + 1)) << manifest;
    EXPECT_EQ(std::string::npos, manifest.find(sizeof(void*) == 4 ? "amd64" : "\"x86\"")) << manifest;
}

TEST(ProgramVersionInfo, OriginalFilenameIsQuilletExe)
{
    std::wstring path = ProgramPath();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    wchar_t* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\080404b0\\OriginalFilename",
                               reinterpret_cast<void**>(&value), &length));
    EXPECT_STREQ(L"Quillet.exe", value);
}

}  // namespace
