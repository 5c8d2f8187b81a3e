// SPDX-License-Identifier: BSD-3-Clause
// TEncodeRun: one run of the FLAC writer, as TFLACOut drives it. Prepare builds the
// run that suits the input (after opening the input and the file), DoOutput steps it,
// and Done finishes it and destroys it:
//
//   TFLACOut::Prepare --> run = TSingleEncoderRun | TSegmentedRun (settings, file, tags)
//   TFLACOut::DoOutput --> run->Step()        until it returns false (or a stop)
//   TFLACOut::Done    --> run->Finish(keep);  run.reset();  keep or remove the file
//
// A run owns every encoder, buffer and thread it uses, and its destructor stops and
// joins its threads: destroying a run wherever it stands (failed, stopped, half-built)
// leaves nothing running. It is given all it needs when it is built (the input, the
// file, the encoder settings and the tags' comments) and never reaches back into the
// writer.
//
// The runs:
//   TSingleEncoderRun  (single_encoder_run.h)  one libFLAC encoder, fed a block at a
//                       time by a TBlockFeeder reading ahead on a thread of its own;
//   TSegmentedRun      (segmented_run.h)       the input cut into segments that
//                       encoders on several threads encode side by side, joined in
//                       order with their frames renumbered, the stream information
//                       completed from what was written.
// Both write their stream through a TStreamHead (stream_head.h), which holds every
// difference between libFLAC's stream and Vornek's. A run of another kind (libFLAC's
// own encoding threads, say) is one more class here; checking what was written by
// decoding it belongs in a run's Finish, where the file is still the run's.
//
// Threads: construction, Step, Finish and destruction belong to the output's worker.
#pragma once

namespace vornek {

class TEncodeRun {
 public:
  virtual ~TEncodeRun() = default;
  TEncodeRun(const TEncodeRun&) = delete;
  TEncodeRun& operator=(const TEncodeRun&) = delete;

  /// Encodes the next piece of the input (and writes what is encoded). False once the
  /// whole input is encoded and written: the run is then complete. Raises the input's,
  /// the encoders' and the file's failures; a run that raised is not stepped again.
  bool Step() {
    if (!complete_ && !Advance()) complete_ = true;
    return !complete_;
  }
  /// True once Step has found nothing left.
  bool Complete() const { return complete_; }

  /// Ends the run. With `keep` (the file will be kept: the run is complete, or was
  /// stopped and keeps what it has read) the stream is completed: what was read is
  /// encoded and written and the stream information tells what the frames hold.
  /// Without, the run only ends; what the file holds no longer matters. Raises the
  /// failure that keeps the stream from being whole. Called at most once.
  virtual void Finish(bool keep) = 0;

 protected:
  TEncodeRun() = default;
  /// One step of Step: false when nothing was left to encode.
  virtual bool Advance() = 0;

 private:
  bool complete_ = false;
};

}  // namespace vornek
