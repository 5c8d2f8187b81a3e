// vornek: converts WAV files to FLAC files, one after the other, through the library's
// exported call, writing each FLAC beside its input.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "entry/output_name.h"
#include "entry/vornek.h"
#include "platform/file.h"
#include "platform/interrupt.h"
#include "platform/text.h"
#include "platform/window.h"

namespace {

constexpr int kStatusOk = 0;
constexpr int kStatusFailed = 1;
constexpr int kStatusUsage = 2;

const char kUsage[] =
    "Usage: vornek [options] FILE.wav...\n"
    "Converts each WAV file into a FLAC file beside it (FILE.flac), one after the other.\n"
    "\n"
    "Options:\n"
    "  -q, --quiet    print nothing but failures\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "Reads PCM (8, 16, 24, 32 bits), IEEE float, extensible, IMA and Microsoft ADPCM,\n"
    "and MPEG Layer 3 data inside WAV files. An existing FLAC file of the same name is\n"
    "replaced. Exit status: 0 when every file converted, 1 when any failed, 2 for a\n"
    "usage error, 130 when interrupted (143 terminated, 129 hung up); a file whose\n"
    "conversion fails or is interrupted leaves no FLAC file.\n";

/// The exit status of the interrupt that stopped the run (0: none came).
std::atomic<int> interrupted{0};

std::string HumanSize(std::uintmax_t bytes) {
  const char* units[] = {"B", "KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 1000.0 && unit + 1 < std::size(units)) {
    value /= 1000.0;
    ++unit;
  }
  char text[32];
  if (unit == 0)
    std::snprintf(text, sizeof text, "%ju B", bytes);
  else
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

std::uintmax_t FileSize(const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

/// Converts one file; returns whether it converted. Failure texts go to standard
/// error as "vornek: FILE: TEXT".
bool ConvertOne(const std::string& path, bool quiet) {
  std::vector<std::string> failures;
  vornek::platform::SetMessageSink([&](const std::string& text) { failures.push_back(text); });
  vnkconv(nullptr, path.c_str());
  vornek::platform::SetMessageSink(nullptr);

  // A conversion stopped part-way leaves nothing at the FLAC name: the library removes
  // the file it was writing.
  if (interrupted) return false;
  const std::string output = vornek::FlacFileName(path);
  for (const std::string& text : failures)
    std::fprintf(stderr, "vornek: %s: %s\n", path.c_str(), text.c_str());
  if (!failures.empty()) return false;
  if (!quiet) {
    const std::uintmax_t in = FileSize(path);
    const std::uintmax_t out = FileSize(output);
    const long percent =
        in > 0 ? std::lround(static_cast<double>(out) * 100.0 / static_cast<double>(in)) : 0;
    std::printf("%s -> %s  (%s -> %s, %ld%%)\n", path.c_str(), output.c_str(),
                HumanSize(in).c_str(), HumanSize(out).c_str(), percent);
    std::fflush(stdout);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool quiet = false;
  bool options_ended = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_ended && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--") {
        options_ended = true;
      } else if (arg == "-q" || arg == "--quiet") {
        quiet = true;
      } else if (arg == "-h" || arg == "--help") {
        std::fputs(kUsage, stdout);
        return kStatusOk;
      } else if (arg == "-V" || arg == "--version") {
        std::printf("vornek %s\n", VORNEK_VERSION);
        return kStatusOk;
      } else {
        std::fprintf(stderr, "vornek: unknown option '%s'\n%s", arg.c_str(), kUsage);
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
  // conversions: what cannot be printed is simply not printed.
  vornek::platform::IgnoreClosedPipes();
  vornek::platform::SetInterruptHandler([](int status) {
    interrupted = status;
    vornek::platform::PostCloseToModalWindow();
  });

  bool all_converted = true;
  for (const std::string& file : files) {
    if (interrupted) break;
    all_converted = ConvertOne(file, quiet) && all_converted;
  }
  // No interrupt handler may post to the library while the program shuts down.
  vornek::platform::SetInterruptHandler(nullptr);
  if (const int status = interrupted) {
    std::fprintf(stderr, "vornek: interrupted\n");
    return status;
  }
  return all_converted ? kStatusOk : kStatusFailed;
}
