// SPDX-License-Identifier: BSD-3-Clause
// Damaged and hostile inputs through the `vornek` command. Each case either ends in
// the refusal text that names what is wrong, with exit status 1, or converts what the
// file really holds (exactly what its well-formed twin converts to); in every case the
// command ends by itself (no signal, no hang) and the input is left as it was.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "entry/conversion_window.h"
#include "flac/flac_fixtures.h"
#include "support/run_cli.h"
#include "support/files.h"
#include "support/wav_writer.h"
#include "base/failures.h"
#include "wave/wave_in_probe.h"

namespace vornek::test {
namespace {

namespace fs = std::filesystem;
using E = TFailure;

// ---------------------------------------------------------------------------------
// Files

constexpr std::uint32_t kRate = 8000;
constexpr std::uint32_t kHuge = 0xFFFFFFFF;

Bytes Le16Bytes(std::uint16_t value) {
  Bytes out;
  PutLE16(out, value);
  return out;
}

Bytes PcmSamples() { return ToPcm(TestSignal(1500, 1, 16), 16); }

Bytes PcmFmt(std::uint16_t channels = 1, std::uint32_t rate = kRate, std::uint16_t align = 2) {
  return FmtBody(1, channels, rate, 16, align);
}

/// A 16-bit mono file: the twin of every PCM case that converts.
Bytes GoodPcm() { return Riff({{"fmt ", PcmFmt()}, {"data", PcmSamples()}}); }

/// `bytes` cut to its first `n` bytes.
Bytes Cut(Bytes bytes, std::size_t n) {
  bytes.resize(n);
  return bytes;
}

/// IMA ADPCM, mono, blocks of 256 bytes (505 frames), each with `step_index` in its header.
Bytes ImaWav(std::uint8_t step_index, std::uint16_t channels = 1, std::uint16_t align = 256,
             std::uint16_t samples_per_block = 505,
             std::optional<std::uint32_t> fact_size = std::nullopt) {
  Bytes blocks;
  for (std::uint8_t b = 0; b < 3; ++b) {
    PutLE16(blocks, static_cast<std::uint16_t>(1000 * b));
    blocks.push_back(step_index);
    blocks.push_back(0);
    const Bytes codes = Pattern(252, static_cast<std::uint8_t>(b + 1));
    blocks.insert(blocks.end(), codes.begin(), codes.end());
  }
  return Riff({{"fmt ", CompressedFmt(0x11, channels, kRate, align, 4, Le16Bytes(samples_per_block))},
               {"fact", Le32Bytes(3 * 505), fact_size},
               {"data", blocks}});
}

/// Microsoft ADPCM, mono, blocks of 256 bytes (500 frames) whose headers name
/// predictor `predictor`, with the seven standard pairs (or `coef_count` stated).
Bytes MsWav(std::uint8_t predictor, std::uint16_t align = 256, std::uint16_t samples_per_block = 500,
            std::optional<std::uint16_t> coef_count = std::nullopt) {
  Bytes blocks;
  for (std::uint8_t b = 0; b < 3; ++b) {
    blocks.push_back(predictor);
    PutLE16(blocks, 100);                                      // delta
    PutLE16(blocks, static_cast<std::uint16_t>(300 * b));      // sample 1
    PutLE16(blocks, static_cast<std::uint16_t>(300 * b + 7));  // sample 2
    const Bytes codes = Pattern(249, static_cast<std::uint8_t>(b + 3));
    blocks.insert(blocks.end(), codes.begin(), codes.end());
  }
  return Riff({{"fmt ", CompressedFmt(2, 1, kRate, align, 4,
                                      MsExtension(samples_per_block, kStandardMsCoefs, coef_count))},
               {"fact", Le32Bytes(3 * 500)},
               {"data", blocks}});
}

// ---------------------------------------------------------------------------------
// The cases

/// Where the damage is: in the file's bytes, or around it in the folder.
enum class Setup {
  kFile,               ///< the input is `file`
  kInputIsDirectory,   ///< the input is a folder
  kFlacIsDirectory,    ///< the input is `file`, and its FLAC name is taken by a folder
  kInputIsNamedFlac,   ///< the input is `file`, under the name its FLAC would get
};

struct Case {
  std::string name;
  Bytes file;
  /// The text printed for the file; empty: the file converts.
  std::string failure;
  /// A file that converts: the well-formed twin whose FLAC it must equal.
  Bytes twin;
  Setup setup = Setup::kFile;
  /// A file that converts: what is said on standard error (a warning), if anything.
  std::string warning = {};
};

/// Names a case in test listings (rather than dumping its bytes).
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string Text(E error, std::string_view detail = {}) { return FailureText(error, detail); }

std::vector<Case> Cases() {
  Bytes riff_size_huge = GoodPcm();
  riff_size_huge[4] = riff_size_huge[5] = riff_size_huge[6] = riff_size_huge[7] = 0xFF;
  const Bytes extensible = ExtensibleFmtBody(1, kRate, 16, 16, false);
  // 24-bit samples in 4-byte slots: the same bytes as an extensible 24-in-32 file.
  const Bytes slots = ToPcm(TestSignal(1500, 2, 32), 32);
  constexpr std::uint64_t kFarPast = std::uint64_t{1} << 61;
  const Bytes rf64_size_far_past =
      Rf64({{"ds64", Ds64Body(0, kFarPast, 0)}, {"fmt ", PcmFmt()}, {"data", PcmSamples(), kHuge}});
  return {
      // Not a WAV file, or cut before its header ends.
      {"EmptyFile", {}, Text(E::faNotWave), {}},
      {"TruncatedInsideTheRiffHeader", Cut(GoodPcm(), 10), Text(E::faNotWave), {}},
      {"TruncatedInsideTheFormatChunk", Cut(GoodPcm(), 30), Text(E::faChunkPastEnd, "fmt "), {}},
      {"TruncatedBeforeTheDataChunk", Riff({{"fmt ", PcmFmt()}}), Text(E::faNoData), {}},
      {"RiffWithoutWave", Riff({{"fmt ", PcmFmt()}, {"data", PcmSamples()}}, "RIFF", "AVI "),
       Text(E::faNotWave), {}},
      // Sizes of 0xFFFFFFFF: a chunk before the audio cannot run past the end; the RIFF
      // size is not relied on; "data" delivers what is there.
      {"JunkChunkSizeFFFFFFFF",
       Riff({{"JUNK", Bytes(4), kHuge}, {"fmt ", PcmFmt()}, {"data", PcmSamples()}}),
       Text(E::faChunkPastEnd, "JUNK"), {}},
      {"FormatChunkSizeFFFFFFFF", Riff({{"fmt ", PcmFmt(), kHuge}, {"data", PcmSamples()}}),
       Text(E::faChunkPastEnd, "fmt "), {}},
      {"FactChunkSizeFFFFFFFF", ImaWav(10, 1, 256, 505, kHuge), Text(E::faChunkPastEnd, "fact"), {}},
      {"RiffSizeFFFFFFFF", riff_size_huge, "", GoodPcm()},
      {"DataChunkSizeFFFFFFFF", Riff({{"fmt ", PcmFmt()}, {"data", PcmSamples(), kHuge}}), "",
       GoodPcm()},
      {"DataLargerThanTheFile",
       Riff({{"fmt ", PcmFmt()}, {"data", PcmSamples(), 3000 + 1000}}), "", GoodPcm(), Setup::kFile,
       "warning: case.wav ends 500 frames early; converted what is there\n"},
      {"Rf64DataSizeFarPastTheFile", rf64_size_far_past, "", GoodPcm(), Setup::kFile,
       "warning: case.wav: its data chunk states " + std::to_string(kFarPast) +
           " bytes, far more than the whole file holds (" + std::to_string(rf64_size_far_past.size()) +
           " bytes); converted what is there.\n"},
      // Format values that would divide by zero, index past a table or overrun a buffer.
      {"UnknownFormatTag", Riff({{"fmt ", FmtBody(0x40, 1, kRate, 4, 1)}, {"data", Bytes(100)}}),
       Text(E::faFormatTag, "0x0040"), {}},
      {"ZeroChannels", Riff({{"fmt ", PcmFmt(0)}, {"data", PcmSamples()}}), Text(E::faNoChannels), {}},
      {"Channels65535", Riff({{"fmt ", PcmFmt(65535)}, {"data", PcmSamples()}}),
       Text(E::faTooManyChannels, "65535"), {}},
      {"ImaChannels65535", Riff({{"fmt ", CompressedFmt(0x11, 65535, kRate, 256, 4, Le16Bytes(505))},
                                 {"fact", Le32Bytes(505)},
                                 {"data", Bytes(256)}}),
       Text(E::faAdpcmChannels), {}},
      {"ZeroSampleRate", Riff({{"fmt ", PcmFmt(1, 0)}, {"data", PcmSamples()}}),
       Text(E::faSampleRate, "0"), {}},
      {"BitsPerSample12", Riff({{"fmt ", FmtBody(1, 1, kRate, 12, 2)}, {"data", PcmSamples()}}),
       Text(E::faPcmWidth, "12"), {}},
      {"PcmBlockAlignZero", Riff({{"fmt ", PcmFmt(1, kRate, 0)}, {"data", PcmSamples()}}), "",
       GoodPcm()},
      {"Pcm24BitInFourByteSlots", Riff({{"fmt ", FmtBody(1, 2, kRate, 24, 8)}, {"data", slots}}), "",
       Riff({{"fmt ", ExtensibleFmtBody(2, kRate, 32, 24, false)}, {"data", slots}})},
      {"PcmBlockAlignSmallerThanAFrame", Riff({{"fmt ", PcmFmt(2, kRate, 2)}, {"data", PcmSamples()}}),
       Text(E::faBlockAlign, "2"), {}},
      {"ImaSamplesPerBlockBelowTheBlock", ImaWav(10, 1, 256, 100), Text(E::faAdpcmSamplesPerBlockMismatch), {}},
      {"MsSamplesPerBlockBelowTheBlock", MsWav(0, 256, 2), Text(E::faAdpcmSamplesPerBlockMismatch), {}},
      {"ImaBlockAlignZero", ImaWav(10, 1, 0), Text(E::faAdpcmBlockAlignZero), {}},
      {"MsBlockAlignZero", MsWav(0, 0), Text(E::faAdpcmBlockAlignZero), {}},
      {"ImaSamplesPerBlockZero", ImaWav(10, 1, 256, 0), Text(E::faAdpcmSamplesPerBlockTooSmall), {}},
      {"ImaSamplesPerBlockHuge", ImaWav(10, 1, 256, 65535), Text(E::faAdpcmSamplesPerBlockTooLarge), {}},
      {"MsSamplesPerBlockZero", MsWav(0, 256, 0), Text(E::faAdpcmSamplesPerBlockTooSmall), {}},
      {"MsSamplesPerBlockHuge", MsWav(0, 256, 65535), Text(E::faAdpcmSamplesPerBlockTooLarge), {}},
      {"MsCoefficientCountZero", MsWav(0, 256, 500, 0), Text(E::faMsNoCoefficients), {}},
      {"MsCoefficientCount200", MsWav(0, 256, 500, 200), Text(E::faMsTooManyCoefficients), {}},
      // Block headers past the decoder's tables: the decoder clamps to the last entry.
      {"MsPredictorIndexPastTheTable", MsWav(200), "", MsWav(6)},
      {"ImaStepIndexPastTheTable", ImaWav(200), "", ImaWav(88)},
      // "fmt " bodies shorter than their kind reads.
      {"PcmFormatChunkOf14Bytes", Riff({{"fmt ", Cut(PcmFmt(), 14)}, {"data", PcmSamples()}}),
       Text(E::faFormatTooShort), {}},
      {"ImaFormatChunkWithoutSamplesPerBlock",
       Riff({{"fmt ", FmtBody(0x11, 1, kRate, 4, 256)}, {"fact", Le32Bytes(505)}, {"data", Bytes(256)}}),
       Text(E::faFormatTooShort), {}},
      {"MsFormatChunkWithoutCoefficientCount",
       Riff({{"fmt ", CompressedFmt(2, 1, kRate, 256, 4, Le16Bytes(500))},
             {"fact", Le32Bytes(500)},
             {"data", Bytes(256)}}),
       Text(E::faFormatTooShort), {}},
      {"ExtensibleWithAShortBody", Riff({{"fmt ", Cut(extensible, 24)}, {"data", PcmSamples()}}),
       Text(E::faFormatTooShort), {}},
      // Around the file.
      {"InputIsADirectory", {}, std::strerror(EISDIR), {}, Setup::kInputIsDirectory},
      {"FlacNameIsTakenByADirectory", GoodPcm(), std::string("case.flac: ") + std::strerror(EISDIR), {},
       Setup::kFlacIsDirectory},
      {"InputIsNamedLikeItsFlac", GoodPcm(), FailureText(TFailure::faOutputIsInput), {}, Setup::kInputIsNamedFlac},
  };
}

// ---------------------------------------------------------------------------------
// The test

class BadInput : public testing::TestWithParam<Case> {};

/// Every sample of the FLAC the command writes for `file` (a well-formed twin).
std::vector<std::int32_t> TwinSamples(const Bytes& file) {
  TempDir dir;
  WriteBytes(dir.File("twin.wav"), file);
  const CliRun run = RunVornek(VORNEK_CLI_FILE, dir.Path().string(), {"-q", "twin.wav"});
  EXPECT_TRUE(run.exited && run.status == 0) << "the twin must convert: " << run.err;
  const Decoded d = DecodeFlac(dir.File("twin.flac"));
  EXPECT_TRUE(d.ok);
  EXPECT_FALSE(d.samples.empty());
  return d.samples;
}

TEST_P(BadInput, EndsInItsFailureTextOrConvertsWhatIsThereAndLeavesTheInputAlone) {
  const Case& c = GetParam();
  TempDir dir;
  const std::string input = c.setup == Setup::kInputIsNamedFlac ? "case.flac" : "case.wav";
  if (c.setup == Setup::kInputIsDirectory) {
    fs::create_directory(dir.Path() / input);
  } else {
    WriteBytes(dir.File(input), c.file);
  }
  if (c.setup == Setup::kFlacIsDirectory) fs::create_directory(dir.Path() / "case.flac");

  const CliRun run = RunVornek(VORNEK_CLI_FILE, dir.Path().string(), {input});

  EXPECT_FALSE(run.hung) << "still running at the time limit";
  EXPECT_EQ(run.signal, 0) << "ended by signal " << run.signal << ": " << run.err;
  ASSERT_TRUE(run.exited);
  if (c.failure.empty()) {
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, c.warning);
    const Decoded d = DecodeFlac(dir.File("case.flac"));
    ASSERT_TRUE(d.ok);
    EXPECT_TRUE(d.md5_ok);
    EXPECT_EQ(d.samples, TwinSamples(c.twin));
  } else {
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vornek: " + input + ": " + c.failure + "\n");
    EXPECT_EQ(run.out, "");
    // A refused file leaves nothing: no FLAC file, empty or partial, and no hidden one.
    std::vector<std::string> expected{input};
    if (c.setup == Setup::kFlacIsDirectory) expected = {"case.flac", input};
    EXPECT_EQ(dir.Names(), expected);
  }

  if (c.setup == Setup::kInputIsDirectory) {
    EXPECT_TRUE(fs::is_directory(dir.Path() / input));
    EXPECT_TRUE(fs::is_empty(dir.Path() / input));
  } else {
    EXPECT_EQ(ReadBytes(dir.File(input)), c.file) << "the input changed";
  }
  if (c.setup == Setup::kFlacIsDirectory) {
    EXPECT_TRUE(fs::is_directory(dir.Path() / "case.flac"));
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, BadInput, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

}  // namespace
}  // namespace vornek::test
