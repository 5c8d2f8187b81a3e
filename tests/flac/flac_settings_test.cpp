// SPDX-License-Identifier: BSD-3-Clause
// What the FLAC writer hands the encoder: its settings, the samples it widens and the
// bytes its callbacks write. The library's entries are replaced by recording fakes.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "flac/flac_binding.h"
#include "flac/flac_fixtures.h"
#include "flac/flac_out.h"
#include "support/files.h"

namespace vornek {
namespace {

using test::PcmInput;
using test::RunAndWait;
using test::TempDir;

struct Call {
  std::string name;
  std::vector<std::int64_t> args;
  bool operator==(const Call&) const = default;
  friend void PrintTo(const Call& c, std::ostream* os) {
    *os << c.name << "(";
    for (std::size_t i = 0; i < c.args.size(); ++i) *os << (i ? "," : "") << c.args[i];
    *os << ")";
  }
};

/// What the fake entries saw. They run on the worker; the test reads after the run.
struct Recorder {
  std::mutex mutex;
  std::vector<Call> calls;
  std::vector<std::uint32_t> frames;   // per processing call
  std::vector<std::int32_t> samples;   // every sample handed over
  std::uint32_t channels = 0;
  /// Runs inside the fake initialisation with the writer's callbacks.
  std::function<void(FLAC__StreamEncoderWriteCallback, FLAC__StreamEncoderSeekCallback,
                     FLAC__StreamEncoderTellCallback, void*)>
      on_init;

  void Add(std::string name, std::vector<std::int64_t> args = {}) {
    std::lock_guard lock(mutex);
    calls.push_back({std::move(name), std::move(args)});
  }
  std::vector<Call> Calls() {
    std::lock_guard lock(mutex);
    return calls;
  }
};

Recorder* g_recorder = nullptr;
FLAC__StreamEncoder g_fake_encoder{};

TLibFLAC RecordingSlots() {
  TLibFLAC s;
  s.FLAC__stream_encoder_new = []() -> FLAC__StreamEncoder* {
    g_recorder->Add("new");
    return &g_fake_encoder;
  };
  s.FLAC__stream_encoder_delete = [](FLAC__StreamEncoder*) { g_recorder->Add("delete"); };
#define VORNEK_FAKE_SETTER(field, label, type)                        \
  s.field = [](FLAC__StreamEncoder*, type v) -> FLAC__bool {          \
    g_recorder->Add(label, {static_cast<std::int64_t>(v)});           \
    return true;                                                      \
  };
  VORNEK_FAKE_SETTER(FLAC__stream_encoder_set_verify, "verify", FLAC__bool)
  VORNEK_FAKE_SETTER(FLAC__stream_encoder_set_bits_per_sample, "bits", uint32_t)
  VORNEK_FAKE_SETTER(FLAC__stream_encoder_set_sample_rate, "rate", uint32_t)
  VORNEK_FAKE_SETTER(FLAC__stream_encoder_set_compression_level, "level", uint32_t)
  VORNEK_FAKE_SETTER(FLAC__stream_encoder_set_blocksize, "blocksize", uint32_t)
  VORNEK_FAKE_SETTER(FLAC__stream_encoder_set_do_mid_side_stereo, "mid_side", FLAC__bool)
  VORNEK_FAKE_SETTER(FLAC__stream_encoder_set_loose_mid_side_stereo, "loose", FLAC__bool)
  VORNEK_FAKE_SETTER(FLAC__stream_encoder_set_max_lpc_order, "max_lpc", uint32_t)
  VORNEK_FAKE_SETTER(FLAC__stream_encoder_set_qlp_coeff_precision, "qlp", uint32_t)
  VORNEK_FAKE_SETTER(FLAC__stream_encoder_set_do_qlp_coeff_prec_search, "qlp_search", FLAC__bool)
  VORNEK_FAKE_SETTER(FLAC__stream_encoder_set_do_exhaustive_model_search, "exhaustive", FLAC__bool)
  VORNEK_FAKE_SETTER(FLAC__stream_encoder_set_min_residual_partition_order, "min_part", uint32_t)
  VORNEK_FAKE_SETTER(FLAC__stream_encoder_set_max_residual_partition_order, "max_part", uint32_t)
  VORNEK_FAKE_SETTER(FLAC__stream_encoder_set_total_samples_estimate, "estimate", FLAC__uint64)
#undef VORNEK_FAKE_SETTER
  s.FLAC__stream_encoder_set_channels = [](FLAC__StreamEncoder*, uint32_t v) -> FLAC__bool {
    g_recorder->Add("channels", {v});
    g_recorder->channels = v;
    return true;
  };
  s.FLAC__stream_encoder_init_stream =
      [](FLAC__StreamEncoder*, FLAC__StreamEncoderWriteCallback write,
         FLAC__StreamEncoderSeekCallback seek, FLAC__StreamEncoderTellCallback tell,
         FLAC__StreamEncoderMetadataCallback, void* client) {
        g_recorder->Add("init");
        if (g_recorder->on_init) g_recorder->on_init(write, seek, tell, client);
        return FLAC__STREAM_ENCODER_INIT_STATUS_OK;
      };
  s.FLAC__stream_encoder_process_interleaved =
      [](FLAC__StreamEncoder*, const FLAC__int32 buffer[], uint32_t frames) -> FLAC__bool {
    std::lock_guard lock(g_recorder->mutex);
    g_recorder->frames.push_back(frames);
    g_recorder->samples.insert(g_recorder->samples.end(), buffer,
                               buffer + std::size_t{frames} * g_recorder->channels);
    return true;
  };
  s.FLAC__stream_encoder_finish = [](FLAC__StreamEncoder*) -> FLAC__bool {
    g_recorder->Add("finish");
    return true;
  };
  return s;
}

/// Installs the recording fakes for one test and puts the real binding back after it.
class RecordingLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    g_recorder = &recorder;
    libflac_testing::InstallSlots(RecordingSlots());
  }
  void TearDown() override {
    test::BindingGuard::Reset();
    g_recorder = nullptr;
  }

