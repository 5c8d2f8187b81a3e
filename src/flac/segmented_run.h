// SPDX-License-Identifier: BSD-3-Clause
// TSegmentedRun: one FLAC stream encoded by several libFLAC encoders at once.
//
// At the settings the writer uses, libFLAC encodes every frame from its own block
// alone, so a stream can be cut into segments (runs of whole blocks) that separate
// encoders encode side by side, and their frames joined. The run's own thread (the
// output's worker) reads the input a block at a time into a segment and queues each
// full segment; encoding threads (a TSegmentScheduler) each run one libFLAC encoder,
// set up afresh for every segment, widen the segment's samples and encode them; the
// worker writes the encoded segments to the file strictly in order.
//
// The stream's head comes from one more encoder, initialised with the same settings
// and finished without samples, whose bytes go to the file through the run's head
// (stream_head.h). Every segment's encoder numbers its frames from 0 and writes a
// stream head of its own: the head is dropped and each frame renumbered for its place in
// the whole stream as it is encoded (frame_renumber.h). As libFLAC would for a single
// encoder, the run keeps what the stream information must say of the whole stream (the
// samples written, the smallest and largest frame, and the MD5 of the samples, computed
// in libFLAC's layout over each segment's input bytes as it is written), and Finish has
// the head write it over the first encoder's.
//
// Since a segment is encoded from a fresh encoder whatever thread takes it, the bytes
// written depend on the input and the segment length only, never on the timing or the
// number of threads. They are those of a single encoder, except with loose mid-side
// stereo, whose choices for a frame depend on the frames before it (a segment starts
// afresh).
//
// Memory: a ring of four segments more than there are threads (each its input bytes and
// its encoded bytes), one libFLAC encoder and one block of samples per thread; none of
// it grows with the length of the input. The spare segments let the encoders go on while
// the oldest segment, which must be written first, is still being encoded: segments of
// hard music take longer than others.
//
// Threads: the output's worker (see encode_run.h), which alone uses the input and the
// file; the encoding threads read the settings and their own segments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

#include "flac/encode_run.h"
#include "flac/encoder_settings.h"
#include "flac/segment_scheduler.h"
#include "flac/stream_head.h"
#include "pipeline/input.h"
#include "pipeline/stream.h"
#include "platform/md5.h"

namespace vornek {

class TSegmentedRun final : public TEncodeRun {
 public:
  /// Writes the stream's head to `file` and starts `threads` encoding threads over
  /// segments of `segment_blocks` blocks of settings.BlockSize frames (BlockSize must
  /// not be 0). `input` must be open; `md5` is a fresh digest; libFLAC must be bound.
  /// Raises "Failed to initialize FLAC encoder." (or the file's failure).
  TSegmentedRun(TAuInput& input, TStream& file, const TEncoderSettings& settings, TVComments comments,
                std::uint32_t segment_blocks, std::size_t threads, platform::Md5 md5);
  /// Stops the encoding threads and joins them; segments not yet written are dropped.
  ~TSegmentedRun() override;

  /// With `keep`: queues the segment being read, with the blocks read so far, writes
  /// every segment queued (waiting for their encoders) and completes the stream
  /// information. Then, or at once without `keep`, stops the encoding threads. Raises
  /// as Step does.
  void Finish(bool keep) override;

  /// The number of ring slots for `threads` encoding threads.
  static std::size_t RingSlots(std::size_t threads) { return threads + 4; }

  /// The most input bytes a segment holds, whatever `segment_blocks` asks for.
  static constexpr std::uint64_t kMaxSegmentBytes = 64u << 20;

 protected:
  /// Writes the segments already encoded, then reads one block, or, once the input has
  /// ended, waits for the next segment and writes it. False when every segment read
  /// has been written. Raises the input's failures, the file's, and an encoder's
  /// ("Failed to initialize FLAC encoder.", "Failed to encode data.") when its segment
  /// comes to be written.
  bool Advance() override;

 private:
  struct Segment;
  struct EncoderThread;
  friend struct SegmentedRunCallbacks;

  /// `segment_blocks` within 1 .. kMaxSegmentBytes of input.
  std::uint32_t ClampSegmentBlocks(std::uint32_t segment_blocks) const;
  void WriteHead();
  void Encode(std::size_t slot, std::size_t thread, std::stop_token stop);
  void ReadBlock();
  void QueueFilling();
  void Write(std::size_t slot);
  void HashSamples(const Segment& segment);
  void Stop();

  TAuInput& input_;
  TStream& file_;
  TStreamHead head_;
  const TEncoderSettings settings_;
  const std::uint32_t block_frames_;
  const std::uint32_t frame_bytes_;
  const std::uint32_t segment_blocks_;
  platform::Md5 md5_;
  TStreamSummary summary_;

  std::vector<Segment> segments_;
  std::vector<EncoderThread> encoders_;
  std::optional<std::size_t> filling_;  ///< the slot being read into
  std::uint64_t next_frame_ = 0;        ///< number of the first frame of the next segment
  bool input_ended_ = false;
  std::unique_ptr<TSegmentScheduler> scheduler_;  ///< last: its threads use the rest
};

}  // namespace vornek
