// The resources as the built executable carries them, read back through the
// Win32 resource API: texts, the dialog template, the version block and the
// manifest, in English (United States) only, and nothing else.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "checked_exe.h"
#include "message_texts.h"
#include "resource.h"

namespace {

const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

class Resources : public testing::Test {
  protected:
    static HMODULE s_hExe;
    static void SetUpTestSuite()
    {
        s_hExe = LoadLibraryExW(CheckedExePath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite()
    {
        if (s_hExe != NULL)
            FreeLibrary(s_hExe);
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_hExe != NULL) << "cannot load the executable as data, error " << GetLastError();
    }

    static std::vector<BYTE> Raw(LPCWSTR type, LPCWSTR name, HMODULE hModule = s_hExe)
    {
        HRSRC hInfo = FindResourceExW(hModule, type, name, kEnglishUs);
        if (hInfo == NULL)
            return std::vector<BYTE>();
        const BYTE *pb = static_cast<const BYTE *>(LockResource(LoadResource(hModule, hInfo)));
        return std::vector<BYTE>(pb, pb + SizeofResource(hModule, hInfo));
    }
};
HMODULE Resources::s_hExe;

TEST_F(Resources, StringTableTexts)
{
    std::set<UINT> used;
    for (const MessageText &message : kMessageTexts) {
        SCOPED_TRACE(message.id);
        const WCHAR *pRaw = NULL;
        int length = LoadStringW(s_hExe, message.id, reinterpret_cast<LPWSTR>(&pRaw), 0);
        EXPECT_EQ(std::wstring(message.text), std::wstring(pRaw, static_cast<size_t>(length)));
        used.insert(message.id);
    }
    // The rest of block 7 (ids 96 to 111) is empty.
    for (UINT id = 96; id <= 111; id++) {
        const WCHAR *pRaw = NULL;
        if (used.count(id) == 0) {
            EXPECT_EQ(0, LoadStringW(s_hExe, id, reinterpret_cast<LPWSTR>(&pRaw), 0)) << id;
        }
    }
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD wLanguage, LONG_PTR lParam)
{
    reinterpret_cast<std::set<WORD> *>(lParam)->insert(wLanguage);
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE hModule, LPCWSTR pszType, LPWSTR pszName, LONG_PTR lParam)
{
    std::set<WORD> languages;
    EnumResourceLanguagesW(hModule, pszType, pszName, CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
    std::wstring name = IS_INTRESOURCE(pszName) ? std::to_wstring(reinterpret_cast<ULONG_PTR>(pszName)) : pszName;
    (*reinterpret_cast<std::map<std::wstring, std::set<WORD>> *>(lParam))[name] = languages;
    return TRUE;
}

BOOL CALLBACK CollectType(HMODULE hModule, LPWSTR pszType, LONG_PTR lParam)
{
    std::map<std::wstring, std::set<WORD>> names;
    EnumResourceNamesW(hModule, pszType, CollectName, reinterpret_cast<LONG_PTR>(&names));
    std::wstring type = IS_INTRESOURCE(pszType) ? std::to_wstring(reinterpret_cast<ULONG_PTR>(pszType)) : pszType;
    for (const auto &entry : names)
        (*reinterpret_cast<std::map<std::wstring, std::set<WORD>> *>(lParam))[type + L"/" + entry.first] = entry.second;
    return TRUE;
}

TEST_F(Resources, NothingElseAndEnglishOnly)
{
    const std::set<WORD> us = {kEnglishUs};
    std::map<std::wstring, std::set<WORD>> found, expected = {
                                                      {L"5/101", us}, // RT_DIALOG IDD_HEAPSIZE
                                                      {L"6/7", us},   // RT_STRING block 7
                                                      {L"16/1", us},  // RT_VERSION
                                                      {L"24/1", us},  // RT_MANIFEST
                                                  };
    EnumResourceTypesW(s_hExe, CollectType, reinterpret_cast<LONG_PTR>(&found));
    EXPECT_EQ(expected, found);

    // The console companion carries its version block and nothing else.
    HMODULE hCli = LoadLibraryExW(CheckedExePath(L"MorvantaCli.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(hCli != NULL);
    found.clear();
    EnumResourceTypesW(hCli, CollectType, reinterpret_cast<LONG_PTR>(&found));
    FreeLibrary(hCli);
    EXPECT_EQ((std::map<std::wstring, std::set<WORD>>{{L"16/1", us}}), found);
}

// Reads a dialog template the way the dialog manager does.
struct TemplateReader {
    const BYTE *p;
    const BYTE *pEnd;
    bool ok = true;

    template <typename T> T Take()
    {
        T value = {};
        if (p + sizeof(T) > pEnd) {
            ok = false;
            return value;
        }
        memcpy(&value, p, sizeof(T));
        p += sizeof(T);
        return value;
    }
    std::wstring TakeText()
    {
        std::wstring text;
        for (WCHAR ch = Take<WCHAR>(); ok && ch != 0; ch = Take<WCHAR>())
            text.push_back(ch);
        return text;
    }
    // A name or an ordinal; predefined control classes come as ordinals.
    std::wstring TakeNameOrOrdinal()
    {
        if (p + 2 <= pEnd && p[0] == 0xFF && p[1] == 0xFF) {
            p += 2;
            WORD ordinal = Take<WORD>();
            switch (ordinal) {
            case 0x80:
                return L"BUTTON";
            case 0x81:
                return L"EDIT";
            case 0x82:
                return L"STATIC";
            default:
                return L"#" + std::to_wstring(ordinal);
            }
        }
        return TakeText();
    }
    void AlignDword(const BYTE *pStart)
    {
        p = pStart + ((p - pStart + 3) & ~3);
    }
};

TEST_F(Resources, DialogTemplate)
{
    std::vector<BYTE> raw = Raw(RT_DIALOG, MAKEINTRESOURCEW(IDD_HEAPSIZE));
    ASSERT_FALSE(raw.empty());
    TemplateReader reader = {raw.data(), raw.data() + raw.size()};

    EXPECT_EQ(1, reader.Take<WORD>());      // dlgVer
    EXPECT_EQ(0xFFFF, reader.Take<WORD>()); // signature: DLGTEMPLATEEX
    EXPECT_EQ(0u, reader.Take<DWORD>());    // helpID
    EXPECT_EQ(0u, reader.Take<DWORD>());    // exStyle
    EXPECT_EQ(0x80C808C8u, reader.Take<DWORD>());
    WORD cItems = reader.Take<WORD>();
    EXPECT_EQ(6, cItems);
    EXPECT_EQ(0, reader.Take<short>());
    EXPECT_EQ(0, reader.Take<short>());
    EXPECT_EQ(191, reader.Take<short>());
    EXPECT_EQ(80, reader.Take<short>());
    EXPECT_EQ(L"", reader.TakeNameOrOrdinal()); // no menu
    EXPECT_EQ(L"", reader.TakeNameOrOrdinal()); // the default dialog class
    EXPECT_EQ(L"Morvanta", reader.TakeText());
    EXPECT_EQ(8, reader.Take<WORD>());   // points
    EXPECT_EQ(400, reader.Take<WORD>()); // FW_NORMAL
    EXPECT_EQ(0, reader.Take<BYTE>());   // not italic
    EXPECT_EQ(1, reader.Take<BYTE>());   // DEFAULT_CHARSET
    EXPECT_EQ(L"MS Shell Dlg", reader.TakeText());

    const struct {
        const wchar_t *cls;
        DWORD id;
        const wchar_t *text;
        DWORD style;
        short x, y, cx, cy;
    } controls[] = {
        {L"EDIT", IDC_HEAPSIZE_EDIT, L"", 0x50810882, 98, 30, 57, 12},
        {L"msctls_updown32", IDC_HEAPSIZE_SPIN, L"", 0x50000036, 160, 31, 12, 9},
        {L"BUTTON", IDOK, L"OK", 0x50010000, 76, 59, 50, 14},
        {L"BUTTON", IDCANCEL, L"Cancel", 0x50010001, 134, 59, 50, 14},
        {L"STATIC", static_cast<DWORD>(IDC_STATIC), L"Desktop heap size (KB):", 0x50020000, 7, 32, 81, 8},
        {L"STATIC",
         static_cast<DWORD>(IDC_STATIC),
         L"Increase the size of the desktop heap if you can no longer open new windows or menus.",
         0x50020000,
         7,
         7,
         177,
         18},
    };
    for (const auto &c : controls) {
        SCOPED_TRACE(testing::Message() << "control " << c.id);
        reader.AlignDword(raw.data());
        EXPECT_EQ(0u, reader.Take<DWORD>()); // helpID
        EXPECT_EQ(0u, reader.Take<DWORD>()); // exStyle
        EXPECT_EQ(c.style, reader.Take<DWORD>());
        EXPECT_EQ(c.x, reader.Take<short>());
        EXPECT_EQ(c.y, reader.Take<short>());
        EXPECT_EQ(c.cx, reader.Take<short>());
        EXPECT_EQ(c.cy, reader.Take<short>());
        EXPECT_EQ(c.id, reader.Take<DWORD>());
        // windres stores class names in capitals; class lookups ignore case.
        EXPECT_EQ(0, lstrcmpiW(c.cls, reader.TakeNameOrOrdinal().c_str()));
        EXPECT_EQ(std::wstring(c.text), reader.TakeNameOrOrdinal());
        EXPECT_EQ(0, reader.Take<WORD>()); // no creation data
    }
    EXPECT_TRUE(reader.ok);
    reader.AlignDword(raw.data());
    EXPECT_GE(raw.data() + raw.size(), reader.p);
}

// One node of a version block: key, value and children.
struct VersionNode {
    std::wstring key;
    WORD wType;
    std::vector<BYTE> value; // as stored, wValueLength units
    std::vector<VersionNode> children;
};

bool ParseVersionNode(const BYTE *pStart, const BYTE *p, const BYTE *pEnd, VersionNode *pNode)
{
    if (p + 6 > pEnd)
        return false;
    WORD wLength, wValueLength, wType;
    memcpy(&wLength, p, 2);
    memcpy(&wValueLength, p + 2, 2);
    memcpy(&wType, p + 4, 2);
    const BYTE *pNodeEnd = p + wLength;
    if (pNodeEnd > pEnd || wLength < 6)
        return false;
    pNode->wType = wType;
    const BYTE *q = p + 6;
    for (WCHAR ch; q + 2 <= pNodeEnd && (memcpy(&ch, q, 2), q += 2, ch != 0);)
        pNode->key.push_back(ch);
    q = pStart + ((q - pStart + 3) & ~3);
    size_t cbValue = wType == 1 ? wValueLength * 2u : wValueLength; // text counts characters
    if (q + cbValue > pNodeEnd)
        return false;
    pNode->value.assign(q, q + cbValue);
    q = pStart + ((q + cbValue - pStart + 3) & ~3);
    while (q < pNodeEnd) {
        VersionNode child;
        if (!ParseVersionNode(pStart, q, pNodeEnd, &child))
            return false;
        WORD wChildLength;
        memcpy(&wChildLength, q, 2);
        pNode->children.push_back(child);
        q = pStart + ((q + wChildLength - pStart + 3) & ~3);
    }
    return true;
}

std::wstring Text(const std::vector<BYTE> &value)
{
    return std::wstring(reinterpret_cast<const wchar_t *>(value.data()), value.size() / 2);
}

struct ProgramVersion {
    const wchar_t *program;
    const wchar_t *comments, *description, *internalName;
};

// The same version numbers in both programs, each with its own description and name.
void ExpectVersionBlock(const std::vector<BYTE> &raw, const ProgramVersion &version)
{
    VersionNode root;
    ASSERT_TRUE(ParseVersionNode(raw.data(), raw.data(), raw.data() + raw.size(), &root));
    EXPECT_EQ(L"VS_VERSION_INFO", root.key);
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), root.value.size());
    VS_FIXEDFILEINFO fixed;
    memcpy(&fixed, root.value.data(), sizeof fixed);
    EXPECT_EQ(0xFEEF04BDu, fixed.dwSignature);
    EXPECT_EQ(0x00010000u, fixed.dwStrucVersion);
    EXPECT_EQ(0x00010001u, fixed.dwFileVersionMS);
    EXPECT_EQ(0u, fixed.dwFileVersionLS);
    EXPECT_EQ(0x00010001u, fixed.dwProductVersionMS);
    EXPECT_EQ(0u, fixed.dwProductVersionLS);
    EXPECT_EQ(0x37u, fixed.dwFileFlagsMask);
    EXPECT_EQ(0x20u, fixed.dwFileFlags);
    EXPECT_EQ(0x4u, fixed.dwFileOS);
    EXPECT_EQ(1u, fixed.dwFileType);
    EXPECT_EQ(0u, fixed.dwFileSubtype);
    EXPECT_EQ(0u, fixed.dwFileDateMS);
    EXPECT_EQ(0u, fixed.dwFileDateLS);

    ASSERT_EQ(2u, root.children.size());
    const VersionNode &stringFileInfo = root.children[0];
    EXPECT_EQ(L"StringFileInfo", stringFileInfo.key);
    ASSERT_EQ(1u, stringFileInfo.children.size());
    const VersionNode &table = stringFileInfo.children[0];
    EXPECT_EQ(L"040904b0", table.key);

    const std::pair<std::wstring, std::wstring> expected[] = {
        {L"Comments", version.comments},
        {L"FileDescription", version.description},
        {L"FileVersion", L"1.1.0.0"},
        {L"InternalName", version.internalName},
        {L"OriginalFilename", version.program},
        {L"ProductName", L" Morvanta"},
        {L"ProductVersion", L"1.1"},
        {L"SpecialBuild", L"Retail Unicode x32"},
    };
    ASSERT_EQ(8u, table.children.size());
    for (size_t i = 0; i < 8; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i].first, table.children[i].key);
        EXPECT_EQ(1, table.children[i].wType);
        EXPECT_EQ(expected[i].second + L'\0', Text(table.children[i].value)); // stored with its terminator
    }

