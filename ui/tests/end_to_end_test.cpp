// The real Morvanta.exe driven from this process, as an administrator would
// use it: exit codes through GetExitCodeProcess, the value's bytes and type
// afterwards. These tests write the real SubSystems key, set its DACL and
// Wine's AppDefaults, so they run only under Wine, and put everything back.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "machine_state.h"
#include "message_texts.h"
#include "morvanta_windows.h"
#include "resource.h"

namespace {

class EndToEnd : public testing::Test {
  protected:
    std::unique_ptr<MachineStateGuard> machine;
    PROCESS_INFORMATION process = {};

    void SetUp() override
    {
        SKIP_UNLESS_WINE();
        machine.reset(new MachineStateGuard);
        // A known start whatever an earlier, interrupted run left behind.
        ASSERT_TRUE(SetAppDefaultsVersion(L"Morvanta.exe", NULL));
        ASSERT_TRUE(PutSubsystemsValue(TypicalValue()));
    }
    void TearDown() override
    {
        // A failed check must not leave the program running with its windows.
        if (process.hProcess != NULL)
            Finish();
        machine.reset();
    }

    bool Start()
    {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        DWORD dwError = 0;
        if (!StartTestProcess(
                L"\"" + PathBesideThisProgram(L"Morvanta.exe") + L"\"", NULL, FALSE, 0, &startup, &process, &dwError))
            return false;
        WaitForInputIdle(process.hProcess, kWaitMs);
        return true;
    }

    // Waits for the program to end, ending it when a failed check left it
    // open, and returns its exit code.
    DWORD Finish()
    {
        DWORD exitCode = 0xDEADBEEF;
        if (WaitForSingleObject(process.hProcess, kWaitMs) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "Morvanta.exe did not end by itself";
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, kWaitMs);
        }
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        process = PROCESS_INFORMATION();
        return exitCode;
    }

    // The dialog or a message box; *pDialogSeen tells whether the dialog
    // was ever visible meanwhile. NULL when the program ended first.
    HWND WaitFor(bool wantDialog, bool *pDialogSeen = NULL)
    {
        HWND hwnd = NULL;
        PollUntil(
            [&] {
                HWND hwndDialog = FindMorvantaWindow(process.dwProcessId, true);
                if (hwndDialog != NULL && pDialogSeen != NULL)
                    *pDialogSeen = true;
                hwnd = wantDialog ? (hwndDialog != NULL && IsWindowEnabled(hwndDialog) ? hwndDialog : NULL)
                                  : FindMorvantaWindow(process.dwProcessId, false);
                return hwnd != NULL;
            },
            kWaitMs,
            process.hProcess);
        return hwnd;
    }

    // A run expected to refuse with one box and exit code 1, without ever
    // showing the dialog, leaving the value as it was (or absent).
    void ExpectRefusal(UINT idText)
    {
        DWORD typeBefore = 0, typeAfter = 0;
        Bytes before, after;
        bool presentBefore = ReadSubsystemsValue(&typeBefore, &before);
        if (!Start()) {
            ADD_FAILURE() << "Morvanta.exe did not start";
            return;
        }
        bool dialogSeen = false;
        HWND hwndBox = WaitFor(false, &dialogSeen);
        EXPECT_TRUE(hwndBox != NULL);
        if (hwndBox != NULL) {
            BoxSeen box = ReadBox(hwndBox);
            EXPECT_EQ(MessageTextOf(idText), box.text);
            EXPECT_TRUE(box.hwndOwner == NULL);
            EXPECT_FALSE(box.yesNo);
            EXPECT_FALSE(box.topmost);
            PostClick(hwndBox, IDOK);
        }
        EXPECT_EQ(1u, Finish());
        EXPECT_FALSE(dialogSeen);
        EXPECT_EQ(presentBefore, ReadSubsystemsValue(&typeAfter, &after));
        EXPECT_EQ(typeBefore, typeAfter);
        EXPECT_EQ(before, after);
    }

    void ExpectStored(const std::wstring &text)
    {
        DWORD dwType = 0;
        Bytes bytes;
        ASSERT_TRUE(ReadSubsystemsValue(&dwType, &bytes));
        EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), dwType);
        EXPECT_EQ(BytesOf(text), bytes);
    }
};

TEST_F(EndToEnd, TypicalRunStoresOnlyTheNewSize)
{
    ASSERT_TRUE(Start());
    HWND hwnd = WaitFor(true);
    ASSERT_TRUE(hwnd != NULL);
    EXPECT_EQ(L"3,072", WindowText(GetDlgItem(hwnd, IDC_HEAPSIZE_EDIT)));
    EXPECT_TRUE(StepSpinner(hwnd, +1) && StepSpinner(hwnd, +1) && StepSpinner(hwnd, +1));
    EXPECT_EQ(L"3,075", WindowText(GetDlgItem(hwnd, IDC_HEAPSIZE_EDIT)));
    PostClick(hwnd, IDOK);

    HWND hwndBox = WaitFor(false);
    ASSERT_TRUE(hwndBox != NULL);
    BoxSeen box = ReadBox(hwndBox);
    EXPECT_EQ(MessageTextOf(IDS_RESTART_PROMPT), box.text);
    EXPECT_EQ(hwnd, box.hwndOwner);
    EXPECT_TRUE(box.yesNo);
    EXPECT_EQ(IDYES, box.defaultButton);
    // No: a run of the real program is outside every in-process guard, and
    // no test reaches a real shutdown request, not even Wine's stub.
    PostClick(hwndBox, IDNO);
    EXPECT_EQ(0u, Finish());
    ExpectStored(TypicalValue(L"1024,3075,512"));
}

TEST_F(EndToEnd, CancelEscAndEnterWriteNothing)
{
    const struct {
        const char *name;
        WPARAM vk; // 0: the Cancel button
    } ways[] = {{"Cancel button", 0}, {"Esc", VK_ESCAPE}, {"Enter in the edit control", VK_RETURN}};
    for (const auto &way : ways) {
        SCOPED_TRACE(way.name);
        ASSERT_TRUE(Start());
        HWND hwnd = WaitFor(true);
        ASSERT_TRUE(hwnd != NULL);
        EXPECT_TRUE(StepSpinner(hwnd, +1));
        if (way.vk != 0)
            PostKey(GetDlgItem(hwnd, IDC_HEAPSIZE_EDIT), way.vk); // the edit control has the focus
        else
            PostClick(hwnd, IDCANCEL);
        EXPECT_EQ(0u, Finish());
        ExpectStored(TypicalValue());
    }
}

TEST_F(EndToEnd, MissingKeyFailsTheRead)
{
    ASSERT_TRUE(DeleteSubsystemsKey());
    ExpectRefusal(IDS_READ_FAILED);
}

TEST_F(EndToEnd, DeniedWriteAccessRefusesAtStart)
{
    // Wine enforces a key's DACL while its server runs; the guard puts the old one back.
    ASSERT_TRUE(SetSubsystemsKeyDacl(L"D:(D;;0x2;;;WD)(A;;KA;;;WD)"));
    ExpectRefusal(IDS_NEED_ADMIN);
}

TEST_F(EndToEnd, OlderPlatformIsRefused)
{
    ASSERT_TRUE(SetAppDefaultsVersion(L"Morvanta.exe", L"win98"));
    ExpectRefusal(IDS_NOT_SUPPORTED);
}

} // namespace
