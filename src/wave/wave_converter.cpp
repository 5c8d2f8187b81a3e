// SPDX-License-Identifier: BSD-3-Clause
#include "wave/wave_converter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "pipeline/au_exception.h"
#include "platform/acm.h"
#include "wave/bytes.h"
#include "wave/chunk_walker.h"
#include "pipeline/failures.h"
#include "wave/mpeg_frames.h"

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

/// What went wrong, in words; the number only for a code the manager does not document.
std::string ResultWords(AcmResult result) {
  const std::string words = platform::AcmResultText(result);
  if (!words.empty()) return words;
  return "the compression manager failed with result " + std::to_string(result);
}

/// "2 channels at 44100 Hz": the format a wave-format buffer states.
std::string FormatWords(const std::uint8_t* format) {
  const std::uint16_t channels = Le16(format + 2);
  return std::to_string(channels) + (channels == 1 ? " channel at " : " channels at ") +
         std::to_string(Le32(format + 4)) + " Hz";
}

/// "1.4 GB", "310 MB", "350 kB": a byte count for a failure text.
std::string SizeWords(std::int64_t bytes) {
  char text[32];
  if (bytes >= 1'000'000'000)
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
  else if (bytes >= 1'000'000)
    std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / 1e6);
  else
    std::snprintf(text, sizeof text, "%.0f kB", static_cast<double>(bytes) / 1e3);
  return text;
}

/// "2 hours 12 minutes of 44.1 kHz stereo": how long `bytes` of PCM last at the most
/// common rate.
std::string DurationWords(std::int64_t bytes) {
  const std::int64_t minutes = bytes / (44100 * 4) / 60;
  if (minutes < 60) return std::to_string(minutes) + " minutes of 44.1 kHz stereo";
  return std::to_string(minutes / 60) + (minutes < 120 ? " hour " : " hours ") + std::to_string(minutes % 60) +
         " minutes of 44.1 kHz stereo";
}

/// The refusal of an image past `ceiling`: foreseen at `bytes`, or found passing it.
[[noreturn]] void RaiseTooLarge(std::int64_t bytes, std::int64_t ceiling, bool foreseen) {
  Raise(TFailure::faMpegTooLarge, {(foreseen ? "about " : "more than ") + SizeWords(bytes),
                                          SizeWords(ceiling), DurationWords(ceiling)});
}

/// Prepares, converts and unprepares one header; raises the conversion failure.
void ConvertOnce(platform::AcmStreamHandle stream, platform::AcmStreamHeader& header, std::uint32_t flags,
                 const std::string& format) {
  using namespace platform;
  AcmResult result = acmStreamPrepareHeader(stream, &header, 0);
  if (result == kMmSysErrNoError) {
    HeaderUnpreparer unpreparer(stream, &header);
    result = acmStreamConvert(stream, &header, flags);
    const AcmResult unprepared = unpreparer.Unprepare();
    if (result == kMmSysErrNoError) result = unprepared;
  }
  if (result != kMmSysErrNoError) Raise(TFailure::faMpegConversion, {format, ResultWords(result)});
}

}  // namespace

TWaveConverter::TWaveConverter() {
  // A failing query leaves 0, which is harmless: both buffers are always used whole.
  platform::acmMetrics(nullptr, platform::kAcmMetricMaxSizeFormat, &max_format_size_);
  if (max_format_size_ > kFormatBufferSize)
    Raise(TFailure::faMpegManagerFormats, {std::to_string(max_format_size_)});
}

void TWaveConverter::LoadFromWave(TStream& source) {
  SetSize(0);
  SetPosition(0);
  std::uint8_t head[kRiffHeaderBytes];
  source.SetPosition(0);
  const std::size_t got = ReadStreamFully(source, head, sizeof head);
  if (got < 4 || !IdIs(head, "RIFF"))
    Raise(TFailure::faMpegNotRiff);
  if (got < sizeof head || !IdIs(head + 8, "WAVE"))
    Raise(TFailure::faMpegNotWave);

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
  if (!have_format) Raise(TFailure::faMpegNoFormat);
  Load(source, parts);
}

void TWaveConverter::LoadFormat(TStream& source, const TCompressedParts& parts) {
  const std::int64_t file_size = source.Size();
  if (parts.FormatSize > kFormatBufferSize)
    Raise(TFailure::faMpegFormatTooLong, {std::to_string(parts.FormatSize)});
  const auto stated = static_cast<std::size_t>(parts.FormatSize);
  FormatBuffer format{};
  source.SetPosition(parts.FormatAt);
  if (stated < kMinFmtBytes || parts.FormatAt > file_size - static_cast<std::int64_t>(stated) ||
      ReadStreamFully(source, format.data(), stated) != stated)
    Raise(TFailure::faMpegFormatTooShort);
  // The codec reads as many extension bytes as the structure claims; never let it
  // claim more than the chunk supplied.
  if (stated >= 18) {
    const auto extension = static_cast<std::uint16_t>(stated - 18);
    if (Le16(format.data() + 16) > extension) PutLe16(format.data() + 16, extension);
  }
  if (std::min(parts.DataEnd, file_size) <= parts.DataBegin) Raise(TFailure::faMpegNoData);
  source_format_ = format;
}