  /// The calls up to and including the initialisation.
  std::vector<Call> SetupCalls() {
    std::vector<Call> out;
    for (const Call& c : recorder.Calls()) {
      out.push_back(c);
      if (c.name == "init") break;
    }
    return out;
  }

  Recorder recorder;
  TempDir dir;
};

TEST(FlacOutProperties, SettersAndTheirSideEffects) {
  TFLACOut out;
  EXPECT_EQ(out.GetCompressionLevel(), -1);
  EXPECT_EQ(out.GetBlockSize(), 4608);
  EXPECT_TRUE(out.GetEnableMidSideStereo());
  EXPECT_FALSE(out.GetEnableLooseMidSideStereo());
  EXPECT_FALSE(out.GetVerify());
  EXPECT_FALSE(out.GetBestModelSearch());
  for (auto [set, got] : {std::pair{9, 8}, {100, 8}, {8, 8}, {0, 0}, {-5, -5}, {INT32_MIN, INT32_MIN}}) {
    out.SetCompressionLevel(set);
    EXPECT_EQ(out.GetCompressionLevel(), got) << set;
  }
  out.SetEnableMidSideStereo(false);
  out.SetEnableLooseMidSideStereo(true);
  EXPECT_TRUE(out.GetEnableMidSideStereo());
  out.SetBestModelSearch(true);
  EXPECT_FALSE(out.GetEnableLooseMidSideStereo());
  EXPECT_TRUE(out.GetEnableMidSideStereo());
  out.SetEnableMidSideStereo(false);
  out.SetBestModelSearch(false);  // false changes nothing else
  EXPECT_FALSE(out.GetEnableMidSideStereo());
  // Tags are copied into the owned set, never replaced.
  TVorbisTags* owned = &out.GetTags();
  TVorbisTags other;
  other.SetTitle(u"t");
  out.SetTags(other);
  EXPECT_EQ(&out.GetTags(), owned);
  EXPECT_EQ(out.GetTags().GetTitle(), u"t");
}

struct SettingsCase {
  const char* name;
  int bits;
  int channels;
  std::size_t bytes;
  std::int64_t stated_size;  // 0: the byte count
  std::function<void(TFLACOut&)> configure;
  std::vector<Call> expected;
  int qlp_after;  // -1: not checked
  friend void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }
};

class FlacOutSettings : public RecordingLibrary,
                        public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(FlacOutSettings, ReachTheEncoderInOrder) {
  const SettingsCase& c = GetParam();
  PcmInput input(std::vector<std::uint8_t>(c.bytes, 0), c.bits, c.channels, 44100);
  input.stated_size = c.stated_size;
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(dir.File("settings.flac"));
  if (c.configure) c.configure(out);
  const test::RunResult run = RunAndWait(out);
  ASSERT_TRUE(run.failures.empty()) << run.failures.front();
  EXPECT_EQ(SetupCalls(), c.expected);
  if (c.qlp_after >= 0) {
    EXPECT_EQ(out.GetQLPCoeffPrecision(), c.qlp_after);
  }
  // Every run ends by finishing and deleting the encoder.
  const std::vector<Call> calls = recorder.Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2].name, "finish");
  EXPECT_EQ(calls.back().name, "delete");
}

