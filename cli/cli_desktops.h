// The console companion's desktops report: the desktops of this session with
// the heap size each was created with, and who holds USER and GDI objects
// there; and this program's own desktop, for the status report.
#ifndef MORVANTA_CLI_CLI_DESKTOPS_H
#define MORVANTA_CLI_CLI_DESKTOPS_H

#include <stdint.h>

#include "heap_size_field.h"
#include "session_desktops.h"

// Reads and prints everything as text or as one line of JSON, the top
// processes by USER objects and every process near a quota. Returns 0
// whatever could not be read (it says why beside each value), or
// ERROR_NOT_ENOUGH_MEMORY.
int ReportDesktops(uint32_t top, bool json);

// The line of this program's own desktop: its heap size, and, where that is
// the interactive (WinSta0\Default) or a service station's Default desktop
// and the configured size differs, that the configured one takes effect
// when Windows restarts.
void WriteOwnDesktopLine(const SessionDesktop &own, const SharedSectionSizes &configured);

// The members "desktop" (this program's) and "desktops" (all of the
// session's), each after a comma.
void WriteJsonDesktopMembers(const SessionDesktop &own, const SessionDesktops &desktops);

#endif
