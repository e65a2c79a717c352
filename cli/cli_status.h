// The console companion's status report: the SharedSection sizes configured
// for the next start beside those in effect now, whether a restart is pending,
// and what the System log holds about desktop heaps since Windows started.
#ifndef MORVANTA_CLI_CLI_STATUS_H
#define MORVANTA_CLI_CLI_STATUS_H

#include "heap_size_field.h"

// Reads the sizes in effect and prints both sides, as a table or as one line
// of JSON, then the events since the start; says on standard error why the
// sizes in effect, or the events, are unknown. The events never change the
// exit code.
// Returns 3010 when some size known on both sides differs, 0 when all three
// are known on both sides and equal, else 1168 (ERROR_NOT_FOUND).
int ReportHeapStatus(const SharedSectionSizes &configured, bool json);

#endif
