// Counts heap allocations made anywhere in the process (all threads), by wrapping malloc and its
// relatives; linked into the benchmark and the allocation test only.
#pragma once

long allocationCount();
