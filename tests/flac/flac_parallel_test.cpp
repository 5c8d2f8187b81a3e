// SPDX-License-Identifier: BSD-3-Clause
// The FLAC writer's parallel path end to end, on real threads with the real libFLAC:
// what several encoders write is read back by libFLAC's decoder, walked frame by
// frame, and set beside what the single encoder writes for the same input.
#include <FLAC/metadata.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "flac/flac_binding.h"
#include "flac/flac_fixtures.h"
#include "flac/flac_out.h"
#include "platform/cpu.h"
#include "support/files.h"
#include "support/tools.h"
#include "support/wav_writer.h"
#include "wave/wave_in.h"

namespace vornek {
namespace {

using test::Decoded;
using test::DecodeFlac;
using test::PcmInput;
using test::RunAndWait;
using test::TempDir;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kBlock = 4608;
constexpr std::uint32_t kSegmentBlocks = 3;
constexpr std::size_t kSegment = std::size_t{kBlock} * kSegmentBlocks;

/// Converts `input` to `path` with `threads` encoders (1: the single encoder) and
/// returns the file's bytes; a failed run fails the test.
Bytes Convert(TAuInput& input, const std::string& path, std::uint32_t threads,
              std::uint32_t segment_blocks = kSegmentBlocks, bool loose = false) {
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  out.SetCompressionLevel(loose ? -1 : 2);
  if (loose) out.SetEnableLooseMidSideStereo(true);
  out.GetTags().Clear();
  out.SetEncoderThreads(threads);
  out.SetSegmentBlocks(segment_blocks);
  const test::RunResult run = RunAndWait(out);
  EXPECT_TRUE(run.finished);
  EXPECT_TRUE(run.failures.empty()) << run.failures.front();
  return test::ReadBytes(path);
}

/// What every stream written must show: the decoder takes it whole, its samples are
/// `signal`, and its stream information states the frames the file holds and the MD5
/// of the samples.
void ExpectSoundStream(const std::string& path, const std::vector<std::int32_t>& signal,
                       int channels) {
  const Decoded d = DecodeFlac(path);
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.md5_present);
  EXPECT_TRUE(d.md5_ok);
  EXPECT_EQ(d.total, signal.size() / static_cast<std::size_t>(channels));
  EXPECT_TRUE(d.samples == signal) << "decoded samples differ from the input";
  const std::vector<std::uint32_t> frames = test::FrameBytes(test::ReadBytes(path));
  ASSERT_EQ(frames.size(), d.frame_sizes.size());
  if (frames.empty()) {
    EXPECT_EQ(d.min_frame_bytes, 0xFFFFFFu);
    EXPECT_EQ(d.max_frame_bytes, 0u);
  } else {
    EXPECT_EQ(d.min_frame_bytes, *std::min_element(frames.begin(), frames.end()));
    EXPECT_EQ(d.max_frame_bytes, *std::max_element(frames.begin(), frames.end()));
  }
}

struct LengthCase {
  int bits;
  int channels;
  std::size_t frames;
};

class FlacParallel : public ::testing::TestWithParam<LengthCase> {};

// Lengths around the segment boundaries (segments of three blocks): the parallel path
// writes exactly the bytes of the single encoder, whose stream information libFLAC
// itself completes, and the same bytes whatever the number of threads.
TEST_P(FlacParallel, WritesTheSingleEncodersBytes) {
  const LengthCase c = GetParam();
  test::BindingGuard binding;
  TempDir dir;
  const std::vector<std::int32_t> signal = test::TestSignal(c.frames, c.channels, c.bits, 7);
  const Bytes pcm = test::ToPcm(signal, c.bits);
  PcmInput input(pcm, c.bits, c.channels, 48000);

  const Bytes single = Convert(input, dir.File("single.flac"), 1);
  const Bytes parallel = Convert(input, dir.File("parallel.flac"), 2);
  ExpectSoundStream(dir.File("parallel.flac"), signal, c.channels);
  EXPECT_TRUE(parallel == single) << "the parallel stream differs from the single encoder's";
  const Bytes three = Convert(input, dir.File("three.flac"), 3);
  EXPECT_TRUE(three == parallel) << "the stream depends on the number of threads";
}

std::vector<LengthCase> LengthCases() {
  std::vector<LengthCase> cases;
  for (int bits : {8, 16, 24, 32})
    for (int channels : {1, 2, 6})
      for (std::size_t frames : {std::size_t{0}, std::size_t{1}, std::size_t{kBlock}, kSegment - 1,
                                 kSegment, kSegment + 1, 7 * kSegment + 5})
        cases.push_back({bits, channels, frames});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(FlacOut, FlacParallel, ::testing::ValuesIn(LengthCases()),
                         [](const ::testing::TestParamInfo<LengthCase>& p) {
                           return std::to_string(p.param.bits) + "bit_" +
                                  std::to_string(p.param.channels) + "ch_" +
                                  std::to_string(p.param.frames) + "frames";
                         });

// Loose mid-side stereo decides a frame's stereo coding from the frames before it, so
// segments that start afresh may code some frames otherwise than one encoder would:
// the stream must still be sound, and the same whatever the number of threads.
TEST(FlacParallel, LooseMidSideStaysSoundAndDeterministic) {
  test::BindingGuard binding;
  TempDir dir;
  const std::vector<std::int32_t> signal = test::TestSignal(5 * kSegment + 99, 2, 16, 3);
  PcmInput input(test::ToPcm(signal, 16), 16, 2);
  const Bytes two = Convert(input, dir.File("two.flac"), 2, kSegmentBlocks, true);
  ExpectSoundStream(dir.File("two.flac"), signal, 2);
  EXPECT_TRUE(Convert(input, dir.File("five.flac"), 5, kSegmentBlocks, true) == two);
}

// Inputs the WAV reader converts (float, ADPCM) reach the parallel path as PCM: the
// same bytes as the single encoder's, and a stream the flac tool accepts.
struct ReaderCase {
  const char* name;
  const char* sox_encoding;  // nullptr: a float file of the test's own
};

class FlacParallelReader : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(FlacParallelReader, ConvertedInputsGiveTheSingleEncodersBytes) {
  const ReaderCase c = GetParam();
  TempDir dir;
  const std::string wav = dir.File("in.wav");
  const std::vector<std::int32_t> signal = test::TestSignal(4 * kSegment + 321, 2, 16, 5);
  if (c.sox_encoding == nullptr) {
    test::Bytes data;
    for (std::int32_t s : signal) {
      const float f = static_cast<float>(s) / 32768.0f;
      std::uint32_t bits;
      std::memcpy(&bits, &f, 4);
      test::PutLE32(data, bits);
    }
    test::WriteBytes(wav, test::SimpleWav(3, 2, 44100, 32, data));
  } else {
    VORNEK_REQUIRE(test::MissingTool("sox"));
    test::WriteBytes(dir.File("pcm.wav"),
                     test::SimpleWav(1, 2, 44100, 16, test::ToPcm(signal, 16)));
    ASSERT_EQ(
        std::system(
            ("sox '" + dir.File("pcm.wav") + "' -e " + c.sox_encoding + " '" + wav + "'").c_str()),
        0);
  }
  test::BindingGuard binding;
  TWaveIn single_in;
  single_in.SetFileName(wav);
  const Bytes single = Convert(single_in, dir.File("single.flac"), 1);
  TWaveIn parallel_in;
  parallel_in.SetFileName(wav);
  const Bytes parallel = Convert(parallel_in, dir.File("parallel.flac"), 2);
  ASSERT_FALSE(parallel.empty());
  EXPECT_TRUE(parallel == single) << "the parallel stream differs from the single encoder's";
  const Decoded d = DecodeFlac(dir.File("parallel.flac"));
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.md5_ok);
  EXPECT_GE(d.total, 4 * kSegment);
  VORNEK_REQUIRE(test::MissingTool("flac"));
  EXPECT_EQ(std::system(("flac -t -s '" + dir.File("parallel.flac") + "'").c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(FlacOut, FlacParallelReader,
                         ::testing::Values(ReaderCase{"Float32", nullptr},
                                           ReaderCase{"ImaAdpcm", "ima-adpcm"},
                                           ReaderCase{"MsAdpcm", "ms-adpcm"}),
                         [](const ::testing::TestParamInfo<ReaderCase>& p) {
                           return p.param.name;
                         });

// The stream information of the parallel path against what the flac tool writes for
// the same WAV file at the writer's settings.
struct ToolCase {
  int bits;
  int channels;
};

class FlacParallelAgainstTool : public ::testing::TestWithParam<ToolCase> {};

TEST_P(FlacParallelAgainstTool, StreamInformationMatchesTheFlacTool) {
  VORNEK_REQUIRE(test::MissingTool("flac"));
  const ToolCase c = GetParam();
  TempDir dir;
  const std::string wav = dir.File("in.wav");
  const std::vector<std::int32_t> signal =
      test::TestSignal(6 * kSegment + 1234, c.channels, c.bits, 11);
  test::WriteBytes(
      wav, c.channels > 2 || c.bits > 16
               ? test::Riff(
                     {{"fmt ", test::ExtensibleFmtBody(static_cast<std::uint16_t>(c.channels),
                                                       44100, static_cast<std::uint16_t>(c.bits),
                                                       static_cast<std::uint16_t>(c.bits), false)},
                      {"data", test::ToPcm(signal, c.bits)}})
               : test::SimpleWav(1, static_cast<std::uint16_t>(c.channels), 44100,
                                 static_cast<std::uint16_t>(c.bits), test::ToPcm(signal, c.bits)));
  const std::string reference = dir.File("reference.flac");
  // The test's extensible header states no speaker layout for six channels; the tool
  // wants to be told to take the channels as they come.
  const std::string map = c.channels > 2 ? " --channel-map=none" : "";
  ASSERT_EQ(std::system(
                ("flac -s -f -2 -b 4608" + map + " -o '" + reference + "' '" + wav + "'").c_str()),
            0);

  test::BindingGuard binding;
  TWaveIn input;
  input.SetFileName(wav);
  Convert(input, dir.File("parallel.flac"), 2);

  FLAC__StreamMetadata ours, theirs;
  ASSERT_TRUE(FLAC__metadata_get_streaminfo(dir.File("parallel.flac").c_str(), &ours));
  ASSERT_TRUE(FLAC__metadata_get_streaminfo(reference.c_str(), &theirs));
  const auto& a = ours.data.stream_info;
  const auto& b = theirs.data.stream_info;
  EXPECT_EQ(a.total_samples, b.total_samples);
  EXPECT_TRUE(std::equal(std::begin(a.md5sum), std::end(a.md5sum), std::begin(b.md5sum)));
  EXPECT_EQ(a.min_blocksize, b.min_blocksize);
  EXPECT_EQ(a.max_blocksize, b.max_blocksize);
  EXPECT_EQ(a.sample_rate, b.sample_rate);
  EXPECT_EQ(a.channels, b.channels);
  EXPECT_EQ(a.bits_per_sample, b.bits_per_sample);
  // The frame sizes agree where the frames do: the tool encodes with the same library
  // at the same settings, so its frames are the writer's.
  EXPECT_EQ(a.min_framesize, b.min_framesize);
  EXPECT_EQ(a.max_framesize, b.max_framesize);
}

INSTANTIATE_TEST_SUITE_P(FlacOut, FlacParallelAgainstTool,
                         ::testing::Values(ToolCase{8, 1}, ToolCase{16, 2}, ToolCase{24, 2},
                                           ToolCase{16, 6}, ToolCase{32, 2}),
                         [](const ::testing::TestParamInfo<ToolCase>& p) {
                           return std::to_string(p.param.bits) + "bit_" +
                                  std::to_string(p.param.channels) + "ch";
                         });

// A stop mid-run ends the run at the next step, and the file holds every block read
// before it, in whole segments and the part of one being read, as the single
// encoder's holds every block it was handed.
TEST(FlacParallel, StopMidRunWritesEveryBlockRead) {
  test::BindingGuard binding;
  TempDir dir;
  const std::string path = dir.File("stopped.flac");
  const std::vector<std::int32_t> signal = test::TestSignal(20 * kSegment, 2, 16);
  PcmInput input(test::ToPcm(signal, 16), 16, 2);
  input.HoldAfter(10);  // one read a block: the 11th read waits
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  out.SetCompressionLevel(2);
  out.SetEncoderThreads(2);
  out.SetSegmentBlocks(kSegmentBlocks);
  ASSERT_TRUE(test::RunAndStopAtTheHeldRead(out, input));

  const Decoded d = DecodeFlac(path);
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.md5_ok);
  EXPECT_EQ(d.total, 11u * kBlock);
  ASSERT_EQ(d.samples.size(), d.total * 2);
  EXPECT_TRUE(std::equal(d.samples.begin(), d.samples.end(), signal.begin()));
}

// Failures of the encoders, as a library can fail them: the real library with one
// entry replaced by one that fails at a chosen moment.
TLibFLAC g_real;
std::atomic<int> g_inits{0};
std::atomic<int> g_md5_offs{0};
constexpr FLAC__int32 kPoison = 0x1234;  // a sample the failing process entry refuses

FLAC__StreamEncoderInitStatus InitFailingTheFourth(FLAC__StreamEncoder* encoder,
                                                   FLAC__StreamEncoderWriteCallback write,
                                                   FLAC__StreamEncoderSeekCallback seek,
                                                   FLAC__StreamEncoderTellCallback tell,
                                                   FLAC__StreamEncoderMetadataCallback metadata,
                                                   void* client) {
  if (++g_inits == 4) return FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR;
  return g_real.FLAC__stream_encoder_init_stream(encoder, write, seek, tell, metadata, client);
}

FLAC__bool ProcessRefusingPoison(FLAC__StreamEncoder* encoder, const FLAC__int32 buffer[],
                                 uint32_t frames) {
  if (frames > 0 && buffer[0] == kPoison) return false;
  return g_real.FLAC__stream_encoder_process_interleaved(encoder, buffer, frames);
}

FLAC__bool CountingSetDoMd5(FLAC__StreamEncoder* encoder, FLAC__bool value) {
  ++g_md5_offs;
  return g_real.FLAC__stream_encoder_set_do_md5(encoder, value);
}

TLibFLAC RealSlots() {
  LoadLibFLAC();
  EXPECT_TRUE(LibFLACLoaded());
  g_real = LibFLAC();
  g_inits = 0;
  g_md5_offs = 0;
  return g_real;
}

struct FailureCase {
  const char* name;
  void (*install)(TLibFLAC& slots);
  const char* message;
};

class FlacParallelFailure : public ::testing::TestWithParam<FailureCase> {};

// An encoder's failure fails the run with its text, when its segment comes to be
// written; nothing is left of the file, under its name or another.
TEST_P(FlacParallelFailure, FailsTheRunWithItsTextAndLeavesNoFile) {
  const FailureCase& c = GetParam();
  test::BindingGuard binding;
  TLibFLAC slots = RealSlots();
  c.install(slots);
  libflac_testing::InstallSlots(slots);
  TempDir dir;
  const std::string path = dir.File("failed.flac");
  std::vector<std::int32_t> signal = test::TestSignal(12 * kSegment, 2, 16);
  signal[std::size_t{20} * kBlock * 2] = kPoison;  // the first sample of block 20
  PcmInput input(test::ToPcm(signal, 16), 16, 2);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  out.SetCompressionLevel(2);
  out.SetEncoderThreads(2);
  out.SetSegmentBlocks(kSegmentBlocks);
  const test::RunResult run = RunAndWait(out);
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(run.failures.size(), 1u);
  EXPECT_EQ(run.failures[0], c.message);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{});  // nor a hidden file
}

INSTANTIATE_TEST_SUITE_P(
    FlacOut, FlacParallelFailure,
    ::testing::Values(FailureCase{"ProcessFails",
                                  [](TLibFLAC& s) {
                                    s.FLAC__stream_encoder_process_interleaved =
                                        ProcessRefusingPoison;
                                  },
                                  "Failed to encode data."},
                      // The head's encoder is the first; a segment's encoder fails to start.
                      FailureCase{"InitFails",
                                  [](TLibFLAC& s) {
                                    s.FLAC__stream_encoder_init_stream = InitFailingTheFourth;
                                  },
                                  "Failed to initialize FLAC encoder."}),
    [](const ::testing::TestParamInfo<FailureCase>& p) { return p.param.name; });

// Verification (-V): an encoder whose own decode of a frame differs from the samples it
// was given fails the run with a text that says so, with one encoder and with several;
// nothing is left of the file. (The real library with its processing entry refusing
// a marked block as a verifying encoder refuses a frame that decodes otherwise.)
std::mutex g_mismatch_mutex;
std::set<const FLAC__StreamEncoder*> g_mismatched;

FLAC__bool ProcessMismatchingPoison(FLAC__StreamEncoder* encoder, const FLAC__int32 buffer[], uint32_t frames) {
  if (frames > 0 && buffer[0] == kPoison) {
    std::lock_guard lock(g_mismatch_mutex);
    g_mismatched.insert(encoder);
    return false;
  }
  return g_real.FLAC__stream_encoder_process_interleaved(encoder, buffer, frames);
}

FLAC__StreamEncoderState StateAfterMismatch(const FLAC__StreamEncoder* encoder) {
  {
    std::lock_guard lock(g_mismatch_mutex);
    if (g_mismatched.count(encoder) != 0) return FLAC__STREAM_ENCODER_VERIFY_MISMATCH_IN_AUDIO_DATA;
  }
  return g_real.FLAC__stream_encoder_get_state(encoder);
}

TEST(FlacParallel, AVerificationMismatchFailsTheRunWithItsText) {
  for (const std::uint32_t threads : {1u, 2u}) {
    SCOPED_TRACE(threads);
    test::BindingGuard binding;
    TLibFLAC slots = RealSlots();
    slots.FLAC__stream_encoder_process_interleaved = ProcessMismatchingPoison;
    slots.FLAC__stream_encoder_get_state = StateAfterMismatch;
    libflac_testing::InstallSlots(slots);
    TempDir dir;
    std::vector<std::int32_t> signal = test::TestSignal(12 * kSegment, 2, 16);
    signal[std::size_t{20} * kBlock * 2] = kPoison;
    PcmInput input(test::ToPcm(signal, 16), 16, 2);
    TFLACOut out;
    out.SetInput(&input);
    out.SetFileName(dir.File("verified.flac"));
    out.SetCompressionLevel(2);
    out.SetVerify(true);
    out.SetEncoderThreads(threads);
    out.SetSegmentBlocks(kSegmentBlocks);
    const test::RunResult run = RunAndWait(out);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.failures, std::vector<std::string>{FailureText(TFailure::faFlacVerify)});
    EXPECT_EQ(dir.Names(), std::vector<std::string>{});
  }
}

TEST(FlacParallel, AFailingReadFailsTheRunWithItsText) {
  test::BindingGuard binding;
  TempDir dir;
  const std::string path = dir.File("unread.flac");
  const std::vector<std::int32_t> signal = test::TestSignal(12 * kSegment, 1, 24);
  PcmInput input(test::ToPcm(signal, 24), 24, 1);
  input.failing_read = 17;
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  out.SetEncoderThreads(3);
  out.SetSegmentBlocks(kSegmentBlocks);
  const test::RunResult run = RunAndWait(out);
  ASSERT_EQ(run.failures.size(), 1u);
  EXPECT_EQ(run.failures[0], "The input could not be read.");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{});  // nor a hidden file
}

