// SPDX-License-Identifier: BSD-3-Clause
#include "wave/fast_copy.h"

#include <cstddef>
#include <cstring>

#include "pipeline/input.h"
#include "platform/cpu.h"

// Aligned 128-bit moves exist on every x86 processor that passes HasSSE. They are
// SSE (not SSE2) instructions, so the 32-bit build needs no -msse2: the block
// copier alone is compiled for SSE and only ever runs after HasSSE said yes.
#if defined(__i386__) || defined(__x86_64__)
#include <xmmintrin.h>
#define VORNEK_SSE_BLOCKS 1
#define VORNEK_TARGET_SSE __attribute__((target("sse")))
#elif defined(_M_IX86) || defined(_M_X64)
#include <xmmintrin.h>
#define VORNEK_SSE_BLOCKS 1
#define VORNEK_TARGET_SSE
#else
#define VORNEK_SSE_BLOCKS 0
#define VORNEK_TARGET_SSE
#endif

namespace vornek {

namespace {

void PlainCopy(void* destination, const void* source, std::int32_t count) {
  if (count > 0) std::memcpy(destination, source, static_cast<std::size_t>(count));
}

/// Copies `blocks` 16-byte blocks between 16-byte aligned addresses.
VORNEK_TARGET_SSE void CopyBlocks(std::uint8_t* destination, const std::uint8_t* source,
                                  std::size_t blocks) {
#if VORNEK_SSE_BLOCKS
  // movaps moves the 128 bits unchanged whatever they hold: no value is interpreted.
  for (std::size_t i = 0; i < blocks; ++i) {
    const __m128 v = _mm_load_ps(reinterpret_cast<const float*>(source + 16 * i));
    _mm_store_ps(reinterpret_cast<float*>(destination + 16 * i), v);
  }
#else
  std::memcpy(destination, source, 16 * blocks);
#endif
}

/// Copies `count` bytes in units of `unit` bytes, then the rest byte by byte.
void CopyInUnits(std::uint8_t* destination, const std::uint8_t* source, std::size_t count,
                 std::size_t unit) {
  std::size_t done = 0;
  for (; done + unit <= count; done += unit) std::memcpy(destination + done, source + done, unit);
  for (; done < count; ++done) destination[done] = source[done];
}

}  // namespace

void AlignedCopy(void* destination, const void* source, std::int32_t count) {
  if (count <= 0) return;
  auto* out = static_cast<std::uint8_t*>(destination);
  const auto* in = static_cast<const std::uint8_t*>(source);
  auto left = static_cast<std::size_t>(count);

  const auto out_rem = reinterpret_cast<std::uintptr_t>(out) % 16;
  const auto in_rem = reinterpret_cast<std::uintptr_t>(in) % 16;
  if (out_rem != in_rem) {
    // They can never both be aligned: the aligned moves are of no use.
    std::memcpy(out, in, left);
    return;
  }
  if (out_rem != 0) {
    std::size_t lead = 16 - out_rem;
    if (lead > left) lead = left;
    const std::size_t unit = out_rem % 4 == 0 ? 4 : out_rem % 2 == 0 ? 2 : 1;
    CopyInUnits(out, in, lead, unit);
    out += lead;
    in += lead;
    left -= lead;
  }
  const std::size_t blocks = left / 16;
  CopyBlocks(out, in, blocks);
  out += 16 * blocks;
  in += 16 * blocks;
  left -= 16 * blocks;
  CopyInUnits(out, in, left, 1);
}

void SelectFastCopy() {
  // A function-local static is initialised exactly once, even if two threads race
  // here; FastCopy is written only inside that initialisation.
  static const bool selected = [] {
    FastCopy = platform::HasSSE() ? AlignedCopy : PlainCopy;
    return true;
  }();
  (void)selected;
}

}  // namespace vornek
