// SPDX-License-Identifier: BSD-3-Clause
#include "flac/flac_out.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "flac/encoder_settings.h"
#include "flac/flac_binding.h"
#include "flac/segmented_run.h"
#include "flac/single_encoder_run.h"
#include "base/au_exception.h"
#include "base/failures.h"
#include "platform/cpu.h"
#include "platform/flac_library_names.h"
#include "platform/md5.h"

namespace vornek {

namespace {

/// libFLAC's smallest block size.
constexpr std::uint16_t kMinBlockSize = 16;
// What a FLAC stream can state: 3 bits of channel count, a 20-bit sample rate in Hz
// (and 655350 Hz is the most a frame header can name).
constexpr std::int32_t kMaxFlacChannels = 8;
constexpr std::int32_t kMaxFlacSampleRate = 655350;

// The entries the writer calls, by name. A library lacking any of them is treated as
// one that could not be loaded: no call is ever made through a null slot.
#define VORNEK_WRITER_ENTRY(slot) {#slot, lib.slot != nullptr},
const char* MissingWriterEntry(const TLibFLAC& lib) {
  const std::pair<const char*, bool> entries[] = {
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_new)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_delete)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_verify)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_channels)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_bits_per_sample)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_sample_rate)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_compression_level)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_blocksize)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_do_mid_side_stereo)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_loose_mid_side_stereo)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_max_lpc_order)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_qlp_coeff_precision)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_do_qlp_coeff_prec_search)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_do_exhaustive_model_search)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_min_residual_partition_order)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_max_residual_partition_order)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_set_total_samples_estimate)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_init_stream)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_finish)
      VORNEK_WRITER_ENTRY(FLAC__stream_encoder_process_interleaved)};
  for (const auto& [name, bound] : entries)
    if (!bound) return name;
  return nullptr;
}
#undef VORNEK_WRITER_ENTRY

// "a", "a or b", "a, b or c".
std::string EitherOf(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
    text += names[i];
  }
  return text;
}

// No library could be loaded (every name tried is named), or the one bound lacks
// `missing`. Where the platform's text names no entry, a library without one reads as
// one that could not be loaded.
[[noreturn]] void RaiseUnusableLibrary(const char* missing) {
  if (missing && platform::FlacLoadEntryIsNamed()) {
    const std::string loaded = LoadedLibFLACName();
    Raise(TFailure::faFlacLoadEntry, {loaded.empty() ? "libFLAC" : loaded, missing});
  }
  Raise(TFailure::faFlacLoad, EitherOf(LibFLACNamesTried()));
}

}  // namespace

TFLACOut::TFLACOut() : Tags(std::make_unique<TVorbisTags>()) {}

TFLACOut::~TFLACOut() { EndWorker(); }

void TFLACOut::SetBestModelSearch(bool value) {
  BestModelSearch = value;
  if (value) {
    EnableMidSideStereo = true;
    EnableLooseMidSideStereo = false;
  }
}

void TFLACOut::SetEnableLooseMidSideStereo(bool value) {
  EnableLooseMidSideStereo = value;
  if (value) EnableMidSideStereo = true;
}

void TFLACOut::Prepare() {
  LoadLibFLAC();
  if (!LibFLACLoaded()) RaiseUnusableLibrary(nullptr);
  if (const char* missing = MissingWriterEntry(LibFLAC())) RaiseUnusableLibrary(missing);

  // Tags that cannot be stated in a metadata block are refused before anything is
  // created, rather than failing inside the library's initialisation.
  TVComments comments = FillVComments(*Tags);
  if (VorbisCommentBodyLength(comments) > kMaxMetadataBlockLength) Raise(TFailure::faTagsTooLarge);
  if (WideFileName.empty()) Raise(TFailure::faOutputNameNotAssigned);

  // The input first: what is wrong with it is what the user needs to hear, and an
  // input that cannot be read never gets as far as a file beside it.
  const TEncoderSettings settings = OpenInput();
  OpenOutputFile();
  EncodingRun = MakeRun(settings, std::move(comments));
}

