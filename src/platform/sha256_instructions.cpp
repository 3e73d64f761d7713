#include "platform/sha256_instructions.h"

#include <immintrin.h>

#if defined(_MSC_VER)
#include <intrin.h>
#define VSKR_SHA_TARGET
#else
#include <cpuid.h>
// The instructions are compiled for this function alone; the caller checks
// the processor first.
#define VSKR_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#endif

namespace {

alignas(16) const uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

void Cpuid(int leaf, int subleaf, unsigned registers[4]) {
#if defined(_MSC_VER)
  int values[4];
  __cpuidex(values, leaf, subleaf);
  for (int i = 0; i < 4; ++i) registers[i] = static_cast<unsigned>(values[i]);
#else
  __cpuid_count(leaf, subleaf, registers[0], registers[1], registers[2], registers[3]);
#endif
}

}  // namespace

bool ProcessorHasShaInstructions() {
  unsigned registers[4] = {0, 0, 0, 0};
  Cpuid(0, 0, registers);
  if (registers[0] < 7) return false;
  Cpuid(1, 0, registers);
  const bool sse41 = (registers[2] >> 19) & 1, ssse3 = (registers[2] >> 9) & 1;
  Cpuid(7, 0, registers);
  return sse41 && ssse3 && ((registers[1] >> 29) & 1);
}

VSKR_SHA_TARGET void Sha256Blocks(uint32_t state[8], const unsigned char* data, size_t blocks) {
  // Big-endian words of the message.
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  // The state as the instructions take it: A B E F and C D G H.
  const __m128i* stateWords = reinterpret_cast<const __m128i*>(state);
  __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(stateWords), 0xB1);
  __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(stateWords + 1), 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abefBefore = abef, cdghBefore = cdgh;
    __m128i words[4];
    // Sixteen groups of four rounds; the message schedule runs ahead in
    // four registers.
    for (int group = 0; group < 16; ++group) {
      __m128i& current = words[group % 4];
      if (group < 4)
        current = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * group)), byteSwap);
      __m128i message = _mm_add_epi32(
          current, _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * group)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
      if (group >= 3 && group < 15) {
        __m128i& next = words[(group + 1) % 4];
        next = _mm_add_epi32(next, _mm_alignr_epi8(current, words[(group + 3) % 4], 4));
        next = _mm_sha256msg2_epu32(next, current);
      }
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(message, 0x0E));
      if (group >= 1 && group < 13) {
        __m128i& later = words[(group + 3) % 4];
        later = _mm_sha256msg1_epu32(later, current);
      }
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }
  __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}
