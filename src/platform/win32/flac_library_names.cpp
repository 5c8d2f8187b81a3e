// SPDX-License-Identifier: BSD-3-Clause
#include "platform/flac_library_names.h"

namespace vornek::platform {

std::vector<std::string> FlacLibraryNames() { return {"libFLAC.dll"}; }

// The DLL keeps the one text its hosts have always shown.
bool FlacLoadEntryIsNamed() { return false; }

}  // namespace vornek::platform
