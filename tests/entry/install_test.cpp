// SPDX-License-Identifier: BSD-3-Clause
// `cmake --install` gives a host what it needs: the C host of the README, built against
// the installed library with pkg-config, converts a file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "flac/flac_fixtures.h"
#include "support/files.h"
#include "support/tools.h"
#include "support/wav_writer.h"

namespace vornek::test {
namespace {

std::string Quote(const std::string& text) { return "'" + text + "'"; }

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

/// The README's C host: the first C code block that includes the installed header.
std::string ReadmeHost() {
  std::ifstream readme(std::string(VORNEK_SOURCE_DIR) + "/README.md");
  std::stringstream text;
  text << readme.rdbuf();
  const std::string all = text.str();
  for (std::size_t at = all.find("```c\n"); at != std::string::npos; at = all.find("```c\n", at + 1)) {
    const std::size_t end = all.find("```", at + 5);
    const std::string block = all.substr(at + 5, end - at - 5);
    if (block.find("#include <vornek.h>") != std::string::npos) return block;
  }
  return {};
}

TEST(Install, TheReadmeHostBuildsAgainstTheInstalledLibraryAndConverts) {
  VORNEK_REQUIRE(MissingTool("cc"));
  VORNEK_REQUIRE(MissingTool("pkg-config"));
  TempDir prefix, work;
  ASSERT_TRUE(Shell(std::string(VORNEK_CMAKE_COMMAND) + " --install " + Quote(VORNEK_BUILD_DIR) + " --prefix " +
                  Quote(prefix.Path().string())));
  const std::string host = ReadmeHost();
  ASSERT_FALSE(host.empty()) << "the README shows no C host that includes <vornek.h>";
  std::ofstream(work.File("host.c")) << host;

  // Wherever GNUInstallDirs put the library, pkg-config finds it through its .pc file.
  const std::string pc_path = prefix.File("lib") + "/pkgconfig:" + prefix.File("lib64") + "/pkgconfig";
  const std::string flags = "$(PKG_CONFIG_PATH=" + Quote(pc_path) + " pkg-config --cflags --libs vornek)";
  ASSERT_TRUE(Shell("cc " + std::string(VORNEK_HOST_CFLAGS) + " -o " + Quote(work.File("host")) + " " +
                    Quote(work.File("host.c")) + " " + flags));

  const std::vector<std::int32_t> samples = TestSignal(6000, 2, 16);
  WriteBytes(work.File("song.wav"), SimpleWav(1, 2, 44100, 16, ToPcm(samples, 16)));
  const std::string libdir = "$(PKG_CONFIG_PATH=" + Quote(pc_path) + " pkg-config --variable=libdir vornek)";
  // A search path the test runs under (another libFLAC, for one) still counts after the library's.
  ASSERT_TRUE(Shell("cd " + Quote(work.Path().string()) + " && LD_LIBRARY_PATH=" + libdir +
                    "${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} ./host song.wav"));
  const Decoded d = DecodeFlac(work.File("song.flac"));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.samples, samples);

  // The command is installed too, and runs from there.
  EXPECT_TRUE(Shell(Quote(prefix.File("bin/vornek")) + " --version"));
}

}  // namespace
}  // namespace vornek::test
