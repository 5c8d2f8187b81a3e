// SPDX-License-Identifier: BSD-3-Clause
// The shared library as a host program sees it: loaded at run time, one export.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "flac/flac_fixtures.h"
#include "support/files.h"
#include "support/wav_writer.h"

namespace vornek::test {
namespace {

std::string CommandOutput(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

TEST(Export, TheLibraryExportsVnkconvAndNothingElse) {
  const std::string symbols =
      CommandOutput(std::string("nm -D --defined-only ") + VORNEK_LIBRARY_FILE + " | awk '{print $3}'");
  EXPECT_EQ(symbols, "vnkconv\n");
}

TEST(Export, AHostLoadsTheLibraryAndConverts) {
  TempDir dir;
  const std::vector<std::int32_t> samples = TestSignal(5000, 1, 24);
  WriteBytes(dir.File("host.wav"), SimpleWav(1, 1, 48000, 24, ToPcm(samples, 24)));

  void* library = ::dlopen(VORNEK_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  using Vnkconv = void (*)(void*, const char*);
  auto vnkconv = reinterpret_cast<Vnkconv>(::dlsym(library, "vnkconv"));
  ASSERT_NE(vnkconv, nullptr);
  vnkconv(nullptr, dir.File("host.wav").c_str());
  const Decoded d = DecodeFlac(dir.File("host.flac"));
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.samples, samples);
  EXPECT_EQ(d.bits, 24u);

  // A failure goes to the message box, which the library writes to standard error.
  testing::internal::CaptureStderr();
  vnkconv(nullptr, dir.File("absent.wav").c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "No such file or directory\n");
  ::dlclose(library);
}

}  // namespace
}  // namespace vornek::test
