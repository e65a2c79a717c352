// Start-up in-process: the platform test and the access probe decide, the
// probe's handle is closed before the dialog, the up-down class is asked
// for, and -1 comes back when the dialog cannot be created. The platform's
// own calls are replaced in this program's import table.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog_user.h"
#include "fake_system.h"
#include "heap_size_dialog.h"
#include "import_patch.h"
#include "machine_state.h"
#include "message_texts.h"
#include "program.h"

namespace {

typedef std::vector<std::string> Log;

DWORD s_versionInfoSize;
DWORD s_platformId;
INITCOMMONCONTROLSEX s_controlsAsked;

BOOL WINAPI FakeGetVersionExA(LPOSVERSIONINFOA pInfo)
{
    s_versionInfoSize = pInfo->dwOSVersionInfoSize;
    pInfo->dwPlatformId = s_platformId;
    return TRUE;
}

BOOL WINAPI RecordingInitCommonControlsEx(const INITCOMMONCONTROLSEX *pInit)
{
    s_controlsAsked = *pInit;
    return TRUE; // the up-down class is already there: this program registered it below
}

class Startup : public testing::Test {
  protected:
    UserRecord record;
    ImportPatch version{"kernel32.dll", "GetVersionExA", AsVoidFunction(FakeGetVersionExA)};
    ImportPatch controls{"comctl32.dll", "InitCommonControlsEx", AsVoidFunction(RecordingInitCommonControlsEx)};

    void SetUp() override
    {
        ASSERT_TRUE(version.IsInPlace() && controls.IsInPlace());
        INITCOMMONCONTROLSEX init = {sizeof init, ICC_UPDOWN_CLASS};
        ASSERT_TRUE(controls.Original<BOOL(WINAPI *)(const INITCOMMONCONTROLSEX *)>()(&init));
        s_versionInfoSize = 0;
        s_platformId = VER_PLATFORM_WIN32_NT;
        s_controlsAsked = INITCOMMONCONTROLSEX();
        g_hInstance = GetModuleHandleW(NULL);
        g_currentHeapSizeKb = 0;
        InstallFakeSystem(TypicalValue());
    }
    void TearDown() override
    {
        RemoveFakeSystem();
    }
};

void CancelTheDialog(UserRecord *pRecord, void *)
{
    HWND hwnd = WaitForDialog(pRecord);
    if (hwnd != NULL)
        PostClick(hwnd, IDCANCEL);
}

void DoNothing(UserRecord *, void *) {}

TEST_F(Startup, RefusalsComeBeforeTheDialogWithoutOwner)
{
    const struct {
        const char *name;
        DWORD platformId;
        LONG openStatusForWrite;
        bool keyExists;
        UINT idText;
        const char *icon;
        Log log;
    } cases[] = {
        {"Windows 98", VER_PLATFORM_WIN32_WINDOWS, ERROR_SUCCESS, true, IDS_NOT_SUPPORTED, "information", {}},
        {"Win32s", VER_PLATFORM_WIN32s, ERROR_SUCCESS, true, IDS_NOT_SUPPORTED, "information", {}},
        {"access denied", VER_PLATFORM_WIN32_NT, ERROR_ACCESS_DENIED, true, IDS_NEED_ADMIN, "warning", {"open 3"}},
        // Any other probe failure goes on: the dialog start reports the failed read.
        {"key missing", VER_PLATFORM_WIN32_NT, ERROR_SUCCESS, false, IDS_READ_FAILED, "warning", {"open 3", "open 1"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        InstallFakeSystem(TypicalValue());
        s_platformId = c.platformId;
        g_fake.openStatusForWrite = c.openStatusForWrite;
        g_fake.keyExists = c.keyExists;
        EXPECT_EQ(1, RunProgramWithUser(AnswerOneBox, NULL, &record));
        EXPECT_EQ(std::vector<std::string>(), record.problems);
        EXPECT_TRUE(record.hwndDialog == NULL);
        ASSERT_EQ(1u, record.boxes.size());
        EXPECT_EQ(MessageTextOf(c.idText), record.boxes[0].text);
        EXPECT_TRUE(record.boxes[0].hwndOwner == NULL);
        EXPECT_FALSE(record.boxes[0].yesNo);
        EXPECT_EQ(IDOK, record.boxes[0].defaultButton);
        EXPECT_FALSE(record.boxes[0].topmost);
        EXPECT_EQ(c.icon, record.boxes[0].icon);
        EXPECT_EQ(c.log, g_fake.log) << "no registry call before the platform test";
        EXPECT_EQ(sizeof(OSVERSIONINFOA), s_versionInfoSize);
    }
}

TEST_F(Startup, ProbeHandleIsClosedBeforeTheDialog)
{
    EXPECT_EQ(0, RunProgramWithUser(CancelTheDialog, NULL, &record));
    EXPECT_EQ(std::vector<std::string>(), record.problems);
    EXPECT_TRUE(record.hwndDialog != NULL);
    EXPECT_TRUE(GetWindow(record.hwndDialog, GW_OWNER) == NULL);
    EXPECT_EQ(Log({"open 3", "close", "open 1", "probe", "alloc 1", "query", "free 1", "close"}), g_fake.log);
    EXPECT_EQ(0, g_fake.openKeys);
    EXPECT_EQ(sizeof(INITCOMMONCONTROLSEX), s_controlsAsked.dwSize);
    EXPECT_EQ(static_cast<DWORD>(ICC_UPDOWN_CLASS), s_controlsAsked.dwICC);
}

TEST_F(Startup, DialogThatCannotBeCreatedGivesMinusOne)
{
    g_hInstance = GetModuleHandleW(L"ntdll.dll"); // holds no dialog template
    EXPECT_EQ(-1, RunProgramWithUser(DoNothing, NULL, &record));
    EXPECT_EQ(std::vector<std::string>(), record.problems);
    EXPECT_TRUE(record.boxes.empty());
}

} // namespace
