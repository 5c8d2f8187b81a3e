// SPDX-License-Identifier: BSD-3-Clause
// The RIFF/WAVE header reader: classification, the fields of every kind, the layouts
// it accepts and the refusal of every header it cannot use.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/failures.h"
#include "wave_in_probe.h"

namespace vornek::test {
namespace {

using K = TWaveKind;

Bytes ImaFile(std::uint16_t channels, std::uint16_t block_align, std::uint16_t samples_per_block,
              std::uint32_t fact, std::uint16_t bits = 4) {
  Bytes ext;
  PutLE16(ext, samples_per_block);
  return Riff({{"fmt ", CompressedFmt(0x11, channels, 22050, block_align, bits, ext)},
               {"fact", Le32Bytes(fact)},
               {"data", Bytes(static_cast<std::size_t>(block_align) * 3, 0x11)}});
}

Bytes MsFile(std::uint16_t channels, std::uint16_t block_align, std::uint16_t samples_per_block,
             std::uint32_t fact) {
  return Riff({{"fmt ", CompressedFmt(2, channels, 22050, block_align, 4,
                                      MsExtension(samples_per_block, kStandardMsCoefs))},
               {"fact", Le32Bytes(fact)},
               {"data", Bytes(static_cast<std::size_t>(block_align) * 2, 0x22)}});
}

Bytes Mp3File() {
  Bytes ext;  // MPEGLAYER3WAVEFORMAT: wID, fdwFlags, nBlockSize, nFramesPerBlock, nCodecDelay
  PutLE16(ext, 1);
  PutLE32(ext, 2);
  PutLE16(ext, 417);
  PutLE16(ext, 1);
  PutLE16(ext, 1393);
  return Riff({{"fmt ", CompressedFmt(0x55, 2, 44100, 1, 0, ext)},
               {"fact", Le32Bytes(123456)},
               {"data", Bytes(2000, 0xFF)}});
}

// ---------------------------------------------------------------------------------
// Classification and fields of each kind

struct KindCase {
  std::string name;
  Bytes file;
  K kind;
  std::int32_t channels, rate;
  std::int32_t stored_bits;     // BitsPerSample as the header gives it
  std::int32_t delivered_bits;  // after OpenFile
  std::int64_t size;            // Size after OpenFile
  std::function<void(const TWaveIn&)> more = nullptr;
};

std::vector<KindCase> KindCases() {
  return {
      {"pcm16_stereo", SimpleWav(1, 2, 44100, 16, Bytes(400)), K::wkPcm, 2, 44100, 16, 16, 400,
       [](const TWaveIn& w) { EXPECT_EQ(w.BlockAlign, 4); }},
      {"pcm8_mono", SimpleWav(1, 1, 8000, 8, Bytes(99)), K::wkPcm, 1, 8000, 8, 8, 99},
      {"pcm24_stereo", SimpleWav(1, 2, 48000, 24, Bytes(600)), K::wkPcm, 2, 48000, 24, 24, 600},
      {"pcm32_mono", SimpleWav(1, 1, 96000, 32, Bytes(400)), K::wkPcm, 1, 96000, 32, 32, 400},
      // A block align of whole-byte slots wider than the samples: each slot is read
      // whole, as the extensible format's containers are.
      {"pcm24_in_4_byte_slots", Riff({{"fmt ", FmtBody(1, 2, 44100, 24, 8)}, {"data", Bytes(800)}}),
       K::wkPcm, 2, 44100, 32, 32, 800, [](const TWaveIn& w) { EXPECT_EQ(w.BlockAlign, 8); }},
      {"pcm16_in_3_byte_slots", Riff({{"fmt ", FmtBody(1, 1, 8000, 16, 3)}, {"data", Bytes(300)}}),
       K::wkPcm, 1, 8000, 24, 24, 300},
      {"pcm_block_align_0_packed", Riff({{"fmt ", FmtBody(1, 2, 8000, 16, 0)}, {"data", Bytes(400)}}),
       K::wkPcm, 2, 8000, 16, 16, 400},
      {"float32", SimpleWav(3, 2, 44100, 32, Bytes(800)), K::wkFloat, 2, 44100, 32, 32, 800,
       [](const TWaveIn& w) { EXPECT_TRUE(w.FloatIsSingle); }},
      {"float64", SimpleWav(3, 1, 44100, 64, Bytes(800)), K::wkFloat, 1, 44100, 64, 32, 400,
       [](const TWaveIn& w) { EXPECT_FALSE(w.FloatIsSingle); }},
      {"extensible_pcm_24in32",
       Riff({{"fmt ", ExtensibleFmtBody(2, 48000, 32, 24, false)}, {"data", Bytes(800)}}),
       K::wkExtensiblePcm, 2, 48000, 32, 32, 800},
      {"extensible_pcm_6ch",
       Riff({{"fmt ", ExtensibleFmtBody(6, 48000, 16, 16, false)}, {"data", Bytes(1200)}}),
       K::wkExtensiblePcm, 6, 48000, 16, 16, 1200},
      {"extensible_float",
       Riff({{"fmt ", ExtensibleFmtBody(2, 44100, 32, 32, true)}, {"data", Bytes(800)}}),
       K::wkExtensibleFloat, 2, 44100, 32, 32, 800},
      {"extensible_double",
       Riff({{"fmt ", ExtensibleFmtBody(2, 44100, 64, 64, true)}, {"data", Bytes(1600)}}),
       K::wkExtensibleFloat, 2, 44100, 64, 32, 800},
      {"ima_mono", ImaFile(1, 256, 505, 1000), K::wkImaAdpcm, 1, 22050, 4, 16, 2000,
       [](const TWaveIn& w) {
         EXPECT_EQ(w.ImaBlockAlign, 256);
         EXPECT_EQ(w.ImaSamplesPerBlock, 505);
         EXPECT_EQ(w.ImaFactSamples, 1000u);
       }},
      {"ima_stereo", ImaFile(2, 2048, 2041, 5000), K::wkImaAdpcm, 2, 22050, 4, 16, 20000,
       [](const TWaveIn& w) {
         EXPECT_EQ(w.ImaBlockAlign, 2048);
         EXPECT_EQ(w.ImaSamplesPerBlock, 2041);
         EXPECT_EQ(w.ImaFactSamples, 5000u);
       }},
      {"ms_adpcm_stereo", MsFile(2, 512, 500, 777), K::wkMsAdpcm, 2, 22050, 4, 16, 777 * 4,
       [](const TWaveIn& w) {
         EXPECT_EQ(w.BlockAlign, 512);
         EXPECT_EQ(w.SamplesPerBlock, 500);
         EXPECT_EQ(w.FactSamples, 777u);
         ASSERT_EQ(w.CoefCount, 7);
         for (std::size_t i = 0; i < 7; ++i) {
           EXPECT_EQ(w.Coefs[i].Coef1, kStandardMsCoefs[i].first) << i;
           EXPECT_EQ(w.Coefs[i].Coef2, kStandardMsCoefs[i].second) << i;
         }
       }},
  };
}

TEST(WaveHeader, ClassifiesEveryKindAndFillsItsFields) {
  for (const KindCase& c : KindCases()) {
    SCOPED_TRACE(c.name);
    TWaveProbe header_only(c.file);
    header_only.ReadHeader();
    EXPECT_EQ(header_only.WaveKind, c.kind);
    EXPECT_EQ(header_only.BitsPerSample, c.stored_bits);

    TWaveProbe wave(c.file);
    EXPECT_EQ(wave.GetBitsPerSample(), c.delivered_bits);  // opens the stream
    EXPECT_EQ(wave.WaveKind, c.kind);
    EXPECT_TRUE(wave.Valid);
    EXPECT_EQ(wave.GetChannels(), c.channels);
    EXPECT_EQ(wave.GetSampleRate(), c.rate);
    EXPECT_EQ(wave.Size, c.size);
    if (c.more) c.more(wave);
    ASSERT_EQ(OpenFailure(wave), "");
    EXPECT_EQ(wave.Size, c.size);
    wave.Close();
  }
}

TEST(WaveHeader, MpegLayer3IsClassifiedAndDamagedDataIsRefusedOnOpen) {
  TWaveProbe wave(Mp3File());
  wave.ReadHeader();
  EXPECT_EQ(wave.WaveKind, K::wkCompressed);
  EXPECT_EQ(wave.BlockAlign, 1);
  EXPECT_EQ(wave.SamplesPerBlock, 1);  // the wID field stands where ADPCM keeps it
  EXPECT_EQ(wave.FactSamples, 123456u);
  EXPECT_EQ(wave.Channels, 2);
  TWaveProbe opened(Mp3File());  // its payload is not MPEG audio
  EXPECT_NE(OpenFailure(opened), "");
  EXPECT_FALSE(opened.Valid);
}

TEST(WaveHeader, DataOffsetAndStreamStandOnTheFirstPayloadByte) {
  const Bytes file = SimpleWav(1, 2, 44100, 16, Pattern(400));
  TWaveProbe wave(file);
  wave.ReadHeader();
  EXPECT_EQ(wave.DataOffset, 44);
  EXPECT_EQ(wave.DataEnd, 444);
  EXPECT_EQ(wave.Memory().Position(), 44);
}

TEST(WaveHeader, SameChunkIdIgnoresLetterCaseOnly) {
  const auto id = [](const char* s) { return reinterpret_cast<const std::uint8_t*>(s); };
  EXPECT_TRUE(TWaveIn::SameChunkId(id("RIFF"), "RIFF"));
  EXPECT_TRUE(TWaveIn::SameChunkId(id("riff"), "RIFF"));
  EXPECT_TRUE(TWaveIn::SameChunkId(id("WaVe"), "WAVE"));
  EXPECT_TRUE(TWaveIn::SameChunkId(id("FMT "), "fmt "));
  EXPECT_FALSE(TWaveIn::SameChunkId(id("RIFX"), "RIFF"));
  EXPECT_FALSE(TWaveIn::SameChunkId(id("dat!"), "data"));
  const std::uint8_t zero_for_space[4] = {'f', 'm', 't', 0};
  EXPECT_TRUE(TWaveIn::SameChunkId(zero_for_space, "fmt "));  // 0x20 apart
}

TEST(WaveHeader, SameGuidComparesAllSixteenBytes) {
  std::uint8_t a[16], b[16];
  for (int i = 0; i < 16; ++i) a[i] = b[i] = static_cast<std::uint8_t>(i * 17);
  EXPECT_TRUE(TWaveIn::SameGuid(a, b));
  for (int i = 0; i < 16; ++i) {
    b[i] ^= 1;
    EXPECT_FALSE(TWaveIn::SameGuid(a, b)) << i;
    b[i] ^= 1;
  }
}

// ---------------------------------------------------------------------------------
// Layouts that are read

/// Opens `file`, reads all of it and checks it delivered `payload` as 16-bit stereo.
void ExpectDelivers(const Bytes& file, const Bytes& payload) {
  TWaveProbe wave(file);
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(wave.WaveKind, K::wkPcm);
  EXPECT_EQ(ReadAll(wave), payload);
  wave.Close();
}

TEST(WaveHeader, JunkBeforeRiffIsSkipped) {
  const Bytes payload = Pattern(400);
  Bytes junk(3000, 'R');  // never "RIFF": only R's
  junk.push_back('I');
  Bytes file = junk;
  const Bytes wav = SimpleWav(1, 2, 44100, 16, payload);
  file.insert(file.end(), wav.begin(), wav.end());
  ExpectDelivers(file, payload);
}

TEST(WaveHeader, RiffAndWaveMustEndBeforeByte8192) {
  const Bytes payload = Pattern(40);
  for (const std::size_t junk : {8192u - 12u - 1u, 8192u - 12u}) {
    SCOPED_TRACE(junk);
    Bytes file(junk, 0);
    const Bytes wav = SimpleWav(1, 2, 44100, 16, payload);
    file.insert(file.end(), wav.begin(), wav.end());
    TWaveProbe wave(file);
    // "WAVE" ends at junk + 12: byte 8191 is the last one searched.
    if (junk + 12 < 8192) {
      EXPECT_EQ(OpenFailure(wave), "");
      EXPECT_EQ(ReadAll(wave), payload);
    } else {
      EXPECT_EQ(OpenFailure(wave), FailureText(TFailure::faNotWave));
    }
  }
}

TEST(WaveHeader, ChunkIdsMatchInAnyLetterCase) {
  const Bytes payload = Pattern(400);
  const Bytes file = Riff({{"Fmt ", FmtBody(1, 2, 44100, 16, 4)}, {"DATA", payload}}, "riff", "Wave");
  ExpectDelivers(file, payload);
}

TEST(WaveHeader, ListBetweenFmtAndDataIsSkipped) {
  const Bytes payload = Pattern(400);
  ExpectDelivers(Riff({{"fmt ", FmtBody(1, 2, 44100, 16, 4)},
                       {"LIST", Bytes(70, 'x')},
                       {"data", payload}}),
                 payload);
}

TEST(WaveHeader, ListBetweenFmtAndFactIsSkipped) {
  Bytes ext;
  PutLE16(ext, 505);
  TWaveProbe wave(Riff({{"fmt ", CompressedFmt(0x11, 1, 22050, 256, 4, ext)},
                        {"LIST", Bytes(30, 'x')},
                        {"fact", Le32Bytes(505)},
                        {"data", Bytes(256)}}));
  wave.ReadHeader();
  EXPECT_EQ(wave.WaveKind, K::wkImaAdpcm);
  EXPECT_EQ(wave.ImaFactSamples, 505u);
}

TEST(WaveHeader, FactInAPcmFileIsSkipped) {
  const Bytes payload = Pattern(400);
  ExpectDelivers(Riff({{"fmt ", FmtBody(1, 2, 44100, 16, 4)},
                       {"fact", Le32Bytes(100)},
                       {"data", payload}}),
                 payload);
}

TEST(WaveHeader, OnlyTheFirstFmtCounts) {
  const Bytes payload = Pattern(400);
  TWaveProbe wave(Riff({{"fmt ", FmtBody(1, 2, 44100, 16, 4)},
                        {"fmt ", FmtBody(1, 1, 8000, 8, 1)},
                        {"data", payload}}));
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(wave.GetChannels(), 2);
  EXPECT_EQ(wave.GetSampleRate(), 44100);
  EXPECT_EQ(ReadAll(wave), payload);
}

TEST(WaveHeader, OddSizedChunkWithAndWithoutThePadByte) {
  const Bytes payload = Pattern(400);
  for (const bool pad : {true, false}) {
    for (const std::size_t odd : {1u, 3u, 77u}) {
      SCOPED_TRACE(::testing::Message() << "pad " << pad << ", size " << odd);
      // Between "fmt " and "data", and before "fmt ".
      ExpectDelivers(Riff({{"fmt ", FmtBody(1, 2, 44100, 16, 4)},
                           {"note", Bytes(odd, 'n'), std::nullopt, pad},
                           {"data", payload}}),
                     payload);
      ExpectDelivers(Riff({{"JUNK", Bytes(odd, 0), std::nullopt, pad},
                           {"fmt ", FmtBody(1, 2, 44100, 16, 4)},
                           {"data", payload}}),
                     payload);
    }
  }
}

TEST(WaveHeader, MissingPadByteBeforeADataChunkThatLooksLikeAChunkWhenShifted) {
  // Without the pad, the byte after "note" starts "data"; one byte on reads "ata"
  // plus the low size byte 'd' (100), a printable id with a size that fits.
  const Bytes payload(100, 0);
  ExpectDelivers(Riff({{"fmt ", FmtBody(1, 2, 44100, 16, 4)},
                       {"note", Bytes(3, 'n'), std::nullopt, false},
                       {"data", payload}}),
                 payload);
}

TEST(WaveHeader, DataAfter20KBOfOtherChunks) {
  const Bytes payload = Pattern(4000);
  ExpectDelivers(Riff({{"bext", Bytes(602, 0)},
                       {"fmt ", FmtBody(1, 2, 44100, 16, 4)},
                       {"JUNK", Bytes(9001, 0)},
                       {"iXML", Bytes(6000, '<')},
                       {"LIST", Bytes(5000, 'l')},
                       {"data", payload}}),
                 payload);
}

TEST(WaveHeader, DataSizeZeroReadsToTheEndOfTheStream) {
  const Bytes payload = Pattern(1000);
  TWaveProbe wave(Riff({{"fmt ", FmtBody(1, 2, 44100, 16, 4)}, {"data", payload, 0u}}));
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(wave.Size, 0);
  EXPECT_EQ(ReadAll(wave), payload);
}

TEST(WaveHeader, DataRunningPastTheEndDeliversWhatIsThere) {
  const Bytes payload = Pattern(1002);  // 250 frames and half of one more
  TWaveProbe wave(Riff({{"fmt ", FmtBody(1, 2, 44100, 16, 4)}, {"data", payload, 0x7FFFF000u}}));
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(wave.Size, 1000);
  EXPECT_EQ(wave.TotalSamples, 250);
  EXPECT_EQ(ReadAll(wave), Bytes(payload.begin(), payload.begin() + 1000));
  EXPECT_TRUE(wave.EndOfData);
}

TEST(WaveHeader, ClosingAndReopeningReadsTheHeaderAgain) {
  TWaveProbe wave(SimpleWav(1, 2, 44100, 16, Pattern(400)));
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(wave.GetChannels(), 2);
  wave.Close();
  wave.Load(SimpleWav(1, 1, 8000, 8, Pattern(10)));
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(wave.GetChannels(), 1);
  EXPECT_EQ(wave.Size, 10);
}

TEST(WaveHeader, ASecondOpenFileOnlyMarksTheInputValid) {
  TWaveProbe wave(SimpleWav(1, 2, 44100, 16, Pattern(400)));
  wave.OpenFile();
  wave.Valid = false;
  wave.Size = 7;
  wave.OpenFile();
  EXPECT_TRUE(wave.Valid);
  EXPECT_EQ(wave.Size, 7);
}

// ---------------------------------------------------------------------------------
// Refusals: Open fails with a text that says what is wrong

struct RefusalCase {
  std::string name;
  Bytes file;
  std::string text;
};

Bytes WithExtensibleSubFormat(std::uint8_t first) {
  Bytes fmt = ExtensibleFmtBody(2, 44100, 16, 16, false);
  fmt[24] = first;
  return Riff({{"fmt ", fmt}, {"data", Bytes(40)}});
}

Bytes PcmFmtWith(std::size_t offset, std::uint16_t value) {
  Bytes fmt = FmtBody(1, 2, 44100, 16, 4);
  fmt[offset] = static_cast<std::uint8_t>(value);
  fmt[offset + 1] = static_cast<std::uint8_t>(value >> 8);
  return Riff({{"fmt ", fmt}, {"data", Bytes(40)}});
}

std::vector<RefusalCase> RefusalCases() {
  using E = TFailure;
  const Bytes pcm_fmt = FmtBody(1, 2, 44100, 16, 4);
  Bytes ima_ext;
  PutLE16(ima_ext, 505);
  Bytes huge_rate = FmtBody(1, 2, 44100, 16, 4);
  huge_rate[7] = 0x80;  // 0x8000AC44
  Bytes extensible_align_3 = ExtensibleFmtBody(2, 44100, 16, 16, false);
  extensible_align_3[12] = 3;
  return {
      {"empty", {}, FailureText(E::faNotWave)},
      {"text", Bytes(5000, 'a'), FailureText(E::faNotWave)},
      {"riff_without_wave", Riff({{"fmt ", pcm_fmt}, {"data", Bytes(4)}}, "RIFF", "AVI "),
       FailureText(E::faNotWave)},
      {"no_fmt", Riff({{"data", Bytes(40)}}), FailureText(E::faNoFormat)},
      {"nothing_after_wave", Riff({}), FailureText(E::faNoFormat)},
      {"no_data", Riff({{"fmt ", pcm_fmt}}), FailureText(E::faNoData)},
      {"no_data_only_list", Riff({{"fmt ", pcm_fmt}, {"LIST", Bytes(20)}}),
       FailureText(E::faNoData)},
      {"data_before_fmt", Riff({{"data", Bytes(40)}, {"fmt ", pcm_fmt}}),
       "The WAV file's format chunk comes after its audio data chunk, where it cannot be read first."},
      {"format_tag_g721", Riff({{"fmt ", FmtBody(0x40, 1, 8000, 4, 1)}, {"data", Bytes(40)}}),
       "Unsupported WAV audio format (format tag 0x0040)."},
      {"format_tag_gsm", Riff({{"fmt ", FmtBody(0x31, 1, 8000, 0, 65)}, {"data", Bytes(65)}}),
       FailureText(E::faFormatTag, "0x0031")},
      {"extensible_gsm", WithExtensibleSubFormat(0x31),
       "Unsupported WAV extensible sub-format {00000031-0000-0010-8000-00AA00389B71}."},
      {"no_channels", PcmFmtWith(2, 0), FailureText(E::faNoChannels)},
      {"rate_zero", PcmFmtWith(4, 0), "Unsupported sample rate: 0 Hz."},
      {"rate_beyond_int32", Riff({{"fmt ", huge_rate}, {"data", Bytes(40)}}),
       FailureText(E::faSampleRate, "2147527748")},
      {"pcm_12_bits", PcmFmtWith(14, 12), "Unsupported sample format: 12 bits per sample."},
      {"pcm_0_bits", PcmFmtWith(14, 0), FailureText(E::faPcmWidth, "0")},
      {"pcm_4_bits", PcmFmtWith(14, 4), FailureText(E::faPcmWidth, "4")},
      {"pcm_40_bits", PcmFmtWith(14, 40), FailureText(E::faPcmWidth, "40")},
      {"extensible_pcm_20_bits",
       Riff({{"fmt ", ExtensibleFmtBody(2, 44100, 20, 20, false)}, {"data", Bytes(40)}}),
       FailureText(E::faPcmWidth, "20")},
      {"float_16_bits", Riff({{"fmt ", FmtBody(3, 1, 8000, 16, 2)}, {"data", Bytes(40)}}),
       FailureText(E::faFloatWidth, "16")},
      {"pcm16_stereo_block_align_2", Riff({{"fmt ", FmtBody(1, 2, 8000, 16, 2)}, {"data", Bytes(40)}}),
       "The WAV format chunk is damaged: its block align of 2 bytes does not fit its channels and "
       "sample width."},
      {"pcm16_stereo_block_align_5", Riff({{"fmt ", FmtBody(1, 2, 8000, 16, 5)}, {"data", Bytes(40)}}),
       FailureText(E::faBlockAlign, "5")},
      {"pcm16_in_5_byte_slots", Riff({{"fmt ", FmtBody(1, 1, 8000, 16, 5)}, {"data", Bytes(40)}}),
       FailureText(E::faBlockAlign, "5")},
      {"pcm8_in_2_byte_slots", Riff({{"fmt ", FmtBody(1, 1, 8000, 8, 2)}, {"data", Bytes(40)}}),
       FailureText(E::faBlockAlign, "2")},
      {"extensible_block_align_3_for_stereo", Riff({{"fmt ", extensible_align_3}, {"data", Bytes(40)}}),
       FailureText(E::faBlockAlign, "3")},
      {"too_many_channels", Riff({{"fmt ", FmtBody(1, 5000, 8000, 32, 20000)}, {"data", Bytes(40)}}),
       FailureText(E::faTooManyChannels, "5000")},
      {"fmt_14_bytes",
       Riff({{"fmt ", Bytes(pcm_fmt.begin(), pcm_fmt.begin() + 14)}, {"data", Bytes(40)}}),
       FailureText(E::faFormatTooShort)},
      {"extensible_fmt_18_bytes",
       Riff({{"fmt ", FmtBody(0xFFFE, 2, 44100, 16, 4, 0)}, {"data", Bytes(40)}}),
       FailureText(E::faFormatTooShort)},
      {"ima_fmt_16_bytes",
       Riff({{"fmt ", FmtBody(0x11, 1, 22050, 4, 256)}, {"fact", Le32Bytes(1)}, {"data", Bytes(256)}}),
       FailureText(E::faFormatTooShort)},
      {"ms_fmt_20_bytes",
       Riff({{"fmt ", CompressedFmt(2, 1, 22050, 256, 4, ima_ext)},
             {"fact", Le32Bytes(1)},
             {"data", Bytes(256)}}),
       FailureText(E::faFormatTooShort)},
      {"ms_coefficients_outside_fmt",
       Riff({{"fmt ", CompressedFmt(2, 1, 22050, 256, 4, MsExtension(500, kStandardMsCoefs, 8))},
             {"fact", Le32Bytes(1)},
             {"data", Bytes(256)}}),
       FailureText(TFailure::faMsCoefficientsOutsideFmt)},
      {"ms_40_coefficient_pairs",
       Riff({{"fmt ", CompressedFmt(2, 1, 22050, 256, 4,
                                    MsExtension(500, std::vector<std::pair<std::int16_t, std::int16_t>>(
                                                         40, {256, 0})))},
             {"fact", Le32Bytes(1)},
             {"data", Bytes(256)}}),
       FailureText(TFailure::faMsTooManyCoefficients)},
      {"ima_3_bits",
       Riff({{"fmt ", CompressedFmt(0x11, 1, 22050, 256, 3, ima_ext)},
             {"fact", Le32Bytes(1)},
             {"data", Bytes(256)}}),
       "Unsupported IMA ADPCM format: 3 bits per sample (only 4 can be decoded)."},
      {"ima_samples_per_block_below_the_block",
       Riff({{"fmt ", CompressedFmt(0x11, 1, 22050, 1024, 4, Bytes{100, 0})},
             {"fact", Le32Bytes(1)},
             {"data", Bytes(1024)}}),
       FailureText(TFailure::faAdpcmSamplesPerBlockMismatch)},
      {"ima_three_channels",
       Riff({{"fmt ", CompressedFmt(0x11, 3, 22050, 256, 4, ima_ext)},
             {"fact", Le32Bytes(1)},
             {"data", Bytes(256)}}),
       FailureText(TFailure::faAdpcmChannels)},
      {"ima_without_fact",
       Riff({{"fmt ", CompressedFmt(0x11, 1, 22050, 256, 4, ima_ext)}, {"data", Bytes(256)}}),
       FailureText(E::faNoFact)},
      {"ima_fact_3_bytes",
       Riff({{"fmt ", CompressedFmt(0x11, 1, 22050, 256, 4, ima_ext)},
             {"fact", Bytes(3)},
             {"data", Bytes(256)}}),
       FailureText(E::faFactTooShort)},
      {"list_past_the_end",
       Riff({{"fmt ", pcm_fmt}, {"LIST", Bytes(8), 100000u}, {"data", Bytes(40)}}),
       "The WAV file is damaged: its \"LIST\" chunk runs past the end of the file."},
      {"fmt_past_the_end", Riff({{"fmt ", pcm_fmt, 1000u}}),
       FailureText(E::faChunkPastEnd, "fmt ")},
      {"unprintable_id_past_the_end",
       Riff({{"fmt ", pcm_fmt}, {std::string("\x01\x02zz", 4), Bytes(8), 100000u}}),
       "The WAV file is damaged: what follows its \"fmt \" chunk is no chunk that fits in the file."},
      {"unprintable_id_first_past_the_end", Riff({{std::string("\x01\x02zz", 4), Bytes(8), 100000u}}),
       FailureText(E::faChunkPastEnd, "??zz")},
  };
}

TEST(WaveHeader, EveryUnusableHeaderFailsOpenWithItsText) {
  for (const RefusalCase& c : RefusalCases()) {
    SCOPED_TRACE(c.name);
    TWaveProbe wave(c.file);
    EXPECT_EQ(OpenFailure(wave), c.text);
    EXPECT_FALSE(wave.Valid);
    EXPECT_TRUE(wave.EndOfData);
    // The failure leaves the reader closable and the next attempt fails the same way.
    wave.Close();
    EXPECT_EQ(OpenFailure(wave), c.text);
    wave.Close();
  }
}

TEST(WaveHeader, FormatQueriesOfAnUnusableFileFailToo) {
  TWaveProbe wave(Riff({{"fmt ", FmtBody(0x40, 1, 8000, 4, 1)}, {"data", Bytes(40)}}));
  EXPECT_THROW(wave.GetChannels(), EAuException);
  EXPECT_THROW(wave.GetBitsPerSample(), EAuException);
}

TEST(WaveErrors, EveryCauseHasItsOwnRealText) {
  // The reader's causes run from faNotWave to faNotOpened in the catalogue.
  std::set<std::string_view> seen;
  std::size_t index = static_cast<std::size_t>(TFailure::faNotWave);
  for (auto error = TFailure::faNotWave;; error = static_cast<TFailure>(static_cast<int>(error) + 1)) {
    const std::string_view template_text = FailureTemplate(error);
    SCOPED_TRACE(template_text);
    EXPECT_EQ(static_cast<std::size_t>(error), index++);
    EXPECT_GE(template_text.size(), 20u);
    EXPECT_TRUE(seen.insert(template_text).second) << "text used twice";
    const std::string text = FailureText(error, "DETAIL");
    EXPECT_EQ(text.find("{}"), std::string::npos);
    if (template_text.find("{}") != std::string_view::npos) {
      EXPECT_NE(text.find("DETAIL"), std::string::npos);
    }
    if (error != TFailure::faNotOpened) {
      EXPECT_EQ(text.back(), '.');
    }
    if (error == TFailure::faNotOpened) break;
  }
  EXPECT_EQ(index, static_cast<std::size_t>(TFailure::faNotOpened) + 1);
  try {
    Raise(TFailure::faPcmWidth, "12");
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Unsupported sample format: 12 bits per sample.");
  }
}

}  // namespace
}  // namespace vornek::test
