// Conversion of a compressed (MPEG Layer 3) WAV file into an in-memory PCM WAV
// image through the platform's audio compression manager.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "pipeline/stream.h"

namespace vornek {

/// Where a compressed WAV file keeps its format and its audio, as a walk of its chunks
/// found them.
struct TCompressedParts {
  std::int64_t FormatAt = 0;     ///< stream offset of the "fmt " body
  std::uint64_t FormatSize = 0;  ///< its stated size
  std::int64_t DataBegin = 0;    ///< the payload of "data", [DataBegin, DataEnd)
  std::int64_t DataEnd = 0;
};

/// A memory stream that holds the compressed data of a WAV file and its format,
/// converts them to PCM in one call and writes a PCM RIFF/WAVE image of the result.
/// The stream's content is the held data (compressed, then PCM).
class TWaveConverter : public TMemoryStream {
 public:
  /// Size of each format buffer.
  static constexpr std::uint32_t kFormatBufferSize = 129;
  using FormatBuffer = std::array<std::uint8_t, kFormatBufferSize>;

  /// Asks the compression manager for its largest format size. Throws EAuException
  /// when that size does not fit the format buffers.
  TWaveConverter();

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
/// 16-bit PCM RIFF/WAVE image in a new memory stream, positioned at 0; the caller owns
/// it. Throws EAuException with a text that tells what failed.
std::unique_ptr<TMemoryStream> ConvertCompressedWave(TStream& source);
/// The same for a file whose chunks were already found (the reader's header walk).
std::unique_ptr<TMemoryStream> ConvertCompressedWave(TStream& source, const TCompressedParts& parts);

}  // namespace vornek
