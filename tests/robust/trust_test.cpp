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

#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
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

/// The same, with `in_child` run in the child before the command starts and
/// `while_running` called with its process id.
CliRun RunCliWith(const std::string& folder, const std::vector<std::string>& args,
                  const std::function<void()>& in_child, const std::function<void(int pid)>& while_running = nullptr) {
  return RunVornek(VORNEK_CLI_FILE, folder, args, while_running, std::chrono::seconds(60), in_child);
}

/// A 16-bit stereo file of the test signal (with `seed`), and its samples.
std::vector<std::int32_t> WriteWav(const std::string& path, std::size_t frames, std::uint32_t seed = 1) {
  std::vector<std::int32_t> samples = TestSignal(frames, 2, 16, seed);
  WriteBytes(path, SimpleWav(1, 2, 44100, 16, ToPcm(samples, 16)));
  return samples;
}

/// A FLAC file that stands at a name before a conversion: its bytes, its mode, its time.
struct StandingFile {
  Bytes bytes;
  struct stat info {};
  static StandingFile At(const std::string& path) {
    StandingFile file;
    file.bytes = ReadBytes(path);
    ::lstat(path.c_str(), &file.info);
    return file;
  }
  bool operator==(const StandingFile& other) const {
    return bytes == other.bytes && info.st_ino == other.info.st_ino && info.st_mode == other.info.st_mode &&
           info.st_uid == other.info.st_uid && info.st_mtim.tv_sec == other.info.st_mtim.tv_sec;
  }
};

/// Puts a good FLAC file at `path` (the conversion of other samples), private and old.
StandingFile PutGoodFlac(const std::string& path) {
  const TempDir scratch;
  WriteWav(scratch.File("old.wav"), 3000, 9);
  if (RunCli(scratch.Path().string(), {"-q", "old.wav"}).status != 0) return {};
  fs::copy_file(scratch.File("old.flac"), path, fs::copy_options::overwrite_existing);
  ::chmod(path.c_str(), 0640);
  const struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), old_times, 0);
  return StandingFile::At(path);
}

