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

}  // namespace vornek