    const VersionNode &varFileInfo = root.children[1];
    EXPECT_EQ(L"VarFileInfo", varFileInfo.key);
    ASSERT_EQ(1u, varFileInfo.children.size());
    EXPECT_EQ(L"Translation", varFileInfo.children[0].key);
    EXPECT_EQ(std::vector<BYTE>({0x09, 0x04, 0xB0, 0x04}), varFileInfo.children[0].value);
}

TEST_F(Resources, VersionBlocks)
{
    const ProgramVersion morvanta = {L"Morvanta.exe",
                                     L"Utility for changing the desktop heap size on Windows 2000/XP and later",
                                     L"Morvanta",
                                     L"Morvanta"};
    const ProgramVersion cli = {L"MorvantaCli.exe",
                                L"Console companion for changing the desktop heap size on Windows 2000/XP and later",
                                L"Morvanta command line",
                                L"MorvantaCli"};
    {
        SCOPED_TRACE("Morvanta.exe");
        ExpectVersionBlock(Raw(RT_VERSION, MAKEINTRESOURCEW(1)), morvanta);
    }
    SCOPED_TRACE("MorvantaCli.exe");
    HMODULE hCli = LoadLibraryExW(CheckedExePath(L"MorvantaCli.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(hCli != NULL);
    ExpectVersionBlock(Raw(RT_VERSION, MAKEINTRESOURCEW(1), hCli), cli);
    FreeLibrary(hCli);
}

TEST_F(Resources, ManifestBytes)
{
    std::vector<BYTE> raw = Raw(RT_MANIFEST, MAKEINTRESOURCEW(1));
    std::string arch = ExpectedMachine() == IMAGE_FILE_MACHINE_I386 ? "X86" : "amd64";
    std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
        "  <assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"" +
        arch +
        "\" name=\"Morvanta.HeapSize\" type=\"win32\"/>\r\n"
        "  <dependency>\r\n"
        "    <dependentAssembly>\r\n"
        "      <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
        "processorArchitecture=\"" +
        arch +
        "\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>\r\n"
        "    </dependentAssembly>\r\n"
        "  </dependency>\r\n"
        "</assembly>\r\n";
    EXPECT_EQ(expected, std::string(raw.begin(), raw.end()));
}

} // namespace
