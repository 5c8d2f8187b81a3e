// SPDX-License-Identifier: BSD-3-Clause
// Conversion of a compressed (MPEG Layer 3) WAV file into an in-memory PCM WAV
// image through the platform's audio compression manager.
//
// The reader's path (ConvertCompressedWave) reads the compressed data from its stream
// a piece at a time and hands each piece to the manager's conversion stream, which
// decodes straight into the image's memory: the decoded audio exists once, and of the
// compressed data only the piece in hand. Before decoding, the size of the result is
// foreseen from the frames of the data and a file that would pass kMaxDecodedBytes is
// refused at once; the decode itself stops at that ceiling too, and between pieces it
// asks whether the run was stopped.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "pipeline/stream.h"
#include "wave/pcm_image.h"

namespace vornek {

/// Where a compressed WAV file keeps its format and its audio, as a walk of its chunks
/// found them.
struct TCompressedParts {
  std::int64_t FormatAt = 0;     ///< stream offset of the "fmt " body
  std::uint64_t FormatSize = 0;  ///< its stated size
  std::int64_t DataBegin = 0;    ///< the payload of "data", [DataBegin, DataEnd)
  std::int64_t DataEnd = 0;
};

/// The most decoded PCM held in memory for one MPEG Layer 3 file: 1.4 GB, 2 hours
/// 12 minutes of 44.1 kHz stereo at 16 bits (2 hours 1 minute at 48 kHz). Two hours of
/// either convert; much more than this would not fit beside the encoder in the 2 GB
/// a 32-bit process has (the image needs no single stretch of it, being held in
/// blocks), and in any process it is memory the machine has to give at once.
inline constexpr std::int64_t kMaxDecodedBytes = 1'400'000'000;

/// Polled between the pieces of a conversion; true asks it to give up.
using TStopCheck = std::function<bool()>;

/// A memory stream that holds the compressed data of a WAV file and its format,
/// converts them to PCM in one call and writes a PCM RIFF/WAVE image of the result.
/// The stream's content is the held data (compressed, then PCM). The reader does not
/// hold the data: it converts from its stream in pieces (ConvertToImage).
class TWaveConverter : public TMemoryStream {
 public:
  /// Size of each format buffer.
  static constexpr std::uint32_t kFormatBufferSize = 129;
  using FormatBuffer = std::array<std::uint8_t, kFormatBufferSize>;

  /// Asks the compression manager for its largest format size. Throws EAuException
  /// when that size does not fit the format buffers.
  TWaveConverter();

  // Part of the component interface; the conversion works on the buffers themselves
  // and calls none of these.
  /// The largest format structure, in bytes, any codec of the manager uses.
  std::uint32_t MaxFormatSize() const { return max_format_size_; }
  /// Wave-format structure of the held data; after a conversion, the PCM format.
  FormatBuffer& SourceFormat() { return source_format_; }
  /// Wave-format structure of the conversion target.
  FormatBuffer& TargetFormat() { return target_format_; }

  /// Reads a RIFF/WAVE file from the start of `source`: the first "fmt " body becomes
  /// SourceFormat, the body of the last non-empty "data" chunk the held data. The
  /// chunks are walked by their sizes (wave/chunk_walker.h), so bytes inside another
  /// chunk's body are never taken for a chunk. Throws EAuException (nothing held) when
  /// the file does not start with "RIFF"/"WAVE" (upper case), has no usable "fmt " or
  /// no non-empty "data".
  void LoadFromWave(TStream& source);
  /// Takes the "fmt " body and the payload at `parts` of `source` as LoadFromWave
  /// takes those it finds. Throws EAuException (nothing held) when the "fmt " body does
  /// not fit the format buffers or the payload is empty.
  void Load(TStream& source, const TCompressedParts& parts);
  /// Takes only the "fmt " body at `parts` into SourceFormat, with the checks of Load
  /// (the payload must not be empty); holds no data.
  void LoadFormat(TStream& source, const TCompressedParts& parts);

  /// Converts [begin, end) of `source` from SourceFormat to the PCM format the manager
  /// suggests, a piece at a time, into a new 44-byte-header PCM RIFF/WAVE image
  /// positioned at 0. `stop` (if set) is asked between pieces. Throws EAuException
  /// (pipeline/failures.h) when no PCM format is offered, the PCM would pass `max_pcm_bytes`
  /// (refused before decoding when the frames foretell it clearly), memory runs out,
  /// the manager fails, nothing decodes, or `stop` says so; nothing of the conversion
  /// is left then.
  std::unique_ptr<TPcmImage> ConvertToImage(TStream& source, std::int64_t begin, std::int64_t end,
                                            const TStopCheck& stop = {},
                                            std::int64_t max_pcm_bytes = kMaxDecodedBytes);

  /// Converts the held data from SourceFormat to TargetFormat. Returns 0 on success
  /// (the held data is then exactly the PCM produced and SourceFormat its format),
  /// otherwise the first non-zero result of the compression manager (nothing changed).
  std::int32_t ConvertToPcm();

  /// Writes a 44-byte-header PCM RIFF/WAVE image of the held data at `destination`'s
  /// position, leaving it after the image. Returns 0, or 286 when the image could not
  /// be written (the held data too long for a RIFF size, or a write failure).
  std::int32_t SaveAsWave(TStream& destination);

 private:
  std::uint32_t max_format_size_ = 0;
  FormatBuffer source_format_{};
  FormatBuffer target_format_{};
};

/// The result of SaveAsWave when the image could not be written.
inline constexpr std::int32_t kWaveFileNotSaved = 286;

/// Converts a whole MPEG Layer 3 WAV file (read from position 0 of `source`) into a
/// 16-bit PCM RIFF/WAVE image, positioned at 0; the caller owns it. Throws EAuException
/// with a text that tells what failed. The compressed data is loaded into memory first.
std::unique_ptr<TPcmImage> ConvertCompressedWave(TStream& source, const TStopCheck& stop = {});
/// The same for a file whose chunks were already found (the reader's header walk); the
/// compressed data is read from `source` a piece at a time.
std::unique_ptr<TPcmImage> ConvertCompressedWave(TStream& source, const TCompressedParts& parts,
                                                 const TStopCheck& stop = {});

}  // namespace vornek
