// The executables' headers: machine, subsystem, the shipped build's
// hardening flags, and an import table that names only system DLLs (no C++ runtime DLLs, and no advapi32, which is
// bound at first use) and no function that Windows XP lacks.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <set>
#include <string>

#include "checked_exe.h"

namespace {

struct PeView {
    std::vector<BYTE> bytes;
    const IMAGE_NT_HEADERS32 *pNt32; // the fields read here sit at the same offsets in PE32+
    WORD magic;
};

bool Load(PeView *pView, const wchar_t *pszProgram)
{
    pView->bytes = ReadWholeFile(CheckedExePath(pszProgram));
    if (pView->bytes.size() < sizeof(IMAGE_DOS_HEADER))
        return false;
    const IMAGE_DOS_HEADER *pDos = reinterpret_cast<const IMAGE_DOS_HEADER *>(pView->bytes.data());
    if (pDos->e_magic != IMAGE_DOS_SIGNATURE ||
        static_cast<size_t>(pDos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64) > pView->bytes.size())
        return false;
    pView->pNt32 = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(pView->bytes.data() + pDos->e_lfanew);
    pView->magic = pView->pNt32->OptionalHeader.Magic;
    return pView->pNt32->Signature == IMAGE_NT_SIGNATURE;
}

size_t RvaToOffset(const PeView &view, DWORD rva)
{
    const IMAGE_SECTION_HEADER *pSection = IMAGE_FIRST_SECTION(view.pNt32);
    for (WORD i = 0; i < view.pNt32->FileHeader.NumberOfSections; i++, pSection++) {
        if (rva >= pSection->VirtualAddress && rva < pSection->VirtualAddress + pSection->Misc.VirtualSize)
            return rva - pSection->VirtualAddress + pSection->PointerToRawData;
    }
    return 0;
}

// The DLLs the import table names, in lower case, and the functions it
// imports from them by name.
void ReadImports(const PeView &view, std::set<std::string> *pDlls, std::set<std::string> *pFunctions)
{
    const bool pe64 = view.magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    const IMAGE_DATA_DIRECTORY *pImports =
        pe64 ? &reinterpret_cast<const IMAGE_NT_HEADERS64 *>(view.pNt32)->OptionalHeader.DataDirectory[1]
             : &view.pNt32->OptionalHeader.DataDirectory[1];
    const size_t cbThunk = pe64 ? 8 : 4;
    const ULONGLONG byOrdinal = pe64 ? 0x8000000000000000ull : 0x80000000ull;
    size_t offset = RvaToOffset(view, pImports->VirtualAddress);
    for (; offset != 0 && offset + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= view.bytes.size();
         offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const IMAGE_IMPORT_DESCRIPTOR *pDescriptor =
            reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(view.bytes.data() + offset);
        if (pDescriptor->Name == 0)
            break;
        std::string name = reinterpret_cast<const char *>(view.bytes.data() + RvaToOffset(view, pDescriptor->Name));
        std::transform(name.begin(), name.end(), name.begin(), [](char ch) { return static_cast<char>(tolower(ch)); });
        pDlls->insert(name);
        DWORD thunks = pDescriptor->OriginalFirstThunk != 0 ? pDescriptor->OriginalFirstThunk : pDescriptor->FirstThunk;
        for (size_t at = RvaToOffset(view, thunks); at != 0 && at + cbThunk <= view.bytes.size(); at += cbThunk) {
            ULONGLONG thunk = 0;
            memcpy(&thunk, view.bytes.data() + at, cbThunk);
            if (thunk == 0)
                break;
            size_t function = (thunk & byOrdinal) != 0 ? 0 : RvaToOffset(view, static_cast<DWORD>(thunk));
            if (function != 0 && function + 2 < view.bytes.size())
                pFunctions->insert(reinterpret_cast<const char *>(view.bytes.data() + function + 2));
        }
    }
}

// What Windows 2000 and XP lack, bound at run time instead, so that the
// programs still start there and report what they cannot read.
const char *const kBoundAtRunTime[] = {"GetTickCount64",
                                       "QueryFullProcessImageNameW",
                                       "IsWow64Process",
                                       "NtQuerySystemInformation",
                                       "NtQueryInformationProcess",
                                       "EvtQuery",
                                       "EvtNext",
                                       "EvtRender",
                                       "EvtCreateRenderContext",
                                       "EvtClose"};

// The dialog program and its console companion, and what each may import.
const struct {
    const wchar_t *name;
    WORD subsystem;
    std::set<std::string> imports;
} kPrograms[] = {
    {L"Morvanta.exe", IMAGE_SUBSYSTEM_WINDOWS_GUI, {"comctl32.dll", "kernel32.dll", "msvcrt.dll", "user32.dll"}},
    {L"MorvantaCli.exe", IMAGE_SUBSYSTEM_WINDOWS_CUI, {"kernel32.dll", "msvcrt.dll"}},
};

TEST(PeHeaders, MachineSubsystemAndImports)
{
    for (const auto &program : kPrograms) {
        SCOPED_TRACE(program.name);
        PeView view = {};
        ASSERT_TRUE(Load(&view, program.name));
        EXPECT_EQ(ExpectedMachine(), view.pNt32->FileHeader.Machine);
        if (ExpectedMachine() == IMAGE_FILE_MACHINE_I386) {
            EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, view.magic);
        }
        EXPECT_EQ(program.subsystem, view.pNt32->OptionalHeader.Subsystem); // same offset in PE32+
        std::set<std::string> dlls, functions;
        ReadImports(view, &dlls, &functions);
        EXPECT_EQ(program.imports, dlls);
        EXPECT_LT(10u, functions.size()) << "the import table was not read";
        for (const char *pszName : kBoundAtRunTime) {
            EXPECT_EQ(0u, functions.count(pszName)) << pszName << " is imported: the program would not start on XP";
        }
    }
}

#ifdef __MINGW32__
TEST(PeHeaders, HardeningFlagsOfTheShippedBuild)
{
    // The shipped programs are the 32-bit MinGW build: ASLR, DEP, no SEH
    // handlers and terminal-server aware, and nothing else.
    if (ExpectedMachine() != IMAGE_FILE_MACHINE_I386)
        GTEST_SKIP() << "a 64-bit test build; its run also checks the shipped 32-bit programs";
    for (const auto &program : kPrograms) {
        SCOPED_TRACE(program.name);
        PeView view = {};
        ASSERT_TRUE(Load(&view, program.name));
        EXPECT_EQ(IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_NX_COMPAT |
                      IMAGE_DLLCHARACTERISTICS_NO_SEH | IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE,
                  view.pNt32->OptionalHeader.DllCharacteristics);
    }
}
#endif

} // namespace
