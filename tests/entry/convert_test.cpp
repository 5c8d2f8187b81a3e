// SPDX-License-Identifier: BSD-3-Clause
// The conversion call in this process: the test thread is the host thread, and the
// message box hands its text to the test.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "entry/conversion_window.h"
#include "base/failures.h"
#include "flac/flac_fixtures.h"
#include "platform/window.h"
#include "support/files.h"
#include "support/host_loop.h"
#include "support/wav_writer.h"

namespace vornek::test {
namespace {

using namespace std::chrono_literals;

/// Collects the message boxes shown while it lives.
struct Messages {
  std::vector<std::string> texts;
  std::function<void(const std::string&)> also;
  Messages() {
    platform::SetMessageSink([this](const std::string& text) {
      texts.push_back(text);
      if (also) also(text);
    });
  }
  ~Messages() { platform::SetMessageSink(nullptr); }
};

/// A 16-bit stereo WAV of `frames` frames of the test signal; returns its samples.
std::vector<std::int32_t> WriteWav(const std::string& path, std::size_t frames) {
  const std::vector<std::int32_t> samples = TestSignal(frames, 2, 16);
  WriteBytes(path, SimpleWav(1, 2, 44100, 16, ToPcm(samples, 16)));
  return samples;
}

class Convert : public testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(ThreadCountBecomes(threads_before_), threads_before_)
        << "a thread of the library is left";
    EXPECT_EQ(platform::OwnerWindow(), 0u);
  }
  TempDir dir_;
  int threads_before_ = SettledThreadCount();
};

TEST_F(Convert, AWavFileBecomesAFlacFileBesideItThatDecodesToTheSameSamples) {
  const std::string wav = dir_.File("song.wav");
  const auto samples = WriteWav(wav, 3 * 4608 + 7);
  WriteBytes(dir_.File("song.flac"), {'o', 'l', 'd'});  // replaced, not appended to
  Messages messages;
  ConvertFile(0x1234, wav.c_str());
  EXPECT_TRUE(messages.texts.empty()) << messages.texts.front();
  const Decoded d = DecodeFlac(dir_.File("song.flac"));
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.md5_ok);
  EXPECT_EQ(d.samples, samples);
  EXPECT_EQ(d.rate, 44100u);
  EXPECT_EQ(d.max_block, 4608u);
}

TEST_F(Convert, TwoCallsInARowBothWork) {
  for (const char* name : {"one", "two"}) {
    const std::string wav = dir_.File(std::string(name) + ".wav");
    const auto samples = WriteWav(wav, 1000);
    Messages messages;
    ConvertFile(0, wav.c_str());
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_EQ(DecodeFlac(dir_.File(std::string(name) + ".flac")).samples, samples);
    EXPECT_EQ(ThreadCountBecomes(threads_before_), threads_before_);
  }
}

