// Window stations and desktops behind the desktop binding.
#include "fake_desktops.h"

#include "fake_processes.h"
#include "session_desktops.h"

FakeDesktops g_fakeDesktops;

// Station handles are 0x5100 + 4 * index; desktop handles 0x6000 + 256 *
// station + 4 * desktop; the process's own station and the thread's desktop
// have handles of their own, never closed.
static const ULONG_PTR kStationHandles = 0x5100;
static const ULONG_PTR kDesktopHandles = 0x6000;
static const ULONG_PTR kOwnStationHandle = 0x50F0;
static const ULONG_PTR kOwnDesktopHandle = 0x5FF0;

static std::string Narrow(const std::wstring &text)
{
    return std::string(text.begin(), text.end());
}

static FakeStation *StationOf(HANDLE hStation)
{
    ULONG_PTR handle = reinterpret_cast<ULONG_PTR>(hStation);
    if (handle == kOwnStationHandle)
        return &g_fakeDesktops.stations[g_fakeDesktops.ownStation];
    size_t index = (handle - kStationHandles) / 4;
    return handle >= kStationHandles && handle < kDesktopHandles && index < g_fakeDesktops.stations.size()
               ? &g_fakeDesktops.stations[index]
               : NULL;
}

static const FakeDesktop *DesktopOf(HANDLE hDesktop, const FakeStation **ppStation)
{
    ULONG_PTR handle = reinterpret_cast<ULONG_PTR>(hDesktop);
    size_t station = g_fakeDesktops.ownStation, desktop = 0;
    if (handle != kOwnDesktopHandle) {
        if (handle < kDesktopHandles)
            return NULL;
        station = (handle - kDesktopHandles) / 256;
        desktop = (handle - kDesktopHandles) % 256 / 4;
    } else {
        while (desktop < g_fakeDesktops.stations[station].desktops.size() &&
               g_fakeDesktops.stations[station].desktops[desktop].name != g_fakeDesktops.ownDesktop)
            desktop++;
    }
    if (station >= g_fakeDesktops.stations.size() || desktop >= g_fakeDesktops.stations[station].desktops.size())
        return NULL;
    *ppStation = &g_fakeDesktops.stations[station];
    return &g_fakeDesktops.stations[station].desktops[desktop];
}

static BOOL WINAPI FakeEnumWindowStationsW(WINSTAENUMPROCW pfnEnum, LPARAM lParam)
{
    for (FakeStation &station : g_fakeDesktops.stations) {
        if (!pfnEnum(&station.name[0], lParam))
            return FALSE;
    }
    return TRUE;
}

