// MorvantaCli: shows or changes the size of the interactive desktop heap from
// a console or a deployment tool.
#include "cli_program.h"

int wmain(int argc, wchar_t **argv)
{
    return RunHeapSizeCommand(argc, argv);
}
