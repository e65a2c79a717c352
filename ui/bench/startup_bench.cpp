// Start-up time of Morvanta.exe against the bare dialog: from CreateProcessW
// until the dialog is visible, alternating the two programs, medians in ms.
// Usage: startup_bench [runs]; both executables sit beside this one.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "morvanta_windows.h"

namespace {

// Milliseconds until the dialog shows, or a negative value when it did not.
double TimeOneStart(const std::wstring &path)
{
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = L"\"" + path + L"\"";
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return -1;
    double elapsed = -1;
    HWND hwndDialog = NULL;
    for (;;) {
        hwndDialog = FindMorvantaWindow(process.dwProcessId, true);
        QueryPerformanceCounter(&now);
        double ms =
            static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
        if (hwndDialog != NULL) {
            elapsed = ms;
            break;
        }
        if (ms > 20000 || WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0)
            break;
    }
    if (hwndDialog != NULL)
        PostMessageW(hwndDialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return elapsed;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    int runs = argc > 1 ? _wtoi(argv[1]) : 20;
    std::vector<double> morvanta, bare;
    TimeOneStart(PathBesideThisProgram(L"Morvanta.exe")); // warm the caches once, uncounted
    TimeOneStart(PathBesideThisProgram(L"BareDialog.exe"));
    for (int i = 0; i < runs; i++) {
        double a = TimeOneStart(PathBesideThisProgram(L"Morvanta.exe"));
        double b = TimeOneStart(PathBesideThisProgram(L"BareDialog.exe"));
        if (a < 0 || b < 0) {
            fprintf(stderr, "a dialog did not appear\n");
            return 1;
        }
        morvanta.push_back(a);
        bare.push_back(b);
    }
    double m = Median(morvanta), b = Median(bare);
    printf("runs %d each, median ms to a visible dialog: Morvanta.exe %.1f, bare dialog %.1f, ratio %.3f\n",
           runs,
           m,
           b,
           m / b);
    return 0;
}
