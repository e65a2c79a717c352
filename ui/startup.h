// Start-up checks and the dialog run, apart from the entry so that tests can
// drive them in-process.
#ifndef MORVANTA_UI_STARTUP_H
#define MORVANTA_UI_STARTUP_H

// Refuses platforms outside the NT family and users who may not write the
// subsystem key (exit code 1), otherwise runs the heap size dialog and
// returns its result, or -1 when it cannot be created. Needs g_hInstance.
int RunHeapSizeProgram(void);

#endif
