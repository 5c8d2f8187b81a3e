// SPDX-License-Identifier: BSD-3-Clause
// MPEG Layer 3 WAV data decoded by the reader (the chunks it takes, the PCM it
// delivers, the failures it names), and the compression manager's one-call conversion
// (support/wave_converter.h), on files made at test time with ffmpeg's MP3 encoder.
#include "support/wave_converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "base/au_exception.h"
#include "platform/acm.h"
#include "support/files.h"
#include "support/wav_writer.h"
#include "support/tools.h"
#include "mp3_fixtures.h"

namespace vornek {
namespace {

using test::Bytes;
using test::Chunk;
using test::Delivered;
using test::EncodeSine;
using test::kMp3FrameSamples;
using test::MissingMp3Encoder;
using test::Mp3Wav;
using test::ReadThroughReader;
using test::Riff;
using test::TWaveConverter;
using test::kWaveFileNotSaved;

/// What the reader delivered, as samples.
struct Image {
  std::uint16_t channels = 0;
  std::uint32_t rate = 0;
  std::uint16_t bits = 0;
  std::int64_t size = 0;               ///< the Size the reader stated on opening
  std::vector<std::int16_t> samples;  ///< interleaved
};

Image Convert(const Bytes& file) {
  const Delivered delivered = ReadThroughReader(file);
  Image image{static_cast<std::uint16_t>(delivered.channels), static_cast<std::uint32_t>(delivered.rate),
              static_cast<std::uint16_t>(delivered.bits), delivered.size, {}};
  for (std::size_t i = 0; i + 1 < delivered.pcm.size(); i += 2)
    image.samples.push_back(static_cast<std::int16_t>(test::GetLE16(&delivered.pcm[i])));
  return image;
}

std::string ConvertFailure(const Bytes& file) {
  try {
    ReadThroughReader(file);
  } catch (const EAuException& failure) {
    return failure.what();
  }
  return "";
}

std::size_t Frames(const Image& image) { return image.channels ? image.samples.size() / image.channels : 0; }

std::vector<double> Channel(const Image& image, std::size_t channel) {
  std::vector<double> out;
  for (std::size_t i = channel; i < image.samples.size(); i += image.channels) out.push_back(image.samples[i]);
  return out;
}

/// Frequency from the rising zero crossings of `x` over [begin, end).
double ZeroCrossingFrequency(const std::vector<double>& x, std::size_t begin, std::size_t end, double rate) {
  std::size_t first = 0, last = 0, count = 0;
  for (std::size_t i = begin + 1; i < end; ++i) {
    if (x[i - 1] < 0 && x[i] >= 0) {
      if (count == 0) first = i;
      last = i;
      ++count;
    }
  }
  if (count < 2) return 0;
  return static_cast<double>(count - 1) * rate / static_cast<double>(last - first);
}

/// Signal-to-residual ratio in dB of the best-fitting sine of `frequency` over [begin, end).
double SineSnrDb(const std::vector<double>& x, std::size_t begin, std::size_t end, double frequency, double rate) {
  // Least squares for a*sin + b*cos + c (normal equations, 3x3, solved directly).
  double m[3][4] = {};
  for (std::size_t i = begin; i < end; ++i) {
    const double w = 2 * std::numbers::pi * frequency * static_cast<double>(i) / rate;
    const double basis[3] = {std::sin(w), std::cos(w), 1.0};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) m[r][c] += basis[r] * basis[c];
      m[r][3] += basis[r] * x[i];
    }
  }
  for (int p = 0; p < 3; ++p)
    for (int r = 0; r < 3; ++r)
      if (r != p) {
        const double f = m[r][p] / m[p][p];
        for (int c = 0; c < 4; ++c) m[r][c] -= f * m[p][c];
      }
  const double coefficient[3] = {m[0][3] / m[0][0], m[1][3] / m[1][1], m[2][3] / m[2][2]};
  double signal = 0, residual = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const double w = 2 * std::numbers::pi * frequency * static_cast<double>(i) / rate;
    const double fit = coefficient[0] * std::sin(w) + coefficient[1] * std::cos(w) + coefficient[2];
    signal += fit * fit;
    residual += (x[i] - fit) * (x[i] - fit);
  }
  return 10 * std::log10(signal / std::max(residual, 1e-9));
}

/// Sample frames of silence at the end of what was delivered.
std::size_t TrailingSilentFrames(const Image& image) {
  std::size_t zeros = 0;
  for (std::size_t i = image.samples.size(); i-- > 0 && image.samples[i] == 0;) ++zeros;
  return image.channels ? zeros / image.channels : 0;
}