const auto kNegativeLevel = [](TFLACOut& out) {
  out.SetCompressionLevel(-5);
  out.SetMaxLPCOrder(12);
  out.SetQLPCoeffPrecision(10);
  out.SetQLPCoeffPrecisionSearch(true);
  out.SetMinResidualPartitionOrder(2);
  out.SetMaxResidualPartitionOrder(6);
};

INSTANTIATE_TEST_SUITE_P(
    FlacOut, FlacOutSettings,
    ::testing::Values(
        SettingsCase{"Level2Stereo", 16, 2, 400, 0, [](TFLACOut& o) { o.SetCompressionLevel(2); },
                     {{"new", {}}, {"verify", {0}}, {"channels", {2}}, {"bits", {16}},
                      {"rate", {44100}}, {"mid_side", {-1}}, {"loose", {0}},
                      {"blocksize", {4608}}, {"level", {2}}, {"estimate", {100}}, {"init", {}}},
                     -1},
        SettingsCase{"LevelCappedMonoNoMidSide", 8, 1, 7, 0,
                     [](TFLACOut& o) {
                       o.SetCompressionLevel(100);
                       o.SetVerify(true);
                       o.SetMaxLPCOrder(3);  // not sent with a preset
                     },
                     {{"new", {}}, {"verify", {-1}}, {"channels", {1}}, {"bits", {8}},
                      {"rate", {44100}}, {"blocksize", {4608}}, {"level", {8}},
                      {"estimate", {7}}, {"init", {}}},
                     -1},
        SettingsCase{"NegativeLevelSendsEachSetting", 16, 6, 24, 0, kNegativeLevel,
                     {{"new", {}}, {"verify", {0}}, {"channels", {6}}, {"bits", {16}},
                      {"rate", {44100}}, {"blocksize", {4608}}, {"max_lpc", {12}},
                      {"qlp", {10}}, {"qlp_search", {-1}}, {"min_part", {2}},
                      {"max_part", {6}}, {"exhaustive", {0}}, {"estimate", {2}}, {"init", {}}},
                     10},
        SettingsCase{"QlpLoweredFor24Bit", 24, 1, 3, 0, kNegativeLevel,
                     {{"new", {}}, {"verify", {0}}, {"channels", {1}}, {"bits", {24}},
                      {"rate", {44100}}, {"blocksize", {4608}}, {"max_lpc", {12}},
                      {"qlp", {7}}, {"qlp_search", {-1}}, {"min_part", {2}},
                      {"max_part", {6}}, {"exhaustive", {0}}, {"estimate", {1}}, {"init", {}}},
                     7},
        SettingsCase{"QlpLoweredFor16Bit", 16, 2, 0, 0,
                     [](TFLACOut& o) { o.SetQLPCoeffPrecision(20); },
                     {{"new", {}}, {"verify", {0}}, {"channels", {2}}, {"bits", {16}},
                      {"rate", {44100}}, {"mid_side", {-1}}, {"loose", {0}},
                      {"blocksize", {4608}}, {"max_lpc", {0}}, {"qlp", {15}},
                      {"qlp_search", {0}}, {"min_part", {0}}, {"max_part", {0}},
                      {"exhaustive", {0}}, {"init", {}}},
                     15},
        SettingsCase{"QlpFor32BitNeverWrapsBelowZero", 32, 1, 0, 0, nullptr,
                     {{"new", {}}, {"verify", {0}}, {"channels", {1}}, {"bits", {32}},
                      {"rate", {44100}}, {"blocksize", {4608}}, {"max_lpc", {0}}, {"qlp", {0}},
                      {"qlp_search", {0}}, {"min_part", {0}}, {"max_part", {0}},
                      {"exhaustive", {0}}, {"init", {}}},
                     0},
        SettingsCase{"BestModelSearchAfterLooseMidSide", 16, 2, 0, -1,
                     [](TFLACOut& o) {
                       o.SetEnableLooseMidSideStereo(true);
                       o.SetBestModelSearch(true);
                       o.SetBlockSize(1024);
                     },
                     {{"new", {}}, {"verify", {0}}, {"channels", {2}}, {"bits", {16}},
                      {"rate", {44100}}, {"mid_side", {-1}}, {"loose", {0}},
                      {"blocksize", {1024}}, {"max_lpc", {0}}, {"qlp", {0}},
                      {"qlp_search", {0}}, {"min_part", {0}}, {"max_part", {0}},
                      {"exhaustive", {-1}}, {"init", {}}},
                     -1},
        SettingsCase{"EstimateTiesRoundToEvenDown", 16, 2, 10, 0,
                     [](TFLACOut& o) { o.SetCompressionLevel(0); },
                     {{"new", {}}, {"verify", {0}}, {"channels", {2}}, {"bits", {16}},
                      {"rate", {44100}}, {"mid_side", {-1}}, {"loose", {0}},
                      {"blocksize", {4608}}, {"level", {0}}, {"estimate", {2}}, {"init", {}}},
                     -1},
        SettingsCase{"EstimateTiesRoundToEvenUp", 16, 2, 14, 0,
                     [](TFLACOut& o) { o.SetCompressionLevel(0); },
                     {{"new", {}}, {"verify", {0}}, {"channels", {2}}, {"bits", {16}},
                      {"rate", {44100}}, {"mid_side", {-1}}, {"loose", {0}},
                      {"blocksize", {4608}}, {"level", {0}}, {"estimate", {4}}, {"init", {}}},
                     -1}),
    [](const ::testing::TestParamInfo<SettingsCase>& p) { return p.param.name; });

