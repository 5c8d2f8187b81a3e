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
