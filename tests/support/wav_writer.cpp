// SPDX-License-Identifier: BSD-3-Clause
#include "support/wav_writer.h"

#include <algorithm>

namespace vornek::test {

void PutLE16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutLE32(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutLE64(Bytes& out, std::uint64_t value) {
  PutLE32(out, static_cast<std::uint32_t>(value));
  PutLE32(out, static_cast<std::uint32_t>(value >> 32));
}

namespace {
void PutId(Bytes& out, const std::string& id) {
  for (std::size_t i = 0; i < 4; ++i) out.push_back(i < id.size() ? static_cast<std::uint8_t>(id[i]) : ' ');
}

// The tails of Wave64's GUIDs after their four-character id.
constexpr std::uint8_t kRiffGuidTail[12] = {0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
constexpr std::uint8_t kWaveGuidTail[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};

void PutGuid(Bytes& out, const std::string& id, const std::uint8_t (&tail)[12]) {
  PutId(out, id);
  out.insert(out.end(), std::begin(tail), std::end(tail));
}
}  // namespace

Bytes Rf64(const std::vector<Chunk>& chunks, const std::string& magic) {
  Bytes out = Riff(chunks, magic);
  for (std::size_t i = 4; i < 8; ++i) out[i] = 0xFF;
  return out;
}

Bytes Ds64Body(std::uint64_t riff_size, std::uint64_t data_size, std::uint64_t sample_count,
               const std::vector<std::pair<std::string, std::uint64_t>>& table) {
  Bytes out;
  PutLE64(out, riff_size);
  PutLE64(out, data_size);
  PutLE64(out, sample_count);
  PutLE32(out, static_cast<std::uint32_t>(table.size()));
  for (const auto& [id, size] : table) {
    PutId(out, id);
    PutLE64(out, size);
  }
  return out;
}

Bytes Wave64(const std::vector<Chunk>& chunks) {
  Bytes body;
  PutGuid(body, "wave", kWaveGuidTail);
  for (const Chunk& chunk : chunks) {
    PutGuid(body, chunk.id, kWaveGuidTail);
    PutLE64(body, chunk.stated_size ? *chunk.stated_size : 24 + chunk.body.size());
    body.insert(body.end(), chunk.body.begin(), chunk.body.end());
    // `body` starts 24 bytes into the file, a multiple of 8 itself.
    if (chunk.pad) body.resize((body.size() + 7) / 8 * 8, 0);
  }
  Bytes out;
  PutGuid(out, "riff", kRiffGuidTail);
  PutLE64(out, 24 + body.size());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes Riff(const std::vector<Chunk>& chunks, const std::string& riff, const std::string& wave) {
  Bytes body;
  PutId(body, wave);
  for (const Chunk& chunk : chunks) {
    PutId(body, chunk.id);
    PutLE32(body, chunk.stated_size.value_or(static_cast<std::uint32_t>(chunk.body.size())));
    body.insert(body.end(), chunk.body.begin(), chunk.body.end());
    if (chunk.pad && chunk.body.size() % 2 == 1) body.push_back(0);
  }
  Bytes out;
  PutId(out, riff);
  PutLE32(out, static_cast<std::uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes FmtBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
              std::uint16_t block_align, std::optional<std::uint16_t> cb_size, const Bytes& extra) {
  Bytes out;
  PutLE16(out, tag);
  PutLE16(out, channels);
  PutLE32(out, rate);
  PutLE32(out, rate * block_align);
  PutLE16(out, block_align);
  PutLE16(out, bits);
  if (cb_size) {
    PutLE16(out, *cb_size);
    out.insert(out.end(), extra.begin(), extra.end());
  }
  return out;
}

Bytes ExtensibleFmtBody(std::uint16_t channels, std::uint32_t rate, std::uint16_t container_bits,
                        std::uint16_t valid_bits, bool float_subformat) {
  Bytes extra;
  PutLE16(extra, valid_bits);
  PutLE32(extra, channels == 2 ? 3u : 4u);  // channel mask
  PutLE32(extra, float_subformat ? 3u : 1u);
  const std::uint8_t tail[] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  extra.insert(extra.end(), std::begin(tail), std::end(tail));
  return FmtBody(0xFFFE, channels, rate, container_bits,
                 static_cast<std::uint16_t>(channels * container_bits / 8), 22, extra);
}

Bytes SimpleWav(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                const Bytes& data) {
  return Riff({{"fmt ", FmtBody(tag, channels, rate, bits, static_cast<std::uint16_t>(channels * bits / 8))},
               {"data", data}});
}

Bytes PcmBytes(const std::vector<std::int32_t>& samples, int bits) {
  Bytes out;
  out.reserve(samples.size() * static_cast<std::size_t>(bits / 8));
  for (std::int32_t s : samples) {
    const auto u = static_cast<std::uint32_t>(bits == 8 ? s + 128 : s);
    for (int b = 0; b < bits / 8; ++b) out.push_back(static_cast<std::uint8_t>(u >> (8 * b)));
  }
  return out;
}

std::uint16_t GetLE16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t GetLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(GetLE16(p)) | (static_cast<std::uint32_t>(GetLE16(p + 2)) << 16);
}

std::map<std::string, Bytes> ReadChunks(const Bytes& file) {
  std::map<std::string, Bytes> chunks;
  std::size_t position = 12;
  while (position + 8 <= file.size()) {
    const std::string id(file.begin() + static_cast<std::ptrdiff_t>(position),
                         file.begin() + static_cast<std::ptrdiff_t>(position + 4));
    const std::size_t size = GetLE32(&file[position + 4]);
    const std::size_t end = std::min(file.size(), position + 8 + size);
    chunks.emplace(id, Bytes(file.begin() + static_cast<std::ptrdiff_t>(position + 8),
                             file.begin() + static_cast<std::ptrdiff_t>(end)));
    position += 8 + size + (size % 2);
  }
  return chunks;
}

}  // namespace vornek::test
