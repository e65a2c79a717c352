// A wevtapi.dll of the tests' own, for the real MorvantaCli.exe under Wine,
// whose own EvtQuery gives nothing: copied as wevtapi.dll into the system
// folder, it serves the fake System log with the events of wevtapi.events
// beside it, one a line, UTF-8:
//   TIME|PROVIDER|ID|DATA|DATA...
// TIME is seconds since 1601 (UTC), or -N for N seconds before the query. A
// line "!denied" makes the query fail with access denied. No file: no events.
#include <windows.h>

#include <winevt.h>

#include <string>
#include <vector>

#include "fake_event_log.h"

static HMODULE s_hModule;

static std::wstring Widen(const std::string &utf8)
{
    int cch = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), NULL, 0);
    std::wstring text(static_cast<size_t>(cch), L'\0');
    if (cch > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], cch);
    return text;
}

static std::vector<std::wstring> Split(const std::wstring &line)
{
    std::vector<std::wstring> fields(1);
    for (wchar_t ch : line) {
        if (ch == L'|')
            fields.push_back(std::wstring());
        else
            fields.back() += ch;
    }
    return fields;
}

static std::string ReadEventsFile()
{
    WCHAR szPath[MAX_PATH] = {};
    DWORD cchPath = GetModuleFileNameW(s_hModule, szPath, MAX_PATH);
    std::string content;
    if (cchPath < 4 || cchPath >= MAX_PATH)
        return content;
    lstrcpyW(szPath + cchPath - 4, L".events");
    HANDLE hFile = CreateFileW(szPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return content;
    char buffer[4096];
    DWORD cbRead = 0;
    while (ReadFile(hFile, buffer, sizeof buffer, &cbRead, NULL) && cbRead > 0)
        content.append(buffer, cbRead);
    CloseHandle(hFile);
    return content;
}

// The fake, with its events placed from the file: the start is 1601, so
// that each event's seconds after it are its own time.
static void LoadEvents()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    LONGLONG nowSeconds =
        static_cast<LONGLONG>(((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime) / 10000000);
    InstallFakeEventLog();
    g_fakeEventLog.startTime = 0;
    std::wstring content = Widen(ReadEventsFile());
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find(L'\n', start);
        std::wstring line = content.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        start = end == std::wstring::npos ? content.size() : end + 1;
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        if (line == L"!denied")
            g_fakeEventLog.queryAnswer = kQueryDenied;
        std::vector<std::wstring> fields = Split(line);
        if (fields.size() < 3 || line[0] == L'!')
            continue;
        FakeEvent event = {fields[1],
                           static_cast<DWORD>(_wtol(fields[2].c_str())),
                           _wtoi64(fields[0].c_str()),
                           std::vector<std::wstring>(fields.begin() + 3, fields.end()),
                           kEventWhole};
        if (event.secondsAfterStart < 0)
            event.secondsAfterStart += nowSeconds;
        g_fakeEventLog.events.push_back(event);
    }
}

EVT_HANDLE WINAPI EvtQuery(EVT_HANDLE hSession, LPCWSTR pszPath, LPCWSTR pszQuery, DWORD dwFlags)
{
    LoadEvents();
    return FakeEvtQuery(hSession, pszPath, pszQuery, dwFlags);
}

BOOL WINAPI
EvtNext(EVT_HANDLE hResults, DWORD cEvents, EVT_HANDLE *pEvents, DWORD dwTimeout, DWORD dwFlags, PDWORD pcReturned)
{
    return FakeEvtNext(hResults, cEvents, pEvents, dwTimeout, dwFlags, pcReturned);
}

EVT_HANDLE WINAPI EvtCreateRenderContext(DWORD cPaths, LPCWSTR *ppszPaths, DWORD dwFlags)
{
    return FakeEvtCreateRenderContext(cPaths, ppszPaths, dwFlags);
}

BOOL WINAPI EvtRender(EVT_HANDLE hContext,
                      EVT_HANDLE hFragment,
                      DWORD dwFlags,
                      DWORD cbBuffer,
                      PVOID pBuffer,
                      PDWORD pcbUsed,
                      PDWORD pcProperties)
{
    return FakeEvtRender(hContext, hFragment, dwFlags, cbBuffer, pBuffer, pcbUsed, pcProperties);
}

BOOL WINAPI EvtClose(EVT_HANDLE hObject)
{
    return FakeEvtClose(hObject);
}

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID)
{
    if (dwReason == DLL_PROCESS_ATTACH)
        s_hModule = hInstance;
    return TRUE;
}
