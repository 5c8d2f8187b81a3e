// SPDX-License-Identifier: BSD-3-Clause
// The run-time binding of libFLAC: names, slots, loading once, retrying, and a
// library that exports only part of the interface.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "flac/flac_binding.h"
#include "flac/flac_fixtures.h"
#include "flac/flac_out.h"
#include "support/files.h"
#include "support/tools.h"

// Exported by libFLAC, declared only in its private headers.
extern "C" FLAC__bool FLAC__stream_encoder_set_do_md5(FLAC__StreamEncoder* encoder,
                                                       FLAC__bool value);

namespace vornek {
namespace {

TEST(FlacBinding, NamesAreTheEightyNineInOrder) {
  const auto& names = LibFLACEntryNames();
  ASSERT_EQ(names.size(), 89u);
  EXPECT_STREQ(names[0], "FLAC__stream_decoder_new");
  EXPECT_STREQ(names[30], "FLAC__stream_decoder_seek_absolute");
  EXPECT_STREQ(names[31], "FLAC__stream_encoder_new");
  EXPECT_STREQ(names[77], "FLAC__stream_encoder_process_interleaved");
  EXPECT_STREQ(names[78], "FLAC__metadata_simple_iterator_new");
  EXPECT_STREQ(names[80], "FLAC__Metadata_simple_iterator_status");
  EXPECT_STREQ(names[88], "FLAC__metadata_simple_iterator_insert_block_after");
}

// The test program links the same libFLAC the binding loads, so every slot must hold
// exactly the entry of its own name; the capital-M name finds nothing.
TEST(FlacBinding, EverySlotHoldsTheEntryOfItsName) {
  test::BindingGuard binding;
  LoadLibFLAC();
  ASSERT_TRUE(LibFLACLoaded());
  const TLibFLAC& slots = LibFLAC();
  int bound = 0;
#define VORNEK_CHECK_SLOT(slot, prototype, use)                              \
  if (std::string(#slot) == "FLAC__Metadata_simple_iterator_status") {      \
    EXPECT_EQ(slots.slot, nullptr);                                          \
  } else {                                                                   \
    EXPECT_EQ(slots.slot, &::prototype) << #slot;                            \
    ++bound;                                                                 \
  }
  VORNEK_LIBFLAC_ENTRIES(VORNEK_CHECK_SLOT)
#undef VORNEK_CHECK_SLOT
  EXPECT_EQ(bound, 88);
  // The optional entry, exported by the library but not declared by its headers.
  EXPECT_EQ(slots.FLAC__stream_encoder_set_do_md5, &FLAC__stream_encoder_set_do_md5);
}

// A libFLAC the process has already is the one bound, before any name that would load
// a second libFLAC beside it (whose entries would call into the first one's code):
// here a copy of the test program's own libFLAC under another name comes first in the
// list, and the library already loaded is bound all the same.
TEST(FlacBinding, ALibFLACTheProcessHasAlreadyIsBoundBeforeAnyOther) {
  test::BindingGuard binding;
  Dl_info info{};
  ASSERT_NE(::dladdr(reinterpret_cast<void*>(&::FLAC__stream_encoder_new), &info), 0);
  ASSERT_NE(info.dli_fname, nullptr);
  const std::string loaded = info.dli_fname;
  test::TempDir dir;
  const std::string copy = dir.File("libFLAC-copy.so");
  std::filesystem::copy_file(loaded, copy);
  libflac_testing::UseLibraryNames({copy, loaded});
  LoadLibFLAC();
  ASSERT_TRUE(LibFLACLoaded());
  EXPECT_EQ(LoadedLibFLACName(), loaded);
  EXPECT_EQ(LibFLAC().FLAC__stream_encoder_new, &::FLAC__stream_encoder_new);
}

TEST(FlacBinding, LoadsOnceHoweverManyCallersAndThreads) {
  test::BindingGuard binding;
  const int before = libflac_testing::BindCount();
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([] {
      for (int j = 0; j < 50; ++j) {
        LoadLibFLAC();
        EXPECT_TRUE(LibFLACLoaded());
        EXPECT_NE(LibFLAC().FLAC__stream_encoder_new, nullptr);
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(libflac_testing::BindCount(), before + 1);
}

TEST(FlacBinding, FailedLoadIsTriedAgainAndLaterNamesAreTried) {
  test::BindingGuard binding;
  libflac_testing::UseLibraryNames({"libvornek-no-such-flac.so.99"});
  LoadLibFLAC();
  EXPECT_FALSE(LibFLACLoaded());
  EXPECT_EQ(LibFLAC().FLAC__stream_encoder_new, nullptr);
  LoadLibFLAC();
  EXPECT_FALSE(LibFLACLoaded());
  // A missing name is skipped for the next one in the list.
  libflac_testing::UseLibraryNames({"libvornek-no-such-flac.so.99", "libFLAC.so"});
  LoadLibFLAC();
  EXPECT_TRUE(LibFLACLoaded());
  EXPECT_NE(LibFLAC().FLAC__stream_encoder_new, nullptr);
}

// The entries the writer calls, forwarded to the real library; nothing else exported.
constexpr const char* kEncoderOnlySource = R"(
#include <dlfcn.h>
#include <FLAC/stream_encoder.h>
static void* real(const char* name) {
  static void* lib;
  if (!lib) lib = dlopen(REAL_FLAC, RTLD_NOW | RTLD_LOCAL);
  return lib ? dlsym(lib, name) : 0;
}
#define FWD(ret, name, params, args) \
  ret name params { return ((ret(*) params) real(#name)) args; }
FWD(FLAC__StreamEncoder*, FLAC__stream_encoder_new, (void), ())
void FLAC__stream_encoder_delete(FLAC__StreamEncoder* e) {
  ((void (*)(FLAC__StreamEncoder*))real("FLAC__stream_encoder_delete"))(e);
}
#define SET(name, type) FWD(FLAC__bool, name, (FLAC__StreamEncoder* e, type v), (e, v))
SET(FLAC__stream_encoder_set_verify, FLAC__bool)
SET(FLAC__stream_encoder_set_channels, uint32_t)
SET(FLAC__stream_encoder_set_bits_per_sample, uint32_t)
SET(FLAC__stream_encoder_set_sample_rate, uint32_t)
SET(FLAC__stream_encoder_set_compression_level, uint32_t)
SET(FLAC__stream_encoder_set_blocksize, uint32_t)
SET(FLAC__stream_encoder_set_do_mid_side_stereo, FLAC__bool)
SET(FLAC__stream_encoder_set_loose_mid_side_stereo, FLAC__bool)
SET(FLAC__stream_encoder_set_max_lpc_order, uint32_t)
SET(FLAC__stream_encoder_set_qlp_coeff_precision, uint32_t)
SET(FLAC__stream_encoder_set_do_qlp_coeff_prec_search, FLAC__bool)
SET(FLAC__stream_encoder_set_do_exhaustive_model_search, FLAC__bool)
SET(FLAC__stream_encoder_set_min_residual_partition_order, uint32_t)
SET(FLAC__stream_encoder_set_max_residual_partition_order, uint32_t)
SET(FLAC__stream_encoder_set_total_samples_estimate, FLAC__uint64)
FWD(FLAC__StreamEncoderInitStatus, FLAC__stream_encoder_init_stream,
    (FLAC__StreamEncoder* e, FLAC__StreamEncoderWriteCallback w,
     FLAC__StreamEncoderSeekCallback s, FLAC__StreamEncoderTellCallback t,
     FLAC__StreamEncoderMetadataCallback m, void* c),
    (e, w, s, t, m, c))
FWD(FLAC__bool, FLAC__stream_encoder_finish, (FLAC__StreamEncoder* e), (e))
FWD(FLAC__bool, FLAC__stream_encoder_process_interleaved,
    (FLAC__StreamEncoder* e, const FLAC__int32 b[], uint32_t n), (e, b, n))
)";

TEST(FlacBinding, LibraryWithoutDecoderEntriesBindsAndTheWriterWorks) {
  VORNEK_REQUIRE(test::MissingTool("cc"));
  test::BindingGuard binding;
  test::TempDir dir;
  const std::string source = dir.File("encoder_only.c");
  const std::string library = dir.File("libencoder_only.so");
  std::ofstream(source) << kEncoderOnlySource;
  const std::string build = "cc -shared -fPIC -DREAL_FLAC='\"libFLAC.so\"' -o '" + library +
                            "' '" + source + "' -ldl";
  ASSERT_EQ(std::system(build.c_str()), 0) << build;

  libflac_testing::UseLibraryNames({library});
  LoadLibFLAC();
  ASSERT_TRUE(LibFLACLoaded());
  const TLibFLAC& slots = LibFLAC();
  EXPECT_EQ(slots.FLAC__stream_decoder_new, nullptr);
  EXPECT_EQ(slots.FLAC__stream_decoder_process_single, nullptr);
  EXPECT_EQ(slots.FLAC__metadata_simple_iterator_new, nullptr);
  EXPECT_EQ(slots.FLAC__stream_encoder_get_state, nullptr);
  ASSERT_NE(slots.FLAC__stream_encoder_new, nullptr);
  EXPECT_NE(slots.FLAC__stream_encoder_new, &::FLAC__stream_encoder_new);  // the forwarder
  EXPECT_EQ(slots.FLAC__stream_encoder_set_do_md5, nullptr);  // optional, and absent

  const std::string path = dir.File("partial.flac");
  const std::vector<std::int32_t> signal = test::TestSignal(2 * 4608 + 3, 2, 16);
  test::PcmInput input(test::ToPcm(signal, 16), 16, 2);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(path);
  out.SetCompressionLevel(2);
  const test::RunResult run = test::RunAndWait(out);
  ASSERT_TRUE(run.failures.empty()) << run.failures.front();
  const test::Decoded d = test::DecodeFlac(path);
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.md5_ok);
  EXPECT_TRUE(d.samples == signal);

  // Several encoders, which cannot turn their own MD5 off here, write the same stream.
  out.SetFileName(dir.File("parallel.flac"));
  out.SetEncoderThreads(2);
  out.SetSegmentBlocks(1);
  const test::RunResult parallel = test::RunAndWait(out);
  ASSERT_TRUE(parallel.failures.empty()) << parallel.failures.front();
  EXPECT_EQ(test::ReadBytes(dir.File("parallel.flac")), test::ReadBytes(path));
}

}  // namespace
}  // namespace vornek
