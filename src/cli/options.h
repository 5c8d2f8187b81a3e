// SPDX-License-Identifier: BSD-3-Clause
// The vornek command's options, spelled as flac spells them where flac has one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vornek::cli {

struct Options {
  enum class Action { kConvert, kHelp, kVersion };
  Action action = Action::kConvert;

  bool force = false;         ///< -f: replace a file at the output name
  bool verify = false;        ///< -V: decode every frame again and compare (also --delete-input-file)
  bool delete_input = false;  ///< --delete-input-file: once the verified FLAC stands at its name
  bool quiet = false;         ///< -q, -s: nothing but failures and warnings
  bool json = false;          ///< --json: one JSON object per input on standard output
  std::u16string output;      ///< -o FILE: the one input's FLAC name
  std::u16string prefix;      ///< --output-prefix=P: put before each output's name
  unsigned jobs = 0;          ///< -j N: conversions at once (0: the processors)
  std::vector<std::u16string> files;
};

/// Reads the arguments. A usage error (an unknown option, a missing or bad value, -o
/// with more than one input, no input) returns nothing and puts its text in `error`.
/// Options and files may mix; "--" ends the options; "-" alone is a file name.
std::optional<Options> Parse(const std::vector<std::u16string>& arguments, std::u16string& error);

/// The command's help: the options and what they do.
extern const char kUsage[];

}  // namespace vornek::cli
