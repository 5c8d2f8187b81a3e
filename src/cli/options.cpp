// SPDX-License-Identifier: BSD-3-Clause
#include "cli/options.h"

#include <string_view>

#include "platform/text.h"

namespace vornek::cli {

const char kUsage[] =
    "Usage: vornek [options] FILE.wav...\n"
    "Converts each WAV file into a FLAC file beside it (FILE.flac), several at once.\n"
    "\n"
    "Options:\n"
    "  -f, --force              replace a file that stands at the FLAC name\n"
    "  -V, --verify             decode every frame again as it is encoded and compare\n"
    "                           it with the samples read; a difference fails the file\n"
    "  -o, --output-name=FILE   the FLAC's name (one input only)\n"
    "      --output-prefix=P    put P before each FLAC's name (P = DIR/ for a folder)\n"
    "      --delete-input-file  delete each WAV once its verified FLAC stands at its\n"
    "                           name (implies -V)\n"
    "  -j, --jobs=N             convert N files at once (default: the processors)\n"
    "  -q, --quiet, -s, --silent\n"
    "                           print nothing but failures and warnings\n"
    "      --json               print one JSON object per input on standard output,\n"
    "                           and nothing else there\n"
    "  -h, --help               show this help and exit\n"
    "  -v, --version            show the version and exit\n"
    "\n"
    "Reads PCM (8, 16, 24, 32 bits), IEEE float, extensible, IMA and Microsoft ADPCM,\n"
    "A-law, mu-law and MPEG Layer 3 data, in RIFF, RF64, BW64 and Wave64 files (past\n"
    "4 GB too). A file at the FLAC name is never replaced without -f, nor one written\n"
    "earlier in the same run. Exit status: 0 when every file converted, 1 when any\n"
    "failed or was skipped, 2 for a usage error, 130 when interrupted (143 terminated,\n"
    "129 hung up); a file whose conversion fails or is interrupted leaves nothing at\n"
    "its FLAC name, and whatever stood there stays as it was.\n";

namespace {

enum class Id { kForce, kVerify, kOutput, kPrefix, kDeleteInput, kJobs, kQuiet, kJson, kHelp, kVersion };

struct Spec {
  char16_t short_name;  ///< 0: none
  std::u16string_view long_name;
  Id id;
  bool takes_value;
};

constexpr Spec kSpecs[] = {
    {u'f', u"force", Id::kForce, false},
    {u'V', u"verify", Id::kVerify, false},
    {u'o', u"output-name", Id::kOutput, true},
    {0, u"output-prefix", Id::kPrefix, true},
    {0, u"delete-input-file", Id::kDeleteInput, false},
    {u'j', u"jobs", Id::kJobs, true},
    {u'q', u"quiet", Id::kQuiet, false},
    {u's', u"silent", Id::kQuiet, false},
    {0, u"json", Id::kJson, false},
    {u'h', u"help", Id::kHelp, false},
    {u'v', u"version", Id::kVersion, false},
};

const Spec* ByShort(char16_t name) {
  for (const Spec& spec : kSpecs)
    if (spec.short_name == name) return &spec;
  return nullptr;
}

const Spec* ByLong(std::u16string_view name) {
  for (const Spec& spec : kSpecs)
    if (spec.long_name == name) return &spec;
  return nullptr;
}

/// A whole number from 1 to 256, or nothing.
std::optional<unsigned> Count(const std::u16string& text) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  unsigned value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - u'0');
  }
  if (value < 1 || value > 256) return std::nullopt;
  return value;
}

/// Applies one option; false (with `error`) for a value it cannot take.
bool Apply(const Spec& spec, const std::u16string& value, Options& options, std::u16string& error) {
  switch (spec.id) {
    case Id::kForce: options.force = true; break;
    case Id::kVerify: options.verify = true; break;
    case Id::kOutput: options.output = value; break;
    case Id::kPrefix: options.prefix = value; break;
    case Id::kDeleteInput: options.delete_input = options.verify = true; break;
    case Id::kQuiet: options.quiet = true; break;
    case Id::kJson: options.json = true; break;
    case Id::kHelp: options.action = Options::Action::kHelp; break;
    case Id::kVersion:
      if (options.action != Options::Action::kHelp) options.action = Options::Action::kVersion;
      break;
    case Id::kJobs: {
      const std::optional<unsigned> jobs = Count(value);
      if (!jobs) {
        error = u"-j takes a number of conversions from 1 to 256, not '" + value + u"'";
        return false;
      }
      options.jobs = *jobs;
      break;
    }
  }
  if ((spec.id == Id::kOutput || spec.id == Id::kPrefix) && value.empty()) {
    error = u"--" + std::u16string(spec.long_name) + u" takes a name that is not empty";
    return false;
  }
  return true;
}

}  // namespace

std::optional<Options> Parse(const std::vector<std::u16string>& arguments, std::u16string& error) {
  Options options;
  bool options_ended = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::u16string& arg = arguments[i];
    if (options_ended || arg.size() < 2 || arg[0] != u'-') {
      options.files.push_back(arg);
      continue;
    }
    if (arg == u"--") {
      options_ended = true;
      continue;
    }
    // The value of an option that takes one: after "=", the rest of a short group, or
    // the next argument.
    const auto value_after = [&](const Spec& spec, std::u16string inline_value, bool has_inline) {
      if (has_inline) return Apply(spec, inline_value, options, error);
      if (i + 1 >= arguments.size()) {
        error = u"option '" + arg + u"' needs a value";
        return false;
      }
      return Apply(spec, arguments[++i], options, error);
    };
    if (arg[1] == u'-') {
      const std::size_t equals = arg.find(u'=');
      const std::u16string name = arg.substr(2, equals == std::u16string::npos ? std::u16string::npos : equals - 2);
      const Spec* spec = ByLong(name);
      if (spec == nullptr) {
        error = u"unknown option '" + arg + u"'";
        return std::nullopt;
      }
      if (!spec->takes_value && equals != std::u16string::npos) {
        error = u"option '--" + name + u"' takes no value";
        return std::nullopt;
      }
      const bool ok = spec->takes_value
                          ? value_after(*spec, equals == std::u16string::npos ? u"" : arg.substr(equals + 1),
                                        equals != std::u16string::npos)
                          : Apply(*spec, {}, options, error);
      if (!ok) return std::nullopt;
      continue;
    }
    // A group of short options ("-fV"); one that takes a value ends the group.
    for (std::size_t k = 1; k < arg.size(); ++k) {
      const Spec* spec = ByShort(arg[k]);
      if (spec == nullptr) {
        error = u"unknown option '-" + std::u16string(1, arg[k]) + u"'";
        return std::nullopt;
      }
      if (spec->takes_value) {
        if (!value_after(*spec, arg.substr(k + 1), k + 1 < arg.size())) return std::nullopt;
        break;
      }
      if (!Apply(*spec, {}, options, error)) return std::nullopt;
    }
  }
  if (options.action != Options::Action::kConvert) return options;
  if (options.files.empty()) {
    error = u"no input file";
    return std::nullopt;
  }
  if (!options.output.empty() && options.files.size() > 1) {
    error = u"-o names the FLAC of one input, and " + platform::Utf8ToWide(std::to_string(options.files.size())) +
            u" were given";
    return std::nullopt;
  }
  return options;
}

}  // namespace vornek::cli
