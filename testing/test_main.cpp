// The main of every Windows-side suite: the advapi32 guard is in place
// before the first test runs.
#include <gtest/gtest.h>

#include "advapi_guard.h"

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    InstallAdvapiGuard();
    return RUN_ALL_TESTS();
}
