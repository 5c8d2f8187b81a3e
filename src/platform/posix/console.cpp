// SPDX-License-Identifier: BSD-3-Clause
// The console on POSIX: arguments and names are bytes, written back as they came.
#include <unistd.h>

#include "platform/console.h"
#include "platform/text.h"

namespace vornek::platform {

std::vector<std::u16string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(BytesToWide(argv[i]));
  return arguments;
}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

void Write(std::FILE* stream, const std::u16string& text) {
  const std::string bytes = WideToBytes(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

}  // namespace vornek::platform
