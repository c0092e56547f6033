// Counts heap allocations made anywhere in the process (all threads), by wrapping malloc and its
// relatives; linked only into the benchmark.
#pragma once

long allocationCount();
