// SPDX-License-Identifier: BSD-3-Clause
#include "flac/segmented_run.h"

#include <algorithm>
#include <array>
#include <utility>

#include "flac/block_feeder.h"
#include "flac/frame_renumber.h"
#include "base/au_exception.h"
#include "base/failures.h"
#include "platform/threads.h"

namespace vornek {

struct TSegmentedRun::Segment {
  /// The segment's input bytes: SegmentBlocks blocks of whole sample frames. Left
  /// uninitialised: the owner writes what is read before anything reads it.
  std::unique_ptr<std::uint8_t[]> Pcm;
  std::uint32_t Frames = 0;           ///< sample frames in Pcm
  std::uint64_t FirstFrame = 0;       ///< the stream's number for the segment's first frame
  std::vector<std::uint8_t> Encoded;  ///< its frames, renumbered; kept between uses
  std::uint32_t MinFrameBytes = 0;
  std::uint32_t MaxFrameBytes = 0;
};

struct TSegmentedRun::EncoderThread {
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

struct SegmentedRunCallbacks {
  // An encoding thread, inside the library calls of TSegmentedRun::Encode. The
  // stream head every encoder writes when it starts (metadata: no samples) is dropped;
  // each frame is renumbered into the segment's bytes.
  static FLAC__StreamEncoderWriteStatus Write(const FLAC__StreamEncoder* /*encoder*/,
                                              const FLAC__byte buffer[], size_t bytes,
                                              uint32_t samples, uint32_t /*frame*/, void* client) {
    if (samples == 0) return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    try {
      auto* self = static_cast<TSegmentedRun::EncoderThread*>(client);
      TSegmentedRun::Segment& segment = *self->Current;
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

  // The head encoder, inside the library calls of TSegmentedRun::WriteHead: it writes
  // the stream's head and nothing more (it is finished without samples).
  static FLAC__StreamEncoderWriteStatus WriteHead(const FLAC__StreamEncoder* encoder, const FLAC__byte buffer[],
                                                  size_t bytes, uint32_t samples, uint32_t frame, void* head) {
    if (samples != 0) return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    return TStreamHead::WriteCallback(encoder, buffer, bytes, samples, frame, head);
  }
};

std::uint32_t TSegmentedRun::ClampSegmentBlocks(std::uint32_t segment_blocks) const {
  // At least one block, and no segment of more than kMaxSegmentBytes of input.
  const std::uint64_t block_bytes = std::uint64_t{block_frames_} * frame_bytes_;
  const std::uint64_t most = std::max<std::uint64_t>(kMaxSegmentBytes / std::max<std::uint64_t>(block_bytes, 1), 1);
  return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(segment_blocks, 1, most));
}

TSegmentedRun::TSegmentedRun(TAuInput& input, TStream& file, const TEncoderSettings& settings, TVComments comments,
                             std::uint32_t segment_blocks, std::size_t threads, platform::Md5 md5)
    : input_(input),
      file_(file),
      head_(file, std::move(comments)),
      settings_(settings),
      block_frames_(settings.BlockSize),
      frame_bytes_(settings.Format.FrameBytes()),
      segment_blocks_(ClampSegmentBlocks(segment_blocks)),
      md5_(std::move(md5)) {
  WriteHead();
  threads = std::max<std::size_t>(threads, 1);
  segments_.resize(RingSlots(threads));
  const std::size_t segment_bytes = std::size_t{segment_blocks_} * block_frames_ * frame_bytes_;
  for (Segment& segment : segments_) {
    segment.Pcm.reset(new std::uint8_t[segment_bytes]);
    // Frames are mostly smaller than their samples: room for that many bytes is seldom
    // outgrown, so the buffer is not moved and touched anew as it grows.
    segment.Encoded.reserve(segment_bytes);
  }
  encoders_.resize(threads);
  scheduler_ = std::make_unique<TSegmentScheduler>(
      threads, segments_.size(),
      [this](std::size_t slot, std::size_t thread, std::stop_token stop) { Encode(slot, thread, std::move(stop)); });
}

TSegmentedRun::~TSegmentedRun() { Stop(); }

void TSegmentedRun::WriteHead() {
  const TLibFLAC& lib = LibFLAC();
  const std::unique_ptr<FLAC__StreamEncoder, EncoderThread::Delete> encoder(lib.FLAC__stream_encoder_new());
  if (!encoder) Raise(TFailure::faFlacInit);
  ConfigureEncoder(encoder.get(), settings_);
  // Initialised without seek and tell, the encoder writes its head and, finished
  // without samples, nothing more: the stream information is completed by Finish.
  if (lib.FLAC__stream_encoder_init_stream(encoder.get(), SegmentedRunCallbacks::WriteHead, nullptr, nullptr,
                                           nullptr, &head_) != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
    head_.RaiseFailure(TFailure::faFlacInit);
  lib.FLAC__stream_encoder_finish(encoder.get());
  // libFLAC writes its stream information whole, in one piece of its own.
  if (!head_.StreamInfoWritten()) Raise(TFailure::faFlacInit);
}

void TSegmentedRun::Stop() {
  // The threads go first: they use the segments and their encoders.
  scheduler_.reset();
  encoders_.clear();
}

void TSegmentedRun::Finish(bool keep) {
  if (keep && scheduler_) {
    if (filling_) QueueFilling();
    while (const std::optional<std::size_t> done = scheduler_->Collect(true)) Write(*done);
  }
  Stop();
  if (!keep) return;
  summary_.Md5 = md5_.Finish();
  head_.CompleteStreamInfo(summary_);
}

bool TSegmentedRun::Advance() {
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

void TSegmentedRun::ReadBlock() {
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
  const std::uint32_t block_bytes = block_frames_ * frame_bytes_;
  bool end = false;
  const std::uint32_t read = input_.ReadFully(
      segment.Pcm.get() + std::size_t{segment.Frames} * frame_bytes_, block_bytes, end);
  // A trailing part of a sample frame is dropped, as by the single encoder. A block
  // read short is the end: ReadFully stops short only when a read delivers nothing.
  const std::uint32_t frames = read / frame_bytes_;
  segment.Frames += frames;
  if (end || frames < block_frames_) input_ended_ = true;
  if (input_ended_ || segment.Frames == segment_blocks_ * block_frames_) QueueFilling();
}

void TSegmentedRun::QueueFilling() {
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
  next_frame_ += (segment.Frames + block_frames_ - 1) / block_frames_;
  scheduler_->Queue(slot);
}

void TSegmentedRun::Write(std::size_t slot) {
  Segment& segment = segments_[slot];
  if (!segment.Encoded.empty()) file_.Write(segment.Encoded.data(), segment.Encoded.size());
  HashSamples(segment);
  summary_.Samples += segment.Frames;
  summary_.MinFrameBytes = std::min(summary_.MinFrameBytes, segment.MinFrameBytes);
  summary_.MaxFrameBytes = std::max(summary_.MaxFrameBytes, segment.MaxFrameBytes);
  scheduler_->Release(slot);
}

void TSegmentedRun::HashSamples(const Segment& segment) {
  const std::size_t bytes = std::size_t{segment.Frames} * frame_bytes_;
  if (settings_.Format.BitsPerSample != 8) {
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

void TSegmentedRun::Encode(std::size_t slot, std::size_t thread, std::stop_token stop) {
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
    self.Samples.resize(std::size_t{block_frames_} *
                        static_cast<std::size_t>(settings_.Format.Channels));
  }
  if (!self.Encoder) {
    self.Encoder.reset(lib.FLAC__stream_encoder_new());
    if (!self.Encoder) Raise(TFailure::faFlacInit);
  }
  FLAC__StreamEncoder* encoder = self.Encoder.get();
  // Finishing an encoder puts its settings back to the library's defaults: each
  // segment sets them up again.
  ConfigureEncoder(encoder, settings_);
  // The stream's MD5 is the owner's: these encoders' would describe a segment only.
  if (lib.FLAC__stream_encoder_set_do_md5) lib.FLAC__stream_encoder_set_do_md5(encoder, 0);
  self.Current = &segment;
  self.FramesWritten = 0;
  if (lib.FLAC__stream_encoder_init_stream(encoder, SegmentedRunCallbacks::Write, nullptr,
                                           nullptr, nullptr,
                                           &self) != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    // An encoder whose initialisation failed is not used again.
    self.Encoder.reset();
    Raise(TFailure::faFlacInit);
  }

  bool encoded = true;
  const std::size_t block_bytes = std::size_t{block_frames_} * frame_bytes_;
  for (std::uint32_t at = 0; at < segment.Frames && encoded; at += block_frames_) {
    if (stop.stop_requested()) break;
    const std::uint32_t frames = std::min(block_frames_, segment.Frames - at);
    WidenSamples(segment.Pcm.get() + at / block_frames_ * block_bytes, self.Samples.data(),
                 frames * static_cast<std::uint32_t>(settings_.Format.Channels), settings_.Format.BitsPerSample);
    encoded =
        lib.FLAC__stream_encoder_process_interleaved(encoder, self.Samples.data(), frames) != 0;
  }
  // Finishing encodes the samples the encoder still holds (the segment's last block).
  // The encoder's state tells why it failed, until it is set up again.
  TFailure failure = encoded ? TFailure::faFlacEncode : EncodeFailure(encoder);
  const bool finished = lib.FLAC__stream_encoder_finish(encoder) != 0;
  if (encoded && !finished) failure = EncodeFailure(encoder);
  self.Current = nullptr;
  if (!encoded || !finished) Raise(failure);
}

}  // namespace vornek
