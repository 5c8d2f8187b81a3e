// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target: an arbitrary file through the WAV reader, from memory: header, open,
// delivery to the end in requests of odd sizes, and a seek. A refused file must end in
// EAuException; anything else (a crash, a sanitizer report, another exception, a
// delivery that breaks the reader's promises) is a finding.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/au_exception.h"
#include "pipeline/stream.h"
#include "wave/wave_in.h"

namespace {

// Request sizes that are rarely a whole number of frames or of decoded blocks.
constexpr std::array<std::uint32_t, 8> kRequests = {1, 3, 7, 127, 4609, 16383, 16385, 65537};

bool IsStoredKind(vornek::TWaveKind kind) {
  using vornek::TWaveKind;
  return kind == TWaveKind::wkPcm || kind == TWaveKind::wkExtensiblePcm ||
         kind == TWaveKind::wkFloat || kind == TWaveKind::wkExtensibleFloat;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vornek::TMemoryStream source(std::vector<std::uint8_t>(data, data + size));
  vornek::TWaveIn wave;
  wave.SetStream(&source);
  try {
    wave.Open();
    const std::uint32_t frame = wave.FrameSize;
    if (frame == 0) __builtin_trap();
    std::int64_t total = 0;
    for (std::size_t i = size;; ++i) {
      // Below one frame a request gets nothing, which would read as the end.
      std::uint32_t request = kRequests[i % kRequests.size()];
      if (request < frame) request += frame;
      const std::uint8_t* bytes = nullptr;
      std::uint32_t count = request;
      wave.Read(bytes, count);
      if (count == 0) break;
      if (count % frame != 0 || count > request) __builtin_trap();  // whole frames, as asked
      total += count;
      if (wave.Size > 0 && total > wave.Size) __builtin_trap();  // never past the promise
    }
    if (IsStoredKind(wave.WaveKind) && wave.Size > 0 && total != wave.Size) __builtin_trap();
    std::vector<std::uint8_t> block(std::max<std::uint32_t>(frame, 4096u));
    bool end = false;
    if (wave.Seek(static_cast<std::int64_t>(size % 97)))
      wave.ReadFully(block.data(), static_cast<std::uint32_t>(block.size()), end);
  } catch (const vornek::EAuException&) {
    // A refused file: Open reports the text.
  }
  wave.Close();
  wave.SetStream(nullptr);
  return 0;
}
