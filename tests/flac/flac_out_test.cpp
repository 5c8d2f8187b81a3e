// SPDX-License-Identifier: BSD-3-Clause
// The FLAC writer end to end, on its real worker thread with the real libFLAC: what it
// writes is read back with libFLAC's own decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "flac/block_feeder.h"
#include "flac/flac_fixtures.h"
#include "flac/flac_out.h"
#include "support/files.h"
#include "support/tools.h"

namespace vornek {
namespace {

using test::Decoded;
using test::DecodeFlac;
using test::PcmInput;
using test::RunAndWait;
using test::TempDir;

struct RoundTripCase {
  int bits;
  int channels;
  std::size_t frames;
  friend void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.bits << "bit_" << c.channels << "ch_" << c.frames << "frames";
  }
};

class FlacRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(FlacRoundTrip, DecodesSampleExactWithStreamInfoMd5AndOneVendorBlock) {
  const RoundTripCase c = GetParam();
  test::BindingGuard binding;
  TempDir dir;
  const std::string path = dir.File("out.flac");
  const std::vector<std::int32_t> signal = test::TestSignal(c.frames, c.channels, c.bits);
  PcmInput input(test::ToPcm(signal, c.bits), c.bits, c.channels, 48000);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  out.SetCompressionLevel(2);
  out.GetTags().Clear();

  const test::RunResult run = RunAndWait(out);
  ASSERT_TRUE(run.finished);
  ASSERT_TRUE(run.failures.empty()) << run.failures.front();
  EXPECT_EQ(input.opens, 1);
  EXPECT_GE(input.closes, 1);

  const Decoded d = DecodeFlac(path);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.rate, 48000u);
  EXPECT_EQ(d.channels, static_cast<std::uint32_t>(c.channels));
  EXPECT_EQ(d.bits, static_cast<std::uint32_t>(c.bits));
  EXPECT_EQ(d.total, c.frames);
  EXPECT_EQ(d.max_block, 4608u);
  EXPECT_EQ(d.min_block, 4608u);
  EXPECT_TRUE(d.md5_present);
  EXPECT_TRUE(d.md5_ok);
  for (std::size_t i = 0; i + 1 < d.frame_sizes.size(); ++i) EXPECT_EQ(d.frame_sizes[i], 4608u);
  ASSERT_EQ(d.samples.size(), signal.size());
  EXPECT_TRUE(d.samples == signal) << "decoded samples differ from the input";

  int comment_blocks = 0;
  for (const test::DecodedBlock& block : d.blocks) {
    if (block.type != FLAC__METADATA_TYPE_VORBIS_COMMENT) continue;
    ++comment_blocks;
    EXPECT_EQ(block.vendor, "VENDOR=Duzode");
    EXPECT_EQ(block.comments, 0u);
  }
  EXPECT_EQ(comment_blocks, 1);
}

std::vector<RoundTripCase> RoundTripCases() {
  std::vector<RoundTripCase> cases;
  for (int bits : {8, 16, 24, 32})
    for (int channels : {1, 2, 6})
      for (std::size_t frames : {std::size_t{0}, std::size_t{1}, std::size_t{4608},
                                 std::size_t{3 * 4608 + 7}})
        cases.push_back({bits, channels, frames});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(
    FlacOut, FlacRoundTrip, ::testing::ValuesIn(RoundTripCases()),
    [](const ::testing::TestParamInfo<RoundTripCase>& p) {
      return std::to_string(p.param.bits) + "bit_" + std::to_string(p.param.channels) + "ch_" +
             std::to_string(p.param.frames) + "frames";
    });

TEST(FlacOut, WrittenFilePassesTheFlacTool) {
  VORNEK_REQUIRE(test::MissingTool("flac"));
  test::BindingGuard binding;
  TempDir dir;
  const std::string path = dir.File("tool.flac");
  PcmInput input(test::ToPcm(test::TestSignal(3 * 4608 + 7, 2, 16), 16), 16, 2);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  out.SetCompressionLevel(2);
  out.GetTags().SetTitle(u"T\u00e9st");  // a comment of our own must not upset the tool
  ASSERT_TRUE(RunAndWait(out).failures.empty());
  EXPECT_EQ(std::system(("flac -t -s '" + path + "'").c_str()), 0);
}

// Rates that FLAC holds but the streamable subset's frame headers cannot state are
// written outside the subset, stated in the stream information: the samples come back
// exactly, with one encoder and with several, and the flac tool reads the file.
TEST(FlacOut, RatesTheSubsetCannotStateAreWrittenOutsideIt) {
  VORNEK_REQUIRE(test::MissingTool("flac"));
  test::BindingGuard binding;
  for (const std::int32_t rate : {65536, 88201, 192001, 655349}) {
    for (const std::uint32_t threads : {1u, 2u}) {
      SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(threads) + " encoders");
      TempDir dir;
      const std::string path = dir.File("rate.flac");
      const auto samples = test::TestSignal(9 * 4608 + 5, 2, 16);
      PcmInput input(test::ToPcm(samples, 16), 16, 2, rate);
      TFLACOut out;
      out.SetInput(&input);
      out.SetFileName(path);
      out.SetCompressionLevel(2);
      out.SetEncoderThreads(threads);
      const test::RunResult result = RunAndWait(out);
      ASSERT_TRUE(result.failures.empty()) << result.failures.front();
      const Decoded d = DecodeFlac(path);
      ASSERT_TRUE(d.ok);
      EXPECT_EQ(d.rate, static_cast<std::uint32_t>(rate));
      EXPECT_EQ(d.samples, samples);
      EXPECT_EQ(std::system(("flac -t -s '" + path + "'").c_str()), 0);
    }
  }
}

