// The heap size dialog in-process: the real template and dialog procedure,
// an in-memory registry and a restart recorder, a second thread as the user.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog_user.h"
#include "fake_system.h"
#include "heap_size_dialog.h"
#include "machine_state.h"
#include "message_texts.h"
#include "program.h"
#include "resource.h"
#include "token_fakes.h"

namespace {

std::wstring Value(const std::wstring &sharedSection)
{
    return TypicalValue(sharedSection);
}

const wchar_t *const kReadFailed = MessageTextOf(IDS_READ_FAILED);
const wchar_t *const kWriteFailed = MessageTextOf(IDS_WRITE_FAILED);
const wchar_t *const kRestartFailed = MessageTextOf(IDS_RESTART_FAILED);
const wchar_t *const kRestartPrompt = MessageTextOf(IDS_RESTART_PROMPT);

typedef std::vector<std::string> Log;

class HeapSizeDialog : public testing::Test {
  protected:
    UserRecord record;

    void SetUp() override
    {
        g_hInstance = GetModuleHandleW(NULL); // this test program carries the resources
        g_currentHeapSizeKb = 0;
        InstallFakeSystem(Value(L"1024,3072,512"));
    }
    void TearDown() override
    {
        RemoveFakeSystem();
    }

    INT_PTR Run(UserScript pfnScript, void *pContext = NULL)
    {
        INT_PTR result = RunDialogWithUser(pfnScript, pContext, &record);
        EXPECT_EQ(std::vector<std::string>(), record.problems);
        EXPECT_EQ(0, g_fake.openKeys) << "a key handle outlived its handler";
        return result;
    }

    void ExpectBox(size_t index, const wchar_t *pszText, bool ownedByDialog, bool yesNo, const char *icon)
    {
        ASSERT_LT(index, record.boxes.size());
        const BoxSeen &box = record.boxes[index];
        EXPECT_EQ(std::wstring(pszText), box.text);
        EXPECT_EQ(ownedByDialog ? record.hwndDialog : NULL, box.hwndOwner);
        EXPECT_EQ(yesNo, box.yesNo);
        EXPECT_EQ(icon, box.icon);
    }
};

// --- Scripts -------------------------------------------------------------

void ReadAndCancel(UserRecord *pRecord, void *)
{
    HWND hwnd = WaitForDialog(pRecord);
    if (hwnd == NULL)
        return;
    ReadSpinner(pRecord, hwnd);
    PostClick(hwnd, IDCANCEL);
}

// Steps as the context says (+1 up, -1 down), presses OK, then answers each
// box with the answers given, in order.
struct OkScript {
    std::vector<int> steps;
    std::vector<int> answers;
    void (*pfnBeforeOk)(); // another writer, between the dialog start and OK
    bool cancelAfter;      // the dialog stays open: cancel it when the boxes are done
};

void StepAndOk(UserRecord *pRecord, void *pContext)
{
    OkScript *pScript = static_cast<OkScript *>(pContext);
    HWND hwnd = WaitForDialog(pRecord);
    if (hwnd == NULL)
        return;
    for (int step : pScript->steps) {
        if (!StepSpinner(hwnd, step)) {
            pRecord->problems.push_back("the spinner did not move");
            return;
        }
    }
    if (pScript->pfnBeforeOk != NULL)
        pScript->pfnBeforeOk();
    PostClick(hwnd, IDOK);
    for (int answer : pScript->answers) {
        if (!ReadAndAnswerBox(pRecord, answer))
            return;
    }
    if (pScript->cancelAfter) {
        pRecord->position = SpinnerPosition(hwnd);
        PostClick(hwnd, IDCANCEL);
    } else {
        WaitUntilGone(pRecord, hwnd);
    }
}

// --- The dialog start ------------------------------------------------------

TEST_F(HeapSizeDialog, StartShowsTheSizeWithRangeAndAcceleration)
{
    EXPECT_EQ(0, Run(ReadAndCancel));
    EXPECT_EQ(3072u, g_currentHeapSizeKb);
    EXPECT_EQ(L"3,072", record.editText);
    EXPECT_EQ(1536, record.rangeMin);
    EXPECT_EQ(6144, record.rangeMax);
    EXPECT_EQ(3072, record.position);
    ASSERT_EQ(5, record.accelCount);
    const UDACCEL expected[] = {{0, 1}, {2, 8}, {4, 16}, {6, 64}, {8, 256}};
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(expected[i].nSec, record.accel[i].nSec) << i;
        EXPECT_EQ(expected[i].nInc, record.accel[i].nInc) << i;
    }
    EXPECT_TRUE(record.boxes.empty());
    EXPECT_EQ(Log({"open 1", "probe", "alloc 1", "query", "free 1", "close"}), g_fake.log);
}

