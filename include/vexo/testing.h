/* Vexo test support, in the builds that run the test suite only (VEXO_TEST_HOOKS, on
 * with VEXO_BUILD_TESTS); installed libraries have none of it. */
#ifndef VEXO_TESTING_H
#define VEXO_TESTING_H

#include "vexo/types.h"

/* ---- Test support ------------------------------------------------------ */
/* Makes the n-th memory allocation of the library from now on fail, so that a
 * test can run an operation once for every n and see each failure handled.
 * Counted are the allocations of every database and filter and of the tables
 * behind them, and those of the import and export scripts' Lua states once their
 * standard libraries are open. Process-wide; not for use while other threads call the
 * library.
 *   n  1 fails the next allocation; 0 switches failures off (after one failure
 *      the count is 0 again by itself) */
VEXO_API void Vexo_failAllocationAfter(uint32_t n);

/* Lets decode plans made from now on use the processor's vector instructions, where it
 * has them (allowed 1, the default), or not (0), so that a test can run both ways. */
VEXO_API void Vexo_allowVectorDecoding(int allowed);

#endif
