// SPDX-License-Identifier: BSD-3-Clause
// vornek: converts WAV files to FLAC files through the library's own conversion, with
// the habits of flac's users: nothing is replaced without -f, -V verifies, -o and
// --output-prefix name the output, --json speaks to scripts.
//
// Names are kept in UTF-16 from the command line to the conversion, so that on POSIX
// they stay the bytes the user gave and on Windows any name converts, also one the
// narrow code page cannot spell.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/json.h"
#include "cli/options.h"
#include "entry/conversion_window.h"
#include "entry/output_name.h"
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

/// The exit status of the interrupt that stopped the run (0: none came).
std::atomic<int> interrupted{0};

void Say(std::FILE* stream, const std::u16string& text) { vornek::platform::Write(stream, text); }

/// A text of the library (narrow text in the system's code page) as UTF-16.
std::u16string FromLibrary(const std::string& text) { return vornek::platform::AnsiToWide(text); }

std::u16string Number(std::int64_t value) { return Utf8ToWide(std::to_string(value)); }

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

/// The last part of a path: what follows its last folder or drive separator.
std::u16string BaseName(const std::u16string& path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i)
    for (const char* d = vornek::platform::PathDelimiters(); *d != '\0'; ++d)
      if (path[i] == static_cast<char16_t>(*d)) start = i + 1;
  return path.substr(start);
}

/// The line of progress redrawn in place on a terminal, and cleared before anything
/// else is printed.
class ProgressLine {
 public:
  explicit ProgressLine(bool shown) : shown_(shown) {}
  ~ProgressLine() { Clear(); }

