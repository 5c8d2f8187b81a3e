// SPDX-License-Identifier: BSD-3-Clause
// vornek: converts WAV files to FLAC files, one after the other, through the library's
// own conversion, writing each FLAC beside its input.
//
// Names are kept in UTF-16 from the command line to the conversion, so that on POSIX
// they stay the bytes the user gave and on Windows any name converts, also one the
// narrow code page cannot spell.
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "entry/output_name.h"
#include "entry/conversion_window.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/interrupt.h"
#include "platform/text.h"
#include "platform/window.h"

namespace {

using vornek::platform::Utf8ToWide;

constexpr int kStatusOk = 0;
constexpr int kStatusFailed = 1;
constexpr int kStatusUsage = 2;

const char kUsage[] =
    "Usage: vornek [options] FILE.wav...\n"
    "Converts each WAV file into a FLAC file beside it (FILE.flac), one after the other.\n"
    "\n"
    "Options:\n"
    "  -q, --quiet    print nothing but failures and warnings\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "Reads PCM (8, 16, 24, 32 bits), IEEE float, extensible, IMA and Microsoft ADPCM,\n"
    "A-law, mu-law and MPEG Layer 3 data, in RIFF, RF64, BW64 and Wave64 files (past\n"
    "4 GB too). An existing FLAC file of the same name is replaced. Exit status: 0 when\n"
    "every file converted, 1 when any failed, 2 for a usage error, 130 when interrupted\n"
    "(143 terminated, 129 hung up); a file whose conversion fails or is interrupted\n"
    "leaves no FLAC file.\n";

/// The exit status of the interrupt that stopped the run (0: none came).
std::atomic<int> interrupted{0};

void Say(std::FILE* stream, const std::u16string& text) { vornek::platform::Write(stream, text); }

/// A message of the library (narrow text in the system's code page) as UTF-16.
std::u16string FromLibrary(const std::string& text) { return vornek::platform::AnsiToWide(text); }

std::u16string HumanSize(std::int64_t bytes) {
  const char* units[] = {"B", "KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 1000.0 && unit + 1 < std::size(units)) {
    value /= 1000.0;
    ++unit;
  }
  char text[32];
  if (unit == 0)
    std::snprintf(text, sizeof text, "%lld B", static_cast<long long>(bytes));
  else
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return Utf8ToWide(text);
}

std::int64_t FileSize(const std::u16string& name) {
  std::string error;
  const vornek::platform::File file =
      vornek::platform::File::Open(name, vornek::platform::kModeReadShareRead, error);
  return file ? std::max<std::int64_t>(file.Size(error), 0) : 0;
}

/// The line of progress redrawn in place on a terminal, and cleared before anything
/// else is printed.
class ProgressLine {
 public:
  explicit ProgressLine(bool shown) : shown_(shown) {}
  ~ProgressLine() { Clear(); }

  void Show(const std::u16string& name, std::int32_t percent) {
    if (!shown_ || percent < 0) return;
    std::u16string line = u"\r" + name + u": " + Utf8ToWide(std::to_string(percent)) + u"%";
    const std::size_t width = line.size() - 1;
    if (width < width_) line += std::u16string(width_ - width, u' ');
    width_ = width;
    Say(stderr, line);
    std::fflush(stderr);
  }

  void Clear() {
    if (width_ == 0) return;
    std::u16string blank(width_ + 2, u' ');
    blank.front() = blank.back() = u'\r';
    Say(stderr, blank);
    std::fflush(stderr);
    width_ = 0;
  }

 private:
  bool shown_;
  std::size_t width_ = 0;  ///< of the line on screen, 0 when there is none
};

/// Converts one file; returns whether it converted. Failure texts go to standard
/// error as "vornek: FILE: TEXT".
bool ConvertOne(const std::u16string& path, bool quiet, bool show_progress) {
  std::vector<std::string> failures;
  std::int64_t frames_short = 0;
  ProgressLine progress(show_progress && !quiet);
  vornek::platform::SetMessageSink([&](const std::string& text) { failures.push_back(text); });
  std::vector<std::string> warnings;
  vornek::WatchConversions({[&](std::int32_t percent) { progress.Show(path, percent); },
                            [&](std::int64_t frames) { frames_short = frames; },
                            [&](const std::string& text) { warnings.push_back(text); }});
  vornek::ConvertFile(0, path);
  vornek::WatchConversions({});
  vornek::platform::SetMessageSink(nullptr);
  progress.Clear();

  // A conversion stopped part-way leaves nothing at the FLAC name: the library removes
  // the file it was writing.
  if (interrupted) return false;
  for (const std::string& text : failures) Say(stderr, u"vornek: " + path + u": " + FromLibrary(text) + u"\n");
  if (!failures.empty()) return false;
  if (frames_short > 0) {
    Say(stderr, u"warning: " + path + u" ends " + Utf8ToWide(std::to_string(frames_short)) +
                    u" frames early; converted what is there\n");
  }
  for (const std::string& text : warnings) Say(stderr, u"warning: " + FromLibrary(text) + u"\n");
  if (!quiet) {
    const std::u16string output = vornek::FlacFileName(path);
    const std::int64_t in = FileSize(path);
    const std::int64_t out = FileSize(output);
    const long percent =
        in > 0 ? std::lround(static_cast<double>(out) * 100.0 / static_cast<double>(in)) : 0;
    Say(stdout, path + u" -> " + output + u"  (" + HumanSize(in) + u" -> " + HumanSize(out) + u", " +
                    Utf8ToWide(std::to_string(percent)) + u"%)\n");
    std::fflush(stdout);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool quiet = false;
  bool options_ended = false;
  std::vector<std::u16string> files;
  for (const std::u16string& arg : vornek::platform::CommandLineArguments(argc, argv)) {
    if (!options_ended && arg.size() > 1 && arg[0] == u'-') {
      if (arg == u"--") {
        options_ended = true;
      } else if (arg == u"-q" || arg == u"--quiet") {
        quiet = true;
      } else if (arg == u"-h" || arg == u"--help") {
        std::fputs(kUsage, stdout);
        return kStatusOk;
      } else if (arg == u"-V" || arg == u"--version") {
        std::printf("vornek %s\n", VORNEK_VERSION);
        return kStatusOk;
      } else {
        Say(stderr, u"vornek: unknown option '" + arg + u"'\n");
        std::fputs(kUsage, stderr);
        return kStatusUsage;
      }
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    std::fputs(kUsage, stderr);
    return kStatusUsage;
  }

  // A reader of the output that goes away (`vornek *.wav | head -1`) must not end the
  // conversions: what cannot be printed is simply not printed; and a file past the
  // size limit (ulimit -f) fails as a write that is too large, not as a killed program.
  // Started with standard streams closed (cron, a daemon), the command gives them
  // somewhere harmless to go, so that no file it opens is taken for one.
  vornek::platform::GuardStandardStreams();
  vornek::platform::IgnoreWriteSignals();
  vornek::platform::SetInterruptHandler([](int status) {
    interrupted = status;
    vornek::platform::PostCloseToModalWindow();
  });

  const bool show_progress = vornek::platform::IsTerminal(stderr);
  bool all_converted = true;
  for (const std::u16string& file : files) {
    if (interrupted) break;
    all_converted = ConvertOne(file, quiet, show_progress) && all_converted;
  }
  // No interrupt handler may post to the library while the program shuts down.
  vornek::platform::SetInterruptHandler(nullptr);
  if (const int status = interrupted) {
    std::fprintf(stderr, "vornek: interrupted\n");
    return status;
  }
  return all_converted ? kStatusOk : kStatusFailed;
}
