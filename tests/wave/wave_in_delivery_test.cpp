// SPDX-License-Identifier: BSD-3-Clause
// Sample delivery of the WAV reader: the window, the kinds' sample formats, seeking
// and sample ranges.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "support/files.h"
#include "wave/sample_convert.h"
#include "base/failures.h"
#include "wave_in_probe.h"

namespace vornek::test {
namespace {

using K = TWaveKind;

Bytes Floats(const std::vector<float>& values) {
  Bytes out(values.size() * 4);
  std::memcpy(out.data(), values.data(), out.size());
  return out;
}

Bytes Doubles(const std::vector<double>& values) {
  Bytes out(values.size() * 8);
  std::memcpy(out.data(), values.data(), out.size());
  return out;
}

std::vector<std::int32_t> Int32s(const Bytes& bytes) {
  std::vector<std::int32_t> out(bytes.size() / 4);
  std::memcpy(out.data(), bytes.data(), out.size() * 4);
  return out;
}

// ---------------------------------------------------------------------------------
// The window

TEST(WaveDelivery, Mono16BitIsDeliveredInWholeWindows) {
  const Bytes payload = Pattern(40000);
  TWaveProbe wave(SimpleWav(1, 1, 44100, 16, payload));
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(ReadSizes(wave), (std::vector<std::uint32_t>{16384, 16384, 7232}));
}

TEST(WaveDelivery, Stereo24BitWindowsHoldWholeFrames) {
  const Bytes payload = Pattern(6 * 10000);
  TWaveProbe wave(SimpleWav(1, 2, 48000, 24, payload));
  ASSERT_EQ(OpenFailure(wave), "");
  const auto sizes = ReadSizes(wave);
  ASSERT_EQ(sizes.size(), 4u);
  EXPECT_EQ(sizes[0], 16380u);
  EXPECT_EQ(sizes[1], 16380u);
  EXPECT_EQ(sizes[2], 16380u);
  EXPECT_EQ(sizes[3], 60000u - 3 * 16380u);
  wave.Close();
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(ReadAll(wave, 1001 * 6), payload);  // requests that straddle windows
}

TEST(WaveDelivery, ARequestSmallerThanOneFrameGetsNothing) {
  TWaveProbe wave(SimpleWav(1, 2, 44100, 16, Pattern(400)));
  ASSERT_EQ(OpenFailure(wave), "");
  const std::uint8_t* data = nullptr;
  std::uint32_t count = 3;
  wave.Read(data, count);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(wave.EndOfData);  // an empty delivery is the end of the data
}

TEST(WaveDelivery, RequestsAreCutToWholeFrames) {
  const Bytes payload = Pattern(400);
  TWaveProbe wave(SimpleWav(1, 2, 44100, 24, payload));
  ASSERT_EQ(OpenFailure(wave), "");
  const std::uint8_t* data = nullptr;
  std::uint32_t count = 17;
  wave.Read(data, count);
  ASSERT_EQ(count, 12u);
  EXPECT_EQ(Bytes(data, data + 12), Bytes(payload.begin(), payload.begin() + 12));
}

TEST(WaveDelivery, ReadingAClosedReaderFails) {
  TWaveProbe wave(SimpleWav(1, 2, 44100, 16, Pattern(400)));
  const std::uint8_t* data = nullptr;
  std::uint32_t count = 4;
  try {
    wave.ReadInternal(data, count);
    FAIL() << "no failure";
  } catch (const EAuException& e) {
    EXPECT_EQ(std::string(e.what()), FailureText(TFailure::faNotOpened));
  }
}

TEST(WaveDelivery, ChunksAfterDataAreNotDelivered) {
  const Bytes payload = Pattern(1000);
  TWaveProbe wave(Riff({{"fmt ", FmtBody(1, 2, 44100, 16, 4)},
                        {"data", payload},
                        {"LIST", Bytes(5000, 'x')}}));
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(ReadAll(wave), payload);
  // Even the window stops at the end of "data", whatever Size says.
  wave.Close();
  ASSERT_EQ(OpenFailure(wave), "");
  wave.Size = 0;
  EXPECT_EQ(ReadAll(wave), payload);
}

TEST(WaveDelivery, APartialLastFrameIsDropped) {
  const Bytes payload = Pattern(1003);
  TWaveProbe wave(SimpleWav(1, 2, 44100, 16, payload));
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(wave.Size, 1000);
  EXPECT_EQ(ReadAll(wave), Bytes(payload.begin(), payload.begin() + 1000));
}

TEST(WaveDelivery, PcmSamplesInWiderSlotsAreDeliveredSlotBySlot) {
  // 24-bit samples in 4-byte slots, as a header of 24 bits and block align 8 says:
  // 4410 frames of 8 bytes, each slot delivered whole as a 32-bit sample.
  std::vector<std::int32_t> slots;
  for (int i = 0; i < 2 * 4410; ++i) slots.push_back((i * 911 - 4000000) * 256);
  const Bytes payload = PcmBytes(slots, 32);
  TWaveProbe wave(Riff({{"fmt ", FmtBody(1, 2, 44100, 24, 8)}, {"data", payload}}));
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(wave.GetBitsPerSample(), 32);
  EXPECT_EQ(wave.TotalSamples, 4410);
  EXPECT_EQ(ReadAll(wave, 1001 * 8), payload);
}

struct ShortCase {
  std::string name;
  Bytes file;
  std::int64_t frames_short;  ///< after the end is reached
};

std::vector<ShortCase> ShortCases() {
  Bytes ima_ext;
  PutLE16(ima_ext, 505);
  const Bytes ima_fmt = CompressedFmt(0x11, 1, 22050, 256, 4, ima_ext);
  const Bytes ms_fmt = CompressedFmt(2, 1, 22050, 256, 4, MsExtension(500, kStandardMsCoefs));
  const Bytes pcm_fmt = FmtBody(1, 2, 44100, 16, 4);
  return {
      {"pcm cut after 600 and a half frames", Riff({{"fmt ", pcm_fmt}, {"data", Pattern(2402), 4000u}}), 400},
      {"pcm whole", Riff({{"fmt ", pcm_fmt}, {"data", Pattern(4000)}}), 0},
      {"pcm with data size 0", Riff({{"fmt ", pcm_fmt}, {"data", Pattern(2400), 0u}}), 0},
      {"pcm with data size 0xFFFFFFFF", Riff({{"fmt ", pcm_fmt}, {"data", Pattern(2400), 0xFFFFFFFFu}}), 0},
      {"pcm with the size of a writer that could not seek back",
       Riff({{"fmt ", pcm_fmt}, {"data", Pattern(2400), 0x7FFFF000u}}), 0},
      {"double floats cut after 50 frames", Riff({{"fmt ", FmtBody(3, 1, 8000, 64, 8)}, {"data", Bytes(404), 800u}}),
       50},
      {"ima cut inside its second block",
       Riff({{"fmt ", ima_fmt}, {"fact", Le32Bytes(3 * 505)}, {"data", Pattern(356), 768u}}), 505},
      {"ima cut where fact ends",
       Riff({{"fmt ", ima_fmt}, {"fact", Le32Bytes(600)}, {"data", Pattern(512), 768u}}), 0},
      {"ms adpcm cut inside its second block",
       Riff({{"fmt ", ms_fmt}, {"fact", Le32Bytes(1500)}, {"data", Pattern(300), 768u}}), 500},
  };
}

TEST(WaveDelivery, AFileCutShortTellsHowManyFramesItLacksOnceItsEndIsReached) {
  for (const ShortCase& c : ShortCases()) {
    SCOPED_TRACE(c.name);
    TWaveProbe wave(c.file);
    ASSERT_EQ(OpenFailure(wave), "");
    EXPECT_EQ(wave.FramesShort(), 0);
    ReadAll(wave, 999 * 4);
    EXPECT_TRUE(wave.EndOfData);
    EXPECT_EQ(wave.FramesShort(), c.frames_short);
    wave.Close();
  }
}

// A file cut short while it is read (another program truncates it) delivers what is
// left and counts what is missing exactly as for a file that was short when opened.
TEST(WaveDelivery, AFileCutWhileItIsReadTellsHowManyFramesItLacks) {
  Bytes ima_ext;
  PutLE16(ima_ext, 505);
  const Bytes pcm_fmt = FmtBody(1, 2, 44100, 16, 4);
  struct Case {
    std::string name;
    Bytes file;
    std::int64_t keep;            ///< payload bytes left by the cut
    std::int64_t frames_short;
  };
  const Case cases[] = {
      {"pcm", Riff({{"fmt ", pcm_fmt}, {"data", Pattern(160000)}}), 80002, 20000},
      {"pcm with its size left open", Riff({{"fmt ", pcm_fmt}, {"data", Pattern(160000), 0u}}), 80000, 20000},
      {"single floats", Riff({{"fmt ", FmtBody(3, 1, 8000, 32, 4)}, {"data", Bytes(80000)}}), 40000, 10000},
      {"ima", Riff({{"fmt ", CompressedFmt(0x11, 1, 22050, 256, 4, ima_ext)}, {"fact", Le32Bytes(200 * 505)},
                    {"data", Pattern(200 * 256)}}),
       150 * 256, 50 * 505},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TWaveProbe wave(c.file);
    ASSERT_EQ(OpenFailure(wave), "");
    std::vector<std::uint8_t> first(20000);
    bool end = false;
    ASSERT_EQ(wave.ReadFully(first.data(), 20000, end), 20000u);
    wave.Memory().SetSize(wave.DataOffset + c.keep);
    ReadAll(wave, 999 * 4);
    EXPECT_TRUE(wave.EndOfData);
    EXPECT_EQ(wave.FramesShort(), c.frames_short);
    wave.Close();
  }
}

// ---------------------------------------------------------------------------------
// Sample formats

TEST(WaveDelivery, EightBitUnsignedIsPassedThrough) {
  Bytes payload(256);
  for (int i = 0; i < 256; ++i) payload[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  TWaveProbe wave(SimpleWav(1, 1, 8000, 8, payload));
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(wave.GetBitsPerSample(), 8);
  EXPECT_EQ(ReadAll(wave), payload);
}

TEST(WaveDelivery, Extensible24In32IsDeliveredAs32BitPcm) {
  std::vector<std::int32_t> samples;
  for (int i = 0; i < 200; ++i) samples.push_back((i * 40503 - 4000000) * 256);  // 24 valid bits
  const Bytes payload = PcmBytes(samples, 32);
  TWaveProbe wave(Riff({{"fmt ", ExtensibleFmtBody(2, 48000, 32, 24, false)}, {"data", payload}}));
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(wave.GetBitsPerSample(), 32);
  EXPECT_EQ(wave.FrameSize, 8);
  EXPECT_EQ(ReadAll(wave), payload);
}

struct FloatCase {
  double value;
  std::int32_t expected;
};

const std::vector<FloatCase> kFloatTable = {
    {1.0, 2147483647},
    {-1.0, -2147483647 - 1},
    {0.5, 1073741823},
    {-0.5, -1073741824},
    {0.0, 0},
    {-0.0, 0},
    {1.5, 2147483647},
    {1e30, 2147483647},
    {-7.0, -2147483647 - 1},
    {std::numeric_limits<double>::infinity(), 2147483647},
    {-std::numeric_limits<double>::infinity(), -2147483647 - 1},
    {std::numeric_limits<double>::quiet_NaN(), -2147483647 - 1},
    {-1e-20, -1},
    {-1e-40, -1},  // a float denormal
    {1e-20, 0},
    {0.25, 536870911},
    {-0.25, -536870912},
};

TEST(WaveDelivery, SingleFloatsBecome32BitIntegers) {
  std::vector<float> values;
  std::vector<std::int32_t> expected;
  for (const FloatCase& c : kFloatTable) {
    values.push_back(static_cast<float>(c.value));
    expected.push_back(c.expected);
  }
  const Bytes payload = Floats(values);
  TWaveProbe wave(SimpleWav(3, 1, 44100, 32, payload));
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(wave.Size, static_cast<std::int64_t>(payload.size()));
  EXPECT_EQ(wave.GetBitsPerSample(), 32);
  EXPECT_EQ(Int32s(ReadAll(wave)), expected);
}

TEST(WaveDelivery, DoubleFloatsBecome32BitIntegersAndHalveTheSize) {
  std::vector<double> values;
  std::vector<std::int32_t> expected;
  for (const FloatCase& c : kFloatTable) {
    values.push_back(c.value);
    expected.push_back(c.expected);
  }
  // Stereo, an even count of values.
  if (values.size() % 2) {
    values.push_back(0.0);
    expected.push_back(0);
  }
  TWaveProbe wave(Riff({{"fmt ", ExtensibleFmtBody(2, 44100, 64, 64, true)}, {"data", Doubles(values)}}));
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(wave.WaveKind, K::wkExtensibleFloat);
  EXPECT_EQ(wave.Size, static_cast<std::int64_t>(values.size() * 4));
  EXPECT_EQ(Int32s(ReadAll(wave)), expected);
}

TEST(WaveDelivery, A64BitFloatFileOf800BytesReportsSize400) {
  TWaveProbe wave(SimpleWav(3, 1, 44100, 64, Doubles(std::vector<double>(100, 0.5))));
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(wave.Size, 400);
  EXPECT_EQ(wave.GetBitsPerSample(), 32);
  EXPECT_EQ(Int32s(ReadAll(wave)), std::vector<std::int32_t>(100, 1073741823));
}

TEST(WaveDelivery, LongFloatFilesSpanManyWindows) {
  std::vector<double> values(30000);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> uniform(-1.2, 1.2);
  for (double& v : values) v = uniform(random);
  std::vector<float> singles(values.begin(), values.end());
  for (const int channels : {1, 2, 3}) {
    SCOPED_TRACE(channels);
    const std::size_t n = values.size() - values.size() % static_cast<std::size_t>(channels);
    std::vector<double> d(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
    std::vector<float> f(singles.begin(), singles.begin() + static_cast<std::ptrdiff_t>(n));
    std::vector<std::int32_t> from_doubles, from_singles;
    for (std::size_t i = 0; i < n; ++i) {
      from_doubles.push_back(FloatSampleToInt32(d[i]));
      from_singles.push_back(FloatSampleToInt32(f[i]));
    }
    const auto ch = static_cast<std::uint16_t>(channels);
    TWaveProbe doubles(SimpleWav(3, ch, 44100, 64, Doubles(d)));
    ASSERT_EQ(OpenFailure(doubles), "");
    EXPECT_EQ(Int32s(ReadAll(doubles, 24 * 171)), from_doubles);
    TWaveProbe floats(SimpleWav(3, ch, 44100, 32, Floats(f)));
    ASSERT_EQ(OpenFailure(floats), "");
    EXPECT_EQ(Int32s(ReadAll(floats, 24 * 171)), from_singles);
  }
}

// ---------------------------------------------------------------------------------
// Seeking

struct SeekCase {
  std::string name;
  Bytes file;
  std::int64_t frame;
  std::int64_t offset;  // from DataOffset
};

std::vector<SeekCase> SeekCases() {
  Bytes ima_ext;
  PutLE16(ima_ext, 505);
  return {
      {"pcm16_stereo", SimpleWav(1, 2, 44100, 16, Bytes(8000)), 1000, 4000},
      {"pcm8_mono", SimpleWav(1, 1, 8000, 8, Bytes(100)), 17, 17},
      {"pcm24_stereo", SimpleWav(1, 2, 48000, 24, Bytes(600)), 7, 42},
      {"extensible_24in32_stereo",
       Riff({{"fmt ", ExtensibleFmtBody(2, 48000, 32, 24, false)}, {"data", Bytes(800)}}), 10, 80},
      {"float32_stereo", SimpleWav(3, 2, 44100, 32, Bytes(800)), 10, 80},
      {"float64_mono", SimpleWav(3, 1, 44100, 64, Bytes(800)), 10, 80},
      {"extensible_float64_stereo",
       Riff({{"fmt ", ExtensibleFmtBody(2, 44100, 64, 64, true)}, {"data", Bytes(1600)}}), 3, 48},
      {"ima_mono_second_block",
       Riff({{"fmt ", CompressedFmt(0x11, 1, 22050, 256, 4, ima_ext)},
             {"fact", Le32Bytes(2000)},
             {"data", Bytes(1024)}}),
       1000, 256},
      {"ms_adpcm_stereo_third_block",
       Riff({{"fmt ", CompressedFmt(2, 2, 22050, 512, 4, MsExtension(500, kStandardMsCoefs))},
             {"fact", Le32Bytes(2000)},
             {"data", Bytes(2048)}}),
       1000, 1024},
  };
}

TEST(WaveDelivery, SeekInternalPositionsTheStreamByKind) {
  for (const SeekCase& c : SeekCases()) {
    SCOPED_TRACE(c.name);
    TWaveProbe wave(c.file);
    ASSERT_EQ(OpenFailure(wave), "");
    const std::uint8_t* data = nullptr;
    std::uint32_t count = 8;
    wave.Read(data, count);  // fill the window
    std::int64_t frame = c.frame;
    EXPECT_TRUE(wave.SeekInternal(frame));
    EXPECT_EQ(frame, c.frame);  // never moved
    EXPECT_EQ(wave.Memory().Position(), wave.DataOffset + c.offset);
    EXPECT_EQ(wave.WindowBytesLeft(), 0u);  // the window was dropped
    std::int64_t negative = -1;
    EXPECT_FALSE(wave.SeekInternal(negative));
    wave.Close();
  }
}

TEST(WaveDelivery, AfterASeekDeliveryResumesAtThatFrame) {
  const Bytes payload = Pattern(8000);
  TWaveProbe wave(SimpleWav(1, 2, 44100, 16, payload));
  ASSERT_EQ(OpenFailure(wave), "");
  ASSERT_TRUE(wave.Seek(1000));
  EXPECT_EQ(wave.Position, 4000);
  EXPECT_EQ(ReadAll(wave), Bytes(payload.begin() + 4000, payload.end()));
  // Back again after the end: the data is readable once more.
  ASSERT_TRUE(wave.Seek(1990));
  EXPECT_EQ(ReadAll(wave), Bytes(payload.end() - 40, payload.end()));
}

TEST(WaveDelivery, FloatFilesSeekLikePcm) {
  std::vector<float> values(400);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i) / 1000.0f;
  TWaveProbe wave(SimpleWav(3, 2, 44100, 32, Floats(values)));
  ASSERT_EQ(OpenFailure(wave), "");
  ASSERT_TRUE(wave.Seek(150));
  const auto delivered = Int32s(ReadAll(wave));
  ASSERT_EQ(delivered.size(), 100u);
  EXPECT_EQ(delivered[0], FloatSampleToInt32(values[300]));
  EXPECT_EQ(delivered[99], FloatSampleToInt32(values[399]));
}

// ---------------------------------------------------------------------------------
// Ranges through the file input, on a real file

class WaveFileRange : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::int32_t> samples;
    for (int frame = 0; frame < 100; ++frame) {
      samples.push_back(frame);
      samples.push_back(-frame);
    }
    payload_ = PcmBytes(samples, 16);
    path_ = dir_.File("hundred frames.wav");
    WriteBytes(path_, SimpleWav(1, 2, 44100, 16, payload_));
    wave_.SetFileName(path_);
  }
  Bytes Frames(std::size_t first, std::size_t count) const {
    return Bytes(payload_.begin() + static_cast<std::ptrdiff_t>(4 * first),
                 payload_.begin() + static_cast<std::ptrdiff_t>(4 * (first + count)));
  }

