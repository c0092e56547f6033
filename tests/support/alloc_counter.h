// Counts heap allocations made anywhere in the process (all threads), by wrapping malloc and its
// relatives; linked into the benchmark and the allocation test only.
#pragma once

long allocationCount();

// While set, every allocation fails (malloc and its relatives return null, so operator new throws
// std::bad_alloc); the attempts are still counted.
void failAllocations(bool failing);
