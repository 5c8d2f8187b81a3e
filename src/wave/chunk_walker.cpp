// SPDX-License-Identifier: BSD-3-Clause
#include "wave/chunk_walker.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/bytes.h"
#include "base/failures.h"

namespace vornek {

namespace {

bool Printable(std::uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; }

constexpr std::uint64_t k4GiB = std::uint64_t{1} << 32;

// Wave64's GUIDs in file layout (first field 32-bit little-endian, then two 16-bit
// fields, then eight bytes): "riff" {66666972-912E-11CF-A5D6-28DB04C10000} and
// "wave" {65766177-ACF3-11D3-8CD1-00C04F8EDB8A}.
constexpr std::uint8_t kWave64Riff[16] = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11,
                                          0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
constexpr std::uint8_t kWave64Wave[16] = {'w', 'a', 'v', 'e', 0xF3, 0xAC, 0xD3, 0x11,
                                          0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
/// A Wave64 chunk GUID carries a four-character id in its first four bytes when the
/// rest is that of "wave" ("fmt ", "fact", "data", "junk" ...) ...
constexpr std::size_t kFourccTailAt = 4;
/// ... or that of "riff" from its sixth byte on ("riff", "list").
constexpr std::size_t kRiffFamilyTailAt = 5;

constexpr std::size_t kDs64FixedBytes = 28;  // RIFF size, data size, sample count, table length
constexpr std::size_t kDs64EntryBytes = 12;  // an id and its 64-bit size
/// The most table entries looked through for a size: writers put one for each chunk
/// past 4 GiB other than "data", which is a handful at most.
constexpr std::uint32_t kDs64EntriesSearched = 256;

/// The "data" size a writer that cannot seek back to fill it in puts when it knows it
/// will not (the largest size some tools write, a little below 2 GiB).
constexpr std::uint32_t kUnknownSizeBelow2GiB = 0x7FFFF000;

/// Whether a Wave64 chunk GUID is of a family that carries a four-character id.
bool NamedGuid(const std::uint8_t* guid) {
  return std::equal(guid + kFourccTailAt, guid + 16, &kWave64Wave[kFourccTailAt]) ||
         std::equal(guid + kRiffFamilyTailAt, guid + 16, &kWave64Riff[kRiffFamilyTailAt]);
}

}  // namespace

std::string TChunk::IdText() const {
  std::string text(4, '?');
  for (std::size_t i = 0; i < 4; ++i)
    if (Printable(Id[i])) text[i] = static_cast<char>(Id[i]);
  return text;
}

bool TChunk::Readable() const { return Named && std::all_of(Id.begin(), Id.end(), Printable); }

bool SameChunkId(const std::uint8_t* read, const char* expected) {
  for (std::size_t i = 0; i < 4; ++i) {
    const auto want = static_cast<std::uint8_t>(expected[i]);
    const auto difference = static_cast<std::uint8_t>(read[i] - want);
    if (difference != 0 && difference != 0x20 && difference != 0xE0) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------
// TBufferedReader

TBufferedReader::TBufferedReader(TStream& stream) : stream_(stream), size_(stream.Size()) {}

std::size_t TBufferedReader::ReadAt(std::int64_t at, void* out, std::size_t count) {
  if (at < 0 || at >= size_ || count == 0) return 0;
  const auto left = static_cast<std::uint64_t>(size_ - at);
  if (count > left) count = static_cast<std::size_t>(left);
  auto* to = static_cast<std::uint8_t*>(out);
  const std::int64_t buffered_end = buffer_start_ + static_cast<std::int64_t>(buffer_.size());
  if (at >= buffer_start_ && static_cast<std::int64_t>(count) <= buffered_end - at) {
    std::memcpy(to, buffer_.data() + (at - buffer_start_), count);
    return count;
  }
  stream_.SetPosition(at);
  if (count >= kBufferBytes) return ReadStreamFully(stream_, to, count);
  buffer_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kBufferBytes, left)));
  buffer_.resize(ReadStreamFully(stream_, buffer_.data(), buffer_.size()));
  buffer_start_ = at;
  count = std::min(count, buffer_.size());
  std::memcpy(to, buffer_.data(), count);
  return count;
}

// ---------------------------------------------------------------------------------
// TChunkWalker

TChunkWalker::TChunkWalker(TStream& stream) : reader_(stream) {
  // The bytes under test are head[end - 4, end); an id must end before byte 8192.
  std::array<std::uint8_t, kHeaderSearchLimit> head;
  const std::size_t have = reader_.ReadAt(0, head.data(), head.size());
  const std::size_t last_end = std::min<std::size_t>(have, kHeaderSearchLimit - 1);
  std::size_t end = 4;
  for (; end <= last_end; ++end) {
    const std::uint8_t* id = &head[end - 4];
    // The Wave64 GUID first: it begins with "riff".
    if (end + 36 <= last_end && std::memcmp(id, kWave64Riff, 16) == 0) {
      if (std::memcmp(id + 24, kWave64Wave, 16) != 0) Raise(TFailure::faNotWave);
      layout_ = kWave64Chunks;
      at_ = static_cast<std::int64_t>(end + 36);
      return;
    }
    if (SameChunkId(id, "RIFF")) break;
    if (SameChunkId(id, "RF64") || SameChunkId(id, "BW64")) {
      layout_ = kRf64Chunks;
      break;
    }
  }
  end += 4;  // the RIFF size, which nothing relies on
  while (end <= last_end && !SameChunkId(&head[end - 4], "WAVE")) ++end;
  if (end > last_end) Raise(TFailure::faNotWave);
  at_ = static_cast<std::int64_t>(end);
}

bool TChunkWalker::Fits(std::int64_t at, std::uint64_t size) const {
  return at >= 0 && at <= StreamSize() && size <= static_cast<std::uint64_t>(StreamSize() - at);
}

std::optional<TChunk> TChunkWalker::Current() {
  const std::uint32_t header_bytes = layout_.HeaderBytes();
  std::array<std::uint8_t, 24> header;
  if (!Fits(at_, header_bytes) || reader_.ReadAt(at_, header.data(), header_bytes) < header_bytes)
    return std::nullopt;
  TChunk chunk;
  std::copy_n(header.begin(), 4, chunk.Id.begin());
  chunk.Body = at_ + header_bytes;
  if (layout_.IdBytes == 16) {
    chunk.Named = NamedGuid(header.data());
    const std::uint64_t size = Le64(&header[16]);
    if (size < header_bytes) Raise(TFailure::faWave64ChunkSize);
    chunk.Size = size - header_bytes;
    return chunk;
  }
  chunk.SizeField = Le32(&header[4]);
  chunk.Size = chunk.SizeField;
  if (layout_.Ds64Sizes) {
    if (!have_ds64_ && chunk.Is("ds64")) {
      TakeDs64(chunk);
    } else if (chunk.SizeField == 0xFFFFFFFF) {
      chunk.Size = Ds64Size(chunk);
    }
  }
  return chunk;
}

void TChunkWalker::TakeDs64(const TChunk& ds64) {
  if (!Fits(ds64.Body, ds64.Size)) Raise(TFailure::faChunkPastEnd, "ds64");
  std::array<std::uint8_t, kDs64FixedBytes> body;
  if (ds64.Size < body.size() || ReadBody(ds64, body.data(), body.size()) < body.size())
    Raise(TFailure::faDs64TooShort);
  ds64_data_size_ = Le64(&body[8]);
  const std::uint32_t entries = Le32(&body[24]);
  if (entries > (ds64.Size - kDs64FixedBytes) / kDs64EntryBytes) Raise(TFailure::faDs64TooShort);
  // The table is read once: looking it up for every chunk a hostile file sizes through
  // it would read it again for each.
  std::vector<std::uint8_t> table(std::min(entries, kDs64EntriesSearched) * kDs64EntryBytes);
  const std::int64_t table_at = ds64.Body + static_cast<std::int64_t>(kDs64FixedBytes);
  table.resize(reader_.ReadAt(table_at, table.data(), table.size()) / kDs64EntryBytes * kDs64EntryBytes);
  ds64_table_.clear();
  for (std::size_t at = 0; at < table.size(); at += kDs64EntryBytes) {
    TDs64Entry& entry = ds64_table_.emplace_back();
    std::copy_n(&table[at], 4, entry.Id.begin());
    entry.Size = Le64(&table[at + 4]);
  }
  have_ds64_ = true;
}

std::uint64_t TChunkWalker::Ds64Size(const TChunk& chunk) {
  if (have_ds64_) {
    if (chunk.Is("data")) return ds64_data_size_;
    for (const TDs64Entry& entry : ds64_table_)
      if (entry.Id == chunk.Id) return entry.Size;
  }
  Raise(TFailure::faDs64Missing, chunk.IdText());
}

void TChunkWalker::Advance(const TChunk& chunk, const char* awaited) {
  previous_ = chunk.IdText();
  if (!Fits(chunk.Body, chunk.Size)) {
    at_ = StreamSize();  // nothing can follow a body that runs past the end
    return;
  }
  const std::int64_t unpadded = chunk.Body + static_cast<std::int64_t>(chunk.Size);
  const std::uint64_t length = layout_.HeaderBytes() + chunk.Size;
  const auto pad = static_cast<std::int64_t>((layout_.Alignment - length % layout_.Alignment) % layout_.Alignment);
  at_ = unpadded + pad;
  if (pad == 0) return;

  // The RIFF pad byte or the Wave64 alignment, or a writer that left them out.
  const TLook at_unpadded = LookAt(unpadded, awaited);
  if (at_unpadded == TLook::lkNone) return;
  const TLook at_padded = LookAt(at_, awaited);
  if (at_padded == TLook::lkNone || (at_unpadded == TLook::lkAwaited && at_padded != TLook::lkAwaited))
    at_ = unpadded;
}

TChunkWalker::TLook TChunkWalker::LookAt(std::int64_t at, const char* awaited) {
  const std::uint32_t header_bytes = layout_.HeaderBytes();
  std::array<std::uint8_t, 24> header;
  if (!Fits(at, header_bytes) || reader_.ReadAt(at, header.data(), header_bytes) < header_bytes)
    return TLook::lkNone;
  std::uint64_t size;
  if (layout_.IdBytes == 16) {
    if (!NamedGuid(header.data())) return TLook::lkNone;
    size = Le64(&header[16]);
    if (size < header_bytes) return TLook::lkNone;
    size -= header_bytes;
  } else {
    if (!std::all_of(header.begin(), header.begin() + 4, Printable)) return TLook::lkNone;
    size = Le32(&header[4]);
  }
  // A "data" chunk may run past the end (a file cut short); no other chunk may.
  if (!Fits(at + header_bytes, size) && !SameChunkId(header.data(), "data")) return TLook::lkNone;
  return SameChunkId(header.data(), awaited) ? TLook::lkAwaited : TLook::lkPlausible;
}

std::size_t TChunkWalker::ReadBody(const TChunk& chunk, void* out, std::size_t count) {
  return reader_.ReadAt(chunk.Body, out, static_cast<std::size_t>(std::min<std::uint64_t>(count, chunk.Size)));
}

TPayload TChunkWalker::Payload(const TChunk& data) const {
  TPayload payload;
  payload.Begin = std::min(data.Body, StreamSize());
  payload.End = StreamSize();
  const auto remaining = static_cast<std::uint64_t>(StreamSize() - payload.Begin);
  // A size of 0, or 0xFFFFFFFF in RIFF, is a writer that never came back to fill it in.
  const bool riff = layout_.Container == TContainer::ctRiff;
  if (data.Size == 0 || (riff && data.SizeField == 0xFFFFFFFF)) return payload;
  if (riff && remaining >= k4GiB) {
    // A file past 4 GiB whose 32-bit size has wrapped: the payload is everything to
    // the end (but a pad byte), when the size is what is left modulo 2^32.
    const std::uint64_t beyond = (remaining - data.SizeField) % k4GiB;
    if (beyond <= 1) {
      payload.End -= static_cast<std::int64_t>(beyond);
      return payload;
    }
  }
  if (data.Size <= remaining) {
    payload.End = payload.Begin + static_cast<std::int64_t>(data.Size);
  } else if (!riff || data.SizeField != kUnknownSizeBelow2GiB) {
    payload.Missing = static_cast<std::int64_t>(
        std::min<std::uint64_t>(data.Size - remaining, std::numeric_limits<std::int64_t>::max()));
  }
  return payload;
}

}  // namespace vornek
