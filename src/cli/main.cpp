// SPDX-License-Identifier: BSD-3-Clause
// vornek: converts WAV files to FLAC files through the library's own conversion, with
// the habits of flac's users: nothing is replaced without -f, -V verifies, -o and
// --output-prefix name the output, --json speaks to scripts.
//
// Names are kept in UTF-16 from the command line to the conversion, so that on POSIX
// they stay the bytes the user gave and on Windows any name converts, also one the
// narrow code page cannot spell.
#include <algorithm>
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
#include "platform/cpu.h"
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

/// The line of progress redrawn in place on a terminal ("a.wav: 45%  b.wav: 12%"),
/// and cleared before anything else is printed.
class ProgressLine {
 public:
  explicit ProgressLine(bool shown) : shown_(shown) {}
  ~ProgressLine() { Clear(); }

  /// Sets the percentage of one of the conversions shown (added when new).
  void Set(std::size_t job, const std::u16string& name, std::int32_t percent) {
    if (!shown_ || percent < 0) return;
    for (Entry& entry : entries_) {
      if (entry.job != job) continue;
      entry.percent = percent;
      Draw();
      return;
    }
    // In the inputs' order, whichever started first.
    const auto at = std::find_if(entries_.begin(), entries_.end(), [job](const Entry& entry) { return entry.job > job; });
    entries_.insert(at, {job, name, percent});
    Draw();
  }

  /// Takes a conversion off the line.
  void Remove(std::size_t job) {
    std::erase_if(entries_, [job](const Entry& entry) { return entry.job == job; });
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
  struct Entry {
    std::size_t job;
    std::u16string name;
    std::int32_t percent;
  };

  void Draw() {
    std::u16string line = u"\r";
    for (const Entry& entry : entries_) {
      if (line.size() > 1) line += u"  ";
      line += entry.name + u": " + Number(entry.percent) + u"%";
    }
    const std::size_t width = line.size() - 1;
    if (width < width_) line += std::u16string(width_ - width, u' ');
    width_ = width;
    Say(stderr, line);
    std::fflush(stderr);
  }

  bool shown_;
  std::vector<Entry> entries_;
  std::size_t width_ = 0;  ///< of the line on screen, 0 when there is none
};

/// What became of one input.
struct Outcome {
  enum class Status { kPending, kOk, kFailed, kSkipped };
  Status status = Status::kPending;
  std::vector<std::u16string> failures;  ///< why it failed or was skipped
  std::vector<std::u16string> warnings;  ///< whole lines after "warning: "
  vornek::TConversionReport report;
  std::int64_t frames_short = 0;
  std::int64_t input_bytes = 0;
  std::int64_t output_bytes = 0;
  double seconds = 0;
  std::chrono::steady_clock::time_point started;
};

class Command {
 public:
  explicit Command(vornek::cli::Options options)
      : options_(std::move(options)),
        outcomes_(options_.files.size()),
        progress_(vornek::platform::IsTerminal(stderr) && !Silent()) {
    for (const std::u16string& input : options_.files) outputs_.push_back(OutputName(input));
  }

  /// Converts every input, several at once, and says what became of each in the
  /// inputs' order; returns the exit status.
  int Run() {
    const unsigned at_once = options_.jobs != 0 ? options_.jobs : vornek::platform::ProcessorCount();
    // Inputs that name one output (x.wav and x.w64) never run side by side: a later one
    // waits for a round of its own, when the earlier one's FLAC stands and it is refused.
    std::vector<std::size_t> waiting(options_.files.size());
    for (std::size_t i = 0; i < waiting.size(); ++i) waiting[i] = i;
    while (!waiting.empty() && !interrupted) {
      std::vector<std::size_t> round, later;
      std::vector<std::u16string> names;
      for (const std::size_t i : waiting) {
        const std::u16string key = NameKey(outputs_[i]);
        (std::find(names.begin(), names.end(), key) == names.end() ? round : later).push_back(i);
        names.push_back(key);
      }
      RunRound(round, at_once);
      waiting = std::move(later);
    }
    progress_.Clear();
    bool all_converted = true;
    for (const Outcome& outcome : outcomes_) all_converted = all_converted && outcome.status == Outcome::Status::kOk;
    return all_converted ? kStatusOk : kStatusFailed;
  }

 private:
  bool Silent() const { return options_.quiet || options_.json; }

  std::u16string OutputName(const std::u16string& input) const {
    if (!options_.output.empty()) return options_.prefix + options_.output;
    const std::u16string beside = vornek::FlacFileName(input);
    return options_.prefix.empty() ? beside : options_.prefix + BaseName(beside);
  }

  /// The spelling of an output name that two inputs of this run share when they would
  /// write one file: "./" parts and doubled separators aside (and letter case on
  /// Windows, whose names ignore it).
  static std::u16string NameKey(const std::u16string& name) {
    std::u16string key;
    const char* delimiters = vornek::platform::PathDelimiters();
    const auto separator = [&](char16_t c) {
      for (const char* d = delimiters; *d != '\0'; ++d)
        if (c == static_cast<char16_t>(*d) && *d != ':') return true;
      return false;
    };
    for (std::size_t i = 0; i < name.size(); ++i) {
      const bool at_part = key.empty() || separator(key.back());
      if (at_part && name[i] == u'.' && i + 1 < name.size() && separator(name[i + 1])) {
        ++i;  // "./"
        continue;
      }
      if (separator(name[i]) && !key.empty() && separator(key.back())) continue;
      char16_t c = name[i];
      if (separator(c)) c = u'/';
      if (delimiters[1] != '\0' && c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);  // Windows
      key += c;
    }
    return key;
  }

