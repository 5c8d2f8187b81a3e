// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target: an arbitrary file through the WAV reader's MPEG Layer 3 path, from
// memory (its seeds are MPEG Layer 3 WAV files): the chunk walk, the decode that finds
// the length on opening, and the decode that delivers it. A refused file must end in
// EAuException; anything else (a crash, a sanitizer report, another exception, a
// delivery of another length than the one found on opening) is a finding.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/au_exception.h"
#include "pipeline/stream.h"
#include "wave/wave_in.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vornek::TMemoryStream source(std::vector<std::uint8_t>(data, data + size));
  vornek::TWaveIn wave;
  wave.SetStream(&source);
  try {
    wave.Open();
    std::vector<std::uint8_t> buffer(40000);
    std::int64_t total = 0;
    for (bool end = false; !end;) {
      const std::uint32_t got = wave.ReadFully(buffer.data(), static_cast<std::uint32_t>(buffer.size()), end);
      if (wave.FrameSize == 0 || got % wave.FrameSize != 0) __builtin_trap();  // whole frames
      total += got;
    }
    if (wave.WaveKind == vornek::TWaveKind::wkCompressed && total != wave.Size) __builtin_trap();
  } catch (const vornek::EAuException&) {
    // A refused file: Open reports the text.
  }
  wave.Close();
  wave.SetStream(nullptr);
  return 0;
}
