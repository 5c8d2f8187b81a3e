// SPDX-License-Identifier: BSD-3-Clause
// The file names under which the FLAC library is looked for on this platform.
#pragma once

#include <string>
#include <vector>

namespace vornek::platform {

/// The names to try, in order; the first that loads is used.
std::vector<std::string> FlacLibraryNames();

/// Whether a library that loads but lacks an entry the writer needs is named with that
/// entry. Where it is not, it reads as a library that could not be loaded.
bool FlacLoadEntryIsNamed();

}  // namespace vornek::platform
