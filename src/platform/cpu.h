// SPDX-License-Identifier: BSD-3-Clause
// Processor identification: how many processors the process may run on.
#pragma once

#include <cstdint>

namespace vornek::platform {

/// The number of processors this process may run on (its affinity, where the system
/// has one), at least 1. Any thread.
std::uint32_t ProcessorCount();

}  // namespace vornek::platform
