// SPDX-License-Identifier: BSD-3-Clause
// The MPEG Layer 3 decoding as the reader makes it, on files made at test time: the
// memory held does not grow with the length of the file, a stop during the open ends
// the decode, and junk between frames is decoded past as ffmpeg's own decoder does.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "alloc_meter.h"
#include "mp3_fixtures.h"
#include "base/au_exception.h"
#include "pipeline/fakes.h"
#include "pipeline/file_stream.h"
#include "platform/text.h"
#include "support/files.h"
#include "support/host_loop.h"
#include "support/tools.h"
#include "support/wav_writer.h"
#include "base/failures.h"
#include "wave/wave_in.h"

namespace vornek::test {
namespace {

using namespace std::chrono_literals;

constexpr std::int64_t kMiB = 1 << 20;

/// The text an Open fails with, or "" when it opens.
std::string OpenFailure(TAuInput& input) {
  try {
    input.Open();
  } catch (const EAuException& failure) {
    return failure.what();
  }
  return "";
}

/// Reads an open input to its end without keeping what it hands out; returns the bytes.
std::int64_t ReadThrough(TAuInput& input) {
  std::vector<std::uint8_t> buffer(65536);
  std::int64_t total = 0;
  bool end = false;
  while (!end) total += input.ReadFully(buffer.data(), static_cast<std::uint32_t>(buffer.size()), end);
  return total;
}

class LongMp3 : public ::testing::Test {
 protected:
  void SetUp() override {
    VORNEK_REQUIRE(MissingMp3Encoder());
    half_minute_ = EncodeSine(2, 44100, 30.0, 440);
  }
  /// A file of `minutes` of stereo 44.1 kHz audio, written to the test's folder.
  std::string Write(int minutes) {
    const std::string path = dir_.File(std::to_string(minutes) + "min.wav");
    WriteBytes(path, RepeatedMp3Wav(half_minute_, 2 * minutes));
    return path;
  }

  TempDir dir_;
  Mp3Wav half_minute_;
};

TEST_F(LongMp3, DecodesInMemoryThatDoesNotGrowWithTheLength) {
  // The most held at once while opening (the length is decoded then) and reading
  // through: a piece of the data and the PCM decoded from it, the same for both.
  for (const int minutes : {1, 10}) {
    SCOPED_TRACE(std::to_string(minutes) + " minutes");
    const std::string path = Write(minutes);
    TWaveIn wave;
    wave.SetFileName(path);
    const std::int64_t before = LiveBytes();
    ResetPeakBytes();
    ASSERT_EQ(OpenFailure(wave), "");
    EXPECT_GT(wave.Size, std::int64_t{minutes} * 60 * 44100 * 4);
    EXPECT_EQ(ReadThrough(wave), wave.Size) << "the length found on opening is what is delivered";
    EXPECT_LT(PeakBytes() - before, 2 * kMiB);
    wave.Close();
    EXPECT_LE(LiveBytes() - before, 64 * 1024);
  }
}

/// A reader that tells another thread when it has begun to open its file.
class WatchedWaveIn : public TWaveIn {
 public:
  std::atomic<bool> opening_file{false};

 protected:
  void OpenFile() override {
    opening_file = true;
    TWaveIn::OpenFile();
  }
};

TEST_F(LongMp3, AStopOfTheOutputEndsTheDecodeAndLeavesNothingBehind) {
  const std::string path = Write(20);  // seconds of decoding, were it not stopped
  WatchedWaveIn wave;
  wave.SetFileName(path);
  StepOutput output;
  output.SetInput(&wave);
  const std::int64_t before = LiveBytes();

  output.Run();
  // The decode follows at once on the opening of the file.
  ASSERT_TRUE(PumpUntil([&] { return wave.opening_file.load(); }));
  output.Stop(false);

  // A decode that had run to its end would have opened the input.
  EXPECT_EQ(output.GetExceptionMessage(), FailureText(TFailure::faStopped));
  EXPECT_EQ(output.dones, 1);
  EXPECT_FALSE(wave.Busy);
  EXPECT_FALSE(wave.Valid);
  // No decoder, no conversion stream, no file stream.
  EXPECT_LE(LiveBytes() - before, 64 * 1024);
}

TEST(MpegJunk, JunkBetweenFramesIsDecodedPastAsTheReferenceDecoderDoes) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  const Mp3Wav mp3 = EncodeSine(2, 44100, 10.0);
  const std::vector<std::size_t> starts = FrameStarts(mp3.data);
  ASSERT_GT(starts.size(), 300u);
  const std::optional<std::vector<std::int16_t>> clean = FfmpegDecode(mp3.file);
  ASSERT_TRUE(clean);
  const std::size_t frame_values = 2 * kMp3FrameSamples;

