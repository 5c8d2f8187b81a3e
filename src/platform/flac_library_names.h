// The file names under which the FLAC library is looked for on this platform.
#pragma once

#include <string>
#include <vector>

namespace vornek::platform {

/// The names to try, in order; the first that loads is used.
std::vector<std::string> FlacLibraryNames();

/// Whether a failure to load the library names every name tried and, for a library
/// that loads but lacks an entry, that entry. Where it does not, every such failure
/// reads as the one name that could not be loaded.
bool FlacLoadFailureNamesDetails();

}  // namespace vornek::platform
