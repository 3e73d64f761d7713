// SHA-256's compression function on the processor's SHA extensions (x86
// SHA-NI), which hash several times faster than a portable implementation:
// package mode hashes every byte it copies.
#pragma once

#include <cstddef>
#include <cstdint>

// True when the processor has the SHA extensions and the SSE4.1 and SSSE3
// instructions they are used with.
bool ProcessorHasShaInstructions();

// Hashes `blocks` blocks of 64 bytes at `data` into `state` (the eight
// words of SHA-256, in their usual order). Only where
// ProcessorHasShaInstructions() is true.
void Sha256Blocks(uint32_t state[8], const unsigned char* data, size_t blocks);