TEST_F(HeapSizeDialog, RangeIsHalfToDoubleRoundedDown)
{
    const struct {
        const wchar_t *field;
        int min, max;
    } cases[] = {{L"1024,1,512", 0, 2}, {L"1024,3073,512", 1536, 6146}, {L"1024,0003072K", 1536, 6144}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.min << ".." << c.max);
        g_currentHeapSizeKb = 0;
        SetFakeValue(Value(c.field));
        EXPECT_EQ(0, Run(ReadAndCancel));
        EXPECT_EQ(c.min, record.rangeMin);
        EXPECT_EQ(c.max, record.rangeMax);
    }
}

TEST_F(HeapSizeDialog, NoSizeAtStartEndsWithOneAndNeverShows)
{
    const struct {
        const char *name;
        bool keyExists, valueExists;
        DWORD type;
        const wchar_t *field;
    } cases[] = {
        {"key missing", false, false, REG_EXPAND_SZ, L"1024,3072,512"},
        {"value missing", true, false, REG_EXPAND_SZ, L"1024,3072,512"},
        {"value of type REG_SZ", true, true, REG_SZ, L"1024,3072,512"},
        {"no heap field", true, true, REG_EXPAND_SZ, L"1024"},
        {"field of 0", true, true, REG_EXPAND_SZ, L"1024,000,512"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        g_currentHeapSizeKb = 0;
        SetFakeValue(Value(c.field));
        g_fake.keyExists = c.keyExists;
        g_fake.valueExists = c.valueExists;
        g_fake.type = c.type;
        EXPECT_EQ(1, Run(AnswerOneBox));
        EXPECT_TRUE(record.hwndDialog == NULL) << "the dialog was shown";
        ASSERT_EQ(1u, record.boxes.size());
        ExpectBox(0, kReadFailed, false, false, "warning");
        EXPECT_EQ(0u, g_currentHeapSizeKb);
    }
}

// --- OK ----------------------------------------------------------------------

TEST_F(HeapSizeDialog, OkWithTheSizeUnchangedTouchesNothing)
{
    const std::vector<int> moves[] = {{}, {+1, -1}, {-1, +1}};
    for (const auto &steps : moves) {
        g_currentHeapSizeKb = 0;
        InstallFakeSystem(Value(L"1024,3072,512"));
        OkScript script = {steps, {}, NULL, false};
        EXPECT_EQ(0, Run(StepAndOk, &script));
        EXPECT_TRUE(record.boxes.empty());
        EXPECT_EQ(Log({"open 1", "probe", "alloc 1", "query", "free 1", "close"}), g_fake.log);
    }
}

TEST_F(HeapSizeDialog, StoredAnswerNoKeepsEverythingElse)
{
    OkScript script = {{+1, +1}, {IDNO}, NULL, false};
    EXPECT_EQ(0, Run(StepAndOk, &script));
    ASSERT_EQ(1u, record.boxes.size());
    ExpectBox(0, kRestartPrompt, true, true, "question");
    EXPECT_EQ(Value(L"1024,3074,512"), FakeValueText());
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), g_fake.type);
    EXPECT_EQ((Value(L"1024,3074,512").size() + 1) * 2, g_fake.data.size());
    EXPECT_EQ(0, g_tokenSeen.requests);
    // One key for read and write; the rewritten text goes first, then the read one, then the key.
    EXPECT_EQ(Log({"open 1",
                   "probe",
                   "alloc 1",
                   "query",
                   "free 1",
                   "close",
                   "open 3",
                   "probe",
                   "alloc 2",
                   "query",
                   "alloc 3",
                   "set",
                   "free 3",
                   "free 2",
                   "close"}),
              g_fake.log);
}

