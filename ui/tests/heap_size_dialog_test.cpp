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

const wchar_t *const kReadFailed = MessageTextOf(IDS_READ_FAILED);
const wchar_t *const kWriteFailed = MessageTextOf(IDS_WRITE_FAILED);
const wchar_t *const kRestartFailed = MessageTextOf(IDS_RESTART_FAILED);
const wchar_t *const kRestartPrompt = MessageTextOf(IDS_RESTART_PROMPT);

typedef std::vector<std::string> Log;

const Log kStartOnly = {"open 1", "probe", "alloc 1", "query", "free 1", "close"};

class HeapSizeDialog : public testing::Test {
  protected:
    UserRecord record;

    void SetUp() override
    {
        g_hInstance = GetModuleHandleW(NULL); // this test program carries the resources
        g_currentHeapSizeKb = 0;
        InstallFakeSystem(TypicalValue(L"1024,3072,512"));
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
        EXPECT_EQ(yesNo ? IDYES : IDOK, box.defaultButton);
        EXPECT_FALSE(box.topmost);
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
    void (*pfnBeforeOk)(HWND); // another writer or the user, between the dialog start and OK
    bool cancelAfter;          // the dialog stays open: cancel it when the boxes are done
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
        pScript->pfnBeforeOk(hwnd);
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
    const struct {
        const wchar_t *field;
        const wchar_t *shown;
        int size, min, max;
    } cases[] = {{L"1024,3072,512", L"3,072", 3072, 1536, 6144},
                 {L"1024,1,512", L"1", 1, 0, 2},
                 {L"1024,3073,512", L"3,073", 3073, 1536, 6146}};
    const UDACCEL accel[] = {{0, 1}, {2, 8}, {4, 16}, {6, 64}, {8, 256}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shown);
        g_currentHeapSizeKb = 0;
        InstallFakeSystem(TypicalValue(c.field));
        EXPECT_EQ(0, Run(ReadAndCancel));
        EXPECT_EQ(c.shown, record.editText);
        EXPECT_EQ(c.min, record.rangeMin);
        EXPECT_EQ(c.max, record.rangeMax);
        EXPECT_EQ(static_cast<HeapSizeKb>(c.size), g_currentHeapSizeKb);
        EXPECT_EQ(c.size, record.position);
        ASSERT_EQ(5, record.accelCount);
        for (int i = 0; i < 5; i++) {
            EXPECT_EQ(accel[i].nSec, record.accel[i].nSec) << i;
            EXPECT_EQ(accel[i].nInc, record.accel[i].nInc) << i;
        }
        EXPECT_TRUE(record.boxes.empty());
        EXPECT_EQ(kStartOnly, g_fake.log);
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
        {"field of 0", true, true, REG_EXPAND_SZ, L"1024,000,512"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        g_currentHeapSizeKb = 0;
        SetFakeValue(TypicalValue(c.field));
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
        InstallFakeSystem(TypicalValue(L"1024,3072,512"));
        OkScript script = {steps, {}, NULL, false};
        EXPECT_EQ(0, Run(StepAndOk, &script));
        EXPECT_TRUE(record.boxes.empty());
        EXPECT_EQ(kStartOnly, g_fake.log);
    }
}

TEST_F(HeapSizeDialog, StoredSizeThenTheRestartQuestion)
{
    const struct {
        const char *name;
        std::vector<int> steps, answers;
        bool restartAccepted;
        const wchar_t *stored;
    } cases[] = {
        {"No", {+1, +1}, {IDNO}, true, L"1024,3074,512"},
        {"Yes", {-1}, {IDYES}, true, L"1024,3071,512"},
        {"Yes, and the restart is refused", {+1}, {IDYES, IDOK}, false, L"1024,3073,512"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        g_currentHeapSizeKb = 0;
        InstallFakeSystem(TypicalValue(L"1024,3072,512"));
        SetRestartAccepted(c.restartAccepted);
        OkScript script = {c.steps, c.answers, NULL, false};
        EXPECT_EQ(0, Run(StepAndOk, &script));
        ASSERT_EQ(c.answers.size(), record.boxes.size());
        ExpectBox(0, kRestartPrompt, true, true, "question");
        if (!c.restartAccepted) {
            ExpectBox(1, kRestartFailed, true, false, "warning");
        }
        EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), g_fake.type);
        EXPECT_EQ(BytesOf(TypicalValue(c.stored)), g_fake.data);
        // One key for read and write, open until after any restart request;
        // the rewritten text goes first, then the read one, then the key.
        Log expected = kStartOnly;
        for (const char *event : {"open 3", "probe", "alloc 2", "query", "alloc 3", "set"})
            expected.push_back(event);
        if (c.answers[0] == IDYES)
            expected.push_back("restart");
        for (const char *event : {"free 3", "free 2", "close"})
            expected.push_back(event);
        EXPECT_EQ(expected, g_fake.log);
    }
}

