// SPDX-License-Identifier: BSD-3-Clause
#include "flac/parallel_encoder.h"

#include <algorithm>
#include <array>

#include "flac/block_feeder.h"
#include "flac/frame_renumber.h"
#include "pipeline/au_exception.h"
#include "pipeline/failures.h"
#include "platform/threads.h"

namespace vornek {

struct TParallelEncoder::Segment {
  /// The segment's input bytes: SegmentBlocks blocks of whole sample frames. Left
  /// uninitialised: the owner writes what is read before anything reads it.
  std::unique_ptr<std::uint8_t[]> Pcm;
  std::uint32_t Frames = 0;           ///< sample frames in Pcm
  std::uint64_t FirstFrame = 0;       ///< the stream's number for the segment's first frame
  std::vector<std::uint8_t> Encoded;  ///< its frames, renumbered; kept between uses
  std::uint32_t MinFrameBytes = 0;
  std::uint32_t MaxFrameBytes = 0;
};

struct TParallelEncoder::EncoderThread {
  struct Delete {
    void operator()(FLAC__StreamEncoder* encoder) const {
      LibFLAC().FLAC__stream_encoder_delete(encoder);
    }
  };
  std::unique_ptr<FLAC__StreamEncoder, Delete> Encoder;
  std::vector<std::int32_t> Samples;  ///< one block, widened
  Segment* Current = nullptr;         ///< the segment being encoded
  std::uint64_t FramesWritten = 0;    ///< frames of it encoded so far
};

struct ParallelEncoderCallbacks {
  // An encoding thread, inside the library calls of TParallelEncoder::Encode. The
  // stream head every encoder writes when it starts (metadata: no samples) is dropped;
  // each frame is renumbered into the segment's bytes.
  static FLAC__StreamEncoderWriteStatus Write(const FLAC__StreamEncoder* /*encoder*/,
                                              const FLAC__byte buffer[], size_t bytes,
                                              uint32_t samples, uint32_t /*frame*/, void* client) {
    if (samples == 0) return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    try {
      auto* self = static_cast<TParallelEncoder::EncoderThread*>(client);
      TParallelEncoder::Segment& segment = *self->Current;
      const std::size_t written =
          RenumberFrame(buffer, bytes, segment.FirstFrame + self->FramesWritten, segment.Encoded);
      ++self->FramesWritten;
      const auto size = static_cast<std::uint32_t>(written);
      segment.MinFrameBytes = std::min(segment.MinFrameBytes, size);
      segment.MaxFrameBytes = std::max(segment.MaxFrameBytes, size);
      return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    } catch (...) {
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
  }
};

void ApplySummary(const TStreamSummary& summary, std::uint8_t* body) {
  const auto put24 = [](std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 16);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value);
  };
  put24(body + 4, std::min<std::uint32_t>(summary.MinFrameBytes, 0xFFFFFF));
  put24(body + 7, std::min<std::uint32_t>(summary.MaxFrameBytes, 0xFFFFFF));
  // Bytes 10 to 17: rate (20 bits), channels - 1 (3), bits - 1 (5), total samples (36).
  const std::uint64_t total = summary.Samples < (std::uint64_t{1} << 36) ? summary.Samples : 0;
  body[13] = static_cast<std::uint8_t>((body[13] & 0xF0) | ((total >> 32) & 0x0F));
  for (int i = 0; i < 4; ++i) body[14 + i] = static_cast<std::uint8_t>(total >> (24 - 8 * i));
  std::fill(body + 18, body + kStreamInfoLength, std::uint8_t{0});
  if (summary.Md5) std::copy(summary.Md5->begin(), summary.Md5->end(), body + 18);
}

std::uint32_t TParallelEncoder::SegmentBlocks(const Layout& layout) {
  // At least one block, and no segment of more than kMaxSegmentBytes of input.
  const std::uint64_t block_bytes = std::uint64_t{layout.BlockFrames} *
                                    static_cast<std::uint64_t>(layout.Channels * (layout.Bits / 8));
  const std::uint64_t most =
      std::max<std::uint64_t>(kMaxSegmentBytes / std::max<std::uint64_t>(block_bytes, 1), 1);
  return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(layout.SegmentBlocks, 1, most));
}

