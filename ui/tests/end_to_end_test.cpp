// The real Morvanta.exe driven from this process, as an administrator would
// use it: exit codes through GetExitCodeProcess, the value's bytes and type
// afterwards. These tests write the real SubSystems key and set its ACL, so
// they run only under Wine.
#include <windows.h>

#include <commctrl.h>
#include <sddl.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "morvanta_windows.h"
#include "resource.h"
#include "wine_only.h"

namespace {

const WCHAR kKeyPath[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\SubSystems";
const WCHAR kAppDefaults[] = L"Software\\Wine\\AppDefaults\\Morvanta.exe";
const DWORD kTimeoutMs = 15000;
const DWORD kPollMs = 20;

std::wstring Value(const std::wstring &sharedSection)
{
    return L"%SystemRoot%\\system32\\csrss.exe ObjectDirectory=\\Windows SharedSection=" + sharedSection +
           L" Windows=On SubSystemType=Windows ServerDll=basesrv,1 ServerDll=winsrv:UserServerDllInitialization,3 "
           L"ServerDll=sxssrv,4 ProfileControl=Off MaxRequestThreads=16";
}

std::vector<BYTE> BytesWithTerminator(const std::wstring &text)
{
    const BYTE *pb = reinterpret_cast<const BYTE *>(text.c_str());
    return std::vector<BYTE>(pb, pb + (text.size() + 1) * sizeof(WCHAR));
}

void SeedValue(const std::wstring &text)
{
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL));
    std::vector<BYTE> bytes = BytesWithTerminator(text);
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(hKey, L"Windows", 0, REG_EXPAND_SZ, bytes.data(), static_cast<DWORD>(bytes.size())));
    RegCloseKey(hKey);
}

bool StoredValue(DWORD *pdwType, std::vector<BYTE> *pBytes)
{
    BYTE buffer[8192];
    DWORD cb = sizeof buffer;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kKeyPath, L"Windows", RRF_RT_ANY | RRF_NOEXPAND, pdwType, buffer, &cb) !=
        ERROR_SUCCESS)
        return false;
    pBytes->assign(buffer, buffer + cb);
    return true;
}

// One run of Morvanta.exe and the windows it shows.
struct ProgramRun {
    PROCESS_INFORMATION process;
};

std::wstring MorvantaPath()
{
    WCHAR szPath[MAX_PATH] = {};
    GetModuleFileNameW(NULL, szPath, MAX_PATH);
    std::wstring path = szPath;
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"Morvanta.exe";
}

bool Start(ProgramRun *pRun)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + MorvantaPath() + L"\"";
    if (!CreateProcessW(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &pRun->process))
        return false;
    WaitForInputIdle(pRun->process.hProcess, kTimeoutMs);
    return true;
}

// Ends a run that a failed check left open, and returns its exit code.
DWORD Finish(ProgramRun *pRun)
{
    DWORD exitCode = 0xDEADBEEF;
    if (WaitForSingleObject(pRun->process.hProcess, kTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(pRun->process.hProcess, 0xDEAD);
        WaitForSingleObject(pRun->process.hProcess, kTimeoutMs);
    }
    GetExitCodeProcess(pRun->process.hProcess, &exitCode);
    CloseHandle(pRun->process.hThread);
    CloseHandle(pRun->process.hProcess);
    pRun->process.hProcess = NULL;
    return exitCode;
}

// Polls for the dialog or a message box; *pDialogSeen tells whether the
// dialog was ever visible meanwhile.
HWND WaitFor(const ProgramRun &run, bool wantDialog, bool *pDialogSeen = NULL)
{
    DWORD start = GetTickCount();
    do {
        HWND hwndDialog = FindMorvantaWindow(run.process.dwProcessId, true);
        if (hwndDialog != NULL && pDialogSeen != NULL)
            *pDialogSeen = true;
        if (wantDialog && hwndDialog != NULL && IsWindowEnabled(hwndDialog))
            return hwndDialog;
        if (!wantDialog) {
            HWND hwndBox = FindMorvantaWindow(run.process.dwProcessId, false);
            if (hwndBox != NULL)
                return hwndBox;
        }
        if (WaitForSingleObject(run.process.hProcess, kPollMs) == WAIT_OBJECT_0)
            return NULL;
    } while (GetTickCount() - start < kTimeoutMs);
    return NULL;
}

// Another process's edit control answers only to a real WM_GETTEXT.
std::wstring TextOf(HWND hwnd)
{
    WCHAR szText[1024] = {};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(
        hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(szText), SMTO_ABORTIFHUNG, kTimeoutMs, &result);
    return szText;
}

// Pointer messages do not cross processes: the position comes as the result.
int Position(HWND hwndDialog)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(
        GetDlgItem(hwndDialog, IDC_HEAPSIZE_SPIN), UDM_GETPOS32, 0, 0, SMTO_ABORTIFHUNG, kTimeoutMs, &result);
    return static_cast<int>(result);
}

