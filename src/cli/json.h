// SPDX-License-Identifier: BSD-3-Clause
// One line of JSON for each input, for scripts (--json).
//
// Text is UTF-8. A file name on POSIX is bytes: a byte that is not part of UTF-8
// arrives here as the unpaired surrogate U+DC00 + byte (platform::BytesToWide) and is
// written as the escape "\udcXX", the convention that lets a reader get the very bytes
// back (Python: os.fsencode of the decoded string).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vornek::cli {

/// `text` as a JSON string, quotes included.
std::string JsonString(const std::u16string& text);

/// An object built member by member, in the order they are added.
class JsonObject {
 public:
  JsonObject& Add(std::string_view key, const std::u16string& text);
  JsonObject& Add(std::string_view key, std::int64_t number);
  /// A number of seconds, to the millisecond.
  JsonObject& AddSeconds(std::string_view key, double seconds);
  JsonObject& AddNull(std::string_view key);
  JsonObject& Add(std::string_view key, const std::vector<std::u16string>& texts);
  /// The object on one line, without its line break.
  std::string Text() const { return "{" + members_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string members_;
};

}  // namespace vornek::cli