TEST_F(RecordingLibrary, LoweredPrecisionStaysForTheNextRun) {
  PcmInput input({}, 16, 1);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(dir.File("twice.flac"));
  out.SetQLPCoeffPrecision(20);
  ASSERT_TRUE(RunAndWait(out).failures.empty());
  EXPECT_EQ(out.GetQLPCoeffPrecision(), 15);
  PcmInput wide({}, 8, 1);
  out.SetInput(&wide);
  ASSERT_TRUE(RunAndWait(out).failures.empty());
  EXPECT_EQ(out.GetQLPCoeffPrecision(), 15);  // 8 + 15 fits: kept as lowered
}

struct ConvertCase {
  const char* name;
  int bits;
  int channels;
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint32_t> frames;  // per processing call
  std::vector<std::int32_t> samples;  // the first samples handed over
  int reads;                          // reads the input served
  friend void PrintTo(const ConvertCase& c, std::ostream* os) { *os << c.name; }
};

class FlacOutConvert : public RecordingLibrary,
                       public ::testing::WithParamInterface<ConvertCase> {};

TEST_P(FlacOutConvert, WidensAndHandsOverWholeFrames) {
  const ConvertCase& c = GetParam();
  PcmInput input(c.bytes, c.bits, c.channels);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(dir.File("convert.flac"));
  ASSERT_TRUE(RunAndWait(out).failures.empty());
  EXPECT_EQ(recorder.frames, c.frames);
  ASSERT_GE(recorder.samples.size(), c.samples.size());
  EXPECT_EQ(std::vector<std::int32_t>(recorder.samples.begin(),
                                      recorder.samples.begin() +
                                          static_cast<std::ptrdiff_t>(c.samples.size())),
            c.samples);
  EXPECT_EQ(input.reads, c.reads);
}

std::vector<std::uint8_t> Repeat(std::size_t count, std::uint8_t value) {
  return std::vector<std::uint8_t>(count, value);
}

INSTANTIATE_TEST_SUITE_P(
    FlacOut, FlacOutConvert,
    ::testing::Values(
        ConvertCase{"EightBitUnsigned", 8, 1, {0, 128, 255, 1}, {4}, {-128, 0, 127, -127}, 2},
        ConvertCase{"SixteenBit", 16, 1, {0x00, 0x80, 0xFF, 0x7F, 0xFF, 0xFF}, {3},
                    {-32768, 32767, -1}, 2},
        ConvertCase{"TwentyFourBit", 24, 1, {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F,
                                             0x01, 0x02, 0x03},
                    {4}, {-1, -8388608, 8388607, 0x030201}, 2},
        ConvertCase{"ThirtyTwoBit", 32, 1, {0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0x7F, 0xFE, 0xFF, 0xFF, 0xFF},
                    {3}, {INT32_MIN, INT32_MAX, -2}, 2},
        // 10 bytes of 16-bit stereo: five samples, two whole frames; the fifth dropped.
        ConvertCase{"PartialFrameDropped", 16, 2, {1, 0, 2, 0, 3, 0, 4, 0, 5, 0}, {2},
                    {1, 2, 3, 4}, 2},
        // One whole block and 8 bytes more: 4608 frames, then 2, then no third read.
        ConvertCase{"BlockThenTail", 16, 2, Repeat(4608 * 4 + 8, 0), {4608, 2}, {0, 0}, 3},
        ConvertCase{"Empty", 16, 2, {}, {}, {}, 1}),
    [](const ::testing::TestParamInfo<ConvertCase>& p) { return p.param.name; });