// An existing FLAC file is touched only by the rename that replaces it with a whole
// new one: every conversion that fails leaves it byte for byte.
TEST_F(Convert, AFailedConversionLeavesTheExistingFlacAsItWas) {
  const std::vector<std::uint8_t> good = {'f', 'L', 'a', 'C', 1, 2, 3};
  struct Case {
    const char* name;
    std::function<void(const std::string& wav)> make_input;
    std::string failure;
  };
  const Case cases[] = {
      {"missing input", [](const std::string&) {}, std::strerror(ENOENT)},
      {"not a WAV file", [](const std::string& wav) { WriteBytes(wav, {'h', 'e', 'l', 'l', 'o'}); },
       FailureText(TFailure::faNotWave)},
      {"no audio data",
       [](const std::string& wav) { WriteBytes(wav, Riff({{"fmt ", FmtBody(1, 2, 44100, 16, 4)}})); },
       FailureText(TFailure::faNoData)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteBytes(dir.File("song.flac"), good);
    c.make_input(dir.File("song.wav"));
    Messages messages;
    ConvertFile(0, dir.File("song.wav").c_str());
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_NE(messages.texts[0].find(c.failure), std::string::npos) << messages.texts[0];
    EXPECT_EQ(ReadBytes(dir.File("song.flac")), good);
  }
}

TEST_F(Convert, AnUnusableWavShowsTheReadersText) {
  WriteBytes(dir_.File("text.wav"), {'h', 'e', 'l', 'l', 'o'});
  Messages messages;
  ConvertFile(0, dir_.File("text.wav").c_str());
  ASSERT_EQ(messages.texts.size(), 1u);
  EXPECT_NE(messages.texts[0].find("WAV"), std::string::npos) << messages.texts[0];
}

TEST_F(Convert, TheCallNeverDeletesItsOwnInput) {
  // A WAV file whose name already ends in .flac: the output would be the input.
  const std::string path = dir_.File("song.flac");
  WriteWav(path, 100);
  const auto before = ReadBytes(path);
  Messages messages;
  ConvertFile(0, path.c_str());
  EXPECT_EQ(messages.texts, std::vector<std::string>{FailureText(TFailure::faOutputIsInput)});
  EXPECT_EQ(ReadBytes(path), before);
}

TEST_F(Convert, ACloseRequestEndsTheCallEarlyAndLeavesNoFlacFile) {
  const std::string wav = dir_.File("long.wav");
  WriteWav(wav, 44100 * 120);
  std::atomic<bool> stop{false};
  std::thread closer([&] {
    while (!stop && !platform::PostCloseToModalWindow()) std::this_thread::sleep_for(1ms);
  });
  Messages messages;
  ConvertFile(0, wav.c_str());
  stop = true;
  closer.join();
  EXPECT_TRUE(messages.texts.empty());
  // A whole run would have left long.flac: the call ended early, and left nothing.
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"long.wav"});
}

TEST_F(Convert, AQuitMessageEndsTheCallEarly) {
  const std::string wav = dir_.File("long.wav");
  WriteWav(wav, 44100 * 120);
  std::thread quitter([] {
    std::this_thread::sleep_for(20ms);
    platform::PostQuitToHostThread();
  });
  Messages messages;
  ConvertFile(0, wav.c_str());
  quitter.join();
  // A whole run would have left long.flac: the call ended early, and left nothing.
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"long.wav"});
}

TEST_F(Convert, ACallFromInsideARunningCallReturnsAtOnce) {
  const std::string nested = dir_.File("nested.wav");
  WriteWav(nested, 100);
  Messages messages;
  // The failure's message box runs inside the first call's modal loop.
  messages.also = [&](const std::string&) { ConvertFile(0, nested.c_str()); };
  ConvertFile(0, dir_.File("missing.wav").c_str());
  EXPECT_EQ(messages.texts.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("nested.flac")));
}

TEST_F(Convert, ACallFromAnotherThreadIsRefusedWithAMessage) {
  const std::string wav = dir_.File("song.wav");
  WriteWav(wav, 100);
  Messages messages;
  std::thread other([&] { ConvertFile(0, wav.c_str()); });
  other.join();
  ASSERT_EQ(messages.texts.size(), 1u);
  EXPECT_NE(messages.texts[0].find("thread that loaded the library"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("song.flac")));
}

TEST_F(Convert, ANullPathReadsAsEmpty) {
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_.Path());  // an empty path names ".flac" here
  Messages messages;
  ConvertFile(0, nullptr);
  std::filesystem::current_path(cwd);
  EXPECT_EQ(messages.texts, std::vector<std::string>{"The file name is not assigned"});
}

TEST_F(Convert, ARelativePathIsFoundFromTheCurrentFolder) {
  WriteWav(dir_.File("rel.wav"), 100);
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_.Path());
  Messages messages;
  ConvertFile(0, "rel.wav");
  std::filesystem::current_path(cwd);
  EXPECT_TRUE(messages.texts.empty());
  EXPECT_TRUE(DecodeFlac(dir_.File("rel.flac")).ok);
}

}  // namespace
}  // namespace vornek::test
