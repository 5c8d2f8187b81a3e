// SPDX-License-Identifier: BSD-3-Clause
#include "wave/mpeg_decoder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "base/au_exception.h"
#include "base/failures.h"
#include "base/bytes.h"

namespace vornek {

namespace {

using platform::AcmResult;

constexpr std::uint32_t kMinFmtBytes = 16;
/// Payload bytes read and handed to the codec at a time.
constexpr std::size_t kPieceBytes = 16 * 1024;
/// The least room offered for the PCM of one call, and the most a codec that takes
/// nothing is offered before it is given up on.
constexpr std::size_t kMinRoom = 64 * 1024;
constexpr std::size_t kMaxRoom = std::size_t{4} << 20;

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

}  // namespace

TMpegDecoder::TMpegDecoder(TStream& source, const TCompressedParts& parts)
    : source_(source), piece_(kPieceBytes) {
  using namespace platform;
  std::uint32_t max_format_size = 0;
  // A failing query leaves 0, which is harmless: both buffers are always used whole.
  acmMetrics(nullptr, kAcmMetricMaxSizeFormat, &max_format_size);
  if (max_format_size > kFormatBufferSize) Raise(TFailure::faMpegManagerFormats, {std::to_string(max_format_size)});

  const std::int64_t file_size = source.Size();
  if (parts.FormatSize > kFormatBufferSize) Raise(TFailure::faMpegFormatTooLong, {std::to_string(parts.FormatSize)});
  const auto stated = static_cast<std::size_t>(parts.FormatSize);
  source.SetPosition(parts.FormatAt);
  if (stated < kMinFmtBytes || parts.FormatAt > file_size - static_cast<std::int64_t>(stated) ||
      ReadStreamFully(source, source_format_.data(), stated) != stated)
    Raise(TFailure::faMpegFormatTooShort);
  // The codec reads as many extension bytes as the structure claims; never let it
  // claim more than the chunk supplied.
  if (stated >= 18) {
    const auto extension = static_cast<std::uint16_t>(stated - 18);
    if (Le16(source_format_.data() + 16) > extension) PutLe16(source_format_.data() + 16, extension);
  }
  // A payload cut short holds what is there.
  begin_ = parts.DataBegin;
  end_ = std::min(parts.DataEnd, file_size);
  if (end_ <= begin_) Raise(TFailure::faMpegNoData);

  format_words_ = FormatWords(source_format_.data());
  PutLe16(target_format_.data(), kWaveFormatPcm);
  const AcmResult suggested =
      acmFormatSuggest(nullptr, reinterpret_cast<WaveFormatEx*>(source_format_.data()),
                       reinterpret_cast<WaveFormatEx*>(target_format_.data()), kFormatBufferSize,
                       kAcmFormatSuggestWFormatTag);
  if (suggested != kMmSysErrNoError)
    Raise(TFailure::faMpegNoPcmFormat,
          {format_words_, suggested == kAcmErrNotPossible ? "no installed codec decodes MPEG Layer 3 data of that format"
                                                          : ResultWords(suggested)});
  std::memcpy(&pcm_format_, target_format_.data(), sizeof pcm_format_);
  // The reader delivers the PCM as stored PCM of whole bytes, a frame at a time.
  const std::uint32_t bits = pcm_format_.wBitsPerSample;
  if (pcm_format_.nChannels == 0 || pcm_format_.nSamplesPerSec == 0 || pcm_format_.nBlockAlign == 0 ||
      (bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
      pcm_format_.nBlockAlign != pcm_format_.nChannels * (bits / 8))
    Raise(TFailure::faMpegNoPcmFormat, {format_words_, "the format offered is not PCM of whole bytes"});
  frame_bytes_ = pcm_format_.nBlockAlign;
}

TMpegDecoder::~TMpegDecoder() { CloseStream(); }

void TMpegDecoder::CloseStream() {
  if (stream_ != nullptr) platform::acmStreamClose(stream_, 0);
  stream_ = nullptr;
}

void TMpegDecoder::Start() {
  using namespace platform;
  CloseStream();
  const AcmResult opened = acmStreamOpen(&stream_, nullptr, reinterpret_cast<WaveFormatEx*>(source_format_.data()),
                                         reinterpret_cast<WaveFormatEx*>(target_format_.data()), nullptr, 0, 0,
                                         kAcmStreamOpenNonRealtime);
  if (opened != kMmSysErrNoError) {
    stream_ = nullptr;
    Raise(TFailure::faMpegCannotOpen, {format_words_, ResultWords(opened)});
  }
  first_ = true;
  ended_ = false;
  next_ = begin_;
  source_ended_ = false;
  piece_left_ = 0;
  pcm_at_ = pcm_end_ = 0;
}

bool TMpegDecoder::Convert() {
  using namespace platform;
  if (ended_) return false;
  if (!source_ended_ && piece_left_ < piece_.size()) {
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(piece_.size() - piece_left_), end_ - next_));
    source_.SetPosition(next_);
    const std::size_t got = ReadStreamFully(source_, piece_.data() + piece_left_, want);
    piece_left_ += got;
    next_ += static_cast<std::int64_t>(got);
    source_ended_ = got < want || next_ >= end_;
  }

