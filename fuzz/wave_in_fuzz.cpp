// Fuzz target: an arbitrary file through the WAV reader, from memory: header, open,
// delivery and a seek. A refused file must end in EAuException; anything else (a
// crash, a sanitizer report, another exception, a delivery that breaks the reader's
// promises) is a finding.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pipeline/au_exception.h"
#include "pipeline/stream.h"
#include "wave/wave_in.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vornek::TMemoryStream source(std::vector<std::uint8_t>(data, data + size));
  vornek::TWaveIn wave;
  wave.SetStream(&source);
  try {
    wave.Open();
    const std::uint32_t frame = wave.FrameSize;
    std::vector<std::uint8_t> block(4608u * frame);
    std::int64_t total = 0;
    for (bool end = false; !end;) {
      const std::uint32_t got = wave.ReadFully(block.data(), static_cast<std::uint32_t>(block.size()), end);
      // Whole frames only, never past the end of the stream's data.
      if (got % frame != 0) __builtin_trap();
      total += got;
    }
    if (wave.Size > 0 && total > wave.Size) __builtin_trap();
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
