#include "wave/wave_converter.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "pipeline/au_exception.h"
#include "platform/acm.h"
#include "wave/bytes.h"
#include "wave/chunk_walker.h"

namespace vornek {

namespace {

using platform::AcmResult;

constexpr std::size_t kRiffHeaderBytes = 12;
constexpr std::uint32_t kMinFmtBytes = 16;
constexpr std::int64_t kImageHeaderBytes = 44;

bool IdIs(const std::uint8_t* id, const char* text) { return std::memcmp(id, text, 4) == 0; }

/// Closes a conversion stream on every path out of ConvertToPcm.
class StreamCloser {
 public:
  explicit StreamCloser(platform::AcmStreamHandle stream) : stream_(stream) {}
  ~StreamCloser() {
    if (stream_ != nullptr) platform::acmStreamClose(stream_, 0);
  }
  StreamCloser(const StreamCloser&) = delete;
  StreamCloser& operator=(const StreamCloser&) = delete;
  /// Closes now and reports the result.
  AcmResult Close() {
    const AcmResult result = platform::acmStreamClose(stream_, 0);
    stream_ = nullptr;
    return result;
  }

 private:
  platform::AcmStreamHandle stream_;
};

/// Unprepares a prepared header on every path out of ConvertToPcm.
class HeaderUnpreparer {
 public:
  HeaderUnpreparer(platform::AcmStreamHandle stream, platform::AcmStreamHeader* header)
      : stream_(stream), header_(header) {}
  ~HeaderUnpreparer() {
    if (header_ != nullptr) platform::acmStreamUnprepareHeader(stream_, header_, 0);
  }
  HeaderUnpreparer(const HeaderUnpreparer&) = delete;
  HeaderUnpreparer& operator=(const HeaderUnpreparer&) = delete;
  /// Unprepares now and reports the result.
  AcmResult Unprepare() {
    const AcmResult result = platform::acmStreamUnprepareHeader(stream_, header_, 0);
    header_ = nullptr;
    return result;
  }