// Without ReplaceExisting, a file at the output name is never replaced: one there
// before the run fails it at once, and one put there while it runs fails it at the
// end; either way that file stays as it was and nothing else is left. With it (the
// library's way), the whole new file replaces what stands there.
TEST(FlacOut, AFileAtTheNameIsReplacedOnlyWhenThatIsAsked) {
  test::BindingGuard binding;
  const std::vector<std::uint8_t> theirs = {'t', 'h', 'e', 'i', 'r', 's'};
  struct Case {
    const char* name;
    bool replace;
    bool there_before;  ///< else put there while the run is held
  };
  for (const Case c : {Case{"there before", false, true}, Case{"put there meanwhile", false, false},
                       Case{"put there meanwhile, replaced", true, false}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("out.flac");
    if (c.there_before) test::WriteBytes(path, theirs);
    const auto samples = test::TestSignal(3 * 4608, 2, 16);
    PcmInput input(test::ToPcm(samples, 16), 16, 2);
    input.HoldAfter(1);
    TFLACOut out;
    out.SetInput(&input);
    out.SetFileName(path);
    out.SetCompressionLevel(2);
    out.ReplaceExisting = c.replace;
    auto result = std::make_shared<test::RunResult>();
    out.OnDone = [result](TAuOutput*) { result->finished = true; };
    out.OnThreadException = [result](TAuOutput* sender) { result->failures.push_back(sender->GetExceptionMessage()); };
    out.Run();
    if (!c.there_before) {
      ASSERT_TRUE(test::PumpUntil([&] { return input.Holding(); }));
      test::WriteBytes(path, theirs);
    }
    input.Release();
    ASSERT_TRUE(test::PumpUntil([&] { return result->finished; }, std::chrono::seconds(60)));
    out.OnDone = nullptr;
    out.OnThreadException = nullptr;
    if (c.replace) {
      EXPECT_TRUE(result->failures.empty());
      EXPECT_EQ(DecodeFlac(path).samples, samples);
    } else {
      EXPECT_EQ(result->failures, std::vector<std::string>{path + " exists (use -f to replace it)"});
      EXPECT_EQ(test::ReadBytes(path), theirs);
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.flac"});
  }
}

TEST(FlacOut, TagsReachTheFileAsUtf8Comments) {
  test::BindingGuard binding;
  TempDir dir;
  const std::string path = dir.File("tags.flac");
  PcmInput input(test::ToPcm(test::TestSignal(100, 1, 16), 16), 16, 1);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  TVorbisTags tags;
  tags.SetTitle(u"\u00e9t\u00e9");
  tags.SetArtist(u"X");
  out.SetTags(tags);
  ASSERT_TRUE(RunAndWait(out).failures.empty());

  FLAC__StreamMetadata* comments = nullptr;
  ASSERT_TRUE(FLAC__metadata_get_tags(path.c_str(), &comments));
  ASSERT_EQ(comments->data.vorbis_comment.num_comments, 2u);
  const auto entry = [&](unsigned i) {
    const auto& e = comments->data.vorbis_comment.comments[i];
    return std::string(reinterpret_cast<const char*>(e.entry), e.length);
  };
  EXPECT_EQ(entry(0), "title=\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(entry(1), "artist=X");
  FLAC__metadata_object_delete(comments);
  EXPECT_TRUE(DecodeFlac(path).md5_ok);
}

TEST(FlacOut, AbortMidRunLeavesAValidShorterFile) {
  test::BindingGuard binding;
  TempDir dir;
  const std::string path = dir.File("abort.flac");
  // The reader runs up to a ring's worth of blocks ahead of the encoder, so it can
  // have read a ring and three blocks only once the encoder has finished three.
  const int ahead = static_cast<int>(TBlockFeeder::RingSlots(4608, 2));
  const std::size_t frames = static_cast<std::size_t>(ahead + 8) * 4608;
  const std::vector<std::int32_t> signal = test::TestSignal(frames, 2, 16);
  PcmInput input(test::ToPcm(signal, 16), 16, 2);
  input.HoldAfter(ahead + 3);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  out.SetCompressionLevel(2);
  ASSERT_TRUE(test::RunAndStopAtTheHeldRead(out, input));

  const Decoded d = DecodeFlac(path);
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.md5_ok);
  EXPECT_GE(d.total, 3u * 4608);
  EXPECT_LT(d.total, frames);
  EXPECT_EQ(d.total % 4608, 0u);
  ASSERT_EQ(d.samples.size(), d.total * 2);
  EXPECT_TRUE(std::equal(d.samples.begin(), d.samples.end(), signal.begin()));
}

TEST(FlacOut, InputThatFailsToOpenLeavesTheOutputNameAsItWas) {
  test::BindingGuard binding;
  TempDir dir;
  const std::string path = dir.File("empty.flac");
  const std::vector<std::uint8_t> earlier(100, 0xAB);
  test::WriteBytes(path, earlier);  // replaced only by a run that ends well
  PcmInput input({}, 16, 2);
  input.open_failure = "The input cannot be opened.";
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  const test::RunResult run = RunAndWait(out);
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(run.failures.size(), 1u);
  EXPECT_EQ(run.failures[0], "The input cannot be opened.");
  EXPECT_EQ(test::ReadBytes(path), earlier);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"empty.flac"});
}

