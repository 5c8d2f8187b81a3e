// SPDX-License-Identifier: BSD-3-Clause
// The chunk walk of a WAV file: the one place that knows where a container starts,
// what a chunk header holds, and where the next chunk begins. The header reader and
// the compression-manager converter both walk with it.
//
// Three containers, each a small description of its chunk header (TChunkLayout):
//   RIFF/WAVE      four-character ids, 32-bit sizes, the pad byte after an odd body;
//   RF64, BW64     the same, with 64-bit sizes from a "ds64" chunk wherever a 32-bit
//                  size holds 0xFFFFFFFF ("data" and the chunks of its table);
//   Wave64         GUID ids (a four-character id in the first four bytes of the GUIDs
//                  of its family), 64-bit sizes that count the 24-byte header, chunks
//                  aligned to 8 bytes (or not, where the writer left the padding out).
// The container is found among the first 8192 bytes of the stream (searched byte by
// byte, so junk a tool put before it is skipped; RIFF ids match in any letter case).
// An odd-sized RIFF body is followed by the pad byte, and a Wave64 chunk by the bytes
// up to the next multiple of 8, unless the writer left them out; the walk tells the
// two apart by what stands at each place (Advance).
//
// All offsets and sizes are 64-bit. The stream is read through a buffer, so a walk
// over many small chunks costs one read per buffer, not a seek and a read per chunk.
// The walker leaves the stream's position wherever its last read left it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
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

enum class TContainer { ctRiff, ctRf64, ctWave64 };

/// How a container lays out a chunk header.
struct TChunkLayout {
  TContainer Container;
  std::uint32_t IdBytes;    ///< 4 (a four-character id) or 16 (a GUID)
  std::uint32_t SizeBytes;  ///< bytes of the little-endian size after the id
  /// A chunk's length is rounded up to a multiple of this to find the next one; 2 is
  /// the RIFF pad byte after an odd-sized body.
  std::uint32_t Alignment;
  /// A 32-bit size of 0xFFFFFFFF stands for a 64-bit one in the "ds64" chunk.
  bool Ds64Sizes;

  constexpr std::uint32_t HeaderBytes() const { return IdBytes + SizeBytes; }
};

inline constexpr TChunkLayout kRiffChunks{TContainer::ctRiff, 4, 4, 2, false};
inline constexpr TChunkLayout kRf64Chunks{TContainer::ctRf64, 4, 4, 2, true};
inline constexpr TChunkLayout kWave64Chunks{TContainer::ctWave64, 16, 8, 8, false};

/// One chunk as the walk found it.
struct TChunk {
  /// The four-character id: as stored, or the first four bytes of a Wave64 GUID.
  std::array<std::uint8_t, 4> Id{};
  /// False for a Wave64 GUID outside the families that carry a four-character id:
  /// such a chunk matches no id.
  bool Named = true;
  std::int64_t Body = 0;        ///< stream offset of the first body byte
  std::uint64_t Size = 0;       ///< the body size the header states (RF64: "ds64" applied)
  std::uint32_t SizeField = 0;  ///< RIFF and RF64: the 32-bit size field as written

  /// True when the id is `id` in any letter case (SameChunkId).
  bool Is(const char* id) const { return Named && SameChunkId(Id.data(), id); }
  /// The id for a failure text; bytes that are not printable show as '?'.
  std::string IdText() const;
  /// Whether the id can be read: a four-character id of printable bytes.
  bool Readable() const;
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
  /// The container's header ("RIFF" ... "WAVE", or the Wave64 GUIDs) must end before
  /// this many bytes of the stream.
  static constexpr std::uint32_t kHeaderSearchLimit = 8192;

  /// Finds the container header; raises EAuException (TFailure::faNotWave) when the
  /// first 8192 bytes hold none. The walk then stands on the first chunk.
  explicit TChunkWalker(TStream& stream);

  std::int64_t StreamSize() const { return reader_.Size(); }

  /// The chunk where the walk stands; nothing when no whole chunk header is left.
  /// Raises EAuException for a header that cannot be walked past: a Wave64 size below
  /// its own header, an RF64 size that "ds64" should give and does not, a "ds64"
  /// chunk that is too short or runs past the end of the stream.
  std::optional<TChunk> Current();

  /// Moves on to the chunk after `chunk` (the one Current returned). After an
  /// odd-sized RIFF body the next chunk normally starts behind the pad byte, and a
  /// Wave64 chunk at the next multiple of 8 bytes; a writer that left the padding out
  /// shows because the byte right after the body begins a plausible chunk and the
  /// padded place does not. When both look plausible, the one holding `awaited` (the
  /// id the walk looks for next) wins, else the padded one.
  void Advance(const TChunk& chunk, const char* awaited);

  /// Copies up to `count` bytes of the body of `chunk`, from its first byte, as far as
  /// the body and the stream go; returns how many.
  std::size_t ReadBody(const TChunk& chunk, void* out, std::size_t count);

  /// Where the payload of the "data" chunk `data` lies (see TPayload).
  TPayload Payload(const TChunk& data) const;

  /// Whether `size` bytes from `at` fit inside the stream.
  bool Fits(std::int64_t at, std::uint64_t size) const;

  /// The id of the chunk the walk last moved past (as IdText gives it), or empty at
  /// the first: it names the place of a chunk whose own id cannot be read.
  const std::string& PreviousId() const { return previous_; }

 private:
  enum class TLook { lkNone, lkPlausible, lkAwaited };
  /// What the bytes at `at` look like: no chunk (an id that is not printable, or a
  /// body past the end of the stream that is not "data"), a chunk, or the awaited one.
  TLook LookAt(std::int64_t at, const char* awaited);

  /// Reads the "ds64" chunk of an RF64 file.
  void TakeDs64(const TChunk& ds64);
  /// The 64-bit size "ds64" gives for `chunk`, whose 32-bit size holds 0xFFFFFFFF.
  std::uint64_t Ds64Size(const TChunk& chunk);

  TBufferedReader reader_;
  TChunkLayout layout_ = kRiffChunks;
  std::int64_t at_ = 0;  ///< where the walk stands
  std::string previous_;  ///< PreviousId
  /// RF64: what "ds64" holds, once it has been passed: the "data" size and the table
  /// of other chunks' sizes (its first entries, read once).
  struct TDs64Entry {
    std::array<std::uint8_t, 4> Id;
    std::uint64_t Size;
  };
  bool have_ds64_ = false;
  std::uint64_t ds64_data_size_ = 0;
  std::vector<TDs64Entry> ds64_table_;
};

}  // namespace vornek