TEST(Trust, ALinkAtTheFlacNameIsReplacedNeverWrittenThrough) {
  TempDir dir, elsewhere;
  const std::string victim = elsewhere.File("victim");
  const Bytes secret = {'s', 'e', 'c', 'r', 'e', 't'};
  WriteBytes(victim, secret);
  ::chmod(victim.c_str(), 0600);
  const auto samples = WriteWav(dir.File("song.wav"), 5000);
  fs::create_symlink(victim, dir.Path() / "song.flac");

  const CliRun run = RunCli(dir.Path().string(), {"-q", "-f", "song.wav"});
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

// A FLAC file that stands at the output name is touched only by the rename that
// replaces it with a whole new one: whatever ends a conversion early leaves it as it
// was, and leaves nothing else behind.
TEST(Trust, AConversionThatEndsEarlyLeavesTheExistingFlacAsItWas) {
  struct Case {
    std::string name;
    std::function<void(const TempDir&)> make_input;
    std::function<void()> in_child;
    std::function<void(int pid, const TempDir&)> while_running;
    int status;          ///< the command's exit status, or 0 when a signal ends it
    int signal = 0;      ///< the signal that ends it
    std::string said;    ///< after "vornek: song.wav: "; empty: not looked at
  };
  const auto long_wav = [](const TempDir& dir) { WriteWav(dir.File("song.wav"), 44100 * 120); };
  const auto stop_with = [](int sig) {
    return [sig](int pid, const TempDir& dir) {
      EXPECT_FALSE(WaitForFileUnderWay(pid, dir.Path().string(), 4096).empty());
      ::kill(pid, sig);
    };
  };
  const std::vector<Case> cases = {
      {"missing input", [](const TempDir&) {}, nullptr, nullptr, 1, 0, std::strerror(ENOENT)},
      {"not a WAV file", [](const TempDir& dir) { WriteBytes(dir.File("song.wav"), {'h', 'i'}); }, nullptr,
       nullptr, 1, 0, "The file is not a WAV file."},
      {"file size limit (ulimit -f)", long_wav,
       [] {
         const struct rlimit limit = {64 << 10, 64 << 10};
         ::setrlimit(RLIMIT_FSIZE, &limit);
       },
       nullptr, 1, 0, std::string("song.flac: ") + std::strerror(EFBIG)},
      {"Ctrl-C", long_wav, nullptr, stop_with(SIGINT), 130, 0, ""},
      {"SIGTERM", long_wav, nullptr, stop_with(SIGTERM), 143, 0, ""},
      {"SIGHUP", long_wav, nullptr, stop_with(SIGHUP), 129, 0, ""},
      {"SIGKILL", long_wav, nullptr, stop_with(SIGKILL), 0, SIGKILL, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const StandingFile before = PutGoodFlac(dir.File("song.flac"));
    ASSERT_FALSE(before.bytes.empty());
    c.make_input(dir);
    const std::vector<std::string> names = dir.Names();
    const CliRun run = RunCliWith(dir.Path().string(), {"-f", "song.wav"}, c.in_child,
                                  c.while_running ? [&](int pid) { c.while_running(pid, dir); }
                                                  : std::function<void(int)>());
    if (c.signal != 0) {
      EXPECT_EQ(run.signal, c.signal);
    } else {
      EXPECT_EQ(run.status, c.status) << run.err;
    }
    if (!c.said.empty()) {
      EXPECT_EQ(run.err, "vornek: song.wav: " + c.said + "\n");
    }
    EXPECT_TRUE(StandingFile::At(dir.File("song.flac")) == before) << "the old FLAC was changed";
    EXPECT_EQ(dir.Names(), names) << "something was left behind";
  }
}

// Started with standard input, output and error closed (cron, a daemon), the command
// converts a batch as it would with them open: nothing it opens is taken for one.
TEST(Trust, ClosedStandardStreamsChangeNothing) {
  TempDir dir;
  std::vector<std::vector<std::int32_t>> samples;
  for (const char* name : {"a.wav", "b.wav", "c.wav"}) samples.push_back(WriteWav(dir.File(name), 50000));
  const CliRun run = RunCliWith(dir.Path().string(), {"a.wav", "b.wav", "c.wav"}, [] {
    ::close(0);
    ::close(1);
    ::close(2);
  });
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, 0);
  const char* flacs[] = {"a.flac", "b.flac", "c.flac"};
  for (std::size_t i = 0; i < 3; ++i) {
    const Decoded d = DecodeFlac(dir.File(flacs[i]));
    ASSERT_TRUE(d.ok) << flacs[i];
    EXPECT_EQ(d.samples, samples[i]) << flacs[i];
  }
}

// The FLAC file takes the input's permission bits and times, as flac's does: a private
// WAV never becomes a FLAC others can read. A FLAC it replaces lends it nothing but its
// owner and group (for root, who may give a file to another user).
TEST(Trust, TheFlacTakesTheInputsModeAndTimesAndTheReplacedFilesOwner) {
  struct Case {
    mode_t input_mode;
    bool replaces;
  };
  for (const Case c : {Case{0600, false}, Case{0644, false}, Case{0640, true}, Case{0604, true}}) {
    SCOPED_TRACE(std::to_string(c.input_mode) + (c.replaces ? " replacing" : ""));
    TempDir dir;
    WriteWav(dir.File("song.wav"), 3000);
    ::chmod(dir.File("song.wav").c_str(), c.input_mode);
    const struct timespec times[2] = {{1100000000, 250}, {1200000000, 500}};
    ::utimensat(AT_FDCWD, dir.File("song.wav").c_str(), times, 0);
    uid_t owner = ::geteuid();
    gid_t group = ::getegid();
    if (c.replaces) {
      PutGoodFlac(dir.File("song.flac"));
      ::chmod(dir.File("song.flac").c_str(), 0666);
      if (::geteuid() == 0 && ::chown(dir.File("song.flac").c_str(), 4242, 4343) == 0) {
        owner = 4242;
        group = 4343;
      }
    }
    const CliRun run = RunCli(dir.Path().string(), {"-q", "-f", "song.wav"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    struct stat flac {};
    ASSERT_EQ(::stat(dir.File("song.flac").c_str(), &flac), 0);
    EXPECT_EQ(flac.st_mode & 07777, c.input_mode);
    EXPECT_EQ(flac.st_mtim.tv_sec, times[1].tv_sec);
    EXPECT_EQ(flac.st_mtim.tv_nsec, times[1].tv_nsec);
    EXPECT_EQ(flac.st_uid, owner);
    EXPECT_EQ(flac.st_gid, group);
  }
}

// In a sticky folder (/tmp) another user's FLAC cannot be replaced: that is said at
// once, before anything is encoded, in the system's words, and nothing is changed.
TEST(Trust, AFlacThatMayNotBeReplacedIsRefusedBeforeEncoding) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as two users";
  TempDir dir;
  ASSERT_EQ(::chmod(dir.Path().c_str(), 01777), 0);
  WriteWav(dir.File("song.wav"), 3000);
  ::chmod(dir.File("song.wav").c_str(), 0644);
  const StandingFile before = PutGoodFlac(dir.File("song.flac"));
  ASSERT_EQ(::chown(dir.File("song.flac").c_str(), 4242, 4242), 0);
  const StandingFile owned = StandingFile::At(dir.File("song.flac"));
  const std::vector<std::string> names = dir.Names();
  const CliRun run = RunCliWith(dir.Path().string(), {"-f", "song.wav"}, [] {
    if (::setgid(4343) != 0 || ::setuid(4343) != 0) ::_exit(96);
  });
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.err, std::string("vornek: song.wav: song.flac: ") + std::strerror(EPERM) + "\n");
  EXPECT_TRUE(StandingFile::At(dir.File("song.flac")) == owned);
  EXPECT_EQ(dir.Names(), names);
}

// A WAV file cut short while it converts (another program truncates it) is converted
// as far as it goes, and the command says how much is missing, as for a file that was
// short when it was opened.
TEST(Trust, AFileCutWhileItConvertsIsReportedShort) {
  TempDir dir;
  constexpr std::size_t kFrames = 44100 * 300;
  const auto samples = WriteWav(dir.File("song.wav"), kFrames);
  const std::string wav = dir.File("song.wav");
  const CliRun run = RunCliWith(dir.Path().string(), {"-q", "song.wav"}, nullptr, [&](int pid) {
    EXPECT_FALSE(WaitForFileUnderWay(pid, dir.Path().string(), 4096).empty());
    fs::resize_file(wav, fs::file_size(wav) * 2 / 5);
  });
  ASSERT_EQ(run.status, 0) << run.err;
  const Decoded d = DecodeFlac(dir.File("song.flac"));
  ASSERT_TRUE(d.ok);
  const std::size_t converted = d.samples.size() / 2;
  ASSERT_LT(converted, kFrames) << "the conversion was over before the cut";
  EXPECT_TRUE(std::equal(d.samples.begin(), d.samples.end(), samples.begin()));
  EXPECT_EQ(run.err, "warning: song.wav ends " + std::to_string(kFrames - converted) +
                         " frames early; converted what is there\n");
}

}  // namespace
}  // namespace vornek::test
