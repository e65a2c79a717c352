// The subsystem value store against Wine's real registry; the key is put
// back as it was after every test.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "advapi_binding.h"
#include "counting_text_heap.h"
#include "machine_state.h"
#include "subsystem_store.h"
#include "text_buffer.h"

namespace {

class SubsystemStore : public testing::Test {
  protected:
    std::unique_ptr<MachineStateGuard> machine;

    void SetUp() override
    {
        SKIP_UNLESS_WINE();
        machine.reset(new MachineStateGuard);
        InstallCountingTextHeap(false);
    }
    void TearDown() override
    {
        RemoveCountingTextHeap();
        machine.reset();
    }
};

struct ReadCase {
    const char *name;
    DWORD dwType;
    Bytes data;
    bool succeeds;
};

TEST_F(SubsystemStore, QueryHandsOverTheDataTerminated)
{
    Bytes odd = BytesOf(L"SharedSection=1,2", false);
    odd.push_back('7');
    const ReadCase cases[] = {
        {"typical with terminator", REG_EXPAND_SZ, BytesOf(TypicalValue()), true},
        {"no terminator stored", REG_EXPAND_SZ, BytesOf(L"SharedSection=1024,3072", false), true},
        {"odd byte count", REG_EXPAND_SZ, odd, true},
        {"empty data", REG_EXPAND_SZ, Bytes(), true},
        {"REG_SZ refused", REG_SZ, BytesOf(TypicalValue()), false},
        {"REG_MULTI_SZ refused", REG_MULTI_SZ, BytesOf(TypicalValue()), false},
    };
    for (const ReadCase &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(PutSubsystemsValue(c.dwType, c.data));
        InstallCountingTextHeap(false);

        HKEY hKey = NULL;
        ASSERT_EQ(ERROR_SUCCESS, OpenSubsystemKey(KEY_QUERY_VALUE, &hKey));
        WCHAR *pszText = reinterpret_cast<WCHAR *>(1);
        DWORD cbData = 77;
        bool read = QuerySubsystemValue(hKey, &pszText, &cbData);
        CloseSubsystemKey(hKey);

        EXPECT_EQ(c.succeeds, read);
        EXPECT_EQ(1, g_textCounts.allocated);
        EXPECT_EQ((c.data.size() + 3) / 2, g_textCounts.cchLast); // data + 2 bytes, whole characters
        if (!read) {
            EXPECT_TRUE(pszText == NULL);
            EXPECT_EQ(1, g_textCounts.released); // nothing left allocated
            continue;
        }
        EXPECT_EQ(c.data.size(), cbData);
        const BYTE *pb = reinterpret_cast<const BYTE *>(pszText);
        EXPECT_EQ(c.data, Bytes(pb, pb + cbData));
        for (size_t i = cbData; i < g_textCounts.cchLast * 2; i++)
            EXPECT_EQ(0, pb[i]) << "byte " << i << " behind the data";
        ReleaseText(pszText);
    }
}

TEST_F(SubsystemStore, MissingKeyValueOrBufferFailsWithNothingAllocated)
{
    ASSERT_TRUE(DeleteSubsystemsKey());
    HKEY hKey = reinterpret_cast<HKEY>(1);
    LONG status = OpenSubsystemKey(KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey);
    EXPECT_NE(ERROR_SUCCESS, status);
    EXPECT_NE(ERROR_ACCESS_DENIED, status); // start-up goes on and the read fails later
    EXPECT_TRUE(hKey == NULL);

    ASSERT_TRUE(PutSubsystemsValue(TypicalValue()));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSubsystemsKeyPath, L"Windows"));
    ASSERT_EQ(ERROR_SUCCESS, OpenSubsystemKey(KEY_QUERY_VALUE, &hKey));
    WCHAR *pszText = NULL;
    DWORD cbData = 0;
    EXPECT_FALSE(QuerySubsystemValue(hKey, &pszText, &cbData));
    EXPECT_EQ(0, g_textCounts.allocated);

    ASSERT_TRUE(PutSubsystemsValue(TypicalValue()));
    InstallCountingTextHeap(true);
    EXPECT_FALSE(QuerySubsystemValue(hKey, &pszText, &cbData));
    EXPECT_TRUE(pszText == NULL);
    CloseSubsystemKey(hKey);
}

TEST_F(SubsystemStore, StoreWritesTheTextAndOneTerminatorAsExpandSz)
{
    ASSERT_TRUE(PutSubsystemsValue(REG_SZ, BytesOf(L"old")));
    // Whatever follows the first terminator in the buffer is not written.
    const WCHAR buffer[] = L"SharedSection=1024,4096,512\0leftover\0\0";
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, OpenSubsystemKey(KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey));
    EXPECT_EQ(ERROR_SUCCESS, StoreSubsystemValue(hKey, buffer));
    CloseSubsystemKey(hKey);

    DWORD dwType = 0;
    Bytes stored;
    ASSERT_TRUE(ReadSubsystemsValue(&dwType, &stored));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), dwType);
    EXPECT_EQ(BytesOf(L"SharedSection=1024,4096,512"), stored);
}

DWORD s_probedBytes;
int s_queries;

LONG WINAPI HugeValueQuery(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD pcbData)
{
    s_queries++;
    *pcbData = s_probedBytes;
    return ERROR_SUCCESS;
}

TEST(SubsystemStoreProbe, SizeWithinThreeOfFourGigabytesIsRefusedBeforeAnyAllocation)
{
    // Adding the terminator's two bytes would wrap, and the read would be
    // told of a buffer far larger than the one allocated.
    const struct {
        DWORD probed;
        bool allocates;
    } cases[] = {{0xFFFFFFFC, true}, {0xFFFFFFFD, false}, {0xFFFFFFFE, false}, {0xFFFFFFFF, false}};
    g_advapi.pfnRegQueryValueExW = HugeValueQuery;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.probed);
        s_probedBytes = c.probed;
        s_queries = 0;
        InstallCountingTextHeap(true);
        WCHAR *pszText = NULL;
        DWORD cbData = 0;
        EXPECT_FALSE(QuerySubsystemValue(reinterpret_cast<HKEY>(1), &pszText, &cbData));
        RemoveCountingTextHeap();
        EXPECT_EQ(1, s_queries) << "only the size probe";
        EXPECT_EQ(c.allocates ? 1 : 0, g_textCounts.requested);
        if (c.allocates) {
            EXPECT_EQ(0x7FFFFFFFu, g_textCounts.cchLast);
        }
    }
}

} // namespace
