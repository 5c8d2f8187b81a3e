// SPDX-License-Identifier: BSD-3-Clause
// The containers beyond plain RIFF: RF64 and BW64 with their "ds64" sizes, Wave64
// with its GUIDs, 64-bit sizes and 8-byte alignment; and A-law and mu-law data. Files
// are built in code, each showing one rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wave/g711.h"
#include "base/failures.h"
#include "wave_in_probe.h"

namespace vornek::test {
namespace {

using K = TWaveKind;

const Bytes kFmt = FmtBody(1, 2, 44100, 16, 4);
constexpr std::uint32_t kOpen = 0xFFFFFFFF;  // a 32-bit size that "ds64" gives

/// 250 frames of 16-bit stereo.
Bytes Payload() { return Pattern(1000); }

/// The data chunk of an RF64 file whose size is in its "ds64".
Chunk Rf64Data(const Bytes& payload) { return {"data", payload, kOpen}; }

Bytes Ds64For(const Bytes& payload, const std::vector<std::pair<std::string, std::uint64_t>>& table = {}) {
  return Ds64Body(0, payload.size(), payload.size() / 4, table);
}

struct ReadCase {
  std::string name;
  Bytes file;
  Bytes delivered;  ///< 16-bit stereo PCM
  bool size_open = false;  ///< the size is left open: Size stays 0 and delivery runs to the end
};

std::vector<ReadCase> ReadCases() {
  const Bytes payload = Payload();
  const Bytes longer = Pattern(1400, 9);
  return {
      {"rf64, ds64 before fmt", Rf64({{"ds64", Ds64For(payload)}, {"fmt ", kFmt}, Rf64Data(payload)}), payload},
      {"rf64, ds64 after fmt", Rf64({{"fmt ", kFmt}, {"ds64", Ds64For(payload)}, Rf64Data(payload)}), payload},
      {"bw64", Rf64({{"ds64", Ds64For(payload)}, {"fmt ", kFmt}, Rf64Data(payload)}, "BW64"), payload},
      {"rf64, another chunk's size in the ds64 table",
       Rf64({{"ds64", Ds64For(payload, {{"LIST", 6}, {"axml", 10}})},
             {"fmt ", kFmt},
             {"axml", Bytes(10, 'a'), kOpen},
             Rf64Data(payload)}),
       payload},
      {"rf64, data size in its own field", Rf64({{"ds64", Ds64For(payload)}, {"fmt ", kFmt}, {"data", payload}}),
       payload},
      {"rf64, ds64 data size shorter than what follows",
       Rf64({{"ds64", Ds64For(payload)}, {"fmt ", kFmt}, {"data", longer, kOpen}}),
       Bytes(longer.begin(), longer.begin() + 1000)},
      {"rf64, ds64 data size 0 reads to the end",
       Rf64({{"ds64", Ds64Body(0, 0, 0)}, {"fmt ", kFmt}, {"data", longer, kOpen}}), longer, true},
      {"rf64, odd chunk without its pad byte",
       Rf64({{"ds64", Ds64For(payload)}, {"fmt ", kFmt}, {"note", Bytes(3, 'n'), std::nullopt, false},
             Rf64Data(payload)}),
       payload},
      {"wave64", Wave64({{"fmt ", kFmt}, {"data", payload}}), payload},
      {"wave64, unaligned sizes padded to 8",
       Wave64({{"junk", Bytes(5, 'j')}, {"fmt ", FmtBody(1, 2, 44100, 16, 4, 0)}, {"data", Pattern(1002)}}),
       payload},
      {"wave64, chunks without their padding to 8",
       Wave64({{"junk", Bytes(3, 'j'), std::nullopt, false},
               {"fmt ", FmtBody(1, 2, 44100, 16, 4, 0), std::nullopt, false},
               {"data", payload}}),
       payload},
      {"wave64, a GUID of another family is skipped",
       [] {
         Bytes file = Wave64({{"fmt ", kFmt}, {"data", Payload()}});
         Bytes other = Wave64({{"zzzz", Bytes(16, 'z')}});
         // The "zzzz" chunk with its GUID's tail changed, placed before "data".
         Bytes chunk(other.begin() + 40, other.end());
         chunk[5] ^= 0xFF;
         const std::size_t data_at = 40 + 24 + 16;
         file.insert(file.begin() + static_cast<std::ptrdiff_t>(data_at), chunk.begin(), chunk.end());
         return file;
       }(),
       payload},
      {"wave64 after junk", [] {
         Bytes file(37, 'x');
         const Bytes w64 = Wave64({{"fmt ", kFmt}, {"data", Payload()}});
         file.insert(file.end(), w64.begin(), w64.end());
         return file;
       }(),
       payload},
  };
}

TEST(WaveContainers, Rf64AndWave64DeliverTheirPayload) {
  for (const ReadCase& c : ReadCases()) {
    SCOPED_TRACE(c.name);
    TWaveProbe wave(c.file);
    ASSERT_EQ(OpenFailure(wave), "");
    EXPECT_EQ(wave.WaveKind, K::wkPcm);
    EXPECT_EQ(wave.GetChannels(), 2);
    EXPECT_EQ(wave.Size, c.size_open ? 0 : static_cast<std::int64_t>(c.delivered.size()));
    EXPECT_EQ(ReadAll(wave, 999 * 4), c.delivered);
    EXPECT_EQ(wave.FramesShort(), 0);
    wave.Close();
  }
}

TEST(WaveContainers, AWave64ChunkIdOutsideTheGuidFamilyMatchesNothing) {
  // "fmt " with the tail of the "riff" family's GUIDs is not the format chunk.
  Bytes file = Wave64({{"fmt ", kFmt}, {"data", Payload()}});
  file[40 + 4] = 0x2E;
  TWaveProbe wave(file);
  EXPECT_EQ(OpenFailure(wave), FailureText(TFailure::faNoFormat));
}

// A 64-bit size far past the file is a damaged size, not a file cut short: what is
// there is delivered, and the reader tells the size instead of a count of frames.
TEST(WaveContainers, ADataSizeFarPastTheFileIsToldAsSuch) {
  const Bytes payload = Payload();
  constexpr std::uint64_t kHuge = std::uint64_t{1} << 61;
  const Bytes files[] = {
      Rf64({{"ds64", Ds64Body(0, kHuge, 1000)}, {"fmt ", kFmt}, Rf64Data(payload)}),
      [&] {
        Bytes file = Wave64({{"fmt ", kFmt}, {"data", payload}});
        const std::size_t data_size_at = 40 + 24 + kFmt.size() + 16;
        for (std::size_t i = 0; i < 8; ++i) file[data_size_at + i] = static_cast<std::uint8_t>(kHuge >> (8 * i));
        return file;
      }(),
  };
  for (const Bytes& file : files) {
    TWaveProbe wave(file);
    ASSERT_EQ(OpenFailure(wave), "");
    EXPECT_EQ(ReadAll(wave), payload);
    EXPECT_EQ(wave.FramesShort(), 0);
    EXPECT_GE(wave.StatedDataBytesPastFile(), static_cast<std::int64_t>(kHuge - 24));
    EXPECT_EQ(wave.FileBytes(), static_cast<std::int64_t>(file.size()));
    wave.Close();
  }
}

TEST(WaveContainers, AnRf64FileCutShortDeliversWhatIsThere) {
  const Bytes payload = Payload();
  Bytes file = Rf64({{"ds64", Ds64Body(0, 4000, 1000)}, {"fmt ", kFmt}, Rf64Data(payload)});
  TWaveProbe wave(file);
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(ReadAll(wave), payload);
  EXPECT_EQ(wave.FramesShort(), 750);
}

struct RefusalCase {
  std::string name;
  Bytes file;
  std::string text;
};

TEST(WaveContainers, DamagedSizesAreRefusedWithTheirText) {
  using E = TFailure;
  const Bytes payload = Payload();
  Bytes ds64_table_past_body = Ds64For(payload, {{"axml", 10}});
  ds64_table_past_body[24] = 2;  // two entries in room for one
  const RefusalCase cases[] = {
      {"ds64 too short", Rf64({{"ds64", Bytes(20)}, {"fmt ", kFmt}, Rf64Data(payload)}),
       "The RF64 file is damaged: its \"ds64\" chunk is too short."},
      {"ds64 table past its body",
       Rf64({{"ds64", ds64_table_past_body}, {"fmt ", kFmt}, Rf64Data(payload)}),
       FailureText(E::faDs64TooShort)},
      {"ds64 past the end of the file", Rf64({{"ds64", Ds64For(payload), 5000u}}),
       FailureText(E::faChunkPastEnd, "ds64")},
      {"no ds64 for the data size", Rf64({{"fmt ", kFmt}, Rf64Data(payload)}),
       "The RF64 file is damaged: no \"ds64\" chunk gives the size of its \"data\" chunk."},
      {"ds64 after the data that needs it",
       Rf64({{"fmt ", kFmt}, Rf64Data(payload), {"ds64", Ds64For(payload)}}),
       FailureText(E::faDs64Missing, "data")},
      {"a chunk missing from the ds64 table",
       Rf64({{"ds64", Ds64For(payload, {{"LIST", 6}})}, {"fmt ", kFmt}, {"axml", Bytes(10), kOpen},
             Rf64Data(payload)}),
       FailureText(E::faDs64Missing, "axml")},
      {"a ds64 table size past the end of the file",
       Rf64({{"ds64", Ds64For(payload, {{"axml", 1u << 20}})}, {"fmt ", kFmt}, {"axml", Bytes(10), kOpen},
             Rf64Data(payload)}),
       FailureText(E::faChunkPastEnd, "axml")},
      {"wave64 chunk size below its header", Wave64({{"junk", Bytes(8), 23u}, {"fmt ", kFmt}, {"data", payload}}),
       "The Wave64 file is damaged: a chunk states a size smaller than its own header."},
      {"wave64 fmt past the end", Wave64({{"fmt ", kFmt, 4000u}}), FailureText(E::faChunkPastEnd, "fmt ")},
      {"wave64 without its wave GUID", [] {
         Bytes file = Wave64({{"fmt ", kFmt}, {"data", Payload()}});
         file[24] = 'W';
         return file;
       }(),
       FailureText(E::faNotWave)},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    TWaveProbe wave(c.file);
    EXPECT_EQ(OpenFailure(wave), c.text);
    EXPECT_FALSE(wave.Valid);
    wave.Close();
  }
}

// ---------------------------------------------------------------------------------
// A-law and mu-law

struct G711Case {
  std::string name;
  Bytes fmt;
  K kind;
  std::int16_t (*expand)(std::uint8_t);
};

TEST(WaveContainers, ALawAndMuLawAreExpandedTo16BitSamplesAndSeekLikePcm) {
  Bytes codes(2 * 3000);
  for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  Bytes extensible_alaw = ExtensibleFmtBody(2, 8000, 8, 8, false);
  extensible_alaw[24] = 6;
  Bytes extensible_mulaw = extensible_alaw;
  extensible_mulaw[24] = 7;
  const G711Case cases[] = {
      {"a-law", FmtBody(6, 2, 8000, 8, 2), K::wkALaw, ALawToLinear},
      {"mu-law", FmtBody(7, 2, 8000, 8, 2, 0), K::wkMuLaw, MuLawToLinear},
      {"extensible a-law", extensible_alaw, K::wkALaw, ALawToLinear},
      {"extensible mu-law", extensible_mulaw, K::wkMuLaw, MuLawToLinear},
  };
  for (const G711Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes expected;
    for (const std::uint8_t code : codes) PutLE16(expected, static_cast<std::uint16_t>(c.expand(code)));
    TWaveProbe wave(Riff({{"fmt ", c.fmt}, {"fact", Le32Bytes(3000)}, {"data", codes}}));
    ASSERT_EQ(OpenFailure(wave), "");
    EXPECT_EQ(wave.WaveKind, c.kind);
    EXPECT_EQ(wave.GetBitsPerSample(), 16);
    EXPECT_EQ(wave.Size, 12000);
    EXPECT_EQ(wave.TotalSamples, 3000);
    EXPECT_EQ(ReadAll(wave, 1001 * 4), expected);
    ASSERT_TRUE(wave.Seek(2500));
    EXPECT_EQ(ReadAll(wave), Bytes(expected.begin() + 10000, expected.end()));
    wave.Close();
  }
}

TEST(WaveContainers, ALawAndMuLawHeadersTheReaderCannotUseAreRefused) {
  using E = TFailure;
  const RefusalCase cases[] = {
      {"a-law of 16 bits", Riff({{"fmt ", FmtBody(6, 1, 8000, 16, 2)}, {"data", Bytes(40)}}),
       "Unsupported A-law or mu-law format: 16 bits per sample (only 8 can be decoded)."},
      {"mu-law of 4 bits", Riff({{"fmt ", FmtBody(7, 1, 8000, 4, 1)}, {"data", Bytes(40)}}),
       FailureText(E::faG711Width, "4")},
      {"a-law, block align of two bytes a sample", Riff({{"fmt ", FmtBody(6, 2, 8000, 8, 4)}, {"data", Bytes(40)}}),
       FailureText(E::faBlockAlign, "4")},
      {"mu-law, frames too large for the window", Riff({{"fmt ", FmtBody(7, 8193, 8000, 8, 8193)}, {"data", Bytes(40)}}),
       FailureText(E::faTooManyChannels, "8193")},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    TWaveProbe wave(c.file);
    EXPECT_EQ(OpenFailure(wave), c.text);
  }
}

}  // namespace
}  // namespace vornek::test
