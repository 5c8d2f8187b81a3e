// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target: an arbitrary file through the MPEG Layer 3 WAV path, from the
// chunk walk to the decoded PCM image. A refused file must end in EAuException;
// anything else (a crash, a sanitizer report, another exception) is a finding.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "pipeline/au_exception.h"
#include "pipeline/stream.h"
#include "wave/wave_converter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vornek::TMemoryStream source(std::vector<std::uint8_t>(data, data + size));
  try {
    const auto image = vornek::ConvertCompressedWave(source);
    // The image must be a whole 44-byte-header RIFF/WAVE with its data size in place.
    const auto bytes = image->CopyAll();
    if (bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) != 0) __builtin_trap();
    const std::uint32_t data_size = static_cast<std::uint32_t>(bytes[40]) | (static_cast<std::uint32_t>(bytes[41]) << 8) |
                                    (static_cast<std::uint32_t>(bytes[42]) << 16) |
                                    (static_cast<std::uint32_t>(bytes[43]) << 24);
    if (data_size == 0 || data_size > bytes.size() - 44) __builtin_trap();
  } catch (const vornek::EAuException&) {
    // A refused file: the reader reports the text.
  }
  return 0;
}
