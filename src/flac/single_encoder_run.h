// SPDX-License-Identifier: BSD-3-Clause
// TSingleEncoderRun: a run of one libFLAC encoder. Each step hands the encoder one
// block of BlockSize frames, read from the input and widened to 32-bit samples ahead of
// it by a TBlockFeeder on a thread of its own. The encoder writes the whole stream
// through the run's head, and finishing it completes the stream information through
// the seek and tell callbacks.
//
// Threads: the output's worker (see encode_run.h); from construction to Finish the input
// is read by the feeder's thread alone.
#pragma once

#include <memory>

#include "flac/block_feeder.h"
#include "flac/encode_run.h"
#include "flac/encoder_settings.h"
#include "flac/stream_head.h"
#include "pipeline/input.h"
#include "pipeline/stream.h"

namespace vornek {

class TSingleEncoderRun final : public TEncodeRun {
 public:
  /// Creates, configures and initialises the encoder (its head goes to `file` at once),
  /// then starts reading `input`, which must be open. Raises "Failed to initialize FLAC
  /// encoder." (or the file's failure). libFLAC must be bound.
  TSingleEncoderRun(TAuInput& input, TStream& file, const TEncoderSettings& settings, TVComments comments);

  /// Stops reading, then finishes the encoder: it encodes the block it holds and
  /// completes the stream information, whatever `keep` says.
  void Finish(bool keep) override;

 protected:
  bool Advance() override;

 private:
  struct EncoderDeleter {
    void operator()(FLAC__StreamEncoder* encoder) const;
  };

  TStreamHead head_;
  std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> encoder_;
  std::unique_ptr<TBlockFeeder> feeder_;  ///< last: its thread reads while the rest exists
};

}  // namespace vornek
