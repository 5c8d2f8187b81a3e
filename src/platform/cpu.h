// SPDX-License-Identifier: BSD-3-Clause
// Processor identification: the one feature the system asks about, and how many
// processors the process may run on.
#pragma once

#include <cstdint>

namespace vornek::platform {

/// True when the processor offers SSE (CPUID leaf 1, EDX bit 25): aligned 128-bit
/// loads and stores. False on processors without CPUID leaf 1 and on non-x86
/// architectures. Any thread may call it; it has no state.
bool HasSSE();

/// The number of processors this process may run on (its affinity, where the system
/// has one), at least 1. Any thread.
std::uint32_t ProcessorCount();

}  // namespace vornek::platform
