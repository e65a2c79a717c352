// The guard between the tests and advapi32. Installed by the tests' main
// before any test runs and put back around every test, it is the only lookup
// that reaches the real functions: it never hands out AdjustTokenPrivileges
// or InitiateSystemShutdownExW, and outside Wine none of the registry
// functions that open, read or write the SubSystems key. A test that reaches
// one of them without its own fake in g_advapi fails loudly, and the
// wrapper fails the way its callers already handle.
#ifndef MORVANTA_TESTING_ADVAPI_GUARD_H
#define MORVANTA_TESTING_ADVAPI_GUARD_H

#include "advapi_binding.h"

// Every entry unbound and the guarded lookup in place.
void ResetAdvapiBinding();

// The same for the process binding, whose guard hands out nothing outside
// Wine: a test there could otherwise open the real subsystem process.
void ResetProcessBinding();

// Called once by the tests' main: resets both bindings before and after every test.
void InstallAdvapiGuard();

#endif
