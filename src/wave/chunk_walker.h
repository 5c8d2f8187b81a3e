// The chunk walk of a WAV file: the one place that knows where a container starts,
// what a chunk header holds, and where the next chunk begins. The header reader and
// the compression-manager converter both walk with it.
//
// The container is found among the first 8192 bytes of the stream ("RIFF" and "WAVE"
// searched byte by byte, so junk a tool put before them is skipped; ids match in any
// letter case). After it come chunks: an id, a little-endian size and the body. An
// odd-sized body is followed by the RIFF pad byte, unless the writer left it out; the
// walk tells the two apart by what stands at each place (Advance).
//
// All offsets and sizes are 64-bit. The stream is read through a buffer, so a walk
// over many small chunks costs one read per buffer, not a seek and a read per chunk.
// The walker leaves the stream's position wherever its last read left it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "pipeline/stream.h"

namespace vornek {

/// True when each of the four bytes `read` equals the byte of `expected` or differs
/// from it by exactly 0x20 (modulo 256): blind to ASCII letter case.
bool SameChunkId(const std::uint8_t* read, const char* expected);

/// Reads a stream at chosen offsets through a buffer of its own.
class TBufferedReader {
 public:
  static constexpr std::size_t kBufferBytes = 64 * 1024;

  /// Asks the stream for its size once; the stream must not change while it is read.
  explicit TBufferedReader(TStream& stream);

  std::int64_t Size() const { return size_; }
  /// Copies the bytes of [at, at + count) that the stream holds into `out`; returns how
  /// many (fewer than `count` only at the end of the stream, 0 outside it).
  std::size_t ReadAt(std::int64_t at, void* out, std::size_t count);

 private:
  TStream& stream_;
  std::int64_t size_;
  std::vector<std::uint8_t> buffer_;  ///< the stream's bytes from buffer_start_ on
  std::int64_t buffer_start_ = 0;
};

/// How a container lays out a chunk header.
struct TChunkLayout {
  std::uint32_t IdBytes;    ///< bytes of the id
  std::uint32_t SizeBytes;  ///< bytes of the little-endian size after it
  /// A chunk's length is rounded up to a multiple of this to find the next one; 2 is
  /// the RIFF pad byte after an odd-sized body.
  std::uint32_t Alignment;

  constexpr std::uint32_t HeaderBytes() const { return IdBytes + SizeBytes; }
};

/// RIFF/WAVE: four-character ids and 32-bit sizes.
inline constexpr TChunkLayout kRiffChunks{4, 4, 2};

/// One chunk as the walk found it.
struct TChunk {
  std::array<std::uint8_t, 4> Id{};  ///< the four-character id as stored
  std::int64_t Start = 0;            ///< stream offset of the chunk header
  std::int64_t Body = 0;             ///< stream offset of the first body byte
  std::uint64_t Size = 0;            ///< the body size the header states
  std::uint32_t SizeField = 0;       ///< the 32-bit size field as written

  /// True when the id is `id` in any letter case (SameChunkId).
  bool Is(const char* id) const { return SameChunkId(Id.data(), id); }
};

/// Where the payload of a "data" chunk lies in the stream.
struct TPayload {
  std::int64_t Begin = 0;
  /// The end: the stated one, cut at the end of the stream; the end of the stream when
  /// the size is left open (0, or 0xFFFFFFFF in RIFF) or has wrapped past 4 GiB.
  std::int64_t End = 0;
  /// Bytes the stated size runs past the end of the stream (a file cut short); 0 too
  /// for 0x7FFFF000, which writers that cannot seek back put for a size they do not
  /// know.
  std::int64_t Missing = 0;
};

class TChunkWalker {
 public:
  /// "RIFF" (or "WAVE") and "WAVE" must end before this many bytes of the stream.
  static constexpr std::uint32_t kHeaderSearchLimit = 8192;

  /// Finds the container header; raises EAuException (TWaveError::weNotWave) when the
  /// first 8192 bytes hold none. The walk then stands on the first chunk.
  explicit TChunkWalker(TStream& stream);

  std::int64_t StreamSize() const { return reader_.Size(); }

  /// The chunk where the walk stands; nothing when no whole chunk header is left.
  std::optional<TChunk> Current();

  /// Moves on to the chunk after `chunk` (the one Current returned). After an
  /// odd-sized RIFF body the next chunk normally starts behind the pad byte; a writer
  /// that left the pad byte out shows because the byte right after the body begins a
  /// plausible chunk and the padded place does not. When both look plausible, the one
  /// holding `awaited` (the id the walk looks for next) wins, else the padded one.
  void Advance(const TChunk& chunk, const char* awaited);

  /// Copies up to `count` bytes of the body of `chunk`, from its first byte, as far as
  /// the body and the stream go; returns how many.
  std::size_t ReadBody(const TChunk& chunk, void* out, std::size_t count);

  /// Where the payload of the "data" chunk `data` lies (see TPayload).
  TPayload Payload(const TChunk& data) const;

  /// Whether `size` bytes from `at` fit inside the stream.
  bool Fits(std::int64_t at, std::uint64_t size) const;

 private:
  enum class TLook { lkNone, lkPlausible, lkAwaited };
  /// What the bytes at `at` look like: no chunk (an id that is not printable, or a
  /// body past the end of the stream that is not "data"), a chunk, or the awaited one.
  TLook LookAt(std::int64_t at, const char* awaited);

  TBufferedReader reader_;
  TChunkLayout layout_ = kRiffChunks;
  std::int64_t at_ = 0;  ///< where the walk stands
};

}  // namespace vornek
