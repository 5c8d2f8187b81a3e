// SPDX-License-Identifier: BSD-3-Clause
// TStreamHead: the file side of a run. Every byte an encoder hands over on its way to
// the file passes through the run's head, which writes what makes the stream Vornek's
// rather than libFLAC's: the Vorbis comment block built from the tags in place of the
// library's own, and, for a stream whose frames no one encoder wrote, the stream
// information brought up to date once the last frame is written (ApplySummary).
//
// The runs hand the head libFLAC's bytes and know nothing of what replaces them: where
// the stream gains metadata of Vornek's own (more blocks after the comment block, a
// block reserved to be filled in at the end), it is done here, for every run alike.
//
// The static callbacks are libFLAC's write, seek and tell callbacks for an encoder whose
// stream goes to the file through a head (client data: the TStreamHead). A failure of
// the file inside one never leaves it: it becomes the status returned to the library,
// and the head keeps its text, which says more than the library's refusal that follows
// (RaiseFailure).
//
// Threads: the run's own; the callbacks run inside the library calls of that thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "flac/flac_binding.h"
#include "flac/vorbis_comment.h"
#include "base/failures.h"
#include "pipeline/stream.h"
#include "platform/md5.h"

namespace vornek {

/// Length of a STREAMINFO block's body.
inline constexpr std::size_t kStreamInfoLength = 34;

/// What the stream information of a stream says about its audio frames.
struct TStreamSummary {
  std::uint64_t Samples = 0;               ///< sample frames encoded in the frames written
  std::uint32_t MinFrameBytes = 0xFFFFFF;  ///< 0xFFFFFF without frames, as libFLAC states it
  std::uint32_t MaxFrameBytes = 0;
  std::optional<platform::Md5::Digest> Md5;  ///< nothing: the digest failed
};

/// Writes `summary` into the STREAMINFO body `body`: the frame sizes, the total samples
/// (0, "unknown", when they exceed its 36 bits) and the MD5 (zeros, "not computed",
/// when the digest failed); block sizes, rate, channels and sample width are kept.
void ApplySummary(const TStreamSummary& summary, std::uint8_t* body);

class TStreamHead {
 public:
  /// Writes to `file` (which must outlive the head); `comments` make the Vorbis
  /// comment block.
  TStreamHead(TStream& file, TVComments comments);
  TStreamHead(const TStreamHead&) = delete;
  TStreamHead& operator=(const TStreamHead&) = delete;

  /// Writes what an encoder handed over. The library's first Vorbis comment block
  /// (which comes whole, in one piece starting with its header) is replaced by the
  /// block built from the comments; where the stream information is written is noted.
  /// Raises the file's failure.
  void Write(const std::uint8_t* buffer, std::size_t bytes);

  /// Whether Write has written a stream information block.
  bool StreamInfoWritten() const { return stream_info_at_ >= 0; }
  /// Rewrites the stream information written before with what `summary` says of the
  /// frames written since (what libFLAC's finishing does for the stream of one
  /// encoder). Raises the file's failure.
  void CompleteStreamInfo(const TStreamSummary& summary);

  /// Raises the failure the file met inside a callback, if it met one, else `failure`.
  [[noreturn]] void RaiseFailure(TFailure failure) const;

  static FLAC__StreamEncoderWriteStatus WriteCallback(const FLAC__StreamEncoder* encoder,
                                                      const FLAC__byte buffer[], size_t bytes,
                                                      uint32_t samples, uint32_t frame, void* head);
  static FLAC__StreamEncoderSeekStatus SeekCallback(const FLAC__StreamEncoder* encoder,
                                                    FLAC__uint64 offset, void* head);
  static FLAC__StreamEncoderTellStatus TellCallback(const FLAC__StreamEncoder* encoder,
                                                    FLAC__uint64* offset, void* head);
  /// Does nothing: the stream information is written through the other three.
  static void MetadataCallback(const FLAC__StreamEncoder* /*encoder*/, const FLAC__StreamMetadata* /*metadata*/,
                               void* /*head*/) {}

 private:
  TStream& file_;
  const TVComments comments_;
  bool comment_written_ = false;
  /// Why the file last failed inside a callback; empty when it has not.
  std::string failure_;
  /// Where the body of the stream information lies in the file (-1: not written), and
  /// the body written there.
  std::int64_t stream_info_at_ = -1;
  std::array<std::uint8_t, kStreamInfoLength> stream_info_{};
};

}  // namespace vornek
