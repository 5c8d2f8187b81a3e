// SPDX-License-Identifier: BSD-3-Clause
#include "flac/single_encoder_run.h"

#include <utility>

namespace vornek {

namespace {
/// The block size the feeder reads when the library chooses its own (BlockSize 0).
constexpr std::uint32_t kDefaultBlockFrames = 4608;
}  // namespace

void TSingleEncoderRun::EncoderDeleter::operator()(FLAC__StreamEncoder* encoder) const {
  LibFLAC().FLAC__stream_encoder_delete(encoder);
}

TSingleEncoderRun::TSingleEncoderRun(TAuInput& input, TStream& file, const TEncoderSettings& settings,
                                     TVComments comments)
    : head_(file, std::move(comments)) {
  const TLibFLAC& lib = LibFLAC();
  encoder_.reset(lib.FLAC__stream_encoder_new());
  if (!encoder_) Raise(TFailure::faFlacInit);
  ConfigureEncoder(encoder_.get(), settings);
  if (lib.FLAC__stream_encoder_init_stream(encoder_.get(), TStreamHead::WriteCallback, TStreamHead::SeekCallback,
                                           TStreamHead::TellCallback, TStreamHead::MetadataCallback,
                                           &head_) != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
    Raise(TFailure::faFlacInit);
  // Each processing call hands the encoder one whole block.
  const TRunFormat& format = settings.Format;
  feeder_ = std::make_unique<TBlockFeeder>(input, settings.BlockSize != 0 ? settings.BlockSize : kDefaultBlockFrames,
                                           format.Channels, format.BitsPerSample);
}

bool TSingleEncoderRun::Advance() {
  const TBlockFeeder::Block block = feeder_->Next();
  if (block.Frames == 0) return false;
  if (!LibFLAC().FLAC__stream_encoder_process_interleaved(encoder_.get(), block.Samples, block.Frames))
    head_.RaiseFailure(EncodeFailure(encoder_.get()));
  return true;
}

void TSingleEncoderRun::Finish(bool /*keep*/) {
  // The input is read by the feeder until it is gone.
  feeder_.reset();
  // Finishing writes the last block and rewrites the stream information through the
  // callbacks, so the file must still be open.
  const bool finished = LibFLAC().FLAC__stream_encoder_finish(encoder_.get()) != 0;
  const TFailure failure = finished ? TFailure::faFlacEncode : EncodeFailure(encoder_.get());
  encoder_.reset();
  if (!finished) head_.RaiseFailure(failure);
}

}  // namespace vornek