  /// Converts the inputs of `round` (indices into the inputs), at most `at_once` at a
  /// time; each is said as soon as it and every input before it is over.
  void RunRound(const std::vector<std::size_t>& round, unsigned at_once) {
    std::vector<vornek::TConversionJob> jobs;
    std::vector<std::size_t> job_inputs;
    for (const std::size_t i : round) {
      if (Refused(i)) continue;
      vornek::TConversionJob job;
      job.Input = options_.files[i];
      job.Options.Output = outputs_[i];
      job.Options.Replace = options_.force;
      job.Options.Verify = options_.verify;
      Outcome& outcome = outcomes_[i];
      job.Watch.OnProgress = [this, i](std::int32_t percent) { progress_.Set(i, options_.files[i], percent); };
      job.Watch.OnEndedEarly = [&outcome](std::int64_t frames) { outcome.frames_short = frames; };
      job.Watch.OnWarning = [&outcome](const std::string& text) { outcome.warnings.push_back(FromLibrary(text)); };
      job.Watch.OnConverted = [&outcome](const vornek::TConversionReport& report) { outcome.report = report; };
      job.Watch.OnFailed = [&outcome](const std::string& text) { outcome.failures.push_back(FromLibrary(text)); };
      job.Watch.OnEnded = [this, i] { Ended(i); };
      outcome.started = std::chrono::steady_clock::now();
      jobs.push_back(std::move(job));
      job_inputs.push_back(i);
    }
    // A failure of the conversion's own window (not of a file) reaches the message box.
    std::vector<std::string> failures;
    vornek::platform::SetMessageSink([&](const std::string& text) { failures.push_back(text); });
    vornek::ConvertFiles(0, std::move(jobs), at_once);
    vornek::platform::SetMessageSink(nullptr);
    if (interrupted) return;  // what was stopped is said once, by main
    for (const std::size_t i : job_inputs) {
      if (outcomes_[i].status != Outcome::Status::kPending) continue;
      outcomes_[i].status = Outcome::Status::kFailed;
      for (const std::string& text : failures) outcomes_[i].failures.push_back(FromLibrary(text));
    }
    SayWhatIsOver();
  }

  /// Whether input `i` is refused before it is converted: an output this run has
  /// written is never replaced, -f or not, and any other file at the name only with
  /// -f. (The conversion checks that again, and once more as it puts the new file in
  /// place, so a file put there meanwhile stays.) A folder at the name, or the input
  /// itself, is the conversion's to refuse.
  bool Refused(std::size_t i) {
    namespace platform = vornek::platform;
    const std::u16string& input = options_.files[i];
    const std::u16string& output = outputs_[i];
    if (!platform::Exists(output) || platform::IsFolder(output) || platform::SameFile(input, output)) return false;
    Outcome& outcome = outcomes_[i];
    outcome.status = Outcome::Status::kSkipped;
    for (const auto& [written, from] : written_) {
      if (!platform::SameFile(output, written)) continue;
      outcome.failures.push_back(u"would replace " + output + u" written from " + from + u" in this run");
      SayWhatIsOver();
      return true;
    }
    if (options_.force) {
      outcome.status = Outcome::Status::kPending;
      return false;
    }
    outcome.failures.push_back(output + u" exists (use -f to replace it)");
    SayWhatIsOver();
    return true;
  }

  /// Input `i`'s conversion is over (host thread, inside the conversions' loop).
  void Ended(std::size_t i) {
    Outcome& outcome = outcomes_[i];
    progress_.Remove(i);
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - outcome.started).count();
    if (outcome.frames_short > 0)
      outcome.warnings.insert(outcome.warnings.begin(), options_.files[i] + u" ends " +
                                                            Number(outcome.frames_short) +
                                                            u" frames early; converted what is there");
    if (!outcome.failures.empty()) {
      outcome.status = Outcome::Status::kFailed;
    } else {
      outcome.status = Outcome::Status::kOk;
      written_.emplace_back(outputs_[i], options_.files[i]);
      outcome.input_bytes = FileSize(options_.files[i]);
      outcome.output_bytes = FileSize(outputs_[i]);
      // The verified FLAC stands at its name: only now may the input go.
      if (options_.delete_input && !vornek::platform::DeleteFileByName(options_.files[i])) {
        outcome.status = Outcome::Status::kFailed;
        outcome.failures.push_back(u"the FLAC is written, but the input could not be deleted");
      }
    }
    SayWhatIsOver();
  }

  /// Says every outcome from the first not yet said on, up to one still pending.
  void SayWhatIsOver() {
    bool cleared = false;
    for (; said_ < outcomes_.size() && outcomes_[said_].status != Outcome::Status::kPending; ++said_) {
      if (!cleared) progress_.Clear();
      cleared = true;
      Say(said_);
    }
  }

  void Say(std::size_t i) {
    const std::u16string& input = options_.files[i];
    const std::u16string& output = outputs_[i];
    const Outcome& outcome = outcomes_[i];
    for (const std::u16string& text : outcome.failures) ::Say(stderr, u"vornek: " + input + u": " + text + u"\n");
    for (const std::u16string& text : outcome.warnings) ::Say(stderr, u"warning: " + text + u"\n");
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
    ::Say(stdout, input + u" -> " + output + u"  (" + HumanSize(outcome.input_bytes) + u" -> " +
                      HumanSize(outcome.output_bytes) + u", " + Number(percent) + u"%" +
                      (options_.verify ? u", verified" : u"") + u")\n");
    std::fflush(stdout);
  }

  vornek::cli::Options options_;
  std::vector<std::u16string> outputs_;  ///< the output name of each input
  std::vector<Outcome> outcomes_;        ///< what became of each input
  std::size_t said_ = 0;                 ///< outcomes said so far, in the inputs' order
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
