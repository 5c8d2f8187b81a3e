// SPDX-License-Identifier: BSD-3-Clause
#include "entry/output_name.h"

#include <cstring>

#include "platform/text.h"

namespace vornek {

std::string FlacFileName(const std::string& source, const char* delimiters,
                         bool (*is_lead_byte)(unsigned char)) {
  std::size_t dot = std::string::npos;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const auto c = static_cast<unsigned char>(source[i]);
    if (is_lead_byte(c)) {
      ++i;  // skip the trail byte
    } else if (c != 0 && std::strchr(delimiters, c) != nullptr) {
      dot = std::string::npos;
    } else if (c == '.') {
      dot = i;
    }
  }
  return (dot == std::string::npos ? source : source.substr(0, dot)) + ".flac";
}

std::string FlacFileName(const std::string& source) {
  return FlacFileName(source, platform::PathDelimiters(), platform::IsLeadByte);
}

std::u16string FlacFileName(const std::u16string& source) {
  std::size_t dot = std::u16string::npos;
  const char* delimiters = platform::PathDelimiters();
  for (std::size_t i = 0; i < source.size(); ++i) {
    const char16_t c = source[i];
    if (c != 0 && c < 0x80 && std::strchr(delimiters, static_cast<char>(c)) != nullptr) {
      dot = std::u16string::npos;
    } else if (c == u'.') {
      dot = i;
    }
  }
  return (dot == std::u16string::npos ? source : source.substr(0, dot)) + u".flac";
}

}  // namespace vornek
