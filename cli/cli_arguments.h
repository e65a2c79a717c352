// The console companion's command line: show, set SIZE, status and help.
#ifndef MORVANTA_CLI_CLI_ARGUMENTS_H
#define MORVANTA_CLI_CLI_ARGUMENTS_H

#include <stdint.h>

enum CliAction { kCliShow, kCliSet, kCliStatus, kCliHelp };

struct CliRequest {
    CliAction action;
    uint64_t newSizeKb;  // for set: up to ten digits, so it may exceed a HeapSizeKb
    bool nonInteractive; // show and set: the third number of SharedSection=
    bool dryRun;         // set
    bool json;           // status
};

// Parses the arguments after the program name:
//   [show] | show --non-interactive | set SIZE [--non-interactive] [--dry-run]
//   | status [--json] | --help | /?
// Commands and options are matched without regard to ASCII letter case;
// set's options come after SIZE, in any order, each at most once; SIZE is one
// to ten decimal digits and nothing else. False for anything else.
bool ParseCliArguments(int argc, const wchar_t *const *argv, CliRequest *pRequest);

#endif