  struct Case {
    const char* what;
    int insertions;
    std::size_t junk_bytes;
    bool can_look_like_a_frame;  ///< bytes 0xFF (a frame sync) included
  };
  const Case cases[] = {
      {"a few bytes, once", 1, 7, false},
      {"a frame's worth, five times", 5, 500, false},
      {"past libmpg123's default search limit, three times", 3, 3000, false},
      {"random bytes that may look like frames, eight times", 8, 700, true},
  };
  std::mt19937 random(17);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Junk before frame k for evenly spaced k, none near the ends.
    std::vector<std::size_t> damaged;
    Bytes data;
    std::size_t copied = 0;
    for (int i = 1; i <= c.insertions; ++i) {
      const std::size_t k = starts.size() * static_cast<std::size_t>(i) / static_cast<std::size_t>(c.insertions + 1);
      data.insert(data.end(), mp3.data.begin() + static_cast<std::ptrdiff_t>(copied),
                  mp3.data.begin() + static_cast<std::ptrdiff_t>(starts[k]));
      for (std::size_t j = 0; j < c.junk_bytes; ++j)
        data.push_back(static_cast<std::uint8_t>(random() % (c.can_look_like_a_frame ? 256 : 255)));
      copied = starts[k];
      damaged.push_back(k);
    }
    data.insert(data.end(), mp3.data.begin() + static_cast<std::ptrdiff_t>(copied), mp3.data.end());
    const Bytes file = Mp3WavWith(mp3, data);

    Delivered delivered;
    ASSERT_NO_THROW(delivered = ReadThroughReader(file)) << "refused where the reference decodes it";
    const std::vector<std::int16_t> ours = Samples16(delivered.pcm);
    const std::optional<std::vector<std::int16_t>> reference = FfmpegDecode(file);
    ASSERT_TRUE(reference) << "ffmpeg refused it";

    // No less audio than the reference keeps, and no more than the clean file holds,
    // but for frames the junk itself may make.
    EXPECT_GE(ours.size(), reference->size());
    const std::size_t extra = c.can_look_like_a_frame ? 2 * frame_values * damaged.size() : 0;
    EXPECT_LE(ours.size(), clean->size() + extra);
    if (c.can_look_like_a_frame) continue;

    // Every frame but the few after the junk (whose bit reservoir it broke) is the
    // clean file's audio, as the reference decodes it.
    ASSERT_EQ(ours.size(), clean->size());
    std::size_t differing = 0;
    for (std::size_t frame = 0; frame * frame_values < ours.size(); ++frame) {
      const bool near_junk = std::any_of(damaged.begin(), damaged.end(),
                                         [frame](std::size_t k) { return frame >= k && frame < k + 3; });
      if (near_junk) continue;
      for (std::size_t i = frame * frame_values; i < std::min(ours.size(), (frame + 1) * frame_values); ++i)
        if (std::abs(ours[i] - (*clean)[i]) > 2) {
          ++differing;
          break;
        }
    }
    EXPECT_EQ(differing, 0u);
  }
}

TEST(MpegJunk, DataOfJunkOnlyIsRefusedAsTheReferenceRefusesIt) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  const Mp3Wav mp3 = EncodeSine(2, 44100, 0.5);
  std::mt19937 random(3);
  Bytes noise(300000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  const Bytes file = Mp3WavWith(mp3, noise);
  const std::optional<std::vector<std::int16_t>> reference = FfmpegDecode(file);
  EXPECT_TRUE(!reference || reference->empty()) << "the reference decoded junk";
  try {
    ReadThroughReader(file);
    ADD_FAILURE() << "junk converted";
  } catch (const EAuException& failure) {
    EXPECT_EQ(std::string(failure.what()), FailureText(TFailure::faMpegNoAudio));
  }
}

}  // namespace
}  // namespace vornek::test
