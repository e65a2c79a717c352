// The platform test both programs make before anything else.
#include "nt_family.h"

#include <windows.h>

bool IsNtFamily(void)
{
    OSVERSIONINFOA versionInfo = {};
    versionInfo.dwOSVersionInfoSize = sizeof versionInfo;
#ifdef _MSC_VER
#pragma warning(suppress : 4996) // the platform id is all we read, and it is not shimmed
#endif
    GetVersionExA(&versionInfo);
    return versionInfo.dwPlatformId == VER_PLATFORM_WIN32_NT;
}
