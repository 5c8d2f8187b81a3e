// SPDX-License-Identifier: BSD-3-Clause
// The `vornek` command at the edges of trust: it writes only the file it was asked to,
// never through a link and never in part; it reads only the file it was named; it
// never waits for ever on an input; and what it says names the right file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "flac/flac_fixtures.h"
#include "support/files.h"
#include "support/run_cli.h"
#include "support/wav_writer.h"

namespace vornek::test {
namespace {

namespace fs = std::filesystem;

CliRun RunCli(const std::string& folder, const std::vector<std::string>& args) {
  return RunVornek(VORNEK_CLI_FILE, folder, args, nullptr, std::chrono::seconds(20));
}

/// A 16-bit stereo file of the test signal (with `seed`), and its samples.
std::vector<std::int32_t> WriteWav(const std::string& path, std::size_t frames, std::uint32_t seed = 1) {
  std::vector<std::int32_t> samples = TestSignal(frames, 2, 16, seed);
  WriteBytes(path, SimpleWav(1, 2, 44100, 16, ToPcm(samples, 16)));
  return samples;
}

TEST(Trust, ALinkAtTheFlacNameIsReplacedNeverWrittenThrough) {
  TempDir dir, elsewhere;
  const std::string victim = elsewhere.File("victim");
  const Bytes secret = {'s', 'e', 'c', 'r', 'e', 't'};
  WriteBytes(victim, secret);
  ::chmod(victim.c_str(), 0600);
  const auto samples = WriteWav(dir.File("song.wav"), 5000);
  fs::create_symlink(victim, dir.Path() / "song.flac");

  const CliRun run = RunCli(dir.Path().string(), {"-q", "song.wav"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadBytes(victim), secret);
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.Path() / "song.flac")));
  const Decoded d = DecodeFlac(dir.File("song.flac"));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.samples, samples);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"song.flac", "song.wav"}));
}

// A name is bytes: one that is not UTF-8 opens that very file, never the file whose name
// has U+FFFD where the odd byte was, and the FLAC gets the same bytes.
TEST(Trust, ANameThatIsNotUtf8OpensThatFileAndNoOther) {
  const std::vector<std::string> stems = {
      "y\x81",          // a lone continuation byte
      "y\xC3",          // a lead byte at the end
      "y\xC0\xAF",      // an overlong form of "/"
      "y\xED\xA0\x80",  // a UTF-16 surrogate written as UTF-8
      "y\xFF\xFE",      // bytes UTF-8 never uses
      "y\xC3\xA9",      // well-formed, for contrast
  };
  for (const std::string& stem : stems) {
    SCOPED_TRACE(testing::PrintToString(stem));
    TempDir dir;
    const auto wanted = WriteWav(dir.File(stem + ".wav"), 3000, 1);
    WriteWav(dir.File("y\xEF\xBF\xBD.wav"), 3000, 2);  // the name a lossy conversion would give
    const CliRun run = RunCli(dir.Path().string(), {"-q", stem + ".wav"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Decoded d = DecodeFlac(dir.File(stem + ".flac"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.samples, wanted);
    EXPECT_FALSE(fs::exists(dir.Path() / "y\xEF\xBF\xBD.flac"));
  }
}

TEST(Trust, AnInputThatIsNotARegularFileIsRefusedWithoutWaiting) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("fifo.wav").c_str(), 0600), 0) << std::strerror(errno);
  const CliRun run = RunCli(dir.Path().string(), {"fifo.wav"});
  EXPECT_FALSE(run.hung) << "the open waited for a writer";
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "vornek: fifo.wav: fifo.wav is not a regular file.\n");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"fifo.wav"});
}

// Inputs that cannot be converted leave nothing at any name, and what is said names
// the file it is about.
TEST(Trust, RefusalsLeaveNothingAndNameTheRightFile) {
  struct Case {
    std::string input;
    std::string said;  // after "vornek: INPUT: "
  };
  const std::string long_stem(251, 'x');  // "x...x.wav" fits a folder; "x...x.flac" does not
  const std::vector<Case> cases = {
      {"missing.wav", std::strerror(ENOENT)},
      {"", "The file name is not assigned"},
      {"-", std::strerror(ENOENT)},
      {"music/", std::strerror(EISDIR)},
      {long_stem + ".wav", long_stem + ".flac: " + std::strerror(ENAMETOOLONG)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    TempDir dir;
    fs::create_directory(dir.Path() / "music");
    if (c.input == long_stem + ".wav") WriteWav(dir.File(c.input), 100);
    const std::vector<std::string> before = dir.Names();
    const CliRun run = RunCli(dir.Path().string(), {"--", c.input});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vornek: " + c.input + ": " + c.said + "\n");
    EXPECT_EQ(dir.Names(), before);
    EXPECT_TRUE(fs::is_empty(dir.Path() / "music"));
  }
}

TEST(Trust, AFullDiskIsReportedAsTheSystemSaysItAndLeavesNothing) {
  TempDir dir;
  const std::string small = dir.File("small");
  fs::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{small};
  // Noise hardly compresses: the FLAC needs more room than is left beside the WAV.
  std::vector<std::int32_t> noise(2 * 150000);
  std::uint32_t state = 7;
  for (std::int32_t& s : noise) s = static_cast<std::int16_t>((state = state * 1664525u + 1013904223u) >> 16);
  WriteBytes(small + "/song.wav", SimpleWav(1, 2, 44100, 16, ToPcm(noise, 16)));

  const CliRun run = RunCli(small, {"song.wav"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, std::string("vornek: song.wav: song.flac: ") + std::strerror(ENOSPC) + "\n");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(small)) names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"song.wav"});
}

// A reader of the command's output that goes away does not end the conversions.
TEST(Trust, AClosedOutputPipeDoesNotStopTheConversions) {
  TempDir dir;
  WriteWav(dir.File("a.wav"), 1000);
  WriteWav(dir.File("b.wav"), 1000);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);  // nobody will ever read what is printed
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.Path().c_str()) != 0 || ::dup2(fds[1], 1) < 0) ::_exit(99);
    ::execl(VORNEK_CLI_FILE, VORNEK_CLI_FILE, "a.wav", "b.wav", static_cast<char*>(nullptr));
    ::_exit(98);
  }
  ::close(fds[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(DecodeFlac(dir.File("a.flac")).ok);
  EXPECT_TRUE(DecodeFlac(dir.File("b.flac")).ok);
}

}  // namespace
}  // namespace vornek::test
