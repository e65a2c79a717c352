// The console companion's command line: show, set SIZE, status and help.
#ifndef MORVANTA_CLI_CLI_ARGUMENTS_H
#define MORVANTA_CLI_CLI_ARGUMENTS_H

#include <stdint.h>

enum CliAction { kCliShow, kCliSet, kCliStatus, kCliDesktops, kCliHelp };

struct CliRequest {
    CliAction action;
    uint64_t newSizeKb;  // for set: up to ten digits, so it may exceed a HeapSizeKb
    bool nonInteractive; // show and set: the third number of SharedSection=
    bool dryRun;         // set
    bool json;           // status and desktops
    uint32_t top;        // desktops: how many processes, 1 to 1000
    bool badTop;         // desktops: --top without a whole number from 1 to 1000
};

const uint32_t kDefaultTop = 10;
const uint32_t kMaxTop = 1000;

// Parses the arguments after the program name:
//   [show] | show --non-interactive | set SIZE [--non-interactive] [--dry-run]
//   | status [--json] | desktops [--top N] [--json] | --help | /?
// Commands and options are matched without regard to ASCII letter case;
// set's options come after SIZE, in any order, each at most once; SIZE is one
// to ten decimal digits and nothing else; desktops' options come in any
// order, each at most once. False for anything else, with badTop set when
// the fault is --top's number.
bool ParseCliArguments(int argc, const wchar_t *const *argv, CliRequest *pRequest);

#endif
