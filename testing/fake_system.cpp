// An in-memory subsystem value and a restart recorder behind the advapi32 binding.
#include "fake_system.h"

#include <map>

#include "advapi_binding.h"
#include "advapi_guard.h"
#include "counting_text_heap.h"
#include "machine_state.h"
#include "token_fakes.h"

FakeSystem g_fake;

static std::map<HKEY, REGSAM> s_openKeys;
static UINT_PTR s_nextKey;
static const HKEY kQuotaKey = reinterpret_cast<HKEY>(0x9000); // the key of the per-process quotas

static LONG WINAPI FakeRegOpenKeyExW(HKEY hRoot, LPCWSTR pszPath, DWORD, REGSAM sam, PHKEY phKey)
{
    g_fake.log.push_back("open " + std::to_string(sam));
    if (hRoot == HKEY_LOCAL_MACHINE && !g_fake.quotas.empty() &&
        lstrcmpiW(pszPath, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows") == 0) {
        *phKey = kQuotaKey;
        s_openKeys[*phKey] = sam;
        g_fake.openKeys++;
        return ERROR_SUCCESS;
    }
    if (hRoot != HKEY_LOCAL_MACHINE || lstrcmpiW(pszPath, kSubsystemsKeyPath) != 0)
        return ERROR_FILE_NOT_FOUND;
    if ((sam & KEY_SET_VALUE) && g_fake.openStatusForWrite != ERROR_SUCCESS)
        return g_fake.openStatusForWrite;
    if (!g_fake.keyExists)
        return ERROR_FILE_NOT_FOUND;
    *phKey = reinterpret_cast<HKEY>(++s_nextKey);
    s_openKeys[*phKey] = sam;
    g_fake.openKeys++;
    return ERROR_SUCCESS;
}

static LONG WINAPI
FakeRegQueryValueExW(HKEY hKey, LPCWSTR pszName, LPDWORD, LPDWORD pdwType, LPBYTE pbData, LPDWORD pcbData)
{
    g_fake.log.push_back(pbData == NULL ? "probe" : "query");
    if (s_openKeys.count(hKey) == 0 || !(s_openKeys[hKey] & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    if (hKey == kQuotaKey) {
        if (g_fake.quotas.count(pszName) == 0)
            return ERROR_FILE_NOT_FOUND;
        if (pcbData == NULL || *pcbData < sizeof(DWORD) || pbData == NULL)
            return ERROR_MORE_DATA;
        if (pdwType != NULL)
            *pdwType = REG_DWORD;
        *reinterpret_cast<DWORD *>(pbData) = g_fake.quotas[pszName];
        *pcbData = sizeof(DWORD);
        return ERROR_SUCCESS;
    }
    if (lstrcmpW(pszName, L"Windows") != 0 || !g_fake.valueExists)
        return ERROR_FILE_NOT_FOUND;
    DWORD cbData = static_cast<DWORD>(g_fake.data.size());
    if (pdwType != NULL)
        *pdwType = g_fake.type;
    if (pbData != NULL) {
        if (*pcbData < cbData)
            return ERROR_MORE_DATA;
        CopyMemory(pbData, g_fake.data.data(), cbData);
    }
    *pcbData = cbData;
    return ERROR_SUCCESS;
}

static LONG WINAPI FakeRegSetValueExW(HKEY hKey, LPCWSTR pszName, DWORD, DWORD dwType, const BYTE *pbData, DWORD cbData)
{
    g_fake.log.push_back("set");
    if (s_openKeys.count(hKey) == 0 || !(s_openKeys[hKey] & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (g_fake.setStatus != ERROR_SUCCESS)
        return g_fake.setStatus;
    if (lstrcmpW(pszName, L"Windows") != 0)
        return ERROR_INVALID_PARAMETER;
    g_fake.type = dwType;
    g_fake.data.assign(pbData, pbData + cbData);
    g_fake.valueExists = true;
    return ERROR_SUCCESS;
}

static LONG WINAPI FakeRegCloseKey(HKEY hKey)
{
    g_fake.log.push_back("close");
    if (s_openKeys.erase(hKey) == 0)
        return ERROR_INVALID_HANDLE;
    g_fake.openKeys--;
    return ERROR_SUCCESS;
}

static AdvapiFunction RefusingLookup(LPCSTR)
{
    return NULL; // nothing real is ever bound while the fake is in place
}

static void LogRestart(void)
{
    g_fake.log.push_back("restart");
}

void SetFakeValue(const std::wstring &value)
{
    g_fake.data = BytesOf(value);
    g_fake.type = REG_EXPAND_SZ;
    g_fake.valueExists = true;
}

std::wstring FakeValueText()
{
    std::wstring text(reinterpret_cast<const wchar_t *>(g_fake.data.data()), g_fake.data.size() / 2);
    if (!text.empty() && text.back() == 0)
        text.pop_back();
    return text;
}

void SetRestartAccepted(bool accepted)
{
    TokenScript script = {TRUE, TRUE, ERROR_SUCCESS, accepted ? TRUE : FALSE, LogRestart};
    InstallTokenFakes(script);
}

void InstallFakeSystem(const std::wstring &value)
{
    g_fake = FakeSystem();
    g_fake.keyExists = true;
    SetFakeValue(value);
    s_openKeys.clear();

    g_advapi.pfnRegOpenKeyExW = FakeRegOpenKeyExW;
    g_advapi.pfnRegQueryValueExW = FakeRegQueryValueExW;
    g_advapi.pfnRegSetValueExW = FakeRegSetValueExW;
    g_advapi.pfnRegCloseKey = FakeRegCloseKey;
    g_advapi.pfnLookup = RefusingLookup;
    SetRestartAccepted(true);
    InstallCountingTextHeap(false, &g_fake.log);
}

void RemoveFakeSystem()
{
    ResetAdvapiBinding();
    RemoveCountingTextHeap();
}