TParallelEncoder::TParallelEncoder(TAuInput& input, TStream& stream, const Layout& layout,
                                   std::size_t threads, Configure configure, platform::Md5 md5)
    : input_(input),
      stream_(stream),
      layout_{layout.BlockFrames, SegmentBlocks(layout), layout.Channels, layout.Bits},
      frame_bytes_(static_cast<std::uint32_t>(layout.Channels * (layout.Bits / 8))),
      configure_(std::move(configure)),
      md5_(std::move(md5)) {
  threads = std::max<std::size_t>(threads, 1);
  segments_.resize(RingSlots(threads));
  const std::size_t segment_bytes =
      std::size_t{layout_.SegmentBlocks} * layout_.BlockFrames * frame_bytes_;
  for (Segment& segment : segments_) {
    segment.Pcm.reset(new std::uint8_t[segment_bytes]);
    // Frames are mostly smaller than their samples: room for that many bytes is seldom
    // outgrown, so the buffer is not moved and touched anew as it grows.
    segment.Encoded.reserve(segment_bytes);
  }
  encoders_.resize(threads);
  scheduler_ = std::make_unique<TSegmentScheduler>(
      threads, segments_.size(),
      [this](std::size_t slot, std::size_t thread) { Encode(slot, thread); });
}

TParallelEncoder::~TParallelEncoder() { Stop(); }

void TParallelEncoder::Stop() {
  // The threads go first: they use the segments and their encoders.
  stopping_.store(true);
  scheduler_.reset();
  encoders_.clear();
}

TStreamSummary TParallelEncoder::Finish() {
  Stop();
  TStreamSummary summary = summary_;
  summary.Md5 = md5_.Finish();
  return summary;
}

bool TParallelEncoder::Step() {
  if (!scheduler_) return false;
  while (const std::optional<std::size_t> done = scheduler_->Collect(false)) Write(*done);
  if (!input_ended_) {
    ReadBlock();
    return true;
  }
  if (const std::optional<std::size_t> done = scheduler_->Collect(true)) {
    Write(*done);
    return true;
  }
  return false;
}

void TParallelEncoder::Drain() {
  if (!scheduler_) return;
  if (filling_) QueueFilling();
  while (const std::optional<std::size_t> done = scheduler_->Collect(true)) Write(*done);
}

void TParallelEncoder::ReadBlock() {
  if (!filling_) {
    // Every slot is queued or waiting to be written: write the oldest (waiting for its
    // encoder if need be) to free one.
    while (!(filling_ = scheduler_->TakeFree())) {
      const std::optional<std::size_t> done = scheduler_->Collect(true);
      if (!done) Raise(TFailure::faFlacEncode);  // stopped: not reached from Step
      Write(*done);
    }
    segments_[*filling_].Frames = 0;
  }
  Segment& segment = segments_[*filling_];
  const std::uint32_t block_bytes = layout_.BlockFrames * frame_bytes_;
  bool end = false;
  const std::uint32_t read = input_.ReadFully(
      segment.Pcm.get() + std::size_t{segment.Frames} * frame_bytes_, block_bytes, end);
  // A trailing part of a sample frame is dropped, as by the single encoder. A block
  // read short is the end: ReadFully stops short only when a read delivers nothing.
  const std::uint32_t frames = read / frame_bytes_;
  segment.Frames += frames;
  if (end || frames < layout_.BlockFrames) input_ended_ = true;
  if (input_ended_ || segment.Frames == layout_.SegmentBlocks * layout_.BlockFrames) QueueFilling();
}

void TParallelEncoder::QueueFilling() {
  const std::size_t slot = *filling_;
  filling_.reset();
  Segment& segment = segments_[slot];
  if (segment.Frames == 0) {
    scheduler_->Release(slot);
    return;
  }
  segment.FirstFrame = next_frame_;
  // Only the last segment can end in a short block, so every segment before it holds
  // whole blocks and the next one's first frame is the one after this one's.
  next_frame_ += (segment.Frames + layout_.BlockFrames - 1) / layout_.BlockFrames;
  scheduler_->Queue(slot);
}

