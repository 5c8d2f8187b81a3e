// Processor identification: the one feature the system asks about.
#pragma once

namespace vornek::platform {

/// True when the processor offers SSE (CPUID leaf 1, EDX bit 25): aligned 128-bit
/// loads and stores. False on processors without CPUID leaf 1 and on non-x86
/// architectures. Any thread may call it; it has no state.
bool HasSSE();

}  // namespace vornek::platform
