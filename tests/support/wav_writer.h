// SPDX-License-Identifier: BSD-3-Clause
// A small RIFF/WAVE writer for test fixtures: well-formed files and deliberately
// damaged ones, built chunk by chunk.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vornek::test {

using Bytes = std::vector<std::uint8_t>;

void PutLE16(Bytes& out, std::uint16_t value);
void PutLE32(Bytes& out, std::uint32_t value);
void PutLE64(Bytes& out, std::uint64_t value);

struct Chunk {
  Chunk(std::string chunk_id, Bytes chunk_body,
        std::optional<std::uint32_t> size = std::nullopt, bool pad_byte = true)
      : id(std::move(chunk_id)), body(std::move(chunk_body)), stated_size(size), pad(pad_byte) {}

  std::string id;                            ///< four characters
  Bytes body;
  std::optional<std::uint32_t> stated_size;  ///< the size field, if not body.size()
  bool pad = true;                           ///< add the RIFF pad byte after an odd body
};

/// "RIFF", size, "WAVE" (ids replaceable for damaged files), then the chunks.
Bytes Riff(const std::vector<Chunk>& chunks, const std::string& riff = "RIFF",
           const std::string& wave = "WAVE");

/// "RF64" (or `magic`, "BW64"), 0xFFFFFFFF, "WAVE", then the chunks as Riff writes
/// them: a "ds64" chunk among them (Ds64Body) gives the 64-bit sizes.
Bytes Rf64(const std::vector<Chunk>& chunks, const std::string& magic = "RF64");

/// The body of a "ds64" chunk: RIFF size, "data" size, sample count, and a table of
/// other chunks' sizes.
Bytes Ds64Body(std::uint64_t riff_size, std::uint64_t data_size, std::uint64_t sample_count,
               const std::vector<std::pair<std::string, std::uint64_t>>& table = {});

/// A Wave64 file: the "riff" GUID, its 64-bit size, the "wave" GUID, then each chunk
/// as the GUID of its four-character id, a 64-bit size counting the 24-byte header
/// (a chunk's `stated_size`, when set, is written as that whole size field), the body
/// and zeros up to the next multiple of 8 (unless `pad` is false).
Bytes Wave64(const std::vector<Chunk>& chunks);

/// A "fmt " body of 16 bytes (or 18 with `cb_size`, followed by `extra`).
Bytes FmtBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
              std::uint16_t bits, std::uint16_t block_align,
              std::optional<std::uint16_t> cb_size = std::nullopt, const Bytes& extra = {});

/// The 40-byte extensible "fmt " body; `float_subformat` picks IEEE float over PCM.
Bytes ExtensibleFmtBody(std::uint16_t channels, std::uint32_t rate, std::uint16_t container_bits,
                        std::uint16_t valid_bits, bool float_subformat);

/// A plain PCM (tag 1) or IEEE float (tag 3) file holding `data`.
Bytes SimpleWav(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                const Bytes& data);

/// Little-endian fields of a byte buffer.
std::uint16_t GetLE16(const std::uint8_t* p);
std::uint32_t GetLE32(const std::uint8_t* p);

/// The chunks of a well-formed RIFF/WAVE file, the first of each id, their bodies cut at
/// the end of the file (reading back what a tool wrote).
std::map<std::string, Bytes> ReadChunks(const Bytes& file);

/// Interleaved little-endian samples of `bits` width (8-bit is stored unsigned).
Bytes PcmBytes(const std::vector<std::int32_t>& samples, int bits);

}  // namespace vornek::test
