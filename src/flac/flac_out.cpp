// SPDX-License-Identifier: BSD-3-Clause
#include "flac/flac_out.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "flac/block_feeder.h"
#include "flac/flac_binding.h"
#include "flac/parallel_encoder.h"
#include "flac/vorbis_comment.h"
#include "pipeline/au_exception.h"
#include "pipeline/failures.h"
#include "pipeline/stream.h"
#include "platform/cpu.h"
#include "platform/flac_library_names.h"
#include "platform/md5.h"

namespace vornek {

namespace {

constexpr std::uint16_t kDefaultBlockSize = 4608;
/// libFLAC's smallest block size.
constexpr std::uint16_t kMinBlockSize = 16;
// What a FLAC stream can state: 3 bits of channel count, a 20-bit sample rate in Hz
// (and 655350 Hz is the most a frame header can name).
constexpr std::int32_t kMaxFlacChannels = 8;
constexpr std::int32_t kMaxFlacSampleRate = 655350;

// The library takes booleans as 32-bit integers; true is passed with all bits set.
FLAC__bool Flag(bool value) { return value ? -1 : 0; }

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

struct FLACOutCallbacks {
  static FLAC__StreamEncoderWriteStatus Write(const FLAC__StreamEncoder* /*encoder*/,
                                              const FLAC__byte buffer[], size_t bytes,
                                              uint32_t /*samples*/, uint32_t /*frame*/,
                                              void* client) {
    auto* self = static_cast<TFLACOut*>(client);
    try {
      self->WriteEncoded(buffer, bytes);
      return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    } catch (const std::exception& e) {
      self->StreamFailure = e.what();
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    } catch (...) {
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
  }

  static FLAC__StreamEncoderSeekStatus Seek(const FLAC__StreamEncoder* /*encoder*/,
                                            FLAC__uint64 offset, void* client) {
    try {
      auto* self = static_cast<TFLACOut*>(client);
      if (!self->Stream || offset > static_cast<FLAC__uint64>(std::numeric_limits<std::int64_t>::max()))
        return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
      const auto target = static_cast<std::int64_t>(offset);
      if (self->Stream->Seek(target, SeekOrigin::Begin) != target)
        return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
      return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    } catch (const std::exception& e) {
      static_cast<TFLACOut*>(client)->StreamFailure = e.what();
      return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    } catch (...) {
      return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    }
  }

  static FLAC__StreamEncoderTellStatus Tell(const FLAC__StreamEncoder* /*encoder*/,
                                            FLAC__uint64* offset, void* client) {
    try {
      auto* self = static_cast<TFLACOut*>(client);
      if (!self->Stream) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
      const std::int64_t position = self->Stream->Position();
      if (position < 0) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
      *offset = static_cast<FLAC__uint64>(position);
      return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    } catch (const std::exception& e) {
      static_cast<TFLACOut*>(client)->StreamFailure = e.what();
      return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    } catch (...) {
      return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    }
  }

  static void Metadata(const FLAC__StreamEncoder* /*encoder*/,
                       const FLAC__StreamMetadata* /*metadata*/, void* /*client*/) {}

  // The head encoder of the parallel path: it writes the stream's head and nothing
  // more (it is finished without samples).
  static FLAC__StreamEncoderWriteStatus WriteHead(const FLAC__StreamEncoder* /*encoder*/,
                                                  const FLAC__byte buffer[], size_t bytes,
                                                  uint32_t samples, uint32_t /*frame*/,
                                                  void* client) {
    if (samples != 0) return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    auto* self = static_cast<TFLACOut*>(client);
    try {
      self->WriteHeadBlock(buffer, bytes);
      return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    } catch (const std::exception& e) {
      self->StreamFailure = e.what();
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    } catch (...) {
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
  }
};

void TFLACOut::EncoderDeleter::operator()(void* encoder) const {
  // An encoder exists only when Prepare found this entry bound.
  LibFLAC().FLAC__stream_encoder_delete(static_cast<FLAC__StreamEncoder*>(encoder));
}

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
  const TLibFLAC& lib = LibFLAC();
  if (const char* missing = MissingWriterEntry(lib)) RaiseUnusableLibrary(missing);

  // Tags that cannot be stated in a metadata block are refused before anything is
  // created, rather than failing inside the library's initialisation.
  if (VorbisCommentBodyLength(FillVComments(*Tags)) > kMaxMetadataBlockLength)
    Raise(TFailure::faTagsTooLarge);

  if (WideFileName.empty()) Raise(TFailure::faOutputNameNotAssigned);
  CommentWritten = false;
  EncoderInitialised = false;
  EndOfInput = false;
  StreamFailure.clear();
  StreamInfoAt = -1;
  ParallelFailed = false;

  // The input first: what is wrong with it is what the user needs to hear, and an
  // input that cannot be read never gets as far as a file beside it.
  OpenInput();
  OpenOutputFile();
  Encoder.reset(lib.FLAC__stream_encoder_new());
  if (!Encoder) Raise(TFailure::faFlacInit);
  auto* encoder = static_cast<FLAC__StreamEncoder*>(Encoder.get());
  ConfigureEncoder(encoder);

  const std::uint32_t threads = EncodingThreads();
  if (threads > 1 && StartParallel(threads)) return;

  if (lib.FLAC__stream_encoder_init_stream(encoder, FLACOutCallbacks::Write,
                                           FLACOutCallbacks::Seek, FLACOutCallbacks::Tell,
                                           FLACOutCallbacks::Metadata,
                                           this) != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
    Raise(TFailure::faFlacInit);
  EncoderInitialised = true;

  // The input is read and widened one block of BlockSize frames ahead, on the
  // feeder's thread, so that each processing call hands the encoder one whole block.
  // A block size of 0 leaves the choice to the library; the blocks read are then of
  // the usual size.
  Feeder = std::make_unique<TBlockFeeder>(*Input, BlockSize != 0 ? BlockSize : kDefaultBlockSize,
                                          Channels, BitsPerSample);
}

void TFLACOut::OpenInput() {
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
  Channels = channels;
  BitsPerSample = bits;
  SampleRate = rate;
  // Sample width plus coefficient precision must stay within 31 bits. A 32-bit input
  // leaves no room at all: 0 then asks the library to choose.
  if (CompressionLevel < 0 && bits + QLPCoeffPrecision > 31)
    QLPCoeffPrecision = static_cast<std::uint16_t>(bits < 31 ? 31 - bits : 0);
  SamplesEstimate.reset();
  if (Input->Size > 0) {
    const long double frames = static_cast<long double>(Input->Size) /
                               static_cast<long double>(bits / 8) /
                               static_cast<long double>(channels);
    SamplesEstimate = static_cast<std::uint64_t>(std::nearbyintl(frames));
  }

}

void TFLACOut::ConfigureEncoder(void* handle) const {
  const TLibFLAC& lib = LibFLAC();
  auto* encoder = static_cast<FLAC__StreamEncoder*>(handle);
  lib.FLAC__stream_encoder_set_verify(encoder, Flag(Verify));
  lib.FLAC__stream_encoder_set_channels(encoder, static_cast<std::uint32_t>(Channels));
  lib.FLAC__stream_encoder_set_bits_per_sample(encoder,
                                               static_cast<std::uint32_t>(BitsPerSample));
  // A negative rate becomes a value the library refuses at initialisation.
  lib.FLAC__stream_encoder_set_sample_rate(encoder, static_cast<std::uint32_t>(SampleRate));
  // A frame header of the streamable subset states only rates below 65536 Hz or whole
  // tens of Hz; any other rate FLAC holds is stated once, in the stream information,
  // outside the subset (as flac --lax writes it, and as decoders read it).
  if (SampleRate > 65535 && SampleRate % 10 != 0 && lib.FLAC__stream_encoder_set_streamable_subset)
    lib.FLAC__stream_encoder_set_streamable_subset(encoder, false);
  if (Channels == 2) {
    lib.FLAC__stream_encoder_set_do_mid_side_stereo(encoder, Flag(EnableMidSideStereo));
    lib.FLAC__stream_encoder_set_loose_mid_side_stereo(encoder, Flag(EnableLooseMidSideStereo));
  }
  lib.FLAC__stream_encoder_set_blocksize(encoder, BlockSize);
  if (CompressionLevel >= 0) {
    lib.FLAC__stream_encoder_set_compression_level(encoder,
                                                   static_cast<std::uint32_t>(CompressionLevel));
  } else {
    lib.FLAC__stream_encoder_set_max_lpc_order(encoder, MaxLPCOrder);
    lib.FLAC__stream_encoder_set_qlp_coeff_precision(encoder, QLPCoeffPrecision);
    lib.FLAC__stream_encoder_set_do_qlp_coeff_prec_search(encoder, Flag(QLPCoeffPrecisionSearch));
    lib.FLAC__stream_encoder_set_min_residual_partition_order(encoder, MinResidualPartitionOrder);
    lib.FLAC__stream_encoder_set_max_residual_partition_order(encoder, MaxResidualPartitionOrder);
    lib.FLAC__stream_encoder_set_do_exhaustive_model_search(encoder, Flag(BestModelSearch));
  }
  if (SamplesEstimate)
    lib.FLAC__stream_encoder_set_total_samples_estimate(encoder, *SamplesEstimate);
}

std::uint32_t TFLACOut::EncodingThreads() const {
  // Segments are cut at block boundaries: the block size must be known and one the
  // library takes.
  if (EncoderThreads == 1 || BlockSize < kMinBlockSize) return 1;
  if (EncoderThreads > 1) return EncoderThreads;
  const std::uint32_t processors = std::min(platform::ProcessorCount(), kMaxAutomaticEncoders);
  if (processors < 2 || !SamplesEstimate ||
      *SamplesEstimate * static_cast<std::uint64_t>(Channels) < kParallelMinSamples)
    return 1;
  return processors;
}

std::uint32_t TFLACOut::AutomaticSegmentBlocks() const {
  const std::uint64_t block_samples =
      std::uint64_t{BlockSize} * static_cast<std::uint64_t>(Channels);
  const std::uint64_t most =
      std::max<std::uint64_t>(1, (kSegmentSamples + block_samples / 2) / block_samples);
  if (!SamplesEstimate) return static_cast<std::uint32_t>(most);
  // A shorter input is cut into kMinSegments at least, so that the encoders share it
  // evenly; the cut depends on the input alone, never on the threads.
  const std::uint64_t blocks = (*SamplesEstimate + BlockSize - 1) / BlockSize;
  const std::uint64_t even = (blocks + kMinSegments - 1) / kMinSegments;
  return static_cast<std::uint32_t>(
      std::clamp<std::uint64_t>(even, std::min<std::uint64_t>(kMinSegmentBlocks, most), most));
}

bool TFLACOut::StartParallel(std::uint32_t threads) {
  platform::Md5 md5;
  if (!md5) return false;
  const TLibFLAC& lib = LibFLAC();
  auto* encoder = static_cast<FLAC__StreamEncoder*>(Encoder.get());
  // Initialised without seek and tell, the encoder writes its head and, finished
  // without samples, nothing more: the stream information is the parallel path's own.
  // A failure to write the head is the file's, and says so.
  if (lib.FLAC__stream_encoder_init_stream(encoder, FLACOutCallbacks::WriteHead, nullptr,
                                           nullptr, nullptr,
                                           this) != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    if (!StreamFailure.empty()) throw EAuException(StreamFailure);
    Raise(TFailure::faFlacInit);
  }
  lib.FLAC__stream_encoder_finish(encoder);
  Encoder.reset();
  // libFLAC writes its stream information whole, in one piece of its own.
  if (StreamInfoAt < 0) Raise(TFailure::faFlacInit);

  const std::uint32_t segment_blocks =
      SegmentBlocks != 0 ? SegmentBlocks : AutomaticSegmentBlocks();
  const TParallelEncoder::Layout layout{BlockSize, segment_blocks, Channels, BitsPerSample};
  Parallel = std::make_unique<TParallelEncoder>(
      *Input, *Stream, layout, threads,
      [this](FLAC__StreamEncoder* segment_encoder) { ConfigureEncoder(segment_encoder); },
      std::move(md5));
  return true;
}

bool TFLACOut::DoOutput(bool abort) {
  if (!Active()) return true;
  if (abort) return false;
  if (Parallel) {
    bool more = false;
    try {
      more = Parallel->Step();
    } catch (...) {
      ParallelFailed = true;
      throw;
    }
    if (!more) EndOfInput = true;
    return more;
  }
  if (!Feeder) return false;
  const TBlockFeeder::Block block = Feeder->Next();
  if (block.Frames == 0) {
    EndOfInput = true;
    return false;
  }
  if (!LibFLAC().FLAC__stream_encoder_process_interleaved(
          static_cast<FLAC__StreamEncoder*>(Encoder.get()), block.Samples, block.Frames))
    RaiseEncodeFailure();
  return true;
}

void TFLACOut::Done() {
  // The input is read by the feeder, or by the parallel encoder, until it is gone.
  Feeder.reset();
  std::string unwritten;
  if (Parallel) {
    // A stopped run whose file is kept still writes every block read, as the single
    // encoder does; one that failed, or whose file goes, ends at once.
    if (!ParallelFailed && (EndOfInput || KeepStoppedFile)) {
      try {
        Parallel->Drain();
      } catch (const std::exception& e) {
        unwritten = e.what();
      }
    }
    const TStreamSummary summary = Parallel->Finish();
    Parallel.reset();
    if (!ParallelFailed && unwritten.empty()) {
      // What libFLAC's finishing does for one encoder: the stream information now
      // describes the frames written.
      try {
        ApplySummary(summary, StreamInfo.data());
        Stream->Seek(StreamInfoAt, SeekOrigin::Begin);
        Stream->Write(StreamInfo.data(), StreamInfo.size());
      } catch (const std::exception& e) {
        unwritten = e.what();
      }
    }
  }
  ParallelFailed = false;
  StreamInfoAt = -1;
  bool finished = true;
  if (Encoder) {
    // Finishing writes the last block and rewrites the stream information through
    // the callbacks, so it must come before the file is closed.
    const FLAC__bool ok = LibFLAC().FLAC__stream_encoder_finish(
        static_cast<FLAC__StreamEncoder*>(Encoder.get()));
    finished = !EncoderInitialised || ok != 0;
    Encoder.reset();
  }
  EncoderInitialised = false;
  // The file is put in place only when it is whole: the run read its input to the
  // end (or was stopped, where a stopped run keeps its file) without a failure, and
  // the stream was finished. Writing what the stream still holds can fail too.
  const bool whole = finished && unwritten.empty() &&
                     (EndOfInput || (KeepStoppedFile && GetExceptionMessage().empty()));
  try {
    CloseOutputFile(whole);
  } catch (const std::exception& e) {
    if (unwritten.empty()) unwritten = e.what();
  }
  if (Input) Input->Close();
  if (!unwritten.empty()) throw EAuException(unwritten);
  if (!finished) RaiseEncodeFailure();
}

void TFLACOut::RaiseEncodeFailure() const {
  if (!StreamFailure.empty()) throw EAuException(StreamFailure);
  Raise(TFailure::faFlacEncode);
}

void TFLACOut::WriteHeadBlock(const std::uint8_t* buffer, std::size_t bytes) {
  WriteEncoded(buffer, bytes);
  // The stream information is written as it came: its body ends where the file is now.
  if (StreamInfoAt < 0 && bytes == 4 + StreamInfo.size() && (buffer[0] & 0x7F) == 0) {
    StreamInfoAt = Stream->Position() - static_cast<std::int64_t>(StreamInfo.size());
    std::copy(buffer + 4, buffer + bytes, StreamInfo.begin());
  }
}

void TFLACOut::WriteEncoded(const std::uint8_t* buffer, std::size_t bytes) {
  if (!Stream) Raise(TFailure::faOutputNotOpen);
  if (!CommentWritten && bytes >= 4 && (buffer[0] & 0x7F) == 4) {
    // A whole comment block is one write of its header's length plus the header;
    // a write that merely starts with that byte is something else.
    const std::size_t length = (std::size_t{buffer[1]} << 16) | (std::size_t{buffer[2]} << 8) |
                               std::size_t{buffer[3]};
    if (bytes == length + 4) {
      CommentWritten = true;
      const std::vector<std::uint8_t> block =
          BuildVorbisComment(FillVComments(*Tags), (buffer[0] & 0x80) == 0);
      Stream->Write(block.data(), block.size());
      return;
    }
  }
  Stream->Write(buffer, bytes);
}

}  // namespace vornek
