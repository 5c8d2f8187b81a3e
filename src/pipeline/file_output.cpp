#include "pipeline/file_output.h"

#include "platform/text.h"

namespace vornek {

void TAuFileOut::SetFileName(const std::string& name) {
  WideFileName = platform::AnsiToWide(name);
  FileName = name;
}

}  // namespace vornek