 private:
  platform::AcmStreamHandle stream_;
  platform::AcmStreamHeader* header_;
};

std::int32_t AsResult(AcmResult result) { return static_cast<std::int32_t>(result); }

std::string ManagerError(AcmResult result) {
  return "compression manager error " + std::to_string(result) + ": " + platform::AcmResultText(result);
}

}  // namespace

TWaveConverter::TWaveConverter() {
  // A failing query leaves 0, which is harmless: both buffers are always used whole.
  platform::acmMetrics(nullptr, platform::kAcmMetricMaxSizeFormat, &max_format_size_);
  if (max_format_size_ > kFormatBufferSize)
    throw EAuException("The audio compression manager uses formats of up to " + std::to_string(max_format_size_) +
                       " bytes, more than the " + std::to_string(kFormatBufferSize) +
                       " bytes this reader can hold; the MPEG Layer 3 data cannot be converted.");
}

void TWaveConverter::LoadFromWave(TStream& source) {
  SetSize(0);
  SetPosition(0);
  std::uint8_t head[kRiffHeaderBytes];
  source.SetPosition(0);
  const std::size_t got = ReadStreamFully(source, head, sizeof head);
  if (got < 4 || !IdIs(head, "RIFF"))
    throw EAuException("The file does not start with an upper-case \"RIFF\" header; its MPEG Layer 3 data cannot be converted.");
  if (got < sizeof head || !IdIs(head + 8, "WAVE"))
    throw EAuException("The file is not an upper-case \"WAVE\" file; its MPEG Layer 3 data cannot be converted.");

  // Only the first "fmt " counts, as for the header reader that chose this path; the
  // last "data" with content wins.
  TCompressedParts parts;
  bool have_format = false;
  TChunkWalker walker(source);
  while (const std::optional<TChunk> chunk = walker.Current()) {
    if (chunk->Is("fmt ") && !have_format) {
      parts.FormatAt = chunk->Body;
      parts.FormatSize = chunk->Size;
      have_format = true;
    } else if (chunk->Is("data")) {
      const TPayload payload = walker.Payload(*chunk);
      if (payload.End > payload.Begin) {
        parts.DataBegin = payload.Begin;
        parts.DataEnd = payload.End;
      }
    }
    walker.Advance(*chunk, "data");
  }
  if (!have_format) throw EAuException("The MPEG Layer 3 file has no \"fmt \" chunk.");
  Load(source, parts);
}

void TWaveConverter::Load(TStream& source, const TCompressedParts& parts) {
  SetSize(0);
  SetPosition(0);
  try {
    const std::int64_t file_size = source.Size();
    if (parts.FormatSize > kFormatBufferSize)
      throw EAuException("The \"fmt \" chunk of the MPEG Layer 3 file is " + std::to_string(parts.FormatSize) +
                         " bytes long; at most " + std::to_string(kFormatBufferSize) + " bytes are supported.");
    const auto stated = static_cast<std::size_t>(parts.FormatSize);
    FormatBuffer format{};
    source.SetPosition(parts.FormatAt);
    if (stated < kMinFmtBytes || parts.FormatAt > file_size - static_cast<std::int64_t>(stated) ||
        ReadStreamFully(source, format.data(), stated) != stated)
      throw EAuException("The \"fmt \" chunk of the MPEG Layer 3 file is too short.");
    // The codec reads as many extension bytes as the structure claims; never let it
    // claim more than the chunk supplied.
    if (stated >= 18) {
      const auto extension = static_cast<std::uint16_t>(stated - 18);
      if (Le16(format.data() + 16) > extension) PutLe16(format.data() + 16, extension);
    }

    const std::int64_t available = std::min(parts.DataEnd, file_size) - parts.DataBegin;
    if (available > 0) {
      // A truncated payload holds what is there.
      SetSize(available);
      source.SetPosition(parts.DataBegin);
      SetSize(static_cast<std::int64_t>(ReadStreamFully(source, Memory(), static_cast<std::size_t>(available))));
    }
    if (Size() == 0) throw EAuException("The MPEG Layer 3 file has no \"data\" chunk with content.");
    source_format_ = format;
    SetPosition(0);
  } catch (...) {
    SetSize(0);
    SetPosition(0);
    throw;
  }
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
  StreamCloser closer(stream);

  std::uint32_t estimate = 0;
  result = acmStreamSize(stream, static_cast<std::uint32_t>(held), &estimate, kAcmStreamSizeSource);
  if (result != kMmSysErrNoError) return AsResult(result);

  // Only the bytes the codec reports as produced are ever read back, so the
  // buffer needs no zero fill (which would commit the whole estimate).
  std::unique_ptr<std::uint8_t[]> pcm;
  try {
    pcm = std::make_unique_for_overwrite<std::uint8_t[]>(std::max<std::uint32_t>(estimate, 1));
  } catch (const std::bad_alloc&) {
    return AsResult(kMmSysErrNoMem);
  }

  AcmStreamHeader header{};
  header.cbStruct = sizeof(AcmStreamHeader);
  header.pbSrc = Memory();
  header.cbSrcLength = static_cast<std::uint32_t>(held);
  header.pbDst = pcm.get();
  header.cbDstLength = estimate;
  result = acmStreamPrepareHeader(stream, &header, 0);
  if (result != kMmSysErrNoError) return AsResult(result);
  HeaderUnpreparer unpreparer(stream, &header);
  result = acmStreamConvert(stream, &header, kAcmStreamConvertBlockAlign);
  if (result != kMmSysErrNoError) return AsResult(result);
  std::uint32_t produced = std::min(header.cbDstLengthUsed, estimate);
  result = unpreparer.Unprepare();
  if (result != kMmSysErrNoError) return AsResult(result);
  result = closer.Close();
  if (result != kMmSysErrNoError) return AsResult(result);

  // The held PCM is what the codec produced, in whole sample frames; the
  // estimate's unused remainder is not audio.
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

namespace {

/// The rest of the conversion once `converter` holds the compressed data.
std::unique_ptr<TMemoryStream> ConvertLoaded(TWaveConverter& converter) {
  using namespace platform;
  auto* source_format = reinterpret_cast<WaveFormatEx*>(converter.SourceFormat().data());
  auto* target_format = reinterpret_cast<WaveFormatEx*>(converter.TargetFormat().data());
  PutLe16(converter.TargetFormat().data(), kWaveFormatPcm);
  const AcmResult suggested = acmFormatSuggest(nullptr, source_format, target_format,
                                               TWaveConverter::kFormatBufferSize, kAcmFormatSuggestWFormatTag);
  if (suggested != kMmSysErrNoError)
    throw EAuException("No PCM format is offered for the MPEG Layer 3 data of this file (" +
                       ManagerError(suggested) + ").");

  const std::int32_t converted = converter.ConvertToPcm();
  if (converted != 0)
    throw EAuException("The MPEG Layer 3 data could not be converted to PCM (" +
                       ManagerError(static_cast<AcmResult>(converted)) + ").");
  if (converter.Size() == 0) throw EAuException("The MPEG Layer 3 data holds no audio that could be decoded.");

  auto image = std::make_unique<TMemoryStream>();
  if (converter.SaveAsWave(*image) != 0)
    throw EAuException("The PCM image of the converted MPEG Layer 3 data could not be written (" +
                       std::to_string(converter.Size()) + " bytes of PCM).");
  image->SetPosition(0);
  return image;
}

}  // namespace

std::unique_ptr<TMemoryStream> ConvertCompressedWave(TStream& source) {
  TWaveConverter converter;
  converter.LoadFromWave(source);
  return ConvertLoaded(converter);
}

std::unique_ptr<TMemoryStream> ConvertCompressedWave(TStream& source, const TCompressedParts& parts) {
  TWaveConverter converter;
  converter.Load(source, parts);
  return ConvertLoaded(converter);
}

}  // namespace vornek