  void Show(const std::u16string& name, std::int32_t percent) {
    if (!shown_ || percent < 0) return;
    std::u16string line = u"\r" + name + u": " + Number(percent) + u"%";
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

/// What became of one input.
struct Outcome {
  enum class Status { kOk, kFailed, kSkipped };
  Status status = Status::kFailed;
  std::vector<std::u16string> failures;  ///< why it failed or was skipped
  std::vector<std::u16string> warnings;  ///< whole lines after "warning: "
  vornek::TConversionReport report;
  std::int64_t input_bytes = 0;
  std::int64_t output_bytes = 0;
  double seconds = 0;
};

class Command {
 public:
  explicit Command(vornek::cli::Options options)
      : options_(std::move(options)), progress_(vornek::platform::IsTerminal(stderr) && !Silent()) {}

  /// Converts every input, one after the other; returns the exit status.
  int Run() {
    bool all_converted = true;
    for (const std::u16string& input : options_.files) {
      if (interrupted) break;
      const std::u16string output = OutputName(input);
      const Outcome outcome = ConvertOne(input, output);
      if (interrupted) break;  // what was stopped is said once, below
      Report(input, output, outcome);
      all_converted = all_converted && outcome.status == Outcome::Status::kOk;
    }
    return all_converted ? kStatusOk : kStatusFailed;
  }

 private:
  bool Silent() const { return options_.quiet || options_.json; }

  std::u16string OutputName(const std::u16string& input) const {
    if (!options_.output.empty()) return options_.prefix + options_.output;
    const std::u16string beside = vornek::FlacFileName(input);
    return options_.prefix.empty() ? beside : options_.prefix + BaseName(beside);
  }

  Outcome ConvertOne(const std::u16string& input, const std::u16string& output) {
    Outcome outcome;
    // An output this run has written is never replaced, -f or not: two inputs that
    // name one FLAC (x.wav and x.w64) would otherwise leave only the second. Any other
    // file at the name is replaced only with -f. (The conversion checks that again, and
    // once more as it puts the new file in place, so a file put there meanwhile stays.)
    // A folder at the name, or the input itself, is the conversion's to refuse.
    namespace platform = vornek::platform;
    if (platform::Exists(output) && !platform::IsFolder(output) && !platform::SameFile(input, output)) {
      outcome.status = Outcome::Status::kSkipped;
      for (const auto& [written, from] : written_) {
        if (!platform::SameFile(output, written)) continue;
        outcome.failures.push_back(u"would replace " + output + u" written from " + from + u" in this run");
        return outcome;
      }
      if (!options_.force) {
        outcome.failures.push_back(output + u" exists (use -f to replace it)");
        return outcome;
      }
      outcome.status = Outcome::Status::kFailed;
    }

    std::vector<std::string> failures, warnings;
    std::int64_t frames_short = 0;
    const auto started = std::chrono::steady_clock::now();
    vornek::platform::SetMessageSink([&](const std::string& text) { failures.push_back(text); });
    vornek::WatchConversions({[&](std::int32_t percent) { progress_.Show(input, percent); },
                              [&](std::int64_t frames) { frames_short = frames; },
                              [&](const std::string& text) { warnings.push_back(text); },
                              [&](const vornek::TConversionReport& report) { outcome.report = report; }});
    vornek::TConversionOptions conversion;
    conversion.Output = output;
    conversion.Replace = options_.force;
    conversion.Verify = options_.verify;
    vornek::ConvertFile(0, input, conversion);
    vornek::WatchConversions({});
    vornek::platform::SetMessageSink(nullptr);
    progress_.Clear();
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    for (const std::string& text : failures) outcome.failures.push_back(FromLibrary(text));
    if (frames_short > 0)
      outcome.warnings.push_back(input + u" ends " + Number(frames_short) + u" frames early; converted what is there");
    for (const std::string& text : warnings) outcome.warnings.push_back(FromLibrary(text));
    if (!outcome.failures.empty()) return outcome;
    outcome.status = Outcome::Status::kOk;
    written_.emplace_back(output, input);
    outcome.input_bytes = FileSize(input);
    outcome.output_bytes = FileSize(output);
    // The verified FLAC stands at its name: only now may the input go.
    if (options_.delete_input && !vornek::platform::DeleteFileByName(input)) {
      outcome.status = Outcome::Status::kFailed;
      outcome.failures.push_back(u"the FLAC is written, but the input could not be deleted");
    }
    return outcome;
  }

  void Report(const std::u16string& input, const std::u16string& output, const Outcome& outcome) {
    for (const std::u16string& text : outcome.failures) Say(stderr, u"vornek: " + input + u": " + text + u"\n");
    for (const std::u16string& text : outcome.warnings) Say(stderr, u"warning: " + text + u"\n");
    if (options_.json) {
      vornek::cli::JsonObject json;
      json.Add("input", input).Add("output", output);
      json.Add("status", outcome.status == Outcome::Status::kOk        ? u"ok"
                         : outcome.status == Outcome::Status::kSkipped ? u"skipped"
                                                                       : u"failed");
      if (outcome.failures.empty())
        json.AddNull("failure");
      else
        json.Add("failure", outcome.failures.front());
      json.Add("frames", outcome.report.Frames)
          .Add("sample_rate", std::int64_t{outcome.report.SampleRate})
          .Add("channels", std::int64_t{outcome.report.Channels})
          .Add("bits", std::int64_t{outcome.report.BitsPerSample})
          .Add("input_bytes", outcome.input_bytes)
          .Add("output_bytes", outcome.output_bytes)
          .AddSeconds("seconds", outcome.seconds)
          .Add("warnings", outcome.warnings);
      std::fputs((json.Text() + "\n").c_str(), stdout);
      std::fflush(stdout);
      return;
    }
    if (options_.quiet || outcome.status != Outcome::Status::kOk) return;
    const long percent = outcome.input_bytes > 0 ? std::lround(static_cast<double>(outcome.output_bytes) * 100.0 /
                                                               static_cast<double>(outcome.input_bytes))
                                                 : 0;
    Say(stdout, input + u" -> " + output + u"  (" + HumanSize(outcome.input_bytes) + u" -> " +
                    HumanSize(outcome.output_bytes) + u", " + Number(percent) + u"%" +
                    (options_.verify ? u", verified" : u"") + u")\n");
    std::fflush(stdout);
  }

  vornek::cli::Options options_;
  ProgressLine progress_;
  /// The outputs this run has written, and the input of each.
  std::vector<std::pair<std::u16string, std::u16string>> written_;
};

}  // namespace

int main(int argc, char** argv) {
  // Started with standard streams closed (cron, a daemon), the command gives them
  // somewhere harmless to go, so that no file it opens is taken for one.
  vornek::platform::GuardStandardStreams();
  std::u16string error;
  const std::optional<vornek::cli::Options> options =
      vornek::cli::Parse(vornek::platform::CommandLineArguments(argc, argv), error);
  if (!options) {
    Say(stderr, u"vornek: " + error + u"\n");
    std::fputs(vornek::cli::kUsage, stderr);
    return kStatusUsage;
  }
  if (options->action == vornek::cli::Options::Action::kHelp) {
    std::fputs(vornek::cli::kUsage, stdout);
    return kStatusOk;
  }
  if (options->action == vornek::cli::Options::Action::kVersion) {
    std::printf("vornek %s\n", VORNEK_VERSION);
    return kStatusOk;
  }

  // A reader of the output that goes away (`vornek *.wav | head -1`) must not end the
  // conversions: what cannot be printed is simply not printed; and a file past the
  // size limit (ulimit -f) fails as a write that is too large, not as a killed program.
  vornek::platform::IgnoreWriteSignals();
  vornek::platform::SetInterruptHandler([](int status) {
    interrupted = status;
    vornek::platform::PostCloseToModalWindow();
  });
  const int status = Command(*options).Run();
  // No interrupt handler may post to the library while the program shuts down.
  vornek::platform::SetInterruptHandler(nullptr);
  if (const int signal_status = interrupted) {
    std::fprintf(stderr, "vornek: interrupted\n");
    return signal_status;
  }
  return status;
}
