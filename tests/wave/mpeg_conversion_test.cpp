// SPDX-License-Identifier: BSD-3-Clause
// The MPEG Layer 3 conversion as the reader makes it, on files made at test time:
// the decoded audio held once and let go as it is read, a stop during the decode,
// the ceiling of what is held (foreseen, and while decoding), and junk between
// frames decoded past as ffmpeg's own decoder does.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "alloc_meter.h"
#include "mp3_fixtures.h"
#include "pipeline/au_exception.h"
#include "pipeline/fakes.h"
#include "pipeline/file_stream.h"
#include "platform/text.h"
#include "support/files.h"
#include "support/host_loop.h"
#include "support/tools.h"
#include "support/wav_writer.h"
#include "pipeline/failures.h"
#include "wave/pcm_image.h"
#include "wave/wave_converter.h"
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

TEST_F(LongMp3, HoldsTheDecodedAudioOnceAndLetsItGoAsItIsRead) {
  const std::string path = Write(3);
  TWaveIn wave;
  wave.SetFileName(path);
  const std::int64_t before = LiveBytes();
  ResetPeakBytes();
  ASSERT_EQ(OpenFailure(wave), "");
  const std::int64_t pcm = wave.Size;
  const std::int64_t held = LiveBytes() - before;
  const std::int64_t peak = PeakBytes() - before;
  ASSERT_GT(pcm, 3 * 60 * 44100 * 4);

  // One copy of the audio and the unfilled ends of its blocks; during the decode
  // nothing more than that (the compressed data, a second copy) was held.
  EXPECT_LE(held, pcm + pcm / 50 + static_cast<std::int64_t>(TPcmImage::kBlockBytes)) << pcm;
  EXPECT_LE(peak, held + kMiB) << "held " << held;

  EXPECT_EQ(ReadThrough(wave), pcm);
  EXPECT_LE(LiveBytes() - before, static_cast<std::int64_t>(TPcmImage::kBlockBytes) + kMiB)
      << "what has been read is let go";
  wave.Close();
  EXPECT_LE(LiveBytes() - before, 64 * 1024);
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
  // No image, no conversion stream, no file stream.
  EXPECT_LE(LiveBytes() - before, 64 * 1024);
}

/// A stream over another that counts the bytes read through it.
class CountingStream : public TStream {
 public:
  explicit CountingStream(TStream& inner) : inner_(inner) {}
  std::size_t Read(void* buffer, std::size_t count) override {
    const std::size_t got = inner_.Read(buffer, count);
    read_ += static_cast<std::int64_t>(got);
    return got;
  }
  void Write(const void* buffer, std::size_t count) override { inner_.Write(buffer, count); }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override { return inner_.Seek(offset, origin); }
  std::int64_t Size() override { return inner_.Size(); }
  std::int64_t BytesRead() const { return read_; }

 private:
  TStream& inner_;
  std::int64_t read_ = 0;
};

TEST_F(LongMp3, AFileThatWouldDecodePastTheCeilingIsRefusedAtOnce) {
  // Files of 5 GB that are holes but for their first bytes (as `truncate` makes them),
  // whose "data" runs to the end of the file.
  struct Case {
    const char* what;
    std::uint32_t data_size_field;
    bool frames_first;  ///< real frames before the hole, or none at all
  };
  const Case cases[] = {
      {"size left open, frames then a hole", 0, true},
      {"size 0xFFFFFFFF, frames then a hole", 0xFFFFFFFFu, true},
      {"size left open, no frame at all", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir_.File("huge.wav");
    Bytes head = Riff({{"fmt ", half_minute_.fmt},
                       {"fact", half_minute_.fact},
                       {"data", c.frames_first ? half_minute_.data : Bytes{}, c.data_size_field}});
    WriteBytes(path, head);
    std::filesystem::resize_file(path, std::uintmax_t{5} << 30);

    TAuFileStream file(platform::AnsiToWide(path), platform::kModeReadShareRead);
    CountingStream counting(file);
    TWaveIn wave;
    wave.SetStream(&counting);
    const std::int64_t before = LiveBytes();
    ResetPeakBytes();
    const std::string failure = OpenFailure(wave);
    EXPECT_NE(failure.find("would decode to about"), std::string::npos) << failure;
    EXPECT_NE(failure.find("at most 1.4 GB (2 hours 12 minutes of 44.1 kHz stereo)"), std::string::npos)
        << failure;
    // At once: a few probes of the data were read, and little was held.
    EXPECT_LT(counting.BytesRead(), 2 * kMiB);
    EXPECT_LT(PeakBytes() - before, 2 * kMiB);
    wave.Close();
    wave.SetStream(nullptr);
    std::filesystem::remove(path);
  }
}

TEST(MpegCeiling, HoldsExactlyWhileDecodingAndRefusesAtOnceWhatIsClearlyPastIt) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  const Mp3Wav mp3 = EncodeSine(2, 44100, 2.0);
  auto convert = [&](std::int64_t ceiling) {
    TMemoryStream source(mp3.file);
    TWaveConverter converter;
    converter.LoadFromWave(source);
    return converter.ConvertToImage(converter, 0, converter.Size(), {}, ceiling);
  };
  const std::int64_t pcm = convert(kMaxDecodedBytes)->Size() - 44;
  ASSERT_GT(pcm, 2 * 44100 * 4);

  EXPECT_EQ(convert(pcm)->Size(), pcm + 44) << "a file of exactly the ceiling converts";
  struct Case {
    std::int64_t ceiling;
    const char* text;
  };
  const Case refusals[] = {
      {pcm - 4, "would decode to more than "},  // one sample frame less: found while decoding
      {pcm / 2, "would decode to about "},      // foreseen
  };
  for (const Case& c : refusals) {
    try {
      convert(c.ceiling);
      ADD_FAILURE() << "converted under a ceiling of " << c.ceiling;
    } catch (const EAuException& failure) {
      EXPECT_NE(std::string(failure.what()).find(c.text), std::string::npos) << failure.what();
    }
  }
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

    TMemoryStream source(file);
    std::unique_ptr<TPcmImage> image;
    ASSERT_NO_THROW(image = ConvertCompressedWave(source)) << "refused where the reference decodes it";
    const Bytes image_bytes = image->CopyAll();
    const std::vector<std::int16_t> ours = Samples16(Bytes(image_bytes.begin() + 44, image_bytes.end()));
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
  TMemoryStream source(file);
  try {
    ConvertCompressedWave(source);
    ADD_FAILURE() << "junk converted";
  } catch (const EAuException& failure) {
    EXPECT_EQ(std::string(failure.what()), FailureText(TFailure::faMpegNoAudio));
  }
}

}  // namespace
}  // namespace vornek::test