// Which path a run takes: several encoders turn their own MD5 off, the single
// encoder does not, so the calls of that entry tell them apart.
struct PathCase {
  const char* name;
  std::uint32_t threads;     // EncoderThreads
  std::uint16_t block_size;  // BlockSize
  bool long_input;           // at least kParallelMinSamples
  bool parallel;             // expected, on a machine of two processors or more
};

class FlacPathChoice : public ::testing::TestWithParam<PathCase> {};

TEST_P(FlacPathChoice, SeveralEncodersOnlyWhereTheyGain) {
  const PathCase& c = GetParam();
  if (c.threads == 0 && c.long_input && platform::ProcessorCount() < 2)
    GTEST_SKIP() << "one processor: the automatic choice is the single encoder";
  test::BindingGuard binding;
  TLibFLAC slots = RealSlots();
  ASSERT_NE(slots.FLAC__stream_encoder_set_do_md5, nullptr);
  slots.FLAC__stream_encoder_set_do_md5 = CountingSetDoMd5;
  libflac_testing::InstallSlots(slots);
  TempDir dir;
  const std::size_t samples =
      c.long_input ? TFLACOut::kParallelMinSamples : TFLACOut::kParallelMinSamples - 2;
  const std::vector<std::int32_t> signal = test::TestSignal(samples / 2, 2, 16);
  PcmInput input(test::ToPcm(signal, 16), 16, 2);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(dir.File("path.flac"));
  out.SetCompressionLevel(2);
  out.SetEncoderThreads(c.threads);
  out.SetBlockSize(c.block_size);
  ASSERT_TRUE(RunAndWait(out).failures.empty());
  EXPECT_EQ(g_md5_offs > 0, c.parallel);
  const Decoded d = DecodeFlac(dir.File("path.flac"));
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.md5_ok);
  EXPECT_TRUE(d.samples == signal);
}

