// The subsystem value store against Wine's real registry.
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "advapi_fakes.h"
#include "subsystem_store.h"
#include "text_buffer.h"
#include "wine_only.h"

namespace {

const WCHAR kKeyPath[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\SubSystems";
const WCHAR kXpValue[] = L"%SystemRoot%\\system32\\csrss.exe ObjectDirectory=\\Windows "
                         L"SharedSection=1024,3072,512 Windows=On SubSystemType=Windows ServerDll=basesrv,1 "
                         L"ServerDll=winsrv:UserServerDllInitialization,3 "
                         L"ServerDll=winsrv:ConServerDllInitialization,2 ProfileControl=Off MaxRequestThreads=16";

typedef std::vector<BYTE> Bytes;

Bytes BytesOf(const WCHAR *psz, bool withTerminator)
{
    size_t cb = (wcslen(psz) + (withTerminator ? 1 : 0)) * sizeof(WCHAR);
    const BYTE *pb = reinterpret_cast<const BYTE *>(psz);
    return Bytes(pb, pb + cb);
}

typedef LONG(NTAPI *NtSetValueKeyProc)(HANDLE, PUNICODE_STRING, ULONG, ULONG, PVOID, ULONG);

// Sets the value with the exact bytes and type of a case. RegSetValueExW
// may add a terminator to string data, so this goes to the native call.
void PutValue(DWORD dwType, const Bytes &data)
{
    NtSetValueKeyProc pfnNtSetValueKey = reinterpret_cast<NtSetValueKeyProc>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetValueKey")));
    ASSERT_TRUE(pfnNtSetValueKey != NULL);
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL));
    WCHAR szName[] = L"Windows";
    UNICODE_STRING name = {14, 16, szName};
    Bytes copy = data;
    copy.push_back(0); // a valid pointer for empty data
    EXPECT_EQ(0, pfnNtSetValueKey(hKey, &name, 0, dwType, copy.data(), static_cast<ULONG>(data.size())));
    RegCloseKey(hKey);
}

void GetValue(DWORD *pdwType, Bytes *pData)
{
    BYTE buffer[4096];
    DWORD cb = sizeof buffer;
    ASSERT_EQ(ERROR_SUCCESS,
              RegGetValueW(HKEY_LOCAL_MACHINE, kKeyPath, L"Windows", RRF_RT_ANY | RRF_NOEXPAND, pdwType, buffer, &cb));
    pData->assign(buffer, buffer + cb);
}

void DeleteKey()
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKeyPath);
}

class SubsystemStore : public testing::Test {
  protected:
    void SetUp() override
    {
        SKIP_UNLESS_WINE();
        ResetAdvapiBinding();
        InstallCountingTextHeap(false);
    }
    void TearDown() override
    {
        RemoveCountingTextHeap();
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
        {"typical with terminator", REG_EXPAND_SZ, BytesOf(kXpValue, true), true},
        {"no terminator stored", REG_EXPAND_SZ, BytesOf(L"SharedSection=1024,3072", false), true},
        {"odd byte count", REG_EXPAND_SZ, odd, true},
        {"empty data", REG_EXPAND_SZ, Bytes(), true},
        {"REG_SZ refused", REG_SZ, BytesOf(kXpValue, true), false},
        {"REG_MULTI_SZ refused", REG_MULTI_SZ, BytesOf(kXpValue, true), false},
    };
    for (const ReadCase &c : cases) {
        SCOPED_TRACE(c.name);
        PutValue(c.dwType, c.data);
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

TEST_F(SubsystemStore, MissingValueOrKeyFailsWithNothingAllocated)
{
    DeleteKey();
    HKEY hKey = reinterpret_cast<HKEY>(1);
    LONG status = OpenSubsystemKey(KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey);
    EXPECT_NE(ERROR_SUCCESS, status);
    EXPECT_NE(ERROR_ACCESS_DENIED, status); // start-up goes on and the read fails later
    EXPECT_TRUE(hKey == NULL);

    HKEY hCreated = NULL;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hCreated, NULL));
    RegCloseKey(hCreated);
    ASSERT_EQ(ERROR_SUCCESS, OpenSubsystemKey(KEY_QUERY_VALUE, &hKey));
    WCHAR *pszText = NULL;
    DWORD cbData = 0;
    EXPECT_FALSE(QuerySubsystemValue(hKey, &pszText, &cbData));
    CloseSubsystemKey(hKey);
    EXPECT_EQ(0, g_textCounts.allocated);
}

TEST_F(SubsystemStore, FailedAllocationFailsTheRead)
{
    PutValue(REG_EXPAND_SZ, BytesOf(kXpValue, true));
    InstallCountingTextHeap(true);
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, OpenSubsystemKey(KEY_QUERY_VALUE, &hKey));
    WCHAR *pszText = NULL;
    DWORD cbData = 0;
    EXPECT_FALSE(QuerySubsystemValue(hKey, &pszText, &cbData));
    CloseSubsystemKey(hKey);
    EXPECT_TRUE(pszText == NULL);
}

TEST_F(SubsystemStore, StoreWritesTheTextAndOneTerminator)
{
    PutValue(REG_SZ, BytesOf(L"old", true));
    // Whatever follows the first terminator in the buffer is not written.
    const WCHAR buffer[] = L"SharedSection=1024,4096,512\0leftover\0\0";
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, OpenSubsystemKey(KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey));
    EXPECT_EQ(ERROR_SUCCESS, StoreSubsystemValue(hKey, buffer));
    CloseSubsystemKey(hKey);

    DWORD dwType = 0;
    Bytes stored;
    GetValue(&dwType, &stored);
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), dwType);
    EXPECT_EQ(BytesOf(L"SharedSection=1024,4096,512", true), stored);
}

TEST_F(SubsystemStore, StoreRefusedOnAQueryOnlyHandle)
{
    PutValue(REG_EXPAND_SZ, BytesOf(kXpValue, true));
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, OpenSubsystemKey(KEY_QUERY_VALUE, &hKey));
    EXPECT_NE(ERROR_SUCCESS, StoreSubsystemValue(hKey, L"SharedSection=1,2,3"));
    CloseSubsystemKey(hKey);

    DWORD dwType = 0;
    Bytes stored;
    GetValue(&dwType, &stored);
    EXPECT_EQ(BytesOf(kXpValue, true), stored);
}

} // namespace
