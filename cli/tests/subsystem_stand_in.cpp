// A stand-in for the Windows subsystem process, for tests under Wine only:
// copied as csrss.exe into the system directory and started with a
// SharedSection= command line, it says it is up and waits to be ended. It
// starts nothing, so a copy can never run a test again; and it ends by
// itself after a minute, should a test be killed before it ends it.
#include <windows.h>

int main()
{
    HANDLE hReady = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"MorvantaSubsystemStandInReady");
    if (hReady != NULL) {
        SetEvent(hReady);
        CloseHandle(hReady);
    }
    Sleep(60000);
    return 0;
}
