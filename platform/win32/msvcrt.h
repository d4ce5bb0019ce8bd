// The C runtime's pseudo-random generator as Windows programs know it. The Linux C library
// owns ::srand and ::rand with another rule, so this one has its own namespace.
#pragma once

namespace msvcrt {

// The state is process-wide: every thread draws from the one sequence. It starts as if seeded
// with 1.
void srand(unsigned seed);

// state = state * 214013 + 2531011 (mod 2^32); returns (state >> 16) & 32767.
// Safe to call from several threads: each call takes exactly one step of the sequence.
int rand();

} // namespace msvcrt
