// The seven message texts, once for every test that reads them: from the
// string table, a message box, the restart request or another process.
#ifndef MORVANTA_TESTING_MESSAGE_TEXTS_H
#define MORVANTA_TESTING_MESSAGE_TEXTS_H

#include <windows.h>

#include "resource.h"

struct MessageText {
    UINT id;
    const wchar_t *text;
};

const MessageText kMessageTexts[] = {
    {IDS_NOT_SUPPORTED, L"Changing the desktop heap size is only supported on Windows 2000/XP and later."},
    {IDS_NEED_ADMIN, L"You need to be logged in as administrator in order to change the size of the desktop heap."},
    {IDS_READ_FAILED, L"Failed to get the current size of the desktop heap."},
    {IDS_RESTART_REASON, L"System restart to change desktop heap size."},
    {IDS_RESTART_FAILED, L"Failed to restart the system."},
    {IDS_RESTART_PROMPT,
     L"The system needs to be restarted for the change to the desktop heap size to take effect.\r\n\r\n"
     L"Do you want to restart your system now?"},
    {IDS_WRITE_FAILED, L"Failed to change the desktop heap size."},
};

inline const wchar_t *MessageTextOf(UINT id)
{
    for (const MessageText &message : kMessageTexts) {
        if (message.id == id)
            return message.text;
    }
    return L"(no such message)";
}

#endif
