// Resource identifiers shared by the resource script and the code.
#ifndef MORVANTA_RES_RESOURCE_H
#define MORVANTA_RES_RESOURCE_H

// Dialogs
#define IDD_HEAPSIZE 101

// Controls of IDD_HEAPSIZE
#define IDC_HEAPSIZE_EDIT 1001
#define IDC_HEAPSIZE_SPIN 1002

// Strings
#define IDS_NOT_SUPPORTED 102
#define IDS_NEED_ADMIN 103
#define IDS_READ_FAILED 104
#define IDS_RESTART_REASON 105
#define IDS_RESTART_FAILED 106
#define IDS_RESTART_PROMPT 107
#define IDS_WRITE_FAILED 108

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif
