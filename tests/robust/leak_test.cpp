// SPDX-License-Identifier: BSD-3-Clause
// A thousand conversions in one process, as a host that keeps the library loaded makes
// them, alternating files that convert with files that fail: afterwards the process
// holds no more threads, no more open files and no more memory than before. The test
// thread is the host thread (it ran the library's module initialisation).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "entry/conversion_window.h"
#include "flac/flac_fixtures.h"
#include "platform/window.h"
#include "support/files.h"
#include "support/host_loop.h"
#include "support/wav_writer.h"

#if defined(__SANITIZE_ADDRESS__)
#define VORNEK_ROBUST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORNEK_ROBUST_ASAN 1
#endif
#endif

namespace vornek::test {
namespace {

namespace fs = std::filesystem;

std::size_t OpenFileCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;  // the same count both times: the iterator's own descriptor is in each
}

/// Resident memory in bytes (the second field of /proc/self/statm, in pages).
std::int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::int64_t total_pages = 0, resident_pages = 0;
  statm >> total_pages >> resident_pages;
  return resident_pages * ::sysconf(_SC_PAGESIZE);
}

/// One conversion the loop makes: a path and whether it converts.
struct Call {
  std::string path;
  bool converts;
};

class Leaks : public testing::Test {
 protected:
  Leaks() {
    WriteBytes(dir_.File("good.wav"),
               SimpleWav(1, 2, 44100, 16, ToPcm(TestSignal(3000, 2, 16), 16)));
    WriteBytes(dir_.File("no-channels.wav"),
               Riff({{"fmt ", FmtBody(1, 0, 44100, 16, 4)}, {"data", Bytes(400)}}));
    WriteBytes(dir_.File("not-a-wav.wav"), Bytes(100, 'x'));
    fs::create_directory(dir_.Path() / "folder.wav");
    // Every other call converts; the failures between them fail in different places:
    // the header, the first bytes, the opening of the input.
    calls_ = {{dir_.File("good.wav"), true},       {dir_.File("no-channels.wav"), false},
              {dir_.File("good.wav"), true},       {dir_.File("not-a-wav.wav"), false},
              {dir_.File("good.wav"), true},       {dir_.File("missing.wav"), false},
              {dir_.File("good.wav"), true},       {dir_.File("folder.wav"), false}};
    platform::SetMessageSink([this](const std::string&) { ++messages_; });
  }
  ~Leaks() override { platform::SetMessageSink(nullptr); }

  /// Makes `n` calls in turn; each failure shows exactly one message, a conversion none.
  void Convert(int n) {
    for (int i = 0; i < n; ++i) {
      const Call& call = calls_[static_cast<std::size_t>(i) % calls_.size()];
      messages_ = 0;
      ConvertFile(0, call.path.c_str());
      ASSERT_EQ(messages_, call.converts ? 0 : 1) << call.path << " (call " << i << ")";
    }
  }

  TempDir dir_;
  std::vector<Call> calls_;
  int messages_ = 0;
};

TEST_F(Leaks, AThousandCallsLeaveNoThreadFileOrMemoryBehind) {
  // The first calls load libFLAC and fill the allocator's pools: measure after them.
  Convert(40);
  ASSERT_FALSE(HasFatalFailure());
  const int threads = SettledThreadCount();
  const std::size_t files = OpenFileCount();
  [[maybe_unused]] const std::int64_t resident = ResidentBytes();

  Convert(1000);
  ASSERT_FALSE(HasFatalFailure());

  EXPECT_EQ(ThreadCountBecomes(threads), threads) << "threads of the library are left";
  EXPECT_EQ(OpenFileCount(), files) << "file descriptors are left open";
  EXPECT_TRUE(DecodeFlac(dir_.File("good.flac")).ok);
#ifndef VORNEK_ROBUST_ASAN
  // A conversion allocates a 16 KB window, a FLAC encoder of several hundred KB and a
  // worker thread's stack: a leak of any of them, a thousand times over, is far above
  // this. (AddressSanitizer holds freed memory back on purpose; there LeakSanitizer
  // does this check.)
  constexpr std::int64_t kTolerance = 4 << 20;
  EXPECT_LT(ResidentBytes() - resident, kTolerance)
      << "resident memory grew from " << resident << " to " << ResidentBytes() << " bytes";
#endif
}

}  // namespace
}  // namespace vornek::test
