// The console companion's command line: show, set SIZE [--dry-run], help.
#ifndef MORVANTA_CLI_CLI_ARGUMENTS_H
#define MORVANTA_CLI_CLI_ARGUMENTS_H

#include <stdint.h>

enum CliAction { kCliShow, kCliSet, kCliHelp };

struct CliRequest {
    CliAction action;
    uint64_t newSizeKb; // for set: up to ten digits, so it may exceed a HeapSizeKb
    bool dryRun;
};

// Parses the arguments after the program name. Commands and options are
// matched without regard to ASCII letter case; SIZE is one to ten decimal
// digits and nothing else. False for anything else: an unknown command, a
// missing or extra argument, a malformed SIZE.
bool ParseCliArguments(int argc, const wchar_t *const *argv, CliRequest *pRequest);

#endif
