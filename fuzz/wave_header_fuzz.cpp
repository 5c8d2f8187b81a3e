// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target: an arbitrary file through the header reader alone, from memory. A
// refused header must end in EAuException; a header that is taken must describe
// something the delivery can rely on: a known kind, channels and a rate, a payload
// inside the stream, and the stream left on the payload's first byte.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/au_exception.h"
#include "pipeline/stream.h"
#include "wave/wave_in.h"

namespace {

class HeaderReader : public vornek::TWaveIn {
 public:
  using TWaveIn::ReadHeader;
  ~HeaderReader() override { SetStream(nullptr); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vornek::TWaveKind;
  vornek::TMemoryStream source(std::vector<std::uint8_t>(data, data + size));
  HeaderReader reader;
  reader.SetStream(&source);
  try {
    reader.ReadHeader();
  } catch (const vornek::EAuException&) {
    return 0;  // a refused header: the text is the reader's
  }
  const auto end = static_cast<std::int64_t>(size);
  if (reader.WaveKind == TWaveKind::wkUnsupported) __builtin_trap();
  if (reader.Channels <= 0 || reader.SampleRate <= 0) __builtin_trap();
  if (reader.DataOffset > reader.DataEnd || reader.DataEnd > end) __builtin_trap();
  if (source.Position() != reader.DataOffset) __builtin_trap();
  if (reader.Size != 0 && reader.Size != reader.DataEnd - reader.DataOffset) __builtin_trap();
  return 0;
}