Bytes WithChunks(const Mp3Wav& mp3, std::vector<Chunk> after_fact, const std::string& riff = "RIFF",
                 const std::string& wave = "WAVE") {
  std::vector<Chunk> chunks = {{"fmt ", mp3.fmt}, {"fact", mp3.fact}};
  chunks.insert(chunks.end(), after_fact.begin(), after_fact.end());
  return Riff(chunks, riff, wave);
}

/// Number of decoded frames expected for `mp3`, give or take two MP3 frames.
void ExpectLengthOf(const Image& image, const Mp3Wav& mp3) {
  EXPECT_NEAR(static_cast<double>(Frames(image)), mp3.encoded_samples, 2 * kMp3FrameSamples);
}

struct FormatCase {
  int channels;
  int rate;
};

class ConvertsEncodedSine : public ::testing::TestWithParam<FormatCase> {};

TEST_P(ConvertsEncodedSine, ToPcmOfTheFilesFormatLengthAndSignal) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  const FormatCase c = GetParam();
  const Mp3Wav mp3 = EncodeSine(c.channels, c.rate, 2.0);
  const Image image = Convert(mp3.file);

  EXPECT_EQ(image.channels, c.channels);
  EXPECT_EQ(image.rate, static_cast<std::uint32_t>(c.rate));
  EXPECT_EQ(image.bits, 16);
  EXPECT_EQ(image.size, static_cast<std::int64_t>(image.samples.size() * 2)) << "Size is what is delivered";

  ExpectLengthOf(image, mp3);
  // The PCM is what the decoder produced: no block of appended silence at the end.
  EXPECT_LT(TrailingSilentFrames(image), static_cast<std::size_t>(kMp3FrameSamples));

  // The middle second, clear of the encoder's delay and the fade at the end.
  const std::size_t begin = static_cast<std::size_t>(c.rate) / 4;
  const std::size_t end = begin + static_cast<std::size_t>(c.rate);
  ASSERT_GT(Frames(image), end);
  for (int channel = 0; channel < c.channels; ++channel) {
    const std::vector<double> x = Channel(image, static_cast<std::size_t>(channel));
    EXPECT_NEAR(ZeroCrossingFrequency(x, begin, end, c.rate), 1000.0, 2.0) << "channel " << channel;
    EXPECT_GT(SineSnrDb(x, begin, end, 1000.0, c.rate), 30.0) << "channel " << channel;
  }
}

INSTANTIATE_TEST_SUITE_P(MonoStereo44And48, ConvertsEncodedSine,
                         ::testing::Values(FormatCase{1, 44100}, FormatCase{2, 44100}, FormatCase{1, 48000},
                                           FormatCase{2, 48000}));

class EncodedFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    VORNEK_REQUIRE(MissingMp3Encoder());
    long_ = EncodeSine(1, 44100, 2.0);
    short_ = EncodeSine(1, 44100, 0.5, 500);
    ASSERT_GT(long_.encoded_samples, short_.encoded_samples + 4 * kMp3FrameSamples);
  }
  Mp3Wav long_;
  Mp3Wav short_;
};

TEST_F(EncodedFixture, TheFirstDataChunkIsDecoded) {
  ExpectLengthOf(Convert(WithChunks(long_, {{"data", short_.data}, {"data", long_.data}})), short_);
  ExpectLengthOf(Convert(WithChunks(long_, {{"data", long_.data}, {"data", short_.data}})), long_);
  ExpectLengthOf(Convert(WithChunks(long_, {{"data", long_.data}, {"data", {}}})), long_);
}

TEST_F(EncodedFixture, DataInsideAnotherChunksBodyIsNotTaken) {
  // A LIST chunk after the real data whose body spells a complete "data" chunk.
  Bytes list = {'I', 'N', 'F', 'O'};
  const Bytes inner = Riff({{"data", short_.data}});
  list.insert(list.end(), inner.begin() + 12, inner.end());
  const Image image = Convert(WithChunks(long_, {{"data", long_.data}, {"LIST", list}}));
  ExpectLengthOf(image, long_);
}

TEST_F(EncodedFixture, OddSizedChunkBeforeDataWithOrWithoutItsPadByte) {
  const Bytes odd_body = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 1, 0, 0, 0, 'x'};
  ExpectLengthOf(Convert(WithChunks(long_, {{"LIST", odd_body}, {"data", long_.data}})), long_);
  ExpectLengthOf(Convert(WithChunks(long_, {Chunk("LIST", odd_body, std::nullopt, false), {"data", long_.data}})),
                 long_);
}

TEST_F(EncodedFixture, ExtensionSizeClaimingMoreThanTheFmtBodyIsCutToTheBody) {
  Mp3Wav lying = long_;
  lying.fmt[16] = 200;  // the extension is 12 bytes in a 30-byte body
  lying.fmt[17] = 0;
  ExpectLengthOf(Convert(WithChunks(lying, {{"data", long_.data}})), long_);
}

