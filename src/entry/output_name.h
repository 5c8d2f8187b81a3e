// SPDX-License-Identifier: BSD-3-Clause
// The name of the FLAC file written for a WAV file.
#pragma once

#include <string>

namespace vornek {

/// `source` with its extension replaced by ".flac". The extension is the text from the
/// last "." that stands after the last of `delimiters` (the folder and drive
/// separators); without such a dot, ".flac" is appended, so a dot in a folder name is
/// never taken for the extension. `is_lead_byte` tells the lead bytes of double-byte
/// characters: their trail byte is never taken for a delimiter or a dot.
std::string FlacFileName(const std::string& source, const char* delimiters,
                         bool (*is_lead_byte)(unsigned char));

/// The same with the platform's delimiters and code page.
std::string FlacFileName(const std::string& source);
/// The same for a UTF-16 name, with the platform's delimiters.
std::u16string FlacFileName(const std::u16string& source);

}  // namespace vornek
