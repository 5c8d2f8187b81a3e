// SPDX-License-Identifier: BSD-3-Clause
// The process-wide copy routine with which an input hands its delivered bytes to the
// consumer (`FastCopy`, declared in pipeline/input.h), and the aligned 16-byte
// implementation chosen for it on processors with SSE.
#pragma once

#include <cstdint>

namespace vornek {

/// Copies exactly `count` bytes (ranges must not overlap; `count` <= 0 copies
/// nothing). When both addresses share their remainder modulo 16, it copies up to
/// the next 16-byte boundary in the widest units that remainder allows, then whole
/// 16-byte blocks with aligned 128-bit loads and stores, then the tail byte by byte;
/// when the remainders differ it falls back to memcpy. On x86 the block moves are
/// SSE instructions, so call it only where `platform::HasSSE()` holds (FastCopy is
/// set to it only then); on other architectures the blocks are copied with memcpy.
void AlignedCopy(void* destination, const void* source, std::int32_t count);

/// Sets `FastCopy` to `AlignedCopy` when the processor has SSE, else to memcpy.
/// Runs its choice once per process: later calls only return. The WAV reader calls
/// it from a static initialiser and from its constructor, so the choice is made
/// before any input copies, and `FastCopy` is never written afterwards.
void SelectFastCopy();

}  // namespace vornek
