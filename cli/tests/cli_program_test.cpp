// The console companion in-process, for what cannot be caused from outside:
// a store the platform refuses and a key that goes between the read and the
// write. The registry is the in-memory fake.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_program.h"
#include "fake_system.h"
#include "machine_state.h"

namespace {

typedef std::vector<std::string> Log;

class CliProgram : public testing::Test {
  protected:
    HANDLE hNul = INVALID_HANDLE_VALUE;
    HANDLE hOut = NULL, hErr = NULL;

    void SetUp() override
    {
        InstallFakeSystem(TypicalValue());
        // The program's lines go nowhere: only its exit code and effects count here.
        hOut = GetStdHandle(STD_OUTPUT_HANDLE);
        hErr = GetStdHandle(STD_ERROR_HANDLE);
        hNul = CreateFileW(L"NUL", GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        SetStdHandle(STD_OUTPUT_HANDLE, hNul);
        SetStdHandle(STD_ERROR_HANDLE, hNul);
    }
    void TearDown() override
    {
        SetStdHandle(STD_OUTPUT_HANDLE, hOut);
        SetStdHandle(STD_ERROR_HANDLE, hErr);
        if (hNul != INVALID_HANDLE_VALUE)
            CloseHandle(hNul);
        RemoveFakeSystem();
    }

    static int Set(const wchar_t *pszSize)
    {
        const wchar_t *argv[] = {L"MorvantaCli.exe", L"set", pszSize};
        return RunHeapSizeCommand(3, argv);
    }
};

TEST_F(CliProgram, StoresInTheOrderOfTheDialogsApply)
{
    EXPECT_EQ(ERROR_SUCCESS_REBOOT_REQUIRED, Set(L"4096"));
    EXPECT_EQ(BytesOf(TypicalValue(L"1024,4096,512")), g_fake.data);
    EXPECT_EQ(Log({"open 1",
                   "probe",
                   "alloc 1",
                   "query",
                   "close",
                   "open 3",
                   "probe",
                   "alloc 2",
                   "query",
                   "alloc 3",
                   "set",
                   "free 3",
                   "free 2",
                   "close",
                   "free 1"}),
              g_fake.log);
    EXPECT_EQ(0, g_fake.openKeys);
}

TEST_F(CliProgram, WriteFailuresThatCannotBeCausedFromOutside)
{
    const struct {
        const char *name;
        LONG openStatusForWrite, setStatus;
        int exitCode;
    } cases[] = {
        {"the key is gone before the write", ERROR_FILE_NOT_FOUND, ERROR_SUCCESS, ERROR_INVALID_DATA},
        {"the store is refused", ERROR_SUCCESS, ERROR_WRITE_PROTECT, ERROR_WRITE_PROTECT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        InstallFakeSystem(TypicalValue());
        g_fake.openStatusForWrite = c.openStatusForWrite;
        g_fake.setStatus = c.setStatus;
        EXPECT_EQ(c.exitCode, Set(L"4096"));
        EXPECT_EQ(BytesOf(TypicalValue()), g_fake.data);
        EXPECT_EQ(0, g_fake.openKeys);
    }
}

} // namespace
