// Start-up checks and the dialog run.
#include "startup.h"

#include <windows.h>

#include <commctrl.h>

#include "heap_size_dialog.h"
#include "message.h"
#include "nt_family.h"
#include "program.h"
#include "resource.h"
#include "subsystem_store.h"

int RunHeapSizeProgram(void)
{
    HKEY hKey = NULL;
    LONG status = ERROR_SUCCESS;
    INITCOMMONCONTROLSEX initControls = {};

    if (!IsNtFamily()) {
        CHAR szText[kMessageBufferChars] = {};
        LoadStringA(g_hInstance, IDS_NOT_SUPPORTED, szText, kMessageBufferChars);
        MessageBoxA(NULL, szText, kCaptionA, MB_ICONINFORMATION);
        return 1;
    }

    // Only a denial refuses: a missing key lets the dialog report the failed read.
    status = OpenSubsystemKey(KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey);
    if (hKey != NULL)
        CloseSubsystemKey(hKey);
    if (status == ERROR_ACCESS_DENIED) {
        ShowMessage(NULL, IDS_NEED_ADMIN, MB_ICONWARNING);
        return 1;
    }

    initControls.dwSize = sizeof initControls;
    initControls.dwICC = ICC_UPDOWN_CLASS;
    InitCommonControlsEx(&initControls);

    return static_cast<int>(DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(IDD_HEAPSIZE), NULL, HeapSizeDlgProc, 0));
}
