#include "platform/flac_library_names.h"

namespace vornek::platform {

std::vector<std::string> FlacLibraryNames() { return {"libFLAC.dll"}; }

}  // namespace vornek::platform
