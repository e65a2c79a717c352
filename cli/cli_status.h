// The console companion's status report: the SharedSection sizes configured
// for the next start beside those in effect now, and whether a restart is pending.
#ifndef MORVANTA_CLI_CLI_STATUS_H
#define MORVANTA_CLI_CLI_STATUS_H

#include "heap_size_field.h"

// Reads the sizes in effect and prints both sides, as a table or as one line
// of JSON; says on standard error why the sizes in effect are unknown.
// Returns 3010 when some size known on both sides differs, 0 when all three
// are known on both sides and equal, else 1168 (ERROR_NOT_FOUND).
int ReportHeapStatus(const SharedSectionSizes &configured, bool json);

#endif