void TParallelEncoder::Write(std::size_t slot) {
  Segment& segment = segments_[slot];
  if (!segment.Encoded.empty()) stream_.Write(segment.Encoded.data(), segment.Encoded.size());
  HashSamples(segment);
  summary_.Samples += segment.Frames;
  summary_.MinFrameBytes = std::min(summary_.MinFrameBytes, segment.MinFrameBytes);
  summary_.MaxFrameBytes = std::max(summary_.MaxFrameBytes, segment.MaxFrameBytes);
  scheduler_->Release(slot);
}

void TParallelEncoder::HashSamples(const Segment& segment) {
  const std::size_t bytes = std::size_t{segment.Frames} * frame_bytes_;
  if (layout_.Bits != 8) {
    // 16, 24 and 32 bits: the input's little-endian signed samples are libFLAC's
    // layout already.
    md5_.Update(segment.Pcm.get(), bytes);
    return;
  }
  // 8 bits: the input's bytes are unsigned, libFLAC signs the samples it hashes.
  std::array<std::uint8_t, 4096> flipped;
  for (std::size_t at = 0; at < bytes; at += flipped.size()) {
    const std::size_t piece = std::min(flipped.size(), bytes - at);
    for (std::size_t i = 0; i < piece; ++i)
      flipped[i] = static_cast<std::uint8_t>(segment.Pcm[at + i] ^ 0x80);
    md5_.Update(flipped.data(), piece);
  }
}

void TParallelEncoder::Encode(std::size_t slot, std::size_t thread) {
  const TLibFLAC& lib = LibFLAC();
  Segment& segment = segments_[slot];
  EncoderThread& self = encoders_[thread];
  segment.Encoded.clear();
  segment.MinFrameBytes = 0xFFFFFF;
  segment.MaxFrameBytes = 0;

  if (self.Samples.empty()) {
    // The thread's first segment. The owner's thread reads every segment and writes
    // every frame: when it falls behind, all encoders wait for it. Below it, they take
    // the processors only when it does not need them.
    platform::LowerCurrentThreadPriority();
    self.Samples.resize(std::size_t{layout_.BlockFrames} *
                        static_cast<std::size_t>(layout_.Channels));
  }
  if (!self.Encoder) {
    self.Encoder.reset(lib.FLAC__stream_encoder_new());
    if (!self.Encoder) Raise(TFailure::faFlacInit);
  }
  FLAC__StreamEncoder* encoder = self.Encoder.get();
  // Finishing an encoder puts its settings back to the library's defaults: each
  // segment sets them up again.
  configure_(encoder);
  // The stream's MD5 is the owner's: these encoders' would describe a segment only.
  if (lib.FLAC__stream_encoder_set_do_md5) lib.FLAC__stream_encoder_set_do_md5(encoder, 0);
  self.Current = &segment;
  self.FramesWritten = 0;
  if (lib.FLAC__stream_encoder_init_stream(encoder, ParallelEncoderCallbacks::Write, nullptr,
                                           nullptr, nullptr,
                                           &self) != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    // An encoder whose initialisation failed is not used again.
    self.Encoder.reset();
    Raise(TFailure::faFlacInit);
  }

  bool encoded = true;
  const std::size_t block_bytes = std::size_t{layout_.BlockFrames} * frame_bytes_;
  for (std::uint32_t at = 0; at < segment.Frames && encoded; at += layout_.BlockFrames) {
    if (stopping_.load(std::memory_order_relaxed)) break;
    const std::uint32_t frames = std::min(layout_.BlockFrames, segment.Frames - at);
    WidenSamples(segment.Pcm.get() + at / layout_.BlockFrames * block_bytes, self.Samples.data(),
                 frames * static_cast<std::uint32_t>(layout_.Channels), layout_.Bits);
    encoded =
        lib.FLAC__stream_encoder_process_interleaved(encoder, self.Samples.data(), frames) != 0;
  }
  // Finishing encodes the samples the encoder still holds (the segment's last block).
  const bool finished = lib.FLAC__stream_encoder_finish(encoder) != 0;
  self.Current = nullptr;
  if (!encoded || !finished) Raise(TFailure::faFlacEncode);
}

}  // namespace vornek