TEncoderSettings TFLACOut::OpenInput() {
  Input->Open();
  const std::int32_t channels = Input->GetChannels();
  const std::int32_t bits = Input->GetBitsPerSample();
  const std::int32_t rate = Input->GetSampleRate();
  // Everything below divides by these; an input the writer cannot widen is refused
  // with its own text before any of it, and so is a format FLAC cannot state.
  if (channels < 1) Raise(TFailure::faNoAudioChannels);
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
    Raise(TFailure::faSampleSize, std::to_string(bits));
  if (channels > kMaxFlacChannels) Raise(TFailure::faFlacChannels, std::to_string(channels));
  if (rate <= 0 || rate > kMaxFlacSampleRate)
    Raise(TFailure::faFlacSampleRate, std::to_string(rate));
  // Sample width plus coefficient precision must stay within 31 bits. A 32-bit input
  // leaves no room at all: 0 then asks the library to choose.
  if (CompressionLevel < 0 && bits + QLPCoeffPrecision > 31)
    QLPCoeffPrecision = static_cast<std::uint16_t>(bits < 31 ? 31 - bits : 0);

  TEncoderSettings settings;
  settings.Format.Channels = channels;
  settings.Format.BitsPerSample = bits;
  settings.Format.SampleRate = rate;
  // An input read to its end (a WAV "data" size of 0) has no Size but may know what
  // its file holds: enough to choose the encoders by.
  if (const std::int64_t size = Input->Size > 0 ? Input->Size : Input->SizeEstimate; size > 0) {
    const long double frames = static_cast<long double>(size) /
                               static_cast<long double>(bits / 8) /
                               static_cast<long double>(channels);
    settings.Format.SamplesEstimate = static_cast<std::uint64_t>(std::nearbyintl(frames));
  }
  settings.Verify = Verify;
  settings.BlockSize = BlockSize;
  settings.CompressionLevel = CompressionLevel;
  settings.EnableMidSideStereo = EnableMidSideStereo;
  settings.EnableLooseMidSideStereo = EnableLooseMidSideStereo;
  settings.MaxLPCOrder = MaxLPCOrder;
  settings.QLPCoeffPrecision = QLPCoeffPrecision;
  settings.QLPCoeffPrecisionSearch = QLPCoeffPrecisionSearch;
  settings.MinResidualPartitionOrder = MinResidualPartitionOrder;
  settings.MaxResidualPartitionOrder = MaxResidualPartitionOrder;
  settings.BestModelSearch = BestModelSearch;
  return settings;
}

std::unique_ptr<TEncodeRun> TFLACOut::MakeRun(const TEncoderSettings& settings, TVComments comments) {
  const std::uint32_t threads = EncodingThreads(settings.Format);
  if (threads > 1) {
    // The stream information of a joined stream needs an MD5 of the samples.
    if (platform::Md5 md5; md5) {
      const std::uint32_t segment_blocks =
          SegmentBlocks != 0 ? SegmentBlocks : AutomaticSegmentBlocks(settings.Format);
      return std::make_unique<TSegmentedRun>(*Input, *Stream, settings, std::move(comments), segment_blocks,
                                             threads, std::move(md5));
    }
  }
  return std::make_unique<TSingleEncoderRun>(*Input, *Stream, settings, std::move(comments));
}

std::uint32_t TFLACOut::EncodingThreads(const TRunFormat& format) const {
  // Segments are cut at block boundaries: the block size must be known and one the
  // library takes.
  if (EncoderThreads == 1 || BlockSize < kMinBlockSize) return 1;
  if (EncoderThreads > 1) return EncoderThreads;
  const std::uint32_t processors = std::min(platform::ProcessorCount(), kMaxAutomaticEncoders);
  if (processors < 2 || !format.SamplesEstimate ||
      *format.SamplesEstimate * static_cast<std::uint64_t>(format.Channels) < kParallelMinSamples)
    return 1;
  return processors;
}

std::uint32_t TFLACOut::AutomaticSegmentBlocks(const TRunFormat& format) const {
  const std::uint64_t block_samples = std::uint64_t{BlockSize} * static_cast<std::uint64_t>(format.Channels);
  const std::uint64_t most =
      std::max<std::uint64_t>(1, (kSegmentSamples + block_samples / 2) / block_samples);
  if (!format.SamplesEstimate) return static_cast<std::uint32_t>(most);
  // A shorter input is cut into kMinSegments at least, so that the encoders share it
  // evenly; the cut depends on the input alone, never on the threads.
  const std::uint64_t blocks = (*format.SamplesEstimate + BlockSize - 1) / BlockSize;
  const std::uint64_t even = (blocks + kMinSegments - 1) / kMinSegments;
  return static_cast<std::uint32_t>(
      std::clamp<std::uint64_t>(even, std::min<std::uint64_t>(kMinSegmentBlocks, most), most));
}

bool TFLACOut::DoOutput(bool abort) {
  if (!Active()) return true;
  if (abort || !EncodingRun) return false;
  return EncodingRun->Step();
}

void TFLACOut::Done() {
  // Finish the run, then keep the file or remove it. The file is kept only when it is
  // whole: the run read its input to the end (or was stopped, where a stopped run keeps
  // its file) without a failure, and finishing completed the stream.
  std::string failure;
  bool whole = false;
  if (EncodingRun) {
    const bool keep = EncodingRun->Complete() || (KeepStoppedFile && GetExceptionMessage().empty());
    try {
      EncodingRun->Finish(keep);
      whole = keep;
    } catch (const std::exception& e) {
      failure = e.what();
    }
    EncodingRun.reset();
  }
  try {
    CloseOutputFile(whole);
  } catch (const std::exception& e) {
    if (failure.empty()) failure = e.what();
  }
  if (Input) Input->Close();
  if (!failure.empty()) throw EAuException(failure);
}

}  // namespace vornek
