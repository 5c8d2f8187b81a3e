// SPDX-License-Identifier: BSD-3-Clause
// The vornek command, run as a user runs it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "flac/flac_fixtures.h"
#include "support/files.h"
#include "support/run_cli.h"
#include "support/wav_writer.h"
#include "support/tools.h"

namespace vornek::test {
namespace {

using namespace std::chrono_literals;

/// Runs the command with `args` in `dir`; `while_running` is called with its process id.
CliRun RunCli(const TempDir& dir, const std::vector<std::string>& args,
              const std::function<void(int)>& while_running = nullptr) {
  return RunVornek(VORNEK_CLI_FILE, dir.Path().string(), args, while_running);
}

void WriteWav(const TempDir& dir, const std::string& name, std::size_t frames) {
  WriteBytes(dir.File(name), SimpleWav(1, 2, 44100, 16, ToPcm(TestSignal(frames, 2, 16), 16)));
}

TEST(Cli, ConvertsEachFileAndPrintsOneLineEach) {
  TempDir dir;
  WriteWav(dir, "a.wav", 44100);
  WriteWav(dir, "b.wav", 4410);
  const CliRun r = RunCli(dir, {"a.wav", "b.wav"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(DecodeFlac(dir.File("a.flac")).ok);
  EXPECT_TRUE(DecodeFlac(dir.File("b.flac")).ok);
  EXPECT_TRUE(testing::internal::RE::PartialMatch(
      r.out, "^a\\.wav -> a\\.flac  \\(176\\.4 KB -> [0-9.]+ KB, [0-9]+%\\)\n"
             "b\\.wav -> b\\.flac  \\(17\\.7 KB -> [0-9.]+ KB, [0-9]+%\\)\n$"))
      << r.out;
}

TEST(Cli, QuietPrintsNothing) {
  TempDir dir;
  WriteWav(dir, "a.wav", 100);
  const CliRun r = RunCli(dir, {"-q", "a.wav"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(Cli, AFailureIsReportedAndTheOtherFilesStillConvert) {
  TempDir dir;
  WriteWav(dir, "good.wav", 100);
  const CliRun r = RunCli(dir, {"missing.wav", "good.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vornek: missing.wav: No such file or directory\n");
  EXPECT_TRUE(DecodeFlac(dir.File("good.flac")).ok);
}

TEST(Cli, UsageHelpAndVersion) {
  TempDir dir;
  const CliRun none = RunCli(dir, {});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("Usage: vornek"), std::string::npos);
  const CliRun bad = RunCli(dir, {"--frobnicate", "a.wav"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("unknown option '--frobnicate'"), std::string::npos);
  const CliRun help = RunCli(dir, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: vornek"), std::string::npos);
  const CliRun version = RunCli(dir, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("vornek ") + VORNEK_VERSION + "\n");
}

bool RunShell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<std::int32_t> RawS16(const std::string& path) {
  const auto bytes = ReadBytes(path);
  std::vector<std::int32_t> out(bytes.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return out;
}

// Compressed WAV files that other tools write become 16-bit FLAC files holding what an
// independent decoder makes of them (IMA checked against sox, Microsoft ADPCM against
// ffmpeg: each decodes its codec by the reference arithmetic).
TEST(Cli, AdpcmFilesBecomeFlacFilesOfTheSameSamples) {
  struct Case {
    const char* encode;  // {in} {out}
    const char* decode;  // {in} {raw}
    int channels;
  };
  const Case cases[] = {
      {"sox {in} -e ima-adpcm {out}", "sox {in} -t raw -e signed-integer -b 16 -L {raw}", 1},
      {"ffmpeg -nostdin -y -i {in} -c:a adpcm_ima_wav {out}",
       "sox {in} -t raw -e signed-integer -b 16 -L {raw}", 2},
      {"ffmpeg -nostdin -y -i {in} -c:a adpcm_ms {out}",
       "ffmpeg -nostdin -y -i {in} -f s16le -c:a pcm_s16le {raw}", 2},
      {"sox {in} -e ms-adpcm {out}", "ffmpeg -nostdin -y -i {in} -f s16le -c:a pcm_s16le {raw}", 1},
  };
  VORNEK_REQUIRE(MissingTool("sox"));
  VORNEK_REQUIRE(MissingTool("ffmpeg"));
  for (const Case& k : cases) {
    SCOPED_TRACE(k.encode);
    TempDir dir;
    // At half scale: the IMA decoder floors at -32767 where sox floors at -32768.
    std::vector<std::int32_t> source = TestSignal(30011, k.channels, 16);
    for (std::int32_t& s : source) s /= 2;
    WriteBytes(dir.File("source.wav"), SimpleWav(1, static_cast<std::uint16_t>(k.channels), 22050,
                                                 16, ToPcm(source, 16)));
    auto fill = [&](std::string command) {
      for (auto [key, value] : {std::pair{"{in}", "source.wav"}, {"{out}", "adpcm.wav"}}) {
        command.replace(command.find(key), std::strlen(key), dir.File(value));
      }
      return command;
    };
    ASSERT_TRUE(RunShell(fill(k.encode)));
    std::string decode = k.decode;
    decode.replace(decode.find("{in}"), 4, dir.File("adpcm.wav"));
    decode.replace(decode.find("{raw}"), 5, dir.File("reference.raw"));
    ASSERT_TRUE(RunShell(decode));

    const CliRun r = RunCli(dir, {"adpcm.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Decoded d = DecodeFlac(dir.File("adpcm.flac"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.bits, 16u);
    EXPECT_EQ(d.channels, static_cast<std::uint32_t>(k.channels));
    std::vector<std::int32_t> expected = RawS16(dir.File("reference.raw"));
    ASSERT_GE(expected.size(), d.samples.size());
    expected.resize(d.samples.size());
    EXPECT_EQ(d.samples, expected);
    EXPECT_GE(d.samples.size(), 30011u * static_cast<std::size_t>(k.channels)) << "cut to the fact count";
  }
}

TEST(Cli, MpegLayer3InWavBecomesA16BitFlac) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  TempDir dir;
  ASSERT_TRUE(RunShell("ffmpeg -nostdin -y -f lavfi -i sine=frequency=1000:duration=1.5:sample_rate=48000 "
                       "-ac 2 -c:a libmp3lame " + dir.File("mp3.wav")));
  const CliRun r = RunCli(dir, {"mp3.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Decoded d = DecodeFlac(dir.File("mp3.flac"));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.bits, 16u);
  EXPECT_EQ(d.channels, 2u);
  EXPECT_EQ(d.rate, 48000u);
  EXPECT_NEAR(static_cast<double>(d.total), 72000.0, 2 * 1152.0);
}

// Ctrl-C, and the requests to end that a session or a service sends, stop the
// conversion in progress: it leaves nothing behind, the next file is not started, and
// the exit status tells which signal came.
TEST(Cli, AnInterruptStopsTheConversionAndLeavesNothing) {
  for (const auto& [signal, status] : {std::pair{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
    SCOPED_TRACE(signal);
    TempDir dir;
    WriteWav(dir, "long.wav", 44100 * 300);
    WriteWav(dir, "next.wav", 100);
    std::string under_way;
    const CliRun r = RunCli(dir, {"-j1", "long.wav", "next.wav"}, [&, sig = signal](int pid) {
      under_way = WaitForFileUnderWay(pid, dir.Path().string(), 4096);
      ::kill(pid, sig);
    });
    EXPECT_FALSE(under_way.empty()) << "the FLAC was being written when the signal came";
    EXPECT_EQ(r.status, status) << r.err << " signal " << r.signal << (r.hung ? " hung" : "");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"long.wav", "next.wav"}))
        << "neither a FLAC file nor the hidden one is left, and next.wav was not started";
  }
}

// With several conversions side by side, Ctrl-C stops them all: none leaves anything.
TEST(Cli, AnInterruptStopsEveryConversionUnderWay) {
  TempDir dir;
  WriteWav(dir, "a.wav", 44100 * 200);
  WriteWav(dir, "b.wav", 44100 * 200);
  WriteWav(dir, "c.wav", 100);
  const CliRun r = RunCli(dir, {"-j2", "a.wav", "b.wav", "c.wav"}, [&](int pid) {
    EXPECT_FALSE(WaitForFileUnderWay(pid, dir.Path().string(), 4096).empty());
    ::kill(pid, SIGINT);
  });
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"a.wav", "b.wav", "c.wav"}));
}

/// What the command writes to its standard error when that is a terminal (a pseudo-
/// terminal) or a pipe; standard output goes to a file.
struct StderrRun {
  int status = -1;
  std::string err;
};

StderrRun RunWithStderrOn(bool terminal, const TempDir& dir, const std::vector<std::string>& args) {
  int reader = -1, writer = -1;
  if (terminal) {
    reader = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (reader < 0 || ::grantpt(reader) != 0 || ::unlockpt(reader) != 0) return {};
    writer = ::open(::ptsname(reader), O_RDWR | O_NOCTTY);
  } else {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    reader = fds[0];
    writer = fds[1];
  }
  const std::string out = dir.File("stdout.txt");
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.Path().c_str()) != 0 || ::dup2(writer, 2) < 0 || !std::freopen(out.c_str(), "w", stdout))
      ::_exit(99);
    std::vector<char*> argv{const_cast<char*>(VORNEK_CLI_FILE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(VORNEK_CLI_FILE, argv.data());
    ::_exit(98);
  }
  ::close(writer);
  StderrRun run;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(reader, buffer, sizeof buffer);
    if (got <= 0) break;  // a pseudo-terminal reports EIO once the last writer has gone
    run.err.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(reader);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// On a terminal each conversion shows its progress in place, rising, and clears it
// before the result; through a pipe (or into a file) nothing of it is written.
TEST(Cli, ProgressIsShownInPlaceOnATerminalOnly) {
  TempDir dir;
  WriteWav(dir, "long.wav", 44100 * 120);
  const StderrRun tty = RunWithStderrOn(true, dir, {"long.wav"});
  ASSERT_EQ(tty.status, 0) << tty.err;
  // Each redraw starts with a carriage return: "\rlong.wav: 45%".
  std::vector<int> shown;
  const std::string prefix = "\rlong.wav: ";
  for (std::size_t at = tty.err.find(prefix); at != std::string::npos; at = tty.err.find(prefix, at + 1)) {
    const std::size_t digits = at + prefix.size();
    const std::size_t percent = tty.err.find('%', digits);
    ASSERT_NE(percent, std::string::npos) << tty.err;
    shown.push_back(std::stoi(tty.err.substr(digits, percent - digits)));
  }
  ASSERT_GE(shown.size(), 2u) << tty.err;
  EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << tty.err;
  EXPECT_LE(shown.back(), 100);
  // The last thing written is the clearing of the line: blanks between two returns.
  const std::size_t last_percent = tty.err.rfind('%');
  ASSERT_NE(last_percent, std::string::npos);
  const std::string tail = tty.err.substr(last_percent + 1);
  EXPECT_TRUE(tail.size() > 2 && tail.front() == '\r' && tail.back() == '\r' &&
              tail.find_first_not_of(' ', 1) == tail.size() - 1)
      << testing::PrintToString(tail);
  EXPECT_FALSE(ReadBytes(dir.File("stdout.txt")).empty());
  EXPECT_TRUE(DecodeFlac(dir.File("long.flac")).ok);

  const StderrRun quiet = RunWithStderrOn(true, dir, {"-q", "-f", "long.wav"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  const StderrRun piped = RunWithStderrOn(false, dir, {"-f", "long.wav"});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "");
}

// Several files convert side by side; each FLAC is byte for byte the one a conversion
// one at a time writes, and the lines come in the order of the inputs.
TEST(Cli, ManyFilesAtOnceWriteWhatOneAtATimeWritesInTheInputsOrder) {
  TempDir together, alone;
  std::vector<std::string> names;
  const std::size_t lengths[] = {44100 * 12, 100, 4608, 44100 * 2, 7, 44100 * 11, 3000, 1};
  for (std::size_t i = 0; i < std::size(lengths); ++i) {
    names.push_back("f" + std::to_string(i) + ".wav");
    WriteWav(together, names.back(), lengths[i]);
    WriteWav(alone, names.back(), lengths[i]);
  }
  std::vector<std::string> args = {"-j3"};
  args.insert(args.end(), names.begin(), names.end());
  const CliRun r = RunCli(together, args);
  ASSERT_EQ(r.status, 0) << r.err;
  args[0] = "-j1";
  ASSERT_EQ(RunCli(alone, args).status, 0);
  std::string order;
  for (const std::string& name : names) {
    const std::string flac = name.substr(0, name.size() - 4) + ".flac";
    EXPECT_EQ(ReadBytes(together.File(flac)), ReadBytes(alone.File(flac))) << flac;
    order += name + " -> " + flac + "  (\n";
  }
  std::string lines;
  for (std::size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1)
    lines += r.out.substr(at, r.out.find('(', at) + 1 - at) + "\n";
  EXPECT_EQ(lines, order);
}

// On a terminal, the progress line shows every conversion under way.
TEST(Cli, ProgressShowsEachFileUnderWay) {
  TempDir dir;
  WriteWav(dir, "a.wav", 44100 * 120);
  WriteWav(dir, "b.wav", 44100 * 120);
  const StderrRun tty = RunWithStderrOn(true, dir, {"-j2", "a.wav", "b.wav"});
  EXPECT_EQ(tty.status, 0) << tty.err;
  EXPECT_TRUE(testing::internal::RE::PartialMatch(tty.err, "\ra\\.wav: [0-9]+%  b\\.wav: [0-9]+%")) << tty.err;
}

}  // namespace
}  // namespace vornek::test