TEST_F(EncodedFixture, TruncatedDataChunkConvertsTheFramesThatArePresent) {
  Bytes file = WithChunks(long_, {{"data", long_.data}});
  file.resize(file.size() - long_.data.size() / 2);
  const Image image = Convert(file);
  EXPECT_NEAR(static_cast<double>(Frames(image)), long_.encoded_samples / 2.0, 2 * kMp3FrameSamples);
}

TEST_F(EncodedFixture, FailuresCarryATextThatSaysWhat) {
  struct Case {
    const char* what;
    Bytes file;
    const char* text;
    /// More of the text, where it says in words what went wrong.
    const char* also = nullptr;
  };
  std::mt19937 random(7);
  Bytes noise(20000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  Bytes fmt_3_channels = long_.fmt;
  fmt_3_channels[2] = 3;  // no MPEG audio has three channels
  Bytes fmt_48k = long_.fmt;
  fmt_48k[4] = 0x80, fmt_48k[5] = 0xBB;  // 48000 Hz declared, 44100 Hz frames
  Bytes too_long_fmt = long_.fmt;
  too_long_fmt.resize(130);
  const Bytes first_bytes(long_.data.begin(), long_.data.begin() + 100);
  const Case cases[] = {
      {"not a RIFF file", Bytes(long_.data.begin(), long_.data.end()), "not a WAV file"},
      {"no fmt", Riff({{"fact", long_.fact}, {"data", long_.data}}), "no format chunk"},
      {"fmt too long", Riff({{"fmt ", too_long_fmt}, {"fact", long_.fact}, {"data", long_.data}}),
       "at most 129 bytes"},
      {"fmt too short", Riff({{"fmt ", Bytes(long_.fmt.begin(), long_.fmt.begin() + 12)}, {"data", long_.data}}),
       "too short"},
      {"no data", WithChunks(long_, {}), "no audio data chunk"},
      {"only an empty data", WithChunks(long_, {{"data", {}}}), "no \"data\" chunk"},
      {"three channels", Riff({{"fmt ", fmt_3_channels}, {"fact", long_.fact}, {"data", long_.data}}),
       "No PCM format is offered",
       "(3 channels at 44100 Hz): no installed codec decodes MPEG Layer 3 data of that format."},
      {"rate declared wrong", Riff({{"fmt ", fmt_48k}, {"fact", long_.fact}, {"data", long_.data}}),
       "could not be converted to PCM",
       "(1 channel at 48000 Hz) could not be converted to PCM: the data is not of the format its header declares"},
      {"random bytes", WithChunks(long_, {{"data", noise}}), "MPEG Layer 3 data"},
      {"less than a frame", WithChunks(long_, {{"data", first_bytes}}), "holds no audio"},
  };
  for (const Case& c : cases) {
    const std::string failure = ConvertFailure(c.file);
    EXPECT_NE(failure.find(c.text), std::string::npos) << c.what << ": \"" << failure << "\"";
    if (c.also) {
      EXPECT_NE(failure.find(c.also), std::string::npos) << c.what << ": \"" << failure << "\"";
    }
  }
}

// The compression manager's one-call conversion.

TEST(WaveConverterLoad, FailedLoadHoldsNothing) {
  TWaveConverter converter;
  converter.Write("stale", 5);
  TMemoryStream source(Riff({{"data", {1, 2, 3}}}, "riff"));
  EXPECT_THROW(converter.LoadFromWave(source), EAuException);
  EXPECT_EQ(converter.Size(), 0);
}

TEST(WaveConverterLoad, TakesTheFirstFmtAndTheDataBody) {
  const Bytes fmt = test::FmtBody(0x55, 2, 44100, 0, 1, 12, Bytes(12, 9));
  const Bytes data = {1, 2, 3, 4, 5};
  TMemoryStream source(Riff({{"fmt ", fmt}, {"fact", {0, 0, 0, 0}}, {"fmt ", test::FmtBody(1, 1, 8000, 8, 1)},
                             {"data", data}, {"junk", Bytes(7, 0)}}));
  TWaveConverter converter;
  converter.LoadFromWave(source);
  EXPECT_EQ(converter.Data(), data);
  EXPECT_EQ(converter.Position(), 0);
  EXPECT_TRUE(std::equal(fmt.begin(), fmt.end(), converter.SourceFormat().begin()));
  EXPECT_EQ(converter.SourceFormat()[fmt.size()], 0);
}

TEST(WaveConverterLoad, ShortFmtLeavesTheRestOfTheStructureZero) {
  TMemoryStream source(Riff({{"fmt ", test::FmtBody(0x55, 1, 48000, 0, 1)}, {"data", {7, 7}}}));
  TWaveConverter converter;
  converter.SourceFormat().fill(0xEE);
  converter.LoadFromWave(source);
  EXPECT_EQ(test::GetLE16(converter.SourceFormat().data()), 0x55);
  EXPECT_EQ(test::GetLE16(converter.SourceFormat().data() + 16), 0);  // no extension
}

/// A stream whose writes fail, as a full disk would.
class FailingStream : public TMemoryStream {
 public:
  void Write(const void*, std::size_t) override { throw EAuException("The medium is full."); }
};

TEST(WaveConverterSave, WritesTheImageHeaderAndKeepsThePosition) {
  TWaveConverter converter;
  const Bytes pcm_fmt = test::FmtBody(1, 2, 22050, 16, 4);
  std::copy(pcm_fmt.begin(), pcm_fmt.end(), converter.SourceFormat().begin());
  const Bytes pcm = {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0};
  converter.Write(pcm.data(), pcm.size());
  converter.SetPosition(5);

  TMemoryStream destination;
  ASSERT_EQ(converter.SaveAsWave(destination), 0);
  EXPECT_EQ(converter.Position(), 5);
  Bytes expected = {'R', 'I', 'F', 'F'};
  test::PutLE32(expected, static_cast<std::uint32_t>(pcm.size() + 36));
  expected.insert(expected.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  test::PutLE32(expected, 16);
  expected.insert(expected.end(), pcm_fmt.begin(), pcm_fmt.begin() + 16);
  expected.insert(expected.end(), {'d', 'a', 't', 'a'});
  test::PutLE32(expected, static_cast<std::uint32_t>(pcm.size()));
  expected.insert(expected.end(), pcm.begin(), pcm.end());
  EXPECT_EQ(destination.Data(), expected);
}

TEST(WaveConverterSave, OddLengthGetsItsPadByteCountedInTheRiffSize) {
  TWaveConverter converter;
  converter.Write("abc", 3);
  TMemoryStream destination;
  ASSERT_EQ(converter.SaveAsWave(destination), 0);
  ASSERT_EQ(destination.Size(), 48);
  EXPECT_EQ(test::GetLE32(destination.Data().data() + 4), 40u);
  EXPECT_EQ(test::GetLE32(destination.Data().data() + 40), 3u);
  EXPECT_EQ(destination.Data()[47], 0);
}

TEST(WaveConverterSave, FailedWriteReturns286) {
  TWaveConverter converter;
  converter.Write("abcd", 4);
  converter.SetPosition(2);
  FailingStream destination;
  EXPECT_EQ(converter.SaveAsWave(destination), kWaveFileNotSaved);
  EXPECT_EQ(converter.Position(), 2);
}

TEST(WaveConverterConvert, RefusedConversionKeepsTheHeldDataAndFormat) {
  TWaveConverter converter;
  const Bytes fmt = test::FmtBody(0x11, 2, 44100, 4, 2048);  // IMA ADPCM: not this manager's business
  std::copy(fmt.begin(), fmt.end(), converter.SourceFormat().begin());
  const Bytes target = test::FmtBody(1, 2, 44100, 16, 4);
  std::copy(target.begin(), target.end(), converter.TargetFormat().begin());
  converter.Write("held", 4);
  EXPECT_NE(converter.ConvertToPcm(), 0);
  EXPECT_EQ(converter.Size(), 4);
  EXPECT_EQ(test::GetLE16(converter.SourceFormat().data()), 0x11);
}

TEST(WaveConverterConvert, HeldPcmIsExactlyWhatWasProduced) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  const Mp3Wav mp3 = EncodeSine(2, 48000, 1.0);
  TMemoryStream source(mp3.file);
  TWaveConverter converter;
  converter.LoadFromWave(source);
  EXPECT_EQ(converter.Data(), mp3.data);
  converter.TargetFormat()[0] = 1;
  ASSERT_EQ(platform::acmFormatSuggest(nullptr, reinterpret_cast<platform::WaveFormatEx*>(converter.SourceFormat().data()),
                                       reinterpret_cast<platform::WaveFormatEx*>(converter.TargetFormat().data()),
                                       TWaveConverter::kFormatBufferSize, platform::kAcmFormatSuggestWFormatTag),
            0u);
  ASSERT_EQ(converter.ConvertToPcm(), 0);
  EXPECT_EQ(converter.Position(), 0);
  EXPECT_EQ(test::GetLE16(converter.SourceFormat().data()), 1);
  EXPECT_EQ(converter.Size() % 4, 0);
  EXPECT_NEAR(static_cast<double>(converter.Size() / 4), mp3.encoded_samples, 2 * kMp3FrameSamples);
}

}  // namespace
}  // namespace vornek
