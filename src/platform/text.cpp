// SPDX-License-Identifier: BSD-3-Clause
#include "platform/text.h"

#include <cstdint>

namespace vornek::platform {

namespace {

// A byte that no well-formed UTF-8 sequence holds is carried in UTF-16 as one unpaired
// low surrogate, U+DC80 to U+DCFF, so that names that are bytes survive the trip.
constexpr char16_t kEscapedByteBase = 0xDC00;

bool IsEscapedByte(char32_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

std::string FromWide(const std::u16string& text, bool escaped_bytes) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (escaped_bytes && IsEscapedByte(c)) {
      out += static_cast<char>(c - kEscapedByteBase);
      continue;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string ToWide(const std::string& text, bool escaped_bytes) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  while (i < n) {
    std::uint8_t b = byte(i);
    char32_t c;
    std::size_t len;
    if (b < 0x80) {
      c = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1Fu;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0Fu;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07u;
      len = 4;
    } else {
      out += escaped_bytes ? static_cast<char16_t>(kEscapedByteBase + b) : u'\uFFFD';
      ++i;
      continue;
    }
    bool ok = i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80)
        ok = false;
      else
        c = (c << 6) | (byte(i + k) & 0x3Fu);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out += escaped_bytes ? static_cast<char16_t>(kEscapedByteBase + b) : u'\uFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

}  // namespace

std::string WideToUtf8(const std::u16string& text) { return FromWide(text, false); }
std::u16string Utf8ToWide(const std::string& text) { return ToWide(text, false); }
std::u16string BytesToWide(const std::string& bytes) { return ToWide(bytes, true); }
std::string WideToBytes(const std::u16string& text) { return FromWide(text, true); }

}  // namespace vornek::platform
