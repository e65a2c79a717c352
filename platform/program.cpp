// The module instance shared by every string load and the dialog.
#include "program.h"

HINSTANCE g_hInstance;
