// The vornek command, run as a user runs it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "flac/flac_fixtures.h"
#include "support/files.h"
#include "support/wav_writer.h"

namespace vornek::test {
namespace {

using namespace std::chrono_literals;

struct Result {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

/// Runs the command with `args` in `dir`; `while_running` is called with its process id.
Result RunCli(const TempDir& dir, const std::vector<std::string>& args,
              const std::function<void(pid_t)>& while_running = nullptr) {
  const std::string out_path = dir.File(".stdout"), err_path = dir.File(".stderr");
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.Path().c_str()) != 0) ::_exit(99);
    if (!std::freopen(out_path.c_str(), "w", stdout) || !std::freopen(err_path.c_str(), "w", stderr))
      ::_exit(98);
    std::vector<char*> argv{const_cast<char*>(VORNEK_CLI_FILE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(VORNEK_CLI_FILE, argv.data());
    ::_exit(97);
  }
  if (while_running) while_running(pid);
  int status = 0;
  ::waitpid(pid, &status, 0);
  Result r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = Slurp(out_path);
  r.err = Slurp(err_path);
  return r;
}

void WriteWav(const TempDir& dir, const std::string& name, std::size_t frames) {
  WriteBytes(dir.File(name), SimpleWav(1, 2, 44100, 16, ToPcm(TestSignal(frames, 2, 16), 16)));
}

TEST(Cli, ConvertsEachFileAndPrintsOneLineEach) {
  TempDir dir;
  WriteWav(dir, "a.wav", 44100);
  WriteWav(dir, "b.wav", 4410);
  const Result r = RunCli(dir, {"a.wav", "b.wav"});
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
  const Result r = RunCli(dir, {"-q", "a.wav"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(Cli, AFailureIsReportedAndTheOtherFilesStillConvert) {
  TempDir dir;
  WriteWav(dir, "good.wav", 100);
  const Result r = RunCli(dir, {"missing.wav", "good.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vornek: missing.wav: No such file or directory\n");
  EXPECT_TRUE(DecodeFlac(dir.File("good.flac")).ok);
}

TEST(Cli, UsageHelpAndVersion) {
  TempDir dir;
  const Result none = RunCli(dir, {});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("Usage: vornek"), std::string::npos);
  const Result bad = RunCli(dir, {"--frobnicate", "a.wav"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("unknown option '--frobnicate'"), std::string::npos);
  const Result help = RunCli(dir, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: vornek"), std::string::npos);
  const Result version = RunCli(dir, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("vornek ") + VORNEK_VERSION + "\n");
}

TEST(Cli, CtrlCStopsTheConversionAndRemovesItsPartialFile) {
  TempDir dir;
  WriteWav(dir, "long.wav", 44100 * 300);
  WriteWav(dir, "next.wav", 100);
  const Result r = RunCli(dir, {"long.wav", "next.wav"}, [&](pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      std::error_code ignored;
      if (std::filesystem::file_size(dir.File("long.flac"), ignored) > 4096) break;
      std::this_thread::sleep_for(1ms);
    }
    ::kill(pid, SIGINT);
  });
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("long.flac")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("next.flac"))) << "nothing after the interrupt";
  EXPECT_TRUE(std::filesystem::exists(dir.File("long.wav")));
}

}  // namespace
}  // namespace vornek::test