// A WAV file whose data size is left open (0: read to the end) has no Size, but its
// length at open chooses the encoders as a stated one does.
TEST(FlacPathChoice, AWavReadToItsEndIsLongEnoughForSeveralEncoders) {
  if (platform::ProcessorCount() < 2) GTEST_SKIP() << "one processor: the automatic choice is the single encoder";
  test::BindingGuard binding;
  TLibFLAC slots = RealSlots();
  slots.FLAC__stream_encoder_set_do_md5 = CountingSetDoMd5;
  libflac_testing::InstallSlots(slots);
  TempDir dir;
  const std::vector<std::int32_t> signal = test::TestSignal(TFLACOut::kParallelMinSamples / 2, 2, 16);
  test::WriteBytes(dir.File("open.wav"), test::Riff({{"fmt ", test::FmtBody(1, 2, 44100, 16, 4)},
                                               {"data", test::ToPcm(signal, 16), 0u}}));
  TWaveIn wave;
  wave.SetFileName(dir.File("open.wav"));
  TFLACOut out;
  out.SetInput(&wave);
  out.SetFileName(dir.File("open.flac"));
  out.SetCompressionLevel(2);
  ASSERT_TRUE(RunAndWait(out).failures.empty());
  EXPECT_GT(g_md5_offs, 0) << "one encoder";
  EXPECT_EQ(wave.Size, 0);
  const Decoded d = DecodeFlac(dir.File("open.flac"));
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.md5_ok);
  EXPECT_TRUE(d.samples == signal);
}

INSTANTIATE_TEST_SUITE_P(FlacOut, FlacPathChoice,
                         ::testing::Values(PathCase{"AutomaticShort", 0, 4608, false, false},
                                           PathCase{"AutomaticLong", 0, 4608, true, true},
                                           PathCase{"OneEncoderLong", 1, 4608, true, false},
                                           PathCase{"TwoEncodersShort", 2, 4608, false, true},
                                           PathCase{"LibraryChoosesTheBlockSize", 2, 0, true,
                                                    false}),
                         [](const ::testing::TestParamInfo<PathCase>& p) { return p.param.name; });

}  // namespace
}  // namespace vornek
