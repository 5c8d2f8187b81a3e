// SPDX-License-Identifier: BSD-3-Clause
// What the command needs of the console: its arguments as the user typed them, whether
// a stream is a terminal, and text written so that any file name reads right.
//
// Names travel as UTF-16 inside the command. On POSIX an argument is bytes and comes in
// through BytesToWide, so it goes out again as the very same bytes; on Windows the
// arguments are read as UTF-16, so a name the narrow code page cannot spell still names
// its file.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace vornek::platform {

/// The program's arguments after its own name, in UTF-16. On Windows, whose console
/// leaves wildcards to the program, an argument whose last part holds '*' or '?' is
/// replaced by the files it matches, sorted (left as it is when it matches none).
std::vector<std::u16string> CommandLineArguments(int argc, char** argv);

/// Whether `stream` is a terminal (a console on Windows), where text may be redrawn.
bool IsTerminal(std::FILE* stream);

/// Writes `text` to `stream`: to a console as characters, elsewhere as the bytes of the
/// name on POSIX and as UTF-8 on Windows.
void Write(std::FILE* stream, const std::u16string& text);

}  // namespace vornek::platform