TEST_F(RecordingLibrary, MissingWriterEntryFailsAsAnUnloadableLibrary) {
  TLibFLAC slots = RecordingSlots();
  slots.FLAC__stream_encoder_set_total_samples_estimate = nullptr;
  libflac_testing::InstallSlots(slots);
  const std::string path = dir.File("missing.flac");
  PcmInput input({1, 2, 3, 4}, 16, 2);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  const test::RunResult run = RunAndWait(out);
  ASSERT_EQ(run.failures.size(), 1u);
  EXPECT_EQ(run.failures[0],
            "libFLAC library could not be loaded: it has no entry "
            "FLAC__stream_encoder_set_total_samples_estimate.");
  EXPECT_TRUE(recorder.Calls().empty());
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(RecordingLibrary, TagsTooLargeForABlockAreRefusedBeforeTheFileIsCreated) {
  const std::string path = dir.File("huge.flac");
  PcmInput input({}, 16, 2);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  out.GetTags().SetAlbum(std::u16string(0x1000000, u'a'));
  const test::RunResult run = RunAndWait(out);
  ASSERT_EQ(run.failures.size(), 1u);
  EXPECT_EQ(run.failures[0], "The tags are too large for a FLAC comment block.");
  EXPECT_TRUE(recorder.Calls().empty());
  EXPECT_FALSE(std::filesystem::exists(path));
}

// The write callback replaces only a whole first comment block; the seek callback
// takes the full 64-bit offset; tell reports the file's real position.
TEST_F(RecordingLibrary, CallbacksReplaceOnlyAWholeFirstCommentBlock) {
  std::vector<FLAC__uint64> tells;
  std::vector<int> statuses;
  const FLAC__uint64 far = (FLAC__uint64{1} << 32) + 5;
  recorder.on_init = [&](FLAC__StreamEncoderWriteCallback write,
                         FLAC__StreamEncoderSeekCallback seek,
                         FLAC__StreamEncoderTellCallback tell, void* client) {
    const auto put = [&](std::vector<std::uint8_t> bytes) {
      statuses.push_back(write(&g_fake_encoder, bytes.data(), bytes.size(), 0, 0, client));
    };
    const auto where = [&] {
      FLAC__uint64 at = 0;
      statuses.push_back(tell(&g_fake_encoder, &at, client));
      tells.push_back(at);
    };
    put({'f', 'L', 'a', 'C'});
    // Begins with the comment type but is no whole block (its header says 32 bytes).
    put({0x04, 0x00, 0x00, 0x20, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    put({0x84, 0x00, 0x00, 0x03, 'a', 'b', 'c'});  // the library's block: replaced
    where();
    put({0x04, 0x00, 0x00, 0x01, 'z'});  // a second one passes unchanged
    statuses.push_back(seek(&g_fake_encoder, 4, client));
    put({'X', 'Y'});
    statuses.push_back(seek(&g_fake_encoder, far, client));
    where();
    statuses.push_back(seek(&g_fake_encoder, 50, client));
    where();
  };
  const std::string path = dir.File("callbacks.flac");
  PcmInput input({}, 16, 2);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  ASSERT_TRUE(RunAndWait(out).failures.empty());

  for (int s : statuses) EXPECT_EQ(s, 0);
  EXPECT_EQ(tells, (std::vector<FLAC__uint64>{4 + 16 + 25, far, 50}));
  std::vector<std::uint8_t> expected = {'f', 'L', 'a', 'C', 'X', 'Y', 0x00, 0x20,
                                        1,   2,   3,   4,   5,   6,   7,    8,
                                        9,   10,  11,  12};
  const std::string vendor = "VENDOR=Duzode";
  const std::vector<std::uint8_t> block_head = {0x84, 0x00, 0x00, 0x15, 0x0D, 0, 0, 0};
  expected.insert(expected.end(), block_head.begin(), block_head.end());
  expected.insert(expected.end(), vendor.begin(), vendor.end());
  for (int b : {0, 0, 0, 0, 0x04, 0, 0, 0x01, int{'z'}}) expected.push_back(static_cast<std::uint8_t>(b));
  EXPECT_EQ(test::ReadBytes(path), expected);
}

}  // namespace
}  // namespace vornek