  TempDir dir_;
  std::string path_;
  Bytes payload_;
  TWaveIn wave_;
};

TEST_F(WaveFileRange, TheWholeFileByDefault) {
  EXPECT_EQ(wave_.StartSample, 0);
  EXPECT_EQ(wave_.EndSample, -1);
  wave_.Open();
  EXPECT_EQ(wave_.Size, 400);
  EXPECT_EQ(wave_.TotalSamples, 100);
  EXPECT_EQ(ReadAll(wave_), payload_);
  wave_.Close();
}

TEST_F(WaveFileRange, StartAndEndSampleSelectFrames) {
  wave_.StartSample = 10;
  wave_.EndSample = 19;
  wave_.Open();
  EXPECT_EQ(wave_.TotalSamples, 10);
  EXPECT_EQ(wave_.Size, 40);
  EXPECT_EQ(ReadAll(wave_, 24), Frames(10, 10));
  const std::uint8_t* data = nullptr;
  std::uint32_t count = 400;
  wave_.Read(data, count);
  EXPECT_EQ(count, 0u);
  wave_.Close();
  EXPECT_EQ(wave_.StartSample, 0);
  EXPECT_EQ(wave_.EndSample, -1);
}

TEST_F(WaveFileRange, StartSampleToTheEnd) {
  wave_.StartSample = 10;
  wave_.Open();
  EXPECT_EQ(ReadAll(wave_), Frames(10, 90));
  wave_.Close();
}

TEST_F(WaveFileRange, LoopRestartsTheRange) {
  wave_.StartSample = 10;
  wave_.EndSample = 19;
  wave_.Loop = true;
  wave_.Open();
  Bytes got(40 * 3);
  bool end = false;
  EXPECT_EQ(wave_.ReadFully(got.data(), static_cast<std::uint32_t>(got.size()), end), got.size());
  EXPECT_FALSE(end);
  Bytes expected;
  for (int i = 0; i < 3; ++i) {
    const Bytes range = Frames(10, 10);
    expected.insert(expected.end(), range.begin(), range.end());
  }
  EXPECT_EQ(got, expected);
  wave_.Close();
}

TEST_F(WaveFileRange, SeekOnAnOpenFile) {
  wave_.Open();
  ASSERT_TRUE(wave_.Seek(95));
  EXPECT_EQ(wave_.Position, 95 * 4);
  EXPECT_EQ(ReadAll(wave_), Frames(95, 5));
  wave_.Close();
}

TEST_F(WaveFileRange, AMissingFileFailsWithTheSystemsText) {
  TWaveIn missing;
  missing.SetFileName(dir_.File("no such file.wav"));
  const std::string text = OpenFailure(missing);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text, FailureText(TFailure::faNotWave));
}

