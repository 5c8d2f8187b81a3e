// SPDX-License-Identifier: BSD-3-Clause
// TMpegDecoder: MPEG Layer 3 data inside a WAV file, decoded to PCM through the
// platform's audio compression manager a piece at a time, as the reader asks for it.
//
// The reader's header walk finds the "fmt " body and the payload (TCompressedParts);
// the decoder reads the format from there, asks the manager which PCM format it
// converts to, and then hands out decoded whole sample frames, reading the payload a
// piece at a time. Neither the compressed data nor the decoded audio is ever held
// whole: the decoder holds one piece of the payload and the PCM decoded from it,
// whatever the length of the file.
//
// The reader must know how much PCM it will deliver before delivering any (its Size:
// the progress, the encoder's length estimate and where delivery ends hang on it), so
// Measure decodes the whole payload once, keeping nothing, and delivery then decodes it
// again from its first frame. The codec's output does not depend on how its input is
// cut, so both passes make the same frames.
//
// Threads: one at a time (the reader's FileLock and InputLock see to that).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pipeline/stream.h"
#include "platform/acm.h"

namespace vornek {

/// Where a compressed WAV file keeps its format and its audio, as a walk of its chunks
/// found them.
struct TCompressedParts {
  std::int64_t FormatAt = 0;     ///< stream offset of the "fmt " body
  std::uint64_t FormatSize = 0;  ///< its stated size
  std::int64_t DataBegin = 0;    ///< the payload of "data", [DataBegin, DataEnd)
  std::int64_t DataEnd = 0;
};

/// Polled between the pieces of a decode; true asks it to give up.
using TStopCheck = std::function<bool()>;

class TMpegDecoder {
 public:
  /// The largest format structure (the "fmt " body, the manager's formats) it handles.
  static constexpr std::uint32_t kFormatBufferSize = platform::kMaxWaveFormatBytes;

  /// Takes the "fmt " body at `parts` of `source` (which must outlive the decoder) and
  /// the PCM format the manager offers for it. Raises EAuException when the body does
  /// not fit or is cut off, the payload is empty, or no PCM format is offered.
  TMpegDecoder(TStream& source, const TCompressedParts& parts);
  ~TMpegDecoder();
  TMpegDecoder(const TMpegDecoder&) = delete;
  TMpegDecoder& operator=(const TMpegDecoder&) = delete;

  /// The PCM format decoded to (tag 1; channels, rate, block align and bits are the
  /// codec's choice).
  const platform::WaveFormatEx& PcmFormat() const { return pcm_format_; }

  /// Decodes the whole payload, keeping nothing, and returns the bytes of whole sample
  /// frames it decodes to; delivery then starts from the first frame. `stop` (if set)
  /// is asked between pieces. Raises EAuException when the manager fails, the data
  /// holds no audio, or `stop` says so.
  std::int64_t Measure(const TStopCheck& stop);

  /// Decodes up to `count` bytes (whole sample frames) into `destination`; returns the
  /// bytes written, 0 once every frame has been handed out. Raises as Measure does
  /// (the source's failures pass through).
  std::uint32_t Read(std::uint8_t* destination, std::uint32_t count);

 private:
  /// Opens the conversion stream afresh, at the first byte of the payload.
  void Start();
  /// One conversion call: feeds the next piece of the payload (or, past its end, asks
  /// for what the codec still holds) and appends the PCM made to pcm_. False once the
  /// codec has handed out everything.
  bool Convert();
  void CloseStream();

  TStream& source_;
  std::int64_t begin_ = 0;  ///< the payload, [begin_, end_)
  std::int64_t end_ = 0;
  std::array<std::uint8_t, kFormatBufferSize> source_format_{};
  std::array<std::uint8_t, kFormatBufferSize> target_format_{};
  platform::WaveFormatEx pcm_format_{};
  std::uint32_t frame_bytes_ = 0;
  std::string format_words_;  ///< the source format, for failure texts

  platform::AcmStreamHandle stream_ = nullptr;
  bool first_ = true;          ///< the next call starts the stream
  bool ended_ = false;         ///< the codec has handed out everything
  std::int64_t next_ = 0;      ///< the next payload byte to read
  bool source_ended_ = false;  ///< every payload byte has been read
  std::vector<std::uint8_t> piece_;  ///< payload read and not yet taken by the codec
  std::size_t piece_left_ = 0;
  std::vector<std::uint8_t> pcm_;  ///< decoded bytes: [pcm_at_, pcm_end_) not handed out
  std::size_t pcm_at_ = 0;
  std::size_t pcm_end_ = 0;
};

}  // namespace vornek