void TWaveConverter::Load(TStream& source, const TCompressedParts& parts) {
  SetSize(0);
  SetPosition(0);
  const FormatBuffer previous_format = source_format_;
  try {
    LoadFormat(source, parts);
    // A truncated payload holds what is there.
    const std::int64_t available = std::min(parts.DataEnd, source.Size()) - parts.DataBegin;
    SetSize(available);
    source.SetPosition(parts.DataBegin);
    SetSize(static_cast<std::int64_t>(ReadStreamFully(source, Memory(), static_cast<std::size_t>(available))));
    if (Size() == 0) Raise(TFailure::faMpegNoData);
    SetPosition(0);
  } catch (...) {
    SetSize(0);
    SetPosition(0);
    source_format_ = previous_format;
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

std::unique_ptr<TPcmImage> TWaveConverter::ConvertToImage(TStream& source, std::int64_t begin, std::int64_t end,
                                                           const TStopCheck& stop, std::int64_t max_pcm_bytes) {
  using namespace platform;
  auto* source_format = reinterpret_cast<WaveFormatEx*>(source_format_.data());
  auto* target_format = reinterpret_cast<WaveFormatEx*>(target_format_.data());
  const std::string format = FormatWords(source_format_.data());
  PutLe16(target_format_.data(), kWaveFormatPcm);
  const AcmResult suggested =
      acmFormatSuggest(nullptr, source_format, target_format, kFormatBufferSize, kAcmFormatSuggestWFormatTag);
  if (suggested != kMmSysErrNoError)
    Raise(TFailure::faMpegNoPcmFormat,
                   {format, suggested == kAcmErrNotPossible
                                ? "no installed codec decodes MPEG Layer 3 data of that format"
                                : ResultWords(suggested)});
  const std::uint16_t block_align = Le16(target_format_.data() + 12);
  if (block_align == 0) Raise(TFailure::faMpegNoPcmFormat, {format, "the format offered has no sample size"});

  // Foreseen from the frames, before anything is decoded. The foresight is an estimate
  // (a variable bit rate is sampled, not summed): only what it puts more than an eighth
  // past the ceiling is refused here, and the decode below holds to the ceiling exactly.
  const std::uint64_t samples = EstimateMpegLayer3Samples(source, begin, end, Le32(source_format_.data() + 4));
  const std::uint64_t most = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / block_align;
  const auto foreseen = static_cast<std::int64_t>(std::min(samples, most) * block_align);
  if (foreseen > max_pcm_bytes + max_pcm_bytes / 8) RaiseTooLarge(foreseen, max_pcm_bytes, true);

  AcmStreamHandle stream = nullptr;
  const AcmResult opened =
      acmStreamOpen(&stream, nullptr, source_format, target_format, nullptr, 0, 0, kAcmStreamOpenNonRealtime);
  if (opened != kMmSysErrNoError) Raise(TFailure::faMpegCannotOpen, {format, ResultWords(opened)});
  StreamCloser closer(stream);

  // Pieces of the source, read as the conversion takes them; what a call leaves unused
  // (a part of a block) goes first into the next one.
  constexpr std::size_t kPieceBytes = 16 * 1024;
  constexpr std::size_t kMinPieceBytes = 1024;
  // Room below this is not offered to the codec: a new block starts instead.
  constexpr std::size_t kMinRoom = 64 * 1024;
  std::vector<std::uint8_t> piece(kPieceBytes);
  std::size_t piece_left = 0;
  std::int64_t next = begin;
  bool source_ended = begin >= end;
  bool first = true;
  bool want_fresh_block = false;
  std::int64_t pcm = 0;

  auto image = std::make_unique<TPcmImage>();
  try {
    const std::uint8_t no_header[kImageHeaderBytes] = {};
    image->Write(no_header, sizeof no_header);  // filled in at the end

    for (;;) {
      if (stop && stop()) Raise(TFailure::faStopped);
      if (!source_ended && piece_left < kPieceBytes) {
        const auto want = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(kPieceBytes - piece_left), end - next));
        source.SetPosition(next);
        const std::size_t got = ReadStreamFully(source, piece.data() + piece_left, want);
        piece_left += got;
        next += static_cast<std::int64_t>(got);
        source_ended = got < want || next >= end;
      }

      // As much of the piece as the room holds by the manager's own measure.
      std::span<std::uint8_t> room = image->Room(want_fresh_block ? TPcmImage::kBlockBytes : kMinRoom);
      want_fresh_block = false;
      auto room_for = [&](std::size_t bytes) -> std::size_t {
        std::uint32_t needed = 0;
        if (bytes == 0 ||
            acmStreamSize(stream, static_cast<std::uint32_t>(bytes), &needed, kAcmStreamSizeSource) != kMmSysErrNoError)
          return 0;  // nothing to hold, or the manager cannot say: the codec fills what it is given
        return needed;
      };
      std::size_t give = piece_left;
      std::size_t needed = room_for(give);
      while (needed > room.size() && give > kMinPieceBytes) {
        give = std::max(give / 2, kMinPieceBytes);
        needed = room_for(give);
      }
      // A fresh block at most: a manager that asks for more than that for the smallest
      // piece overstates, and its codec keeps what does not fit for the next call.
      if (needed > room.size()) room = image->Room(std::min(needed, TPcmImage::kBlockBytes));
      const bool last = source_ended && give == piece_left;

      AcmStreamHeader header{};
      header.cbStruct = sizeof header;
      header.pbSrc = piece.data();
      header.cbSrcLength = static_cast<std::uint32_t>(give);
      header.pbDst = room.data();
      header.cbDstLength = static_cast<std::uint32_t>(room.size());
      const std::uint32_t flags =
          (first ? kAcmStreamConvertStart : 0u) | (last ? kAcmStreamConvertEnd : kAcmStreamConvertBlockAlign);
      ConvertOnce(stream, header, flags, format);
      first = false;
      const std::size_t used = std::min<std::size_t>(header.cbSrcLengthUsed, give);
      const std::size_t produced = std::min<std::size_t>(header.cbDstLengthUsed, header.cbDstLength);
      image->Commit(produced);
      pcm += static_cast<std::int64_t>(produced);
      if (pcm > max_pcm_bytes) RaiseTooLarge(max_pcm_bytes, max_pcm_bytes, false);
      std::memmove(piece.data(), piece.data() + used, piece_left - used);
      piece_left -= used;

      if (used == 0 && produced == 0) {
        // Nothing moved: all of the stream is out, or what is left of the source is
        // less than the codec converts (a part of a frame at the end), or the room was
        // too small for the codec.
        if (last) break;
        if (room.size() >= TPcmImage::kBlockBytes)
          Raise(TFailure::faMpegConversion, {format, "the codec took none of the data it was given"});
        want_fresh_block = true;
      }
    }
  } catch (const std::bad_alloc&) {
    Raise(TFailure::faMpegOutOfMemory, {SizeWords(pcm)});
  }
  const AcmResult closed = closer.Close();
  if (closed != kMmSysErrNoError) Raise(TFailure::faMpegConversion, {format, ResultWords(closed)});

  // The image holds whole sample frames of what the codec produced, in the format it
  // was asked for.
  pcm -= pcm % block_align;
  if (pcm == 0) Raise(TFailure::faMpegNoAudio);
  source_format_ = target_format_;
  std::uint8_t header[kImageHeaderBytes];
  std::memcpy(header, "RIFF", 4);
  PutLe32(header + 4, static_cast<std::uint32_t>(pcm + (pcm % 2) + kImageHeaderBytes - 8));
  std::memcpy(header + 8, "WAVEfmt ", 8);
  PutLe32(header + 16, 16);
  std::memcpy(header + 20, source_format_.data(), 16);
  std::memcpy(header + 36, "data", 4);
  PutLe32(header + 40, static_cast<std::uint32_t>(pcm));
  image->SetPosition(0);
  image->Write(header, sizeof header);
  if (pcm % 2 != 0) {
    const std::uint8_t pad = 0;  // RIFF keeps chunks at even offsets
    image->SetPosition(kImageHeaderBytes + pcm);
    image->Write(&pad, 1);
  }
  image->SetPosition(0);
  return image;
}

std::unique_ptr<TPcmImage> ConvertCompressedWave(TStream& source, const TStopCheck& stop) {
  TWaveConverter converter;
  converter.LoadFromWave(source);
  return converter.ConvertToImage(converter, 0, converter.Size(), stop);
}

std::unique_ptr<TPcmImage> ConvertCompressedWave(TStream& source, const TCompressedParts& parts,
                                                 const TStopCheck& stop) {
  TWaveConverter converter;
  converter.LoadFormat(source, parts);
  return converter.ConvertToImage(source, parts.DataBegin, std::min(parts.DataEnd, source.Size()), stop);
}

}  // namespace vornek
