// SPDX-License-Identifier: BSD-3-Clause
#include "cli/json.h"

#include <cstdio>

namespace vornek::cli {

namespace {

void Escape(std::string& out, unsigned code_unit) {
  char text[8];
  std::snprintf(text, sizeof text, "\\u%04x", code_unit);
  out += text;
}

void PutUtf8(std::string& out, char32_t c) {
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

}  // namespace

std::string JsonString(const std::u16string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'"' || c == u'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == u'\n') {
      out += "\\n";
    } else if (c == u'\t') {
      out += "\\t";
    } else if (c == u'\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      Escape(out, c);
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      PutUtf8(out, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      Escape(out, c);  // unpaired: a byte of a name that is not UTF-8
    } else {
      PutUtf8(out, c);
    }
  }
  return out + "\"";
}

void JsonObject::Key(std::string_view key) {
  if (!members_.empty()) members_ += ", ";
  members_ += '"';
  members_ += key;
  members_ += "\": ";
}

JsonObject& JsonObject::Add(std::string_view key, const std::u16string& text) {
  Key(key);
  members_ += JsonString(text);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::int64_t number) {
  Key(key);
  members_ += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::AddSeconds(std::string_view key, double seconds) {
  Key(key);
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  members_ += text;
  return *this;
}

JsonObject& JsonObject::AddNull(std::string_view key) {
  Key(key);
  members_ += "null";
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, const std::vector<std::u16string>& texts) {
  Key(key);
  members_ += '[';
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) members_ += ", ";
    members_ += JsonString(texts[i]);
  }
  members_ += ']';
  return *this;
}

}  // namespace vornek::cli