TEST_F(WaveFileRange, TheFileIsReleasedWhenClosed) {
  wave_.Open();
  wave_.Close();
  // Writing the file again works only if the reader let go of it.
  WriteBytes(path_, SimpleWav(1, 1, 8000, 8, Pattern(10)));
  wave_.Open();
  EXPECT_EQ(wave_.GetChannels(), 1);
  EXPECT_EQ(ReadAll(wave_), Pattern(10));
  wave_.Close();
}

// ---------------------------------------------------------------------------------
// Damaged input from memory: never a crash, never a read outside the file

TEST(WaveDelivery, MutatedFilesOpenOrFailCleanly) {
  std::vector<Bytes> seeds = {
      SimpleWav(1, 2, 44100, 16, Pattern(3000)),
      SimpleWav(3, 2, 44100, 64, Pattern(1600)),
      Riff({{"fmt ", ExtensibleFmtBody(2, 48000, 32, 24, false)}, {"LIST", Bytes(31, 'x')}, {"data", Pattern(800)}}),
      Riff({{"fmt ", CompressedFmt(2, 1, 22050, 256, 4, MsExtension(500, kStandardMsCoefs))},
            {"fact", Le32Bytes(1000)},
            {"data", Pattern(512)}}),
  };
  std::mt19937 random(12345);
  for (int round = 0; round < 3000; ++round) {
    Bytes file = seeds[static_cast<std::size_t>(round) % seeds.size()];
    const int flips = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < flips; ++i) {
      const std::size_t at = random() % std::min<std::size_t>(file.size(), 120);
      file[at] = static_cast<std::uint8_t>(random());
    }
    if (random() % 4 == 0) file.resize(random() % file.size());
    TWaveProbe wave(file);
    try {
      wave.Open();
      ReadAll(wave, 1 + static_cast<std::uint32_t>(random() % 5000));
      std::int64_t frame = static_cast<std::int64_t>(random() % 100);
      wave.SeekInternal(frame);
      ReadAll(wave);
    } catch (const EAuException&) {
      // a refusal is fine
    }
    wave.Close();
  }
}

}  // namespace
}  // namespace vornek::test