static HWINSTA WINAPI FakeOpenWindowStationW(LPCWSTR pszName, BOOL, ACCESS_MASK access)
{
    for (size_t i = 0; i < g_fakeDesktops.stations.size(); i++) {
        const FakeStation &station = g_fakeDesktops.stations[i];
        if (lstrcmpiW(station.name.c_str(), pszName) != 0)
            continue;
        DWORD dwError = station.openError != 0           ? station.openError
                        : (access & WINSTA_ENUMDESKTOPS) ? station.listError
                                                         : 0;
        if (dwError != 0) {
            SetLastError(dwError);
            return NULL;
        }
        g_fakeDesktops.openHandles++;
        return reinterpret_cast<HWINSTA>(kStationHandles + i * 4);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return NULL;
}

static HWINSTA WINAPI FakeGetProcessWindowStation(void)
{
    return reinterpret_cast<HWINSTA>(kOwnStationHandle);
}

static BOOL WINAPI FakeSetProcessWindowStation(HWINSTA hStation)
{
    const FakeStation *pStation = StationOf(hStation);
    if (pStation == NULL || pStation->refusesSwitch) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    g_fakeDesktops.currentStation = static_cast<size_t>(pStation - &g_fakeDesktops.stations[0]);
    g_fakeDesktops.log.push_back("switch " + Narrow(pStation->name));
    return TRUE;
}

static BOOL WINAPI FakeCloseWindowStation(HWINSTA hStation)
{
    if (StationOf(hStation) == NULL || reinterpret_cast<ULONG_PTR>(hStation) == kOwnStationHandle)
        return FALSE;
    g_fakeDesktops.openHandles--;
    return TRUE;
}

static BOOL WINAPI FakeEnumDesktopsW(HWINSTA hStation, DESKTOPENUMPROCW pfnEnum, LPARAM lParam)
{
    FakeStation *pStation = StationOf(hStation);
    if (pStation == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    g_fakeDesktops.log.push_back("enum " + Narrow(pStation->name));
    for (FakeDesktop &desktop : pStation->desktops) {
        if (!pfnEnum(&desktop.name[0], lParam))
            return FALSE;
    }
    return TRUE;
}

// A desktop of the station the process is on, as Windows opens it.
static HDESK WINAPI FakeOpenDesktopW(LPCWSTR pszName, DWORD, BOOL, ACCESS_MASK)
{
    const size_t station = g_fakeDesktops.currentStation;
    const FakeStation &current = g_fakeDesktops.stations[station];
    g_fakeDesktops.log.push_back("open " + Narrow(current.name) + "\\" + Narrow(pszName));
    for (size_t i = 0; i < current.desktops.size(); i++) {
        if (lstrcmpiW(current.desktops[i].name.c_str(), pszName) != 0)
            continue;
        if (current.desktops[i].openError != 0)
            break;
        g_fakeDesktops.openHandles++;
        return reinterpret_cast<HDESK>(kDesktopHandles + station * 256 + i * 4);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    for (const FakeDesktop &desktop : current.desktops) {
        if (lstrcmpiW(desktop.name.c_str(), pszName) == 0)
            SetLastError(desktop.openError);
    }
    return NULL;
}

static HDESK WINAPI FakeGetThreadDesktop(DWORD)
{
    return reinterpret_cast<HDESK>(kOwnDesktopHandle);
}

static BOOL WINAPI FakeCloseDesktop(HDESK hDesktop)
{
    const FakeStation *pStation = NULL;
    if (DesktopOf(hDesktop, &pStation) == NULL || reinterpret_cast<ULONG_PTR>(hDesktop) == kOwnDesktopHandle)
        return FALSE;
    g_fakeDesktops.openHandles--;
    return TRUE;
}

static BOOL WINAPI
FakeGetUserObjectInformationW(HANDLE hObject, int index, PVOID pInfo, DWORD cbInfo, LPDWORD pcbNeeded)
{
    const FakeStation *pStation = StationOf(hObject);
    const FakeDesktop *pDesktop = pStation == NULL ? DesktopOf(hObject, &pStation) : NULL;
    if (pStation == NULL || (index != UOI_NAME && index != 5)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (index == UOI_NAME) {
        const std::wstring &name = pDesktop != NULL ? pDesktop->name : pStation->name;
        *pcbNeeded = static_cast<DWORD>((name.size() + 1) * sizeof(WCHAR));
        if (cbInfo < *pcbNeeded) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        lstrcpyW(static_cast<LPWSTR>(pInfo), name.c_str());
        return TRUE;
    }
    if (pDesktop == NULL || pDesktop->heapError != 0 || cbInfo < sizeof(ULONG)) {
        SetLastError(pDesktop != NULL && pDesktop->heapError != 0 ? pDesktop->heapError : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *static_cast<ULONG *>(pInfo) = pDesktop->heapKb;
    *pcbNeeded = sizeof(ULONG);
    return TRUE;
}

static DesktopFunction RefusingLookup(LPCWSTR, LPCSTR)
{
    return NULL; // nothing real is ever bound while the fake is in place
}

void InstallFakeDesktops()
{
    g_fakeDesktops = FakeDesktops();
    g_fakeDesktops.stations = {
        {L"WinSta0", {{L"Default", 20480, 0, 0}, {L"Winlogon", 192, 0, 0}, {L"Disconnect", 96, 0, 0}}, 0, 0, false},
        {L"Service-0x0-3e7$", {{L"Default", 768, 0, 0}}, 0, 0, false},
        {L"Service-0x0-3e5$", {{L"Default", 512, 0, 0}}, ERROR_ACCESS_DENIED, 0, false},
        {L"Service-0x0-3e4$", {{L"Default", 512, 0, 0}}, 0, ERROR_ACCESS_DENIED, false},
    };
    g_fakeDesktops.ownDesktop = L"Default";
    DesktopBinding fake = {};
    fake.pfnLookup = RefusingLookup;
    fake.pfnEnumWindowStationsW = FakeEnumWindowStationsW;
    fake.pfnOpenWindowStationW = FakeOpenWindowStationW;
    fake.pfnGetProcessWindowStation = FakeGetProcessWindowStation;
    fake.pfnSetProcessWindowStation = FakeSetProcessWindowStation;
    fake.pfnCloseWindowStation = FakeCloseWindowStation;
    fake.pfnEnumDesktopsW = FakeEnumDesktopsW;
    fake.pfnOpenDesktopW = FakeOpenDesktopW;
    fake.pfnGetThreadDesktop = FakeGetThreadDesktop;
    fake.pfnCloseDesktop = FakeCloseDesktop;
    fake.pfnGetUserObjectInformationW = FakeGetUserObjectInformationW;
    BindFakeHolders(&fake);
    g_desktopApi = fake;
}

void RemoveFakeDesktops()
{
    g_desktopApi = DesktopBinding();
}
