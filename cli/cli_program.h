// The console companion: shows a desktop heap size or stores a new one with
// the dialog's store and codec, or reports the sizes configured and in
// effect, and answers with a Win32 error code.
#ifndef MORVANTA_CLI_CLI_PROGRAM_H
#define MORVANTA_CLI_CLI_PROGRAM_H

// Checks, in order, the arguments (87), the platform (1), the current size
// (13, or 5 when the key cannot be opened for query access), the range (87),
// then writes (5, 13 or the store's status); 0 when shown or unchanged,
// 3010 (ERROR_SUCCESS_REBOOT_REQUIRED) when stored. status answers as
// ReportHeapStatus does once the configured size is read. Never restarts.
int RunHeapSizeCommand(int argc, const wchar_t *const *argv);

#endif
