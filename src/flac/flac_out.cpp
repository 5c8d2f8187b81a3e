#include "flac/flac_out.h"

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>

#include "flac/block_feeder.h"
#include "flac/flac_binding.h"
#include "flac/vorbis_comment.h"
#include "pipeline/au_exception.h"
#include "pipeline/file_stream.h"

namespace vornek {

namespace {

constexpr const char* kLoadFailure = "libFLAC.dll library could not be loaded.";
constexpr const char* kInitFailure = "Failed to initialize FLAC encoder.";
constexpr const char* kEncodeFailure = "Failed to encode data.";
constexpr std::uint16_t kDefaultBlockSize = 4608;
// What a FLAC stream can state: 3 bits of channel count, a 20-bit sample rate in Hz
// (and 655350 Hz is the most a frame header can name).
constexpr std::int32_t kMaxFlacChannels = 8;
constexpr std::int32_t kMaxFlacSampleRate = 655350;

// The library takes booleans as 32-bit integers; true is passed with all bits set.
FLAC__bool Flag(bool value) { return value ? -1 : 0; }

// The entries the writer calls. A library lacking any of them is treated as one that
// could not be loaded: no call is ever made through a null slot.
bool WriterEntriesBound(const TLibFLAC& lib) {
  return lib.FLAC__stream_encoder_new && lib.FLAC__stream_encoder_delete &&
         lib.FLAC__stream_encoder_set_verify && lib.FLAC__stream_encoder_set_channels &&
         lib.FLAC__stream_encoder_set_bits_per_sample &&
         lib.FLAC__stream_encoder_set_sample_rate &&
         lib.FLAC__stream_encoder_set_compression_level &&
         lib.FLAC__stream_encoder_set_blocksize &&
         lib.FLAC__stream_encoder_set_do_mid_side_stereo &&
         lib.FLAC__stream_encoder_set_loose_mid_side_stereo &&
         lib.FLAC__stream_encoder_set_max_lpc_order &&
         lib.FLAC__stream_encoder_set_qlp_coeff_precision &&
         lib.FLAC__stream_encoder_set_do_qlp_coeff_prec_search &&
         lib.FLAC__stream_encoder_set_do_exhaustive_model_search &&
         lib.FLAC__stream_encoder_set_min_residual_partition_order &&
         lib.FLAC__stream_encoder_set_max_residual_partition_order &&
         lib.FLAC__stream_encoder_set_total_samples_estimate &&
         lib.FLAC__stream_encoder_init_stream && lib.FLAC__stream_encoder_finish &&
         lib.FLAC__stream_encoder_process_interleaved;
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
  if (!LibFLACLoaded() || !WriterEntriesBound(LibFLAC())) throw EAuException(kLoadFailure);
  const TLibFLAC& lib = LibFLAC();

  // Tags that cannot be stated in a metadata block are refused before anything is
  // created, rather than failing inside the library's initialisation.
  if (VorbisCommentBodyLength(FillVComments(*Tags)) > kMaxMetadataBlockLength)
    throw EAuException("The tags are too large for a FLAC comment block.");

  if (WideFileName.empty()) throw EAuException("File name is not assigned.");
  CommentWritten = false;
  EncoderInitialised = false;
  EndOfInput = false;
  StreamFailure.clear();

  // The input first: what is wrong with it is what the user needs to hear, and an
  // input that cannot be read never gets as far as a file beside it.
  Input->Open();
  const std::int32_t channels = Input->GetChannels();
  const std::int32_t bits = Input->GetBitsPerSample();
  const std::int32_t rate = Input->GetSampleRate();
  // Everything below divides by these; an input the writer cannot widen is refused
  // with its own text before any of it, and so is a format FLAC cannot state.
  if (channels < 1) throw EAuException("The input has no audio channels.");
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
    throw EAuException("Unsupported sample size: " + std::to_string(bits) +
                       " bits per sample (8, 16, 24 or 32 expected).");
  if (channels > kMaxFlacChannels)
    throw EAuException("FLAC cannot hold " + std::to_string(channels) + " channels (at most 8).");
  if (rate <= 0 || rate > kMaxFlacSampleRate)
    throw EAuException("FLAC cannot hold a sample rate of " + std::to_string(rate) +
                       " Hz (1 to 655350 Hz).");
  Channels = channels;
  BitsPerSample = bits;

  OpenOutputFile();
  Encoder.reset(lib.FLAC__stream_encoder_new());
  if (!Encoder) throw EAuException(kInitFailure);
  auto* encoder = static_cast<FLAC__StreamEncoder*>(Encoder.get());

  lib.FLAC__stream_encoder_set_verify(encoder, Flag(Verify));
  lib.FLAC__stream_encoder_set_channels(encoder, static_cast<std::uint32_t>(channels));
  lib.FLAC__stream_encoder_set_bits_per_sample(encoder, static_cast<std::uint32_t>(bits));
  lib.FLAC__stream_encoder_set_sample_rate(encoder, static_cast<std::uint32_t>(rate));
  if (channels == 2) {
    lib.FLAC__stream_encoder_set_do_mid_side_stereo(encoder, Flag(EnableMidSideStereo));
    lib.FLAC__stream_encoder_set_loose_mid_side_stereo(encoder, Flag(EnableLooseMidSideStereo));
  }
  lib.FLAC__stream_encoder_set_blocksize(encoder, BlockSize);
  if (CompressionLevel >= 0) {
    lib.FLAC__stream_encoder_set_compression_level(encoder,
                                                   static_cast<std::uint32_t>(CompressionLevel));
  } else {
    lib.FLAC__stream_encoder_set_max_lpc_order(encoder, MaxLPCOrder);
    // Sample width plus coefficient precision must stay within 31 bits. A 32-bit
    // input leaves no room at all: 0 then asks the library to choose.
    if (bits + QLPCoeffPrecision > 31)
      QLPCoeffPrecision = static_cast<std::uint16_t>(bits < 31 ? 31 - bits : 0);
    lib.FLAC__stream_encoder_set_qlp_coeff_precision(encoder, QLPCoeffPrecision);
    lib.FLAC__stream_encoder_set_do_qlp_coeff_prec_search(encoder, Flag(QLPCoeffPrecisionSearch));
    lib.FLAC__stream_encoder_set_min_residual_partition_order(encoder, MinResidualPartitionOrder);
    lib.FLAC__stream_encoder_set_max_residual_partition_order(encoder, MaxResidualPartitionOrder);
    lib.FLAC__stream_encoder_set_do_exhaustive_model_search(encoder, Flag(BestModelSearch));
  }
  if (Input->Size > 0) {
    const long double frames = static_cast<long double>(Input->Size) /
                               static_cast<long double>(bits / 8) /
                               static_cast<long double>(channels);
    lib.FLAC__stream_encoder_set_total_samples_estimate(
        encoder, static_cast<FLAC__uint64>(std::nearbyintl(frames)));
  }

  if (lib.FLAC__stream_encoder_init_stream(encoder, FLACOutCallbacks::Write,
                                           FLACOutCallbacks::Seek, FLACOutCallbacks::Tell,
                                           FLACOutCallbacks::Metadata,
                                           this) != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    Input->Close();
    throw EAuException(kInitFailure);
  }
  EncoderInitialised = true;

  // The input is read and widened one block of BlockSize frames ahead, on the
  // feeder's thread, so that each processing call hands the encoder one whole block.
  // A block size of 0 leaves the choice to the library; the blocks read are then of
  // the usual size.
  Feeder = std::make_unique<TBlockFeeder>(*Input, BlockSize != 0 ? BlockSize : kDefaultBlockSize,
                                          channels, bits);
}

bool TFLACOut::DoOutput(bool abort) {
  if (!Active()) return true;
  if (abort || !Feeder) return false;
  const TBlockFeeder::Block block = Feeder->Next();
  if (block.Frames == 0) {
    EndOfInput = true;
    return false;
  }
  if (!LibFLAC().FLAC__stream_encoder_process_interleaved(
          static_cast<FLAC__StreamEncoder*>(Encoder.get()), block.Samples, block.Frames))
    throw EAuException(StreamFailure.empty() ? kEncodeFailure : StreamFailure);
  return true;
}

void TFLACOut::Done() {
  // The input is read by the feeder until it is gone.
  Feeder.reset();
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
  const bool whole = finished && (EndOfInput || (KeepStoppedFile && GetExceptionMessage().empty()));
  std::string unwritten;
  try {
    CloseOutputFile(whole);
  } catch (const std::exception& e) {
    unwritten = e.what();
  }
  if (Input) Input->Close();
  if (!unwritten.empty()) throw EAuException(unwritten);
  if (!finished) throw EAuException(StreamFailure.empty() ? kEncodeFailure : StreamFailure);
}

void TFLACOut::WriteEncoded(const std::uint8_t* buffer, std::size_t bytes) {
  if (!Stream) throw EAuException("The output file is not open.");
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
