// SPDX-License-Identifier: BSD-3-Clause
// The console on Windows: the arguments are read as UTF-16, and a console is written
// in UTF-16 too, whatever its code page; redirected output is UTF-8.
#include "platform/win32/windows_api.h"

#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cwctype>

#include "platform/console.h"
#include "platform/text.h"

namespace vornek::platform {

namespace {

char16_t Upper(char16_t c) { return static_cast<char16_t>(std::towupper(static_cast<wint_t>(c))); }

/// Whether `name` matches `pattern` ('*' any run, '?' one character), as Windows
/// compares names: blind to letter case.
bool Matches(std::u16string_view pattern, std::u16string_view name) {
  std::size_t p = 0, n = 0, star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || Upper(pattern[p]) == Upper(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

/// The files a wildcard argument names, sorted, with the folder part it was given;
/// the argument itself when it holds no wildcard or matches no file (the conversion
/// then says what is wrong with it). Windows names can hold neither '*' nor '?', so
/// such an argument is always a pattern, quoted or not; only its last part is one.
std::vector<std::u16string> Expand(const std::u16string& argument) {
  const std::size_t folder_end = argument.find_last_of(u"\\/:") + 1;  // 0 when there is none
  const std::u16string_view pattern = std::u16string_view(argument).substr(folder_end);
  if (pattern.find_first_of(u"*?") == std::u16string_view::npos) return {argument};
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileExW(reinterpret_cast<const wchar_t*>(argument.c_str()), FindExInfoBasic,
                                           &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return {argument};
  std::vector<std::u16string> names;
  do {
    const std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
    // The system also matches the short 8.3 names ("*.wav" finds "x.wave"): the long
    // name is matched again. Folders are left out.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && Matches(pattern, name))
      names.push_back(argument.substr(0, folder_end) + name);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  if (names.empty()) return {argument};
  std::sort(names.begin(), names.end(), [](const std::u16string& a, const std::u16string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char16_t x, char16_t y) { return Upper(x) < Upper(y); });
  });
  return names;
}

}  // namespace

std::vector<std::u16string> CommandLineArguments(int /*argc*/, char** /*argv*/) {
  std::vector<std::u16string> arguments;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  // The console does not expand wildcards; the command does, as Windows programs do.
  for (int i = 1; i < count; ++i)
    for (std::u16string& name : Expand(reinterpret_cast<const char16_t*>(wide[i])))
      arguments.push_back(std::move(name));
  ::LocalFree(wide);
  return arguments;
}

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

void Write(std::FILE* stream, const std::u16string& text) {
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
    std::fflush(stream);  // what the C library holds goes first
    DWORD written = 0;
    ::WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string bytes = WideToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

}  // namespace vornek::platform
