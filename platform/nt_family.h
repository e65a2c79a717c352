// The platform test both programs make before anything else.
#ifndef MORVANTA_PLATFORM_NT_FAMILY_H
#define MORVANTA_PLATFORM_NT_FAMILY_H

// True on the NT family (Windows 2000/XP and later). The one test that runs
// outside it: narrow calls only, and no advapi32 yet.
bool IsNtFamily(void);

#endif