TEST_F(HeapSizeDialog, StoredAnswerYesRequestsTheRestart)
{
    OkScript script = {{-1}, {IDYES}, NULL, false};
    EXPECT_EQ(0, Run(StepAndOk, &script));
    ASSERT_EQ(1u, record.boxes.size());
    ExpectBox(0, kRestartPrompt, true, true, "question");
    EXPECT_EQ(Value(L"1024,3071,512"), FakeValueText());
    EXPECT_EQ(1, g_tokenSeen.requests);
    // The key stays open until after the restart request.
    EXPECT_EQ(Log({"set", "restart", "free 3", "free 2", "close"}), Log(g_fake.log.end() - 5, g_fake.log.end()));
}

TEST_F(HeapSizeDialog, RestartRefusedShowsItsFailureAndCloses)
{
    SetRestartAccepted(false);
    OkScript script = {{+1}, {IDYES, IDOK}, NULL, false};
    EXPECT_EQ(0, Run(StepAndOk, &script));
    ASSERT_EQ(2u, record.boxes.size());
    ExpectBox(0, kRestartPrompt, true, true, "question");
    ExpectBox(1, kRestartFailed, true, false, "warning");
    EXPECT_EQ(Value(L"1024,3073,512"), FakeValueText()); // the new size stays stored
}

void RefuseWrites()
{
    g_fake.openStatusForWrite = ERROR_ACCESS_DENIED;
}
void RemoveTheValue()
{
    g_fake.valueExists = false;
}
void SpoilTheField()
{
    SetFakeValue(Value(L"1024,x3072,512"));
}
void RefuseTheStore()
{
    g_fake.setStatus = ERROR_ACCESS_DENIED;
}

TEST_F(HeapSizeDialog, FailedWriteShowsItsMessageAndStaysOpen)
{
    const struct {
        const char *name;
        void (*pfnBeforeOk)();
    } cases[] = {
        {"key does not open", RefuseWrites},
        {"value cannot be read", RemoveTheValue},
        {"field no longer starts with a digit", SpoilTheField},
        {"store refused", RefuseTheStore},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        g_currentHeapSizeKb = 0;
        InstallFakeSystem(Value(L"1024,3072,512"));
        OkScript script = {{+1}, {IDOK}, c.pfnBeforeOk, true};
        EXPECT_EQ(0, Run(StepAndOk, &script));
        ASSERT_EQ(1u, record.boxes.size());
        ExpectBox(0, kWriteFailed, true, false, "warning");
        EXPECT_EQ(3073, record.position) << "the chosen value stays for another try";
        EXPECT_EQ(0, g_tokenSeen.requests);
        if (c.pfnBeforeOk == RefuseWrites || c.pfnBeforeOk == RefuseTheStore) {
            EXPECT_EQ(Value(L"1024,3072,512"), FakeValueText());
        }
        if (c.pfnBeforeOk == SpoilTheField) {
            EXPECT_EQ(Value(L"1024,x3072,512"), FakeValueText());
        }
        // Every buffer taken was given back.
        int allocs = 0, frees = 0;
        for (const std::string &event : g_fake.log) {
            allocs += event.compare(0, 6, "alloc ") == 0;
            frees += event.compare(0, 5, "free ") == 0;
        }
        EXPECT_EQ(allocs, frees);
    }
}

