// Every module-wide record back to its load-time value: what loading the
// library gives the DLL, and what the host tests and fuzzers call before they
// run the start-up again.
#pragma once

void ResetAllModuleState();
