// SPDX-License-Identifier: BSD-3-Clause
// TParallelEncoder: one FLAC stream encoded by several libFLAC encoders at once.
//
// At the settings the writer uses, libFLAC encodes every frame from its own block
// alone, so a stream can be cut into segments (runs of whole blocks) that separate
// encoders encode side by side, and their frames joined. The owner's thread (the
// output's worker) reads the input a block at a time into a segment and queues each
// full segment; encoding threads (a TSegmentScheduler) each run one libFLAC encoder,
// set up afresh for every segment, widen the segment's samples and encode them; the
// owner writes the encoded segments to the stream strictly in order.
//
// Every encoder numbers its frames from 0 and writes a stream head of its own. The
// head is dropped (the owner writes the stream's one head before the first segment),
// and each frame is renumbered for its place in the whole stream as it is encoded
// (frame_renumber.h). As libFLAC would for a single encoder, the owner keeps what the
// stream information must say of the whole stream: the samples written, the smallest
// and largest frame, and the MD5 of the samples, computed in libFLAC's layout over
// each segment's input bytes as it is written.
//
// Since a segment is encoded from a fresh encoder whatever thread takes it, the bytes
// written depend on the input and the segment length only, never on the timing or the
// number of threads.
//
// Memory: a ring of four segments more than there are threads (each its input bytes and
// its encoded bytes), one libFLAC encoder and one block of samples per thread; none of
// it grows with the length of the input. The spare segments let the encoders go on while
// the oldest segment, which must be written first, is still being encoded: segments of
// hard music take longer than others.
//
// Threads: construction, Step, Stop, Finish and destruction belong to the owner. The
// input and the stream are used by the owner alone; `configure` runs on the encoding
// threads, several at once, and must only read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "flac/flac_binding.h"
#include "flac/segment_scheduler.h"
#include "pipeline/input.h"
#include "pipeline/stream.h"
#include "platform/md5.h"

namespace vornek {

/// What the stream information of a stream says about its audio frames.
struct TStreamSummary {
  std::uint64_t Samples = 0;               ///< sample frames encoded in the frames written
  std::uint32_t MinFrameBytes = 0xFFFFFF;  ///< 0xFFFFFF without frames, as libFLAC states it
  std::uint32_t MaxFrameBytes = 0;
  std::optional<platform::Md5::Digest> Md5;  ///< nothing: the digest failed
};

/// Length of a STREAMINFO block's body.
inline constexpr std::size_t kStreamInfoLength = 34;

/// Writes `summary` into the STREAMINFO body `body`: the frame sizes, the total samples
/// (0, "unknown", when they exceed its 36 bits) and the MD5 (zeros, "not computed",
/// when the digest failed); block sizes, rate, channels and sample width are kept.
void ApplySummary(const TStreamSummary& summary, std::uint8_t* body);

class TParallelEncoder {
 public:
  /// How the input is cut.
  struct Layout {
    std::uint32_t BlockFrames = 0;    ///< sample frames of a block: the encoders' block size
    std::uint32_t SegmentBlocks = 0;  ///< blocks of a segment (at least 1)
    std::int32_t Channels = 0;
    std::int32_t Bits = 0;  ///< 8, 16, 24 or 32
  };
  /// Sets up a new libFLAC encoder before its initialisation.
  using Configure = std::function<void(FLAC__StreamEncoder*)>;

  /// Starts `threads` encoding threads. `input` must be open, and the stream's head
  /// already written to `stream`; `md5` is a fresh digest. libFLAC must be bound.
  TParallelEncoder(TAuInput& input, TStream& stream, const Layout& layout, std::size_t threads,
                   Configure configure, platform::Md5 md5);
  /// Stops (see Stop).
  ~TParallelEncoder();
  TParallelEncoder(const TParallelEncoder&) = delete;
  TParallelEncoder& operator=(const TParallelEncoder&) = delete;

  /// One step: writes the segments already encoded, then reads one block, or, once
  /// the input has ended, waits for the next segment and writes it. False when every
  /// segment read has been written. Raises the input's failures, the stream's, and an
  /// encoder's ("Failed to initialize FLAC encoder.", "Failed to encode data.") when
  /// its segment comes to be written.
  bool Step();

  /// Queues the segment being read, with the blocks read so far, and writes every
  /// segment queued, waiting for their encoders: the stream then holds every block
  /// read. Raises as Step does.
  void Drain();

  /// Ends the encoding threads; segments not yet written are dropped. Later calls do
  /// nothing.
  void Stop();

  /// Stops, and describes what was written.
  TStreamSummary Finish();

  /// The number of ring slots for `threads` encoding threads.
  static std::size_t RingSlots(std::size_t threads) { return threads + 4; }

  /// The most input bytes a segment holds, whatever Layout::SegmentBlocks asks for.
  static constexpr std::uint64_t kMaxSegmentBytes = 64u << 20;

 private:
  /// Layout::SegmentBlocks within 1 .. kMaxSegmentBytes of input.
  static std::uint32_t SegmentBlocks(const Layout& layout);

  struct Segment;
  struct EncoderThread;
  friend struct ParallelEncoderCallbacks;

  void Encode(std::size_t slot, std::size_t thread);
  void ReadBlock();
  void QueueFilling();
  void Write(std::size_t slot);
  void HashSamples(const Segment& segment);

  TAuInput& input_;
  TStream& stream_;
  const Layout layout_;
  const std::uint32_t frame_bytes_;
  const Configure configure_;
  platform::Md5 md5_;
  TStreamSummary summary_;

  std::vector<Segment> segments_;
  std::vector<EncoderThread> encoders_;
  std::optional<std::size_t> filling_;  ///< the slot being read into
  std::uint64_t next_frame_ = 0;        ///< number of the first frame of the next segment
  bool input_ended_ = false;
  std::atomic<bool> stopping_{false};  ///< Stop has begun: encoders give up their segment
  std::unique_ptr<TSegmentScheduler> scheduler_;  ///< last: its threads use the rest
};

}  // namespace vornek