// The file is written under a name of its own and moved over FileName at the end: a
// link standing at FileName (planted, say, between a deletion and the run) is
// replaced, and the file it points to is never written.
TEST(FlacOut, ALinkAtTheFileNameIsReplacedNotFollowed) {
  test::BindingGuard binding;
  TempDir dir, elsewhere;
  const std::string victim = elsewhere.File("victim");
  const std::vector<std::uint8_t> secret(10, 0x5A);
  test::WriteBytes(victim, secret);
  const std::string path = dir.File("song.flac");
  std::filesystem::create_symlink(victim, path);
  const std::vector<std::int32_t> signal = test::TestSignal(3000, 2, 16);
  PcmInput input(test::ToPcm(signal, 16), 16, 2);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  ASSERT_TRUE(RunAndWait(out).failures.empty());
  EXPECT_EQ(test::ReadBytes(victim), secret);
  EXPECT_FALSE(std::filesystem::is_symlink(path));
  const Decoded d = DecodeFlac(path);
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.samples == signal);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"song.flac"});
}

TEST(FlacOut, NoFileNameIsRefused) {
  test::BindingGuard binding;
  PcmInput input({}, 16, 2);
  TFLACOut out;
  out.SetInput(&input);
  const test::RunResult run = RunAndWait(out);
  ASSERT_EQ(run.failures.size(), 1u);
  EXPECT_EQ(run.failures[0], "File name is not assigned.");
  EXPECT_EQ(input.opens, 0);
}

// Inputs the writer cannot widen, or that FLAC cannot state, are refused with a text
// of their own, before any division by their format and before the library sees them;
// no file is left behind.
struct RefusedFormat {
  const char* name;
  std::int32_t bits;
  std::int32_t channels;
  const char* message;
  std::int32_t rate = 44100;
};

class FlacRefusedFormat : public ::testing::TestWithParam<RefusedFormat> {};

TEST_P(FlacRefusedFormat, PrepareFailsWithAClearText) {
  const RefusedFormat& c = GetParam();
  test::BindingGuard binding;
  TempDir dir;
  const std::string path = dir.File("refused.flac");
  PcmInput input(std::vector<std::uint8_t>(64, 1), c.bits, c.channels, c.rate);
  input.stated_size = 64;
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  const test::RunResult run = RunAndWait(out);
  ASSERT_EQ(run.failures.size(), 1u);
  EXPECT_EQ(run.failures[0], c.message);
  EXPECT_EQ(input.reads, 0);
  EXPECT_GE(input.closes, 1);  // Done closes what Prepare opened
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(dir.Names().empty());
}

