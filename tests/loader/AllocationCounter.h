// Counts the allocations made anywhere in the process, engine modules
// included (their operator new binds to the test's replacement). Not under
// the address sanitizer, which brings its own operator new.
#pragma once

#if !defined(__SANITIZE_ADDRESS__)
#define VX_COUNTS_ALLOCATIONS 1
namespace vxtest {
long allocationCount();
}
#endif
