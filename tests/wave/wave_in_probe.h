// SPDX-License-Identifier: BSD-3-Clause
// Test access to TWaveIn: a reader over an in-memory file, with its protected steps
// opened up, and small helpers to pull everything it delivers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/au_exception.h"
#include "pipeline/stream.h"
#include "support/wav_writer.h"
#include "wave/wave_in.h"

namespace vornek::test {

/// TWaveIn with its protected operations public, reading from a memory stream it owns.
class TWaveProbe : public TWaveIn {
 public:
  TWaveProbe() = default;
  explicit TWaveProbe(const Bytes& file) { Load(file); }
  ~TWaveProbe() override { CloseFile(); }

  /// Makes `file` the reader's stream (the previous one is closed).
  void Load(const Bytes& file) {
    memory_ = std::make_unique<TMemoryStream>(file);
    SetStream(memory_.get());
  }

  using TWaveIn::OpenFile;
  using TWaveIn::ReadHeader;
  using TWaveIn::ReadInternal;
  using TWaveIn::SeekInternal;

  TMemoryStream& Memory() { return *memory_; }
  std::uint32_t WindowBytesLeft() const { return WindowEnd + 1 - WindowStart; }

 private:
  std::unique_ptr<TMemoryStream> memory_;
};

/// Every byte an open input delivers, read `request` bytes at a time.
inline Bytes ReadAll(TAuInput& input, std::uint32_t request = 65536) {
  Bytes out;
  std::vector<std::uint8_t> chunk(request);
  bool end = false;
  while (!end) {
    const std::uint32_t got = input.ReadFully(chunk.data(), request, end);
    out.insert(out.end(), chunk.begin(), chunk.begin() + got);
    if (got < request) end = true;
  }
  return out;
}

/// The byte counts of successive Read calls of `request` bytes until one delivers 0.
inline std::vector<std::uint32_t> ReadSizes(TAuInput& input, std::uint32_t request = 65536) {
  std::vector<std::uint32_t> sizes;
  for (int guard = 0; guard < 100000; ++guard) {
    const std::uint8_t* data = nullptr;
    std::uint32_t count = request;
    input.Read(data, count);
    if (count == 0) break;
    sizes.push_back(count);
  }
  return sizes;
}

/// The text of the EAuException that Open raises, or "" when it opens.
inline std::string OpenFailure(TAuInput& input) {
  try {
    input.Open();
  } catch (const EAuException& e) {
    return e.what();
  }
  return "";
}

/// A "fmt " body of an ADPCM or MPEG Layer 3 file: the 16 common bytes, the extension
/// size and `extension` (samples per block first).
inline Bytes CompressedFmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                           std::uint16_t block_align, std::uint16_t bits, const Bytes& extension) {
  return FmtBody(tag, channels, rate, bits, block_align,
                 static_cast<std::uint16_t>(extension.size()), extension);
}

/// The extension of an MS ADPCM "fmt ": samples per block, the pair count, the pairs.
inline Bytes MsExtension(std::uint16_t samples_per_block,
                         const std::vector<std::pair<std::int16_t, std::int16_t>>& coefs,
                         std::optional<std::uint16_t> stated_count = std::nullopt) {
  Bytes ext;
  PutLE16(ext, samples_per_block);
  PutLE16(ext, stated_count.value_or(static_cast<std::uint16_t>(coefs.size())));
  for (const auto& [c1, c2] : coefs) {
    PutLE16(ext, static_cast<std::uint16_t>(c1));
    PutLE16(ext, static_cast<std::uint16_t>(c2));
  }
  return ext;
}

/// The seven standard MS ADPCM predictor pairs.
inline const std::vector<std::pair<std::int16_t, std::int16_t>> kStandardMsCoefs = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

inline Bytes Le32Bytes(std::uint32_t value) {
  Bytes out;
  PutLE32(out, value);
  return out;
}

/// `n` bytes of a repeating, recognisable pattern.
inline Bytes Pattern(std::size_t n, std::uint8_t seed = 1) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
  return out;
}

}  // namespace vornek::test