  // What is left of a part of a frame goes first; the codec writes after it, into as
  // much room as the manager says the piece needs.
  if (pcm_at_ > 0) {
    std::memmove(pcm_.data(), pcm_.data() + pcm_at_, pcm_end_ - pcm_at_);
    pcm_end_ -= pcm_at_;
    pcm_at_ = 0;
  }
  std::uint32_t needed = 0;
  if (piece_left_ == 0 ||
      acmStreamSize(stream_, static_cast<std::uint32_t>(piece_left_), &needed, kAcmStreamSizeSource) != kMmSysErrNoError)
    needed = 0;  // nothing to hold, or the manager cannot say: the codec fills what it is given
  std::size_t room = std::max<std::size_t>(needed, kMinRoom);
  const bool last = source_ended_;
  for (;;) {
    if (pcm_.size() < pcm_end_ + room) pcm_.resize(pcm_end_ + room);
    AcmStreamHeader header{};
    header.cbStruct = sizeof header;
    header.pbSrc = piece_.data();
    header.cbSrcLength = static_cast<std::uint32_t>(piece_left_);
    header.pbDst = pcm_.data() + pcm_end_;
    header.cbDstLength = static_cast<std::uint32_t>(room);
    AcmResult result = acmStreamPrepareHeader(stream_, &header, 0);
    if (result == kMmSysErrNoError) {
      result = acmStreamConvert(stream_, &header,
                                (first_ ? kAcmStreamConvertStart : 0u) |
                                    (last ? kAcmStreamConvertEnd : kAcmStreamConvertBlockAlign));
      const AcmResult unprepared = acmStreamUnprepareHeader(stream_, &header, 0);
      if (result == kMmSysErrNoError) result = unprepared;
    }
    if (result != kMmSysErrNoError) Raise(TFailure::faMpegConversion, {format_words_, ResultWords(result)});
    first_ = false;
    const std::size_t used = std::min<std::size_t>(header.cbSrcLengthUsed, piece_left_);
    const std::size_t produced = std::min<std::size_t>(header.cbDstLengthUsed, header.cbDstLength);
    pcm_end_ += produced;
    std::memmove(piece_.data(), piece_.data() + used, piece_left_ - used);
    piece_left_ -= used;
    if (used != 0 || produced != 0) return true;
    // Nothing moved: all of the stream is out, or what is left of the payload is less
    // than the codec converts (a part of a frame at its end), or the room was too
    // small for the codec.
    if (last) {
      ended_ = true;
      return false;
    }
    if (room >= kMaxRoom)
      Raise(TFailure::faMpegConversion, {format_words_, "the codec took none of the data it was given"});
    room = kMaxRoom;
  }
}

std::int64_t TMpegDecoder::Measure(const TStopCheck& stop) {
  Start();
  std::int64_t bytes = 0;
  for (;;) {
    if (stop && stop()) Raise(TFailure::faStopped);
    if (!Convert()) break;
    bytes += static_cast<std::int64_t>(pcm_end_ - pcm_at_);
    pcm_at_ = pcm_end_;
  }
  // Whole sample frames of what the codec made; a part of a frame at the end is not
  // delivered.
  bytes -= bytes % frame_bytes_;
  if (bytes == 0) Raise(TFailure::faMpegNoAudio);
  Start();
  return bytes;
}

std::uint32_t TMpegDecoder::Read(std::uint8_t* destination, std::uint32_t count) {
  if (stream_ == nullptr) return 0;  // never measured
  count -= count % frame_bytes_;
  std::uint32_t done = 0;
  while (done < count) {
    const std::size_t whole = (pcm_end_ - pcm_at_) / frame_bytes_ * frame_bytes_;
    if (whole == 0) {
      if (!Convert()) break;
      continue;
    }
    const std::size_t n = std::min<std::size_t>(whole, count - done);
    std::memcpy(destination + done, pcm_.data() + pcm_at_, n);
    pcm_at_ += n;
    done += static_cast<std::uint32_t>(n);
  }
  return done;
}

}  // namespace vornek
