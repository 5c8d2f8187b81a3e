// SPDX-License-Identifier: BSD-3-Clause
// The vornek command's options, as a user coming from flac types them: what each does,
// that nothing is replaced without -f, and what --json says. Run through a pipe.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "flac/flac_fixtures.h"
#include "support/files.h"
#include "support/run_cli.h"
#include "support/tools.h"
#include "support/wav_writer.h"

namespace vornek::test {
namespace {

namespace fs = std::filesystem;

CliRun RunCli(const TempDir& dir, const std::vector<std::string>& args) {
  return RunVornek(VORNEK_CLI_FILE, dir.Path().string(), args);
}

/// A 16-bit stereo WAV of `frames` frames (signal `seed`); returns its samples.
std::vector<std::int32_t> WriteWav(const TempDir& dir, const std::string& name, std::size_t frames,
                                   std::uint32_t seed = 1) {
  std::vector<std::int32_t> samples = TestSignal(frames, 2, 16, seed);
  WriteBytes(dir.File(name), SimpleWav(1, 2, 44100, 16, ToPcm(samples, 16)));
  return samples;
}

TEST(CliOptions, UsageErrorsNameTheirOptionAndExitWith2) {
  struct Case {
    std::vector<std::string> args;
    std::string said;  ///< the first line on standard error
  };
  const Case cases[] = {
      {{"--frobnicate", "a.wav"}, "vornek: unknown option '--frobnicate'"},
      {{"-x", "a.wav"}, "vornek: unknown option '-x'"},
      {{"-fx", "a.wav"}, "vornek: unknown option '-x'"},
      {{"--json=yes", "a.wav"}, "vornek: option '--json' takes no value"},
      {{"-j", "0", "a.wav"}, "vornek: -j takes a number of conversions from 1 to 256, not '0'"},
      {{"a.wav", "-j"}, "vornek: option '-j' needs a value"},
      {{"-o", "x.flac", "a.wav", "b.wav"}, "vornek: -o names the FLAC of one input, and 2 were given"},
      {{"--output-prefix="}, "vornek: --output-prefix takes a name that is not empty"},
      {{}, "vornek: no input file"},
      {{"-q"}, "vornek: no input file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    TempDir dir;
    const CliRun run = RunCli(dir, c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.said);
    EXPECT_NE(run.err.find("Usage: vornek"), std::string::npos);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{});
  }
}

// -v is the version, as in flac; -V verifies and never prints a version.
TEST(CliOptions, VersionHelpAndVerifyAreSpelledAsFlacSpellsThem) {
  TempDir dir;
  for (const char* flag : {"-v", "--version"}) {
    const CliRun run = RunCli(dir, {flag});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string("vornek ") + VORNEK_VERSION + "\n");
  }
  const CliRun help = RunCli(dir, {"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--force", "--verify", "--output-name", "--output-prefix", "--delete-input-file",
                             "--jobs", "--silent", "--json", "--version"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;

  const auto samples = WriteWav(dir, "song.wav", 3 * 4608 + 1);
  const CliRun verified = RunCli(dir, {"-V", "song.wav"});
  EXPECT_EQ(verified.status, 0) << verified.err;
  EXPECT_NE(verified.out.find("song.wav -> song.flac"), std::string::npos);
  EXPECT_NE(verified.out.find(", verified)"), std::string::npos) << verified.out;
  EXPECT_EQ(DecodeFlac(dir.File("song.flac")).samples, samples);
}

// Verification decodes what is encoded; the file it lets through is the very file an
// unverified run writes, for one encoder and for several.
TEST(CliOptions, AVerifiedFlacIsByteForByteTheUnverifiedOne) {
  for (const std::size_t frames : {std::size_t{5000}, std::size_t{44100 * 30}}) {
    SCOPED_TRACE(frames);
    TempDir dir;
    WriteWav(dir, "song.wav", frames);
    ASSERT_EQ(RunCli(dir, {"-q", "song.wav"}).status, 0);
    const Bytes plain = ReadBytes(dir.File("song.flac"));
    const CliRun run = RunCli(dir, {"-q", "-f", "--verify", "song.wav"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadBytes(dir.File("song.flac")), plain);
  }
}

// Nothing is replaced without -f: not an older FLAC, not a read-only one, and not, even
// with -f, a FLAC this very run wrote from another input.
TEST(CliOptions, NothingIsReplacedWithoutForceNorWhatThisRunWrote) {
  TempDir dir;
  const auto first = WriteWav(dir, "x.wav", 3000, 1);
  WriteWav(dir, "x.w64", 3000, 2);  // a RIFF file under another extension: the same FLAC name
  WriteWav(dir, "song.wav", 2000, 3);
  const Bytes theirs = {'t', 'h', 'e', 'i', 'r', 's'};
  WriteBytes(dir.File("song.flac"), theirs);
  ::chmod(dir.File("song.flac").c_str(), 0444);

  const CliRun refused = RunCli(dir, {"song.wav", "x.wav"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "vornek: song.wav: song.flac exists (use -f to replace it)\n");
  EXPECT_EQ(ReadBytes(dir.File("song.flac")), theirs);
  EXPECT_EQ(refused.out.rfind("x.wav -> x.flac  (12.0 KB -> ", 0), 0u) << refused.out;
  fs::remove(dir.File("x.flac"));

  const CliRun same_run = RunCli(dir, {"-f", "x.wav", "x.w64"});
  EXPECT_EQ(same_run.status, 1);
  EXPECT_EQ(same_run.err, "vornek: x.w64: would replace x.flac written from x.wav in this run\n");
  EXPECT_EQ(DecodeFlac(dir.File("x.flac")).samples, first);

  const CliRun forced = RunCli(dir, {"-f", "-q", "song.wav"});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_TRUE(DecodeFlac(dir.File("song.flac")).ok);
}

TEST(CliOptions, OutputNameAndPrefixPutTheFlacWhereTheyName) {
  TempDir dir;
  const auto samples = WriteWav(dir, "song.wav", 2000);
  fs::create_directories(dir.Path() / "out" / "deep");
  struct Case {
    std::vector<std::string> args;
    std::string flac;  ///< where the FLAC stands, in the folder
  };
  const Case cases[] = {
      {{"-o", "named.flac", "song.wav"}, "named.flac"},
      {{"--output-name=other.flac", "song.wav"}, "other.flac"},
      {{"-onamed2.flac", "song.wav"}, "named2.flac"},
      {{"--output-prefix=out/", "song.wav"}, "out/song.flac"},
      {{"--output-prefix", "out/deep/pre-", dir.File("song.wav")}, "out/deep/pre-song.flac"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const CliRun run = RunCli(dir, c.args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(DecodeFlac(dir.File(c.flac)).samples, samples);
    EXPECT_FALSE(fs::exists(dir.Path() / "song.flac"));
  }
}

// The input goes only once its verified FLAC stands at its name; a file that does not
// convert (or is skipped) keeps its input.
TEST(CliOptions, DeleteInputFileDeletesOnlyWhatWasConvertedAndVerified) {
  TempDir dir;
  const auto samples = WriteWav(dir, "good.wav", 3000);
  WriteBytes(dir.File("bad.wav"), {'n', 'o', 't', ' ', 'w', 'a', 'v'});
  WriteWav(dir, "kept.wav", 3000);
  WriteBytes(dir.File("kept.flac"), {'o', 'l', 'd'});
  const CliRun run = RunCli(dir, {"--delete-input-file", "good.wav", "bad.wav", "kept.wav"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("good.wav -> good.flac"), std::string::npos);
  EXPECT_NE(run.out.find(", verified)"), std::string::npos);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"bad.wav", "good.flac", "kept.flac", "kept.wav"}));
  EXPECT_EQ(DecodeFlac(dir.File("good.flac")).samples, samples);
}

TEST(CliOptions, SilentIsQuiet) {
  TempDir dir;
  WriteWav(dir, "a.wav", 100);
  const CliRun run = RunCli(dir, {"-s", "a.wav"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
}

// --json: one object a line for every input, in the input order, and nothing else on
// standard output; a name's bytes that are not UTF-8 come back as \udcXX escapes.
TEST(CliOptions, JsonTellsScriptsWhatBecameOfEachInput) {
  TempDir dir;
  WriteWav(dir, "a.wav", 4410);
  WriteWav(dir, "b\xff.wav", 100);
  WriteWav(dir, "c.wav", 100);
  WriteBytes(dir.File("c.flac"), {'o', 'l', 'd'});
  const CliRun run = RunCli(dir, {"--json", "a.wav", "missing.wav", "b\xff.wav", "c.wav"});
  EXPECT_EQ(run.status, 1);
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(run.out.substr(at, end - at));
  ASSERT_EQ(lines.size(), 4u) << run.out;
  const std::string a_bytes = std::to_string(fs::file_size(dir.File("a.wav")));
  const std::string a_flac = std::to_string(fs::file_size(dir.File("a.flac")));
  EXPECT_TRUE(testing::internal::RE::FullMatch(
      lines[0], "\\{\"input\": \"a.wav\", \"output\": \"a.flac\", \"status\": \"ok\", \"failure\": null, "
                "\"frames\": 4410, \"sample_rate\": 44100, \"channels\": 2, \"bits\": 16, \"input_bytes\": " +
                    a_bytes + ", \"output_bytes\": " + a_flac + ", \"seconds\": [0-9]+\\.[0-9]{3}, \"warnings\": \\[\\]\\}"))
      << lines[0];
  EXPECT_NE(lines[1].find("\"input\": \"missing.wav\", \"output\": \"missing.flac\", \"status\": \"failed\", "
                          "\"failure\": \"No such file or directory\""),
            std::string::npos)
      << lines[1];
  EXPECT_NE(lines[2].find("\"input\": \"b\\udcff.wav\", \"output\": \"b\\udcff.flac\", \"status\": \"ok\""),
            std::string::npos)
      << lines[2];
  EXPECT_NE(lines[3].find("\"status\": \"skipped\", \"failure\": \"c.flac exists (use -f to replace it)\""),
            std::string::npos)
      << lines[3];
}

// The manual page tells of every option the help names.
TEST(CliOptions, TheManualPageTellsOfEveryOptionOfTheHelp) {
  TempDir dir;
  const CliRun help = RunCli(dir, {"--help"});
  const Bytes page_bytes = ReadBytes(std::string(VORNEK_SOURCE_DIR) + "/doc/vornek.1");
  std::string page(page_bytes.begin(), page_bytes.end());
  // The page writes "-" as "\-".
  for (std::size_t at; (at = page.find("\\-")) != std::string::npos;) page.erase(at, 1);
  std::size_t options = 0;
  for (std::size_t at = help.out.find("--"); at != std::string::npos; at = help.out.find("--", at + 2)) {
    const std::size_t end = help.out.find_first_of(" =,\n", at);
    const std::string option = help.out.substr(at, end - at);
    if (option.size() <= 2) continue;
    ++options;
    EXPECT_NE(page.find(option), std::string::npos) << option;
  }
  EXPECT_GE(options, 10u);
}

// The README's recipe for a tree of WAV files on many machines, on this one: GNU
// parallel runs the command once per file; run again, it converts nothing, and every
// input says it was skipped.
TEST(CliOptions, AParallelRunOverATreeRunAgainConvertsNothing) {
  VORNEK_REQUIRE(MissingTool("parallel"));
  TempDir dir;
  fs::create_directories(dir.Path() / "music" / "a" / "b");
  const std::vector<std::string> wavs = {"music/one.wav", "music/a/two.wav", "music/a/b/three.wav",
                                         "music/a/b/four five.wav"};
  for (std::size_t i = 0; i < wavs.size(); ++i) WriteWav(dir, wavs[i], 2000 + i, static_cast<std::uint32_t>(i));
  const std::string recipe = "cd '" + dir.Path().string() + "' && find music -name '*.wav' | parallel --will-cite '" +
                             std::string(VORNEK_CLI_FILE) + "' --json -j1 -- {} >";
  const auto statuses = [&](const std::string& log) {
    const Bytes bytes = ReadBytes(dir.File(log));
    const std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> found;
    for (std::size_t at = text.find("\"status\": \""); at != std::string::npos;
         at = text.find("\"status\": \"", at + 1))
      found.push_back(text.substr(at + 11, text.find('"', at + 11) - at - 11));
    std::sort(found.begin(), found.end());
    return found;
  };
  ASSERT_EQ(std::system((recipe + "first.jsonl").c_str()), 0);
  EXPECT_EQ(statuses("first.jsonl"), std::vector<std::string>(wavs.size(), "ok"));
  std::vector<Bytes> flacs;
  for (const std::string& wav : wavs) {
    const std::string flac = dir.File(wav.substr(0, wav.size() - 4) + ".flac");
    EXPECT_TRUE(DecodeFlac(flac).ok) << flac;
    flacs.push_back(ReadBytes(flac));
  }
  EXPECT_NE(std::system((recipe + "second.jsonl").c_str()), 0);  // every input skipped
  EXPECT_EQ(statuses("second.jsonl"), std::vector<std::string>(wavs.size(), "skipped"));
  for (std::size_t i = 0; i < wavs.size(); ++i)
    EXPECT_EQ(ReadBytes(dir.File(wavs[i].substr(0, wavs[i].size() - 4) + ".flac")), flacs[i]);
}

}  // namespace
}  // namespace vornek::test