INSTANTIATE_TEST_SUITE_P(
    FlacOut, FlacRefusedFormat,
    ::testing::Values(
        RefusedFormat{"NoChannels", 16, 0, "The input has no audio channels."},
        RefusedFormat{"NegativeChannels", 16, -2, "The input has no audio channels."},
        RefusedFormat{"ZeroBits", 0, 2,
                      "Unsupported sample size: 0 bits per sample (8, 16, 24 or 32 expected)."},
        RefusedFormat{"FourBits", 4, 1,
                      "Unsupported sample size: 4 bits per sample (8, 16, 24 or 32 expected)."},
        RefusedFormat{"TwelveBits", 12, 2,
                      "Unsupported sample size: 12 bits per sample (8, 16, 24 or 32 expected)."},
        RefusedFormat{"NineChannels", 16, 9, "FLAC cannot hold 9 channels (at most 8)."},
        RefusedFormat{"RateZero", 16, 2, "FLAC cannot hold a sample rate of 0 Hz (1 to 655350 Hz).", 0},
        RefusedFormat{"RateAboveTheFrameHeaders", 16, 2,
                      "FLAC cannot hold a sample rate of 655351 Hz (1 to 655350 Hz).", 655351}),
    [](const ::testing::TestParamInfo<RefusedFormat>& p) { return p.param.name; });

TEST(FlacOut, SettingsTheLibraryRefusesFailInitialisationAndCloseTheInput) {
  test::BindingGuard binding;
  TempDir dir;
  PcmInput input(std::vector<std::uint8_t>(64, 1), 16, 2);
  TFLACOut out;
  out.SetBlockSize(8);  // FLAC's blocks hold at least 16 frames
  out.SetInput(&input);
  out.SetFileName(dir.File("nine.flac"));
  const test::RunResult run = RunAndWait(out);
  ASSERT_EQ(run.failures.size(), 1u);
  EXPECT_EQ(run.failures[0], "Failed to initialize FLAC encoder.");
  EXPECT_EQ(input.reads, 0);
  EXPECT_GE(input.closes, 1);
  EXPECT_TRUE(dir.Names().empty());
}

TEST(FlacOut, RunsAgainAfterDoneWithAFreshFile) {
  test::BindingGuard binding;
  TempDir dir;
  const std::vector<std::int32_t> signal = test::TestSignal(5000, 2, 16);
  PcmInput input(test::ToPcm(signal, 16), 16, 2);
  TFLACOut out;
  out.SetInput(&input);
  for (const char* name : {"first.flac", "second.flac"}) {
    out.SetFileName(dir.File(name));
    ASSERT_TRUE(RunAndWait(out).failures.empty());
    const Decoded d = DecodeFlac(dir.File(name));
    ASSERT_TRUE(d.ok);
    EXPECT_TRUE(d.md5_ok);
    EXPECT_TRUE(d.samples == signal) << name;
  }
}

TEST(FlacOut, MissingLibraryIsRetriedOnTheNextRun) {
  test::BindingGuard binding;
  TempDir dir;
  const std::string path = dir.File("retry.flac");
  const std::vector<std::int32_t> signal = test::TestSignal(1000, 1, 16);
  PcmInput input(test::ToPcm(signal, 16), 16, 1);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);

  libflac_testing::UseLibraryNames({"libvornek-no-such-flac.so.99"});
  test::RunResult run = RunAndWait(out);
  ASSERT_EQ(run.failures.size(), 1u);
  // The names tried are named (the one name given here).
  EXPECT_EQ(run.failures[0], "libvornek-no-such-flac.so.99 library could not be loaded.");
  EXPECT_FALSE(LibFLACLoaded());
  EXPECT_FALSE(std::filesystem::exists(path));  // nothing is created without the library
  EXPECT_EQ(input.opens, 0);

  libflac_testing::UseLibraryNames({});  // the library "appears"
  run = RunAndWait(out);
  ASSERT_TRUE(run.failures.empty()) << run.failures.front();
  EXPECT_TRUE(LibFLACLoaded());
  const Decoded d = DecodeFlac(path);
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.samples == signal);
}

TEST(FlacOut, DestroyingAnOutputMidRunFinishesTheFile) {
  test::BindingGuard binding;
  TempDir dir;
  const std::string path = dir.File("destroyed.flac");
  const std::vector<std::int32_t> signal = test::TestSignal(20 * 4608, 1, 16);
  PcmInput input(test::ToPcm(signal, 16), 16, 1);
  input.HoldAfter(2);
  {
    TFLACOut out;
    out.SetInput(&input);
    out.SetFileName(path);
    out.Run();
    ASSERT_TRUE(test::PumpUntil([&] { return input.Holding(); }));
    input.Release();
  }  // the destructor stops the run and Done finishes the stream
  // The stop lands between blocks: the file holds the whole blocks encoded before it,
  // exactly as read, and is a finished stream.
  const Decoded d = DecodeFlac(path);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.total % 4608, 0u);
  ASSERT_LE(d.total, signal.size());
  EXPECT_TRUE(std::equal(d.samples.begin(), d.samples.end(), signal.begin()));
  if (d.total > 0) {
    EXPECT_TRUE(d.md5_ok);
  }
}

}  // namespace
}  // namespace vornek