void StoreRefusedThenAllowed(UserRecord *pRecord, void *)
{
    HWND hwnd = WaitForDialog(pRecord);
    if (hwnd == NULL || !StepSpinner(hwnd, +1))
        return;
    g_fake.setStatus = ERROR_ACCESS_DENIED;
    PostClick(hwnd, IDOK);
    if (!ReadAndAnswerBox(pRecord, IDOK))
        return;
    g_fake.setStatus = ERROR_SUCCESS;
    PostClick(hwnd, IDOK);
    ReadAndAnswerBox(pRecord, IDNO);
}

TEST_F(HeapSizeDialog, SecondOkAfterARefusedStoreSucceeds)
{
    EXPECT_EQ(0, Run(StoreRefusedThenAllowed));
    ASSERT_EQ(2u, record.boxes.size());
    ExpectBox(0, kWriteFailed, true, false, "warning");
    ExpectBox(1, kRestartPrompt, true, true, "question");
    EXPECT_EQ(Value(L"1024,3073,512"), FakeValueText());
}

void AnotherWriterChangesTheRest()
{
    SetFakeValue(L"%SystemRoot%\\system32\\csrss.exe SharedSection=2048,3072,1024 Windows=Off");
}

TEST_F(HeapSizeDialog, ApplyRewritesTheFreshText)
{
    OkScript script = {{+1}, {IDNO}, AnotherWriterChangesTheRest, false};
    EXPECT_EQ(0, Run(StepAndOk, &script));
    EXPECT_EQ(L"%SystemRoot%\\system32\\csrss.exe SharedSection=2048,3073,1024 Windows=Off", FakeValueText());
}

TEST_F(HeapSizeDialog, SizeZeroIsRefused)
{
    SetFakeValue(Value(L"1024,1,512"));
    OkScript script = {{-1}, {IDOK}, NULL, true};
    EXPECT_EQ(0, Run(StepAndOk, &script));
    EXPECT_EQ(0, record.position);
    ASSERT_EQ(1u, record.boxes.size());
    ExpectBox(0, kWriteFailed, true, false, "warning");
    EXPECT_EQ(Value(L"1024,1,512"), FakeValueText());
    EXPECT_EQ(Log({"open 1", "probe", "alloc 1", "query", "free 1", "close"}), g_fake.log);
}

void UnreadablePosition(UserRecord *pRecord, void *)
{
    HWND hwnd = WaitForDialog(pRecord);
    if (hwnd == NULL || !StepSpinner(hwnd, +1))
        return;
    // Text the up-down control cannot parse: the position query reports an error.
    SetDlgItemTextW(hwnd, IDC_HEAPSIZE_EDIT, L"abc");
    PostClick(hwnd, IDOK);
    if (ReadAndAnswerBox(pRecord, IDOK))
        PostClick(hwnd, IDCANCEL);
}

TEST_F(HeapSizeDialog, PositionErrorIsRefused)
{
    EXPECT_EQ(0, Run(UnreadablePosition));
    ASSERT_EQ(1u, record.boxes.size());
    ExpectBox(0, kWriteFailed, true, false, "warning");
    EXPECT_EQ(Value(L"1024,3072,512"), FakeValueText());
    EXPECT_EQ(Log({"open 1", "probe", "alloc 1", "query", "free 1", "close"}), g_fake.log);
}

TEST_F(HeapSizeDialog, OnlyTheCommandIdCounts)
{
    // The notification code in the high word is never looked at.
    HWND hwnd = CreateDialogParamW(g_hInstance, MAKEINTRESOURCEW(IDD_HEAPSIZE), NULL, HeapSizeDlgProc, 0);
    ASSERT_TRUE(hwnd != NULL);
    EXPECT_EQ(FALSE, HeapSizeDlgProc(hwnd, WM_COMMAND, MAKEWPARAM(IDC_HEAPSIZE_EDIT, EN_CHANGE), 0));
    EXPECT_EQ(FALSE, HeapSizeDlgProc(hwnd, WM_TIMER, 0, 0));
    EXPECT_EQ(TRUE, HeapSizeDlgProc(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, 0x1234), 0)); // unchanged: EndDialog
    DestroyWindow(hwnd);
}

} // namespace