void Key(HWND hwnd, WPARAM vk)
{
    PostMessageW(hwnd, WM_KEYDOWN, vk, 1);
    PostMessageW(hwnd, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
}

bool StepUp(HWND hwndDialog)
{
    int before = Position(hwndDialog);
    Key(GetDlgItem(hwndDialog, IDC_HEAPSIZE_EDIT), VK_UP);
    DWORD start = GetTickCount();
    while (Position(hwndDialog) == before) {
        if (GetTickCount() - start > kTimeoutMs)
            return false;
        Sleep(kPollMs);
    }
    return true;
}

void Click(HWND hwndParent, int id)
{
    // Posted: the click may open a modal box, which a sent one would wait for.
    PostMessageW(GetDlgItem(hwndParent, id), BM_CLICK, 0, 0);
}

class EndToEnd : public testing::Test {
  protected:
    ProgramRun run = {};

    void SetUp() override
    {
        SKIP_UNLESS_WINE();
        SeedValue(Value(L"1024,3072,512"));
    }
    void TearDown() override
    {
        // A failed check must not leave the program running with its windows.
        if (run.process.hProcess != NULL)
            Finish(&run);
    }

    void ExpectStored(const std::wstring &text)
    {
        DWORD dwType = 0;
        std::vector<BYTE> bytes;
        ASSERT_TRUE(StoredValue(&dwType, &bytes));
        EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), dwType);
        EXPECT_EQ(BytesWithTerminator(text), bytes);
    }
    void ExpectUntouched()
    {
        ExpectStored(Value(L"1024,3072,512"));
    }
};

TEST_F(EndToEnd, TypicalRunStoresOnlyTheNewSize)
{
    ASSERT_TRUE(Start(&run));
    HWND hwnd = WaitFor(run, true);
    ASSERT_TRUE(hwnd != NULL);
    EXPECT_EQ(L"3,072", TextOf(GetDlgItem(hwnd, IDC_HEAPSIZE_EDIT)));
    EXPECT_TRUE(StepUp(hwnd) && StepUp(hwnd) && StepUp(hwnd));
    EXPECT_EQ(L"3,075", TextOf(GetDlgItem(hwnd, IDC_HEAPSIZE_EDIT)));
    Click(hwnd, IDOK);

    HWND hwndBox = WaitFor(run, false);
    ASSERT_TRUE(hwndBox != NULL);
    EXPECT_EQ(L"The system needs to be restarted for the change to the desktop heap size to take effect.\r\n\r\n"
              L"Do you want to restart your system now?",
              TextOf(GetDlgItem(hwndBox, 0xFFFF)));
    EXPECT_EQ(hwnd, GetWindow(hwndBox, GW_OWNER));
    // No: no test reaches a real shutdown request, not even Wine's stub.
    Click(hwndBox, IDNO);
    EXPECT_EQ(0u, Finish(&run));
    ExpectStored(Value(L"1024,3075,512"));
}

TEST_F(EndToEnd, CancelEscAndEnterWriteNothing)
{
    const struct {
        const char *name;
        bool useKey;
        WPARAM vk;
    } ways[] = {{"Cancel button", false, 0}, {"Esc", true, VK_ESCAPE}, {"Enter in the edit control", true, VK_RETURN}};
    for (const auto &way : ways) {
        SCOPED_TRACE(way.name);
        ASSERT_TRUE(Start(&run));
        HWND hwnd = WaitFor(run, true);
        ASSERT_TRUE(hwnd != NULL);
        EXPECT_TRUE(StepUp(hwnd));
        if (way.useKey)
            Key(GetDlgItem(hwnd, IDC_HEAPSIZE_EDIT), way.vk); // the edit control has the focus
        else
            Click(hwnd, IDCANCEL);
        EXPECT_EQ(0u, Finish(&run));
        ExpectUntouched();
    }
}

// Starts a run that is expected to refuse with one box and exit code 1,
// without ever showing the dialog.
void ExpectRefusal(ProgramRun &run, const wchar_t *pszText)
{
    ASSERT_TRUE(Start(&run));
    bool dialogSeen = false;
    HWND hwndBox = WaitFor(run, false, &dialogSeen);
    EXPECT_TRUE(hwndBox != NULL);
    if (hwndBox != NULL) {
        EXPECT_EQ(std::wstring(pszText), TextOf(GetDlgItem(hwndBox, 0xFFFF)));
        EXPECT_TRUE(GetWindow(hwndBox, GW_OWNER) == NULL);
        Click(hwndBox, IDOK);
    }
    EXPECT_EQ(1u, Finish(&run));
    EXPECT_FALSE(dialogSeen);
}

TEST_F(EndToEnd, MissingKeyFailsTheRead)
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKeyPath);
    ExpectRefusal(run, L"Failed to get the current size of the desktop heap.");
}

TEST_F(EndToEnd, DeniedWriteAccessRefusesAtStart)
{
    // Wine enforces a key's ACL while its server runs; the server keeps it
    // only in memory, and it is put back below.
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, READ_CONTROL | WRITE_DAC, &hKey));
    BYTE original[1024];
    DWORD cbOriginal = sizeof original;
    ASSERT_EQ(ERROR_SUCCESS, RegGetKeySecurity(hKey, DACL_SECURITY_INFORMATION, original, &cbOriginal));
    PSECURITY_DESCRIPTOR pDeny = NULL;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(D;;0x2;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1, &pDeny, NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(hKey, DACL_SECURITY_INFORMATION, pDeny));
    LocalFree(pDeny);

    ExpectRefusal(run, L"You need to be logged in as administrator in order to change the size of the desktop heap.");

    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(hKey, DACL_SECURITY_INFORMATION, original));
    RegCloseKey(hKey);
    ExpectUntouched();
}

TEST_F(EndToEnd, OlderPlatformIsRefused)
{
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, kAppDefaults, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL));
    const WCHAR szWin98[] = L"win98";
    RegSetValueExW(hKey, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE *>(szWin98), sizeof szWin98);
    RegCloseKey(hKey);

    ExpectRefusal(run, L"Changing the desktop heap size is only supported on Windows 2000/XP and later.");

    RegDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
    ExpectUntouched();
}

} // namespace
