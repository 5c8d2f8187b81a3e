// The file names under which the FLAC library is looked for on this platform.
#pragma once

#include <string>
#include <vector>

namespace vornek::platform {

/// The names to try, in order; the first that loads is used.
std::vector<std::string> FlacLibraryNames();

}  // namespace vornek::platform
