// Start-up in-process: the access probe's decision, the handle closed before
// the dialog, and -1 when the dialog cannot be created. The platform refusal
// is covered end to end, where Wine can report another platform.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog_user.h"
#include "fake_system.h"
#include "heap_size_dialog.h"
#include "message_texts.h"
#include "program.h"

namespace {

typedef std::vector<std::string> Log;

const wchar_t kValue[] = L"%SystemRoot%\\system32\\csrss.exe SharedSection=1024,3072,512 Windows=On";

class Startup : public testing::Test {
  protected:
    UserRecord record;

    void SetUp() override
    {
        g_hInstance = GetModuleHandleW(NULL);
        g_currentHeapSizeKb = 0;
        InstallFakeSystem(kValue);
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

TEST_F(Startup, AccessDeniedRefusesWithoutOwner)
{
    g_fake.openStatusForWrite = ERROR_ACCESS_DENIED;
    EXPECT_EQ(1, RunProgramWithUser(AnswerOneBox, NULL, &record));
    EXPECT_EQ(std::vector<std::string>(), record.problems);
    EXPECT_TRUE(record.hwndDialog == NULL);
    ASSERT_EQ(1u, record.boxes.size());
    EXPECT_EQ(MessageTextOf(IDS_NEED_ADMIN), record.boxes[0].text);
    EXPECT_TRUE(record.boxes[0].hwndOwner == NULL);
    EXPECT_FALSE(record.boxes[0].yesNo);
    EXPECT_EQ("warning", record.boxes[0].icon);
    EXPECT_EQ(Log({"open 3"}), g_fake.log);
}

TEST_F(Startup, OtherProbeFailuresGoOnToTheDialog)
{
    g_fake.keyExists = false; // not found: the dialog start reports the failed read
    EXPECT_EQ(1, RunProgramWithUser(AnswerOneBox, NULL, &record));
    EXPECT_EQ(std::vector<std::string>(), record.problems);
    ASSERT_EQ(1u, record.boxes.size());
    EXPECT_EQ(MessageTextOf(IDS_READ_FAILED), record.boxes[0].text);
    EXPECT_EQ(Log({"open 3", "open 1"}), g_fake.log);
}

TEST_F(Startup, ProbeHandleIsClosedBeforeTheDialog)
{
    EXPECT_EQ(0, RunProgramWithUser(CancelTheDialog, NULL, &record));
    EXPECT_EQ(std::vector<std::string>(), record.problems);
    EXPECT_TRUE(record.hwndDialog != NULL);
    EXPECT_EQ(Log({"open 3", "close", "open 1", "probe", "alloc 1", "query", "free 1", "close"}), g_fake.log);
    EXPECT_EQ(0, g_fake.openKeys);
}

TEST_F(Startup, DialogThatCannotBeCreatedGivesMinusOne)
{
    g_hInstance = GetModuleHandleW(L"ntdll.dll"); // holds no dialog template
    EXPECT_EQ(-1, RunProgramWithUser(DoNothing, NULL, &record));
    EXPECT_EQ(std::vector<std::string>(), record.problems);
    EXPECT_TRUE(record.boxes.empty());
}

} // namespace
