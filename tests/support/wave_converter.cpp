// SPDX-License-Identifier: BSD-3-Clause
#include "support/wave_converter.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>

#include "base/au_exception.h"
#include "platform/acm.h"
#include "base/bytes.h"
#include "wave/chunk_walker.h"

namespace vornek::test {

namespace {

using platform::AcmResult;

constexpr std::int64_t kImageHeaderBytes = 44;

bool IdIs(const std::uint8_t* id, const char* text) { return std::memcmp(id, text, 4) == 0; }

std::int32_t AsResult(AcmResult result) { return static_cast<std::int32_t>(result); }

}  // namespace

TWaveConverter::TWaveConverter() {
  platform::acmMetrics(nullptr, platform::kAcmMetricMaxSizeFormat, &max_format_size_);
}

void TWaveConverter::LoadFromWave(TStream& source) {
  SetSize(0);
  SetPosition(0);
  std::uint8_t head[12];
  source.SetPosition(0);
  const std::size_t got = ReadStreamFully(source, head, sizeof head);
  if (got < sizeof head || !IdIs(head, "RIFF") || !IdIs(head + 8, "WAVE"))
    throw EAuException("not an upper-case RIFF/WAVE file");

  // The first "fmt " counts; the last "data" with content wins.
  std::optional<TChunk> format;
  std::optional<TPayload> data;
  TChunkWalker walker(source);
  while (const std::optional<TChunk> chunk = walker.Current()) {
    if (chunk->Is("fmt ") && !format) {
      format = chunk;
    } else if (chunk->Is("data")) {
      const TPayload payload = walker.Payload(*chunk);
      if (payload.End > payload.Begin) data = payload;
    }
    walker.Advance(*chunk, "data");
  }
  if (!format || format->Size > kFormatBufferSize) throw EAuException("no \"fmt \" chunk that fits");
  if (!data) throw EAuException("no \"data\" chunk with content");
  FormatBuffer body{};
  source.SetPosition(format->Body);
  ReadStreamFully(source, body.data(), static_cast<std::size_t>(format->Size));
  source_format_ = body;
  SetSize(data->End - data->Begin);
  source.SetPosition(data->Begin);
  SetSize(static_cast<std::int64_t>(ReadStreamFully(source, Memory(), static_cast<std::size_t>(Size()))));
  SetPosition(0);
}

std::int32_t TWaveConverter::ConvertToPcm() {
  using namespace platform;
  const std::int64_t held = Size();
  if (held > std::numeric_limits<std::uint32_t>::max()) return AsResult(kMmSysErrInvalParam);
  auto* source_format = reinterpret_cast<WaveFormatEx*>(source_format_.data());
  auto* target_format = reinterpret_cast<WaveFormatEx*>(target_format_.data());

  AcmStreamHandle stream = nullptr;
  AcmResult result = acmStreamOpen(&stream, nullptr, source_format, target_format, nullptr, 0, 0,
                                   kAcmStreamOpenNonRealtime);
  if (result != kMmSysErrNoError) return AsResult(result);
  const std::unique_ptr<AcmStream, void (*)(AcmStream*)> closer(stream, [](AcmStream* s) { acmStreamClose(s, 0); });

  std::uint32_t estimate = 0;
  result = acmStreamSize(stream, static_cast<std::uint32_t>(held), &estimate, kAcmStreamSizeSource);
  if (result != kMmSysErrNoError) return AsResult(result);
  const auto pcm = std::make_unique_for_overwrite<std::uint8_t[]>(std::max<std::uint32_t>(estimate, 1));

  AcmStreamHeader header{};
  header.cbStruct = sizeof(AcmStreamHeader);
  header.pbSrc = Memory();
  header.cbSrcLength = static_cast<std::uint32_t>(held);
  header.pbDst = pcm.get();
  header.cbDstLength = estimate;
  result = acmStreamPrepareHeader(stream, &header, 0);
  if (result != kMmSysErrNoError) return AsResult(result);
  result = acmStreamConvert(stream, &header, kAcmStreamConvertBlockAlign);
  const AcmResult unprepared = acmStreamUnprepareHeader(stream, &header, 0);
  if (result == kMmSysErrNoError) result = unprepared;
  if (result != kMmSysErrNoError) return AsResult(result);

  // The held PCM is what the codec produced, in whole sample frames.
  std::uint32_t produced = std::min(header.cbDstLengthUsed, estimate);
  const std::uint16_t block_align = Le16(target_format_.data() + 12);
  if (block_align > 0) produced -= produced % block_align;
  source_format_ = target_format_;
  SetSize(0);
  SetPosition(0);
  Write(pcm.get(), produced);
  SetPosition(0);
  return 0;
}

std::int32_t TWaveConverter::SaveAsWave(TStream& destination) {
  const std::int64_t saved_position = Position();
  std::int32_t result = 0;
  try {
    const std::int64_t length = Size();
    const std::int64_t pad = length % 2;  // RIFF keeps chunks at even offsets
    if (length + pad + kImageHeaderBytes - 8 > std::numeric_limits<std::uint32_t>::max()) {
      result = kWaveFileNotSaved;
    } else {
      std::uint8_t header[kImageHeaderBytes];
      std::memcpy(header, "RIFF", 4);
      PutLe32(header + 4, static_cast<std::uint32_t>(length + pad + kImageHeaderBytes - 8));
      std::memcpy(header + 8, "WAVEfmt ", 8);
      PutLe32(header + 16, 16);
      std::memcpy(header + 20, source_format_.data(), 16);
      std::memcpy(header + 36, "data", 4);
      PutLe32(header + 40, static_cast<std::uint32_t>(length));
      destination.Write(header, sizeof header);
      destination.Write(Memory(), static_cast<std::size_t>(length));
      if (pad != 0) {
        const std::uint8_t zero = 0;
        destination.Write(&zero, 1);
      }
    }
  } catch (...) {
    result = kWaveFileNotSaved;
  }
  SetPosition(saved_position);
  return result;
}

}  // namespace vornek::test