void RefuseWrites(HWND)
{
    g_fake.openStatusForWrite = ERROR_ACCESS_DENIED;
}
void RemoveTheValue(HWND)
{
    g_fake.valueExists = false;
}
void SpoilTheField(HWND)
{
    SetFakeValue(TypicalValue(L"1024,x3072,512"));
}
void RefuseTheStore(HWND)
{
    g_fake.setStatus = ERROR_ACCESS_DENIED;
}
void UnparsableText(HWND hwnd)
{
    SetDlgItemTextW(hwnd, IDC_HEAPSIZE_EDIT, L"abc"); // the position query reports an error
}

TEST_F(HeapSizeDialog, FailedWriteShowsItsMessageAndStaysOpen)
{
    const int kAnyPosition = -1;
    const struct {
        const char *name;
        const wchar_t *field;
        int step;
        void (*pfnBeforeOk)(HWND);
        int position; // of the spinner after the box, kept for another try
        bool writeTried;
        const wchar_t *stored;
    } cases[] = {
        {"size 0", L"1024,1,512", -1, NULL, 0, false, L"1024,1,512"},
        {"position error", L"1024,3072,512", +1, UnparsableText, kAnyPosition, false, L"1024,3072,512"},
        {"key does not open", L"1024,3072,512", +1, RefuseWrites, 3073, true, L"1024,3072,512"},
        {"value cannot be read", L"1024,3072,512", +1, RemoveTheValue, 3073, true, L"1024,3072,512"},
        {"field no longer starts with a digit", L"1024,3072,512", +1, SpoilTheField, 3073, true, L"1024,x3072,512"},
        {"store refused", L"1024,3072,512", +1, RefuseTheStore, 3073, true, L"1024,3072,512"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        g_currentHeapSizeKb = 0;
        InstallFakeSystem(TypicalValue(c.field));
        OkScript script = {{c.step}, {IDOK}, c.pfnBeforeOk, true};
        EXPECT_EQ(0, Run(StepAndOk, &script));
        ASSERT_EQ(1u, record.boxes.size());
        ExpectBox(0, kWriteFailed, true, false, "warning");
        if (c.position != kAnyPosition) {
            EXPECT_EQ(c.position, record.position);
        }
        EXPECT_EQ(0, g_tokenSeen.requests);
        EXPECT_EQ(TypicalValue(c.stored), FakeValueText());
        if (!c.writeTried) {
            EXPECT_EQ(kStartOnly, g_fake.log);
        }
        int allocs = 0, frees = 0; // every buffer taken was given back
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
    EXPECT_EQ(TypicalValue(L"1024,3073,512"), FakeValueText());
}

void AnotherWriterChangesTheRest(HWND)
{
    SetFakeValue(L"%SystemRoot%\\system32\\csrss.exe SharedSection=2048,3072,1024 Windows=Off");
}

TEST_F(HeapSizeDialog, ApplyRewritesTheFreshText)
{
    OkScript script = {{+1}, {IDNO}, AnotherWriterChangesTheRest, false};
    EXPECT_EQ(0, Run(StepAndOk, &script));
    EXPECT_EQ(L"%SystemRoot%\\system32\\csrss.exe SharedSection=2048,3073,1024 Windows=Off", FakeValueText());
}

} // namespace
