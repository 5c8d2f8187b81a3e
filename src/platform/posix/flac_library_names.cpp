// SPDX-License-Identifier: BSD-3-Clause
#include "platform/flac_library_names.h"

namespace vornek::platform {

// The installed sonames, newest interface first; the bare name last, for systems
// that carry only the development link.
std::vector<std::string> FlacLibraryNames() {
  return {"libFLAC.so.14", "libFLAC.so.12", "libFLAC.so.8", "libFLAC.so"};
}

bool FlacLoadEntryIsNamed() { return true; }

}  // namespace vornek::platform
