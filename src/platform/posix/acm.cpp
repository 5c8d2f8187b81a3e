// SPDX-License-Identifier: BSD-3-Clause
// The compression manager on POSIX: one codec, MPEG Layer 3 to 16-bit PCM,
// decoded by libmpg123. The calls keep the manager's argument checks, result codes
// and streaming (a decoder per stream, kept from call to call) so that the converter
// above them is the same code as on Windows.
#include "platform/acm.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

namespace vornek::platform {

namespace {

/// What one MPEG audio version allows at a given sampling rate.
struct MpegRate {
  std::uint32_t rate;
  std::uint32_t samples_per_frame;
  /// The smallest frame a standard bit rate gives at this rate (unpadded, rounded
  /// down): MPEG-1 frames are 144 * bitrate / rate bytes with 32 kbit/s at least,
  /// MPEG-2 and 2.5 frames are 72 * bitrate / rate bytes with 8 kbit/s at least.
  std::uint32_t min_frame_bytes;
};

constexpr MpegRate kMpegRates[] = {
    {32000, 1152, 144}, {44100, 1152, 104}, {48000, 1152, 96},  // MPEG-1
    {16000, 576, 36},   {22050, 576, 26},   {24000, 576, 24},   // MPEG-2
    {8000, 576, 72},    {11025, 576, 52},   {12000, 576, 48},   // MPEG-2.5
};

/// The largest Layer 3 frame of any version: 320 kbit/s at 32 kHz, padded.
constexpr std::uint32_t kMaxFrameBytes = 1441;

/// Size of the MPEG Layer 3 wave format: the base plus its 12 extension bytes.
/// It is the largest format this manager knows.
constexpr std::uint32_t kMpegLayer3FormatBytes = sizeof(WaveFormatEx) + 12;

/// Source bytes handed to the decoder at a time, so that its own copy stays small.
constexpr std::size_t kFeedPiece = 64 * 1024;

/// Frames of another rate or channel count than the stream's, in a row, that are taken
/// for a change of the stream's format (refused: its PCM would match no one format)
/// rather than for junk between frames that happened to look like a frame header
/// (dropped). Junk makes one or two such frames at a time; a real change makes as many
/// as it lasts.
constexpr std::uint32_t kForeignFramesForAChange = 8;

const MpegRate* FindRate(std::uint32_t rate) {
  for (const MpegRate& entry : kMpegRates)
    if (entry.rate == rate) return &entry;
  return nullptr;
}

/// Reads the 18-byte base of a caller's format without assuming its alignment.
WaveFormatEx LoadFormat(const WaveFormatEx* format) {
  WaveFormatEx copy;
  std::memcpy(&copy, format, sizeof copy);
  return copy;
}

bool IsDecodableSource(const WaveFormatEx& source) {
  return source.wFormatTag == kWaveFormatMpegLayer3 && (source.nChannels == 1 || source.nChannels == 2) &&
         FindRate(source.nSamplesPerSec) != nullptr;
}

/// The one PCM format an MPEG Layer 3 source converts to: 16-bit, same channels and rate.
WaveFormatEx PcmFormatFor(const WaveFormatEx& source) {
  WaveFormatEx pcm{};
  pcm.wFormatTag = kWaveFormatPcm;
  pcm.nChannels = source.nChannels;
  pcm.nSamplesPerSec = source.nSamplesPerSec;
  pcm.wBitsPerSample = 16;
  pcm.nBlockAlign = static_cast<std::uint16_t>(source.nChannels * 2);
  pcm.nAvgBytesPerSec = source.nSamplesPerSec * pcm.nBlockAlign;
  pcm.cbSize = 0;
  return pcm;
}

bool IsPcmFormatFor(const WaveFormatEx& target, const WaveFormatEx& source) {
  const WaveFormatEx pcm = PcmFormatFor(source);
  return target.wFormatTag == pcm.wFormatTag && target.nChannels == pcm.nChannels &&
         target.nSamplesPerSec == pcm.nSamplesPerSec && target.wBitsPerSample == pcm.wBitsPerSample &&
         target.nBlockAlign == pcm.nBlockAlign && target.nAvgBytesPerSec == pcm.nAvgBytesPerSec;
}

/// The buffers a header had when it was prepared; a conversion must use the same ones.
struct PreparedHeader {
  const AcmStreamHeader* header;
  std::uint8_t* source;
  std::uint32_t source_length;
  std::uint8_t* destination;
  std::uint32_t destination_length;
};

struct Mpg123Deleter {
  void operator()(mpg123_handle* handle) const { mpg123_delete(handle); }
};
using Mpg123Handle = std::unique_ptr<mpg123_handle, Mpg123Deleter>;

/// The MPEG Layer 3 decoder of one stream, kept from one conversion call to the next
/// as a codec keeps its instance data: libmpg123 holds the source bytes fed to it that
/// do not make a whole frame yet, and `pending_` the decoded PCM that did not fit the
/// last destination.
class Layer3Decoder {
 public:
  explicit Layer3Decoder(const WaveFormatEx& source)
      : rate_(static_cast<long>(source.nSamplesPerSec)),
        channels_(source.nChannels),
        block_(static_cast<std::uint32_t>(source.nChannels) * 2u) {}

  /// Begins the stream afresh; must have succeeded before Convert.
  AcmResult Start();
  /// Decodes what fits `destination`: first what is pending, then frames from what was
  /// fed before and from `source`, which is fed as the decoder runs dry. Every frame
  /// of the stream's rate and channels is delivered whole, in order; `used` and
  /// `produced` tell the bytes taken and written.
  AcmResult Convert(const std::uint8_t* source, std::uint32_t source_length, std::uint8_t* destination,
                    std::uint32_t destination_length, std::uint32_t& used, std::uint32_t& produced);

 private:
  Mpg123Handle handle_;
  std::vector<std::uint8_t> pending_;
  std::size_t pending_at_ = 0;
  std::uint32_t foreign_run_ = 0;  ///< frames of another format in a row
  bool output_matches_ = false;    ///< the decoder's output format is the stream's
  long rate_;
  int channels_;
  std::uint32_t block_;  ///< bytes of one PCM sample frame
};

AcmResult Layer3Decoder::Start() {
  static std::once_flag library_ready;
  std::call_once(library_ready, [] { mpg123_init(); });

  handle_.reset();
  pending_.clear();
  pending_at_ = 0;
  foreign_run_ = 0;
  output_matches_ = false;
  int error = MPG123_OK;
  Mpg123Handle decoder(mpg123_new(nullptr, &error));
  if (!decoder) return kMmSysErrNoMem;
  mpg123_handle* mh = decoder.get();
  // No messages on the standard streams, and never a resampled output: the output
  // rate must be the stream's own rate. Junk between frames is searched through to
  // the next frame however long it is, as a player does, not given up on.
  if (mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0) != MPG123_OK ||
      mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_AUTO_RESAMPLE, 0) != MPG123_OK ||
      mpg123_param(mh, MPG123_RESYNC_LIMIT, -1, 0) != MPG123_OK || mpg123_format_none(mh) != MPG123_OK)
    return kMmSysErrError;
  const long* rates = nullptr;
  std::size_t rate_count = 0;
  mpg123_rates(&rates, &rate_count);
  for (std::size_t i = 0; i < rate_count; ++i)
    mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open_feed(mh) != MPG123_OK) return kMmSysErrError;
  handle_ = std::move(decoder);
  return kMmSysErrNoError;
}

AcmResult Layer3Decoder::Convert(const std::uint8_t* source, std::uint32_t source_length,
                                 std::uint8_t* destination, std::uint32_t destination_length, std::uint32_t& used,
                                 std::uint32_t& produced) {
  used = 0;
  produced = 0;
  if (!handle_) return kMmSysErrError;  // never started
  // Whole sample frames only, as a block-aligned codec writes them.
  const std::uint32_t room = destination_length - destination_length % block_;
  auto deliver = [&](const std::uint8_t* pcm, std::size_t bytes) {
    const std::size_t n = std::min<std::size_t>(bytes, room - produced);
    if (n > 0) std::memcpy(destination + produced, pcm, n);
    produced += static_cast<std::uint32_t>(n);
    return n;
  };

  if (pending_at_ < pending_.size()) {
    pending_at_ += deliver(pending_.data() + pending_at_, pending_.size() - pending_at_);
    if (pending_at_ < pending_.size()) return kMmSysErrNoError;  // the destination is full
    pending_.clear();
    pending_at_ = 0;
  }
  mpg123_handle* mh = handle_.get();
  while (produced < room) {
    off_t frame_number = 0;
    unsigned char* audio = nullptr;
    std::size_t bytes = 0;
    const int result = mpg123_decode_frame(mh, &frame_number, &audio, &bytes);
    if (result == MPG123_NEW_FORMAT) {
      long rate = 0;
      int channels = 0;
      int encoding = 0;
      if (mpg123_getformat(mh, &rate, &channels, &encoding) != MPG123_OK) return kMmSysErrError;
      output_matches_ = rate == rate_ && channels == channels_ && encoding == MPG123_ENC_SIGNED_16;
      continue;
    }
    if (result == MPG123_OK) {
      mpg123_frameinfo info{};
      if (mpg123_info(mh, &info) != MPG123_OK) return kMmSysErrError;
      const int frame_channels = info.mode == MPG123_M_MONO ? 1 : 2;
      if (info.rate != rate_ || frame_channels != channels_ || !output_matches_) {
        // A frame of another format: junk that looked like a frame, unless it goes on.
        if (++foreign_run_ >= kForeignFramesForAChange) return kAcmErrNotPossible;
        continue;
      }
      foreign_run_ = 0;
      const std::size_t taken = deliver(audio, bytes);
      if (taken < bytes) {
        pending_.assign(audio + taken, audio + bytes);
        pending_at_ = 0;
        return kMmSysErrNoError;
      }
      continue;
    }
    if (result == MPG123_NEED_MORE) {
      if (used >= source_length) return kMmSysErrNoError;  // everything given is in
      const std::size_t piece = std::min<std::size_t>(kFeedPiece, source_length - used);
      if (mpg123_feed(mh, source + used, piece) != MPG123_OK) return kMmSysErrNoMem;
      used += static_cast<std::uint32_t>(piece);
      continue;
    }
    if (result == MPG123_DONE) return kMmSysErrNoError;
    return kMmSysErrError;  // the decoder gave up on the data
  }
  return kMmSysErrNoError;
}

}  // namespace

/// One open conversion stream. Owned by the registry below from acmStreamOpen to acmStreamClose.
struct AcmStream {
  WaveFormatEx source;
  WaveFormatEx target;
  std::vector<PreparedHeader> prepared;
  std::unique_ptr<Layer3Decoder> decoder;
};

namespace {

/// Open streams by handle, so that a stale or foreign handle is answered with
/// MMSYSERR_INVALHANDLE instead of being dereferenced.
class StreamRegistry {
 public:
  AcmStreamHandle Add(std::unique_ptr<AcmStream> stream) {
    std::lock_guard lock(mutex_);
    AcmStream* handle = stream.get();
    streams_.emplace(handle, std::move(stream));
    return handle;
  }
  AcmStream* Find(AcmStreamHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = streams_.find(handle);
    return it == streams_.end() ? nullptr : it->second.get();
  }
  bool Remove(AcmStreamHandle handle) {
    std::unique_ptr<AcmStream> doomed;  // destroyed outside the lock
    std::lock_guard lock(mutex_);
    auto it = streams_.find(handle);
    if (it == streams_.end()) return false;
    doomed = std::move(it->second);
    streams_.erase(it);
    return true;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<AcmStream*, std::unique_ptr<AcmStream>> streams_;
};

StreamRegistry& Registry() {
  static StreamRegistry registry;
  return registry;
}

/// The destination length for `input_bytes` of source: room for as many frames as
/// the smallest standard frame allows, plus one, in whole sample frames and capped to
/// what a 32-bit length can state. No stream of standard frames decodes to more; what
/// a stream of smaller (free-format) frames makes beyond it waits in the decoder for
/// the next call.
std::uint64_t DestinationFor(const AcmStream& stream, std::uint32_t input_bytes) {
  if (input_bytes == 0) return 0;
  const MpegRate& rate = *FindRate(stream.source.nSamplesPerSec);
  const std::uint64_t block = stream.target.nBlockAlign;
  const std::uint64_t frame_pcm_bytes = std::uint64_t{rate.samples_per_frame} * block;
  const std::uint64_t cap = (std::uint64_t{0xFFFFFFFF} / block) * block;
  const std::uint64_t frames = input_bytes / rate.min_frame_bytes + 1;
  return std::min(frames * frame_pcm_bytes, cap);
}

bool SameBuffers(const PreparedHeader& record, const AcmStreamHeader& header) {
  return record.source == header.pbSrc && record.destination == header.pbDst &&
         header.cbSrcLength <= record.source_length && header.cbDstLength <= record.destination_length;
}

}  // namespace

AcmResult acmMetrics(AcmObjectHandle object, std::uint32_t metric_index, void* metric) {
  if (object != nullptr) return kMmSysErrInvalHandle;
  if (metric == nullptr) return kMmSysErrInvalParam;
  if (metric_index != kAcmMetricMaxSizeFormat) return kMmSysErrNotSupported;
  const std::uint32_t value = kMpegLayer3FormatBytes;
  std::memcpy(metric, &value, sizeof value);
  return kMmSysErrNoError;
}

AcmResult acmFormatSuggest(AcmDriverHandle driver, WaveFormatEx* source, WaveFormatEx* destination,
                           std::uint32_t destination_bytes, std::uint32_t flags) {
  constexpr std::uint32_t kKnownFlags = kAcmFormatSuggestWFormatTag | kAcmFormatSuggestNChannels |
                                        kAcmFormatSuggestNSamplesPerSec | kAcmFormatSuggestWBitsPerSample;
  if (driver != nullptr) return kMmSysErrInvalHandle;
  if (source == nullptr || destination == nullptr) return kMmSysErrInvalParam;
  if ((flags & ~kKnownFlags) != 0) return kMmSysErrInvalFlag;
  if (destination_bytes < 16) return kMmSysErrInvalParam;  // not even the PCM fields fit
  const WaveFormatEx input = LoadFormat(source);
  if (!IsDecodableSource(input)) return kAcmErrNotPossible;

  // The fields the caller fixed must agree with the one format this codec offers.
  const WaveFormatEx pcm = PcmFormatFor(input);
  WaveFormatEx wanted{};
  std::memcpy(&wanted, destination, 16);
  if ((flags & kAcmFormatSuggestWFormatTag) && wanted.wFormatTag != pcm.wFormatTag) return kAcmErrNotPossible;
  if ((flags & kAcmFormatSuggestNChannels) && wanted.nChannels != pcm.nChannels) return kAcmErrNotPossible;
  if ((flags & kAcmFormatSuggestNSamplesPerSec) && wanted.nSamplesPerSec != pcm.nSamplesPerSec)
    return kAcmErrNotPossible;
  if ((flags & kAcmFormatSuggestWBitsPerSample) && wanted.wBitsPerSample != pcm.wBitsPerSample)
    return kAcmErrNotPossible;

  std::memcpy(destination, &pcm, std::min<std::size_t>(destination_bytes, sizeof pcm));
  return kMmSysErrNoError;
}

AcmResult acmStreamOpen(AcmStreamHandle* stream, AcmDriverHandle driver, WaveFormatEx* source,
                        WaveFormatEx* destination, WaveFilter* filter, std::uintptr_t callback,
                        std::uintptr_t instance, std::uint32_t flags) {
  (void)instance;  // only meaningful with a callback, which this manager never makes
  constexpr std::uint32_t kKnownFlags = kAcmStreamOpenQuery | kAcmStreamOpenAsync | kAcmStreamOpenNonRealtime;
  if ((flags & ~kKnownFlags) != 0) return kMmSysErrInvalFlag;
  const bool query = (flags & kAcmStreamOpenQuery) != 0;
  if (stream != nullptr) *stream = nullptr;
  if (!query && stream == nullptr) return kMmSysErrInvalParam;
  if (driver != nullptr) return kMmSysErrInvalHandle;
  if (source == nullptr || destination == nullptr) return kMmSysErrInvalParam;
  // Conversions are synchronous, and filters (same-format processing) are not offered.
  if ((flags & kAcmStreamOpenAsync) != 0 || callback != 0 || filter != nullptr) return kAcmErrNotPossible;

  auto opened = std::make_unique<AcmStream>();
  opened->source = LoadFormat(source);
  opened->target = LoadFormat(destination);
  if (!IsDecodableSource(opened->source) || !IsPcmFormatFor(opened->target, opened->source))
    return kAcmErrNotPossible;
  if (query) return kMmSysErrNoError;
  *stream = Registry().Add(std::move(opened));
  return kMmSysErrNoError;
}

AcmResult acmStreamSize(AcmStreamHandle stream, std::uint32_t input_bytes, std::uint32_t* output_bytes,
                        std::uint32_t flags) {
  AcmStream* open = Registry().Find(stream);
  if (open == nullptr) return kMmSysErrInvalHandle;
  if (output_bytes == nullptr) return kMmSysErrInvalParam;
  if ((flags & ~kAcmStreamSizeDestination) != 0) return kMmSysErrInvalFlag;

  std::uint64_t answer = 0;
  if ((flags & kAcmStreamSizeDestination) == 0) {
    answer = DestinationFor(*open, input_bytes);
  } else if (input_bytes > 0) {
    const MpegRate& rate = *FindRate(open->source.nSamplesPerSec);
    const std::uint64_t frame_pcm_bytes = std::uint64_t{rate.samples_per_frame} * open->target.nBlockAlign;
    const std::uint64_t frames = (input_bytes + frame_pcm_bytes - 1) / frame_pcm_bytes;
    answer = std::min<std::uint64_t>(frames * kMaxFrameBytes, 0xFFFFFFFF);
  }
  *output_bytes = static_cast<std::uint32_t>(answer);
  return kMmSysErrNoError;
}

AcmResult acmStreamPrepareHeader(AcmStreamHandle stream, AcmStreamHeader* header, std::uint32_t flags) {
  AcmStream* open = Registry().Find(stream);
  if (open == nullptr) return kMmSysErrInvalHandle;
  if (header == nullptr || header->cbStruct < sizeof(AcmStreamHeader)) return kMmSysErrInvalParam;
  if (flags != 0) return kMmSysErrInvalFlag;
  if ((header->pbSrc == nullptr && header->cbSrcLength > 0) ||
      (header->pbDst == nullptr && header->cbDstLength > 0))
    return kMmSysErrInvalParam;
  const auto known = std::find_if(open->prepared.begin(), open->prepared.end(),
                                  [header](const PreparedHeader& p) { return p.header == header; });
  if (known != open->prepared.end()) return kMmSysErrNoError;  // already prepared: nothing to do
  open->prepared.push_back({header, header->pbSrc, header->cbSrcLength, header->pbDst, header->cbDstLength});
  header->fdwStatus = kAcmStreamHeaderStatusPrepared;
  return kMmSysErrNoError;
}

AcmResult acmStreamConvert(AcmStreamHandle stream, AcmStreamHeader* header, std::uint32_t flags) {
  AcmStream* open = Registry().Find(stream);
  if (open == nullptr) return kMmSysErrInvalHandle;
  if (header == nullptr || header->cbStruct < sizeof(AcmStreamHeader)) return kMmSysErrInvalParam;
  constexpr std::uint32_t kKnownFlags = kAcmStreamConvertBlockAlign | kAcmStreamConvertStart |
                                        kAcmStreamConvertEnd;
  if ((flags & ~kKnownFlags) != 0) return kMmSysErrInvalFlag;
  const auto record = std::find_if(open->prepared.begin(), open->prepared.end(),
                                   [header](const PreparedHeader& p) { return p.header == header; });
  if (record == open->prepared.end() || (header->fdwStatus & kAcmStreamHeaderStatusPrepared) == 0)
    return kAcmErrUnprepared;
  if (!SameBuffers(*record, *header)) return kMmSysErrInvalParam;

  header->fdwStatus &= ~kAcmStreamHeaderStatusDone;
  header->cbSrcLengthUsed = 0;
  header->cbDstLengthUsed = 0;
  // A destination smaller than the size this manager states for the source is refused
  // before anything is taken, as a codec refuses a conversion it cannot hold.
  if (header->cbDstLength < DestinationFor(*open, header->cbSrcLength)) return kAcmErrNotPossible;
  if (!open->decoder || (flags & kAcmStreamConvertStart) != 0) {
    open->decoder = std::make_unique<Layer3Decoder>(open->source);
    if (const AcmResult started = open->decoder->Start(); started != kMmSysErrNoError) {
      open->decoder.reset();
      return started;
    }
  }
  std::uint32_t used = 0;
  std::uint32_t produced = 0;
  const AcmResult result =
      open->decoder->Convert(header->pbSrc, header->cbSrcLength, header->pbDst, header->cbDstLength, used, produced);
  if (result != kMmSysErrNoError) return result;
  header->cbSrcLengthUsed = used;
  header->cbDstLengthUsed = produced;
  header->fdwStatus |= kAcmStreamHeaderStatusDone;
  return kMmSysErrNoError;
}

AcmResult acmStreamUnprepareHeader(AcmStreamHandle stream, AcmStreamHeader* header, std::uint32_t flags) {
  AcmStream* open = Registry().Find(stream);
  if (open == nullptr) return kMmSysErrInvalHandle;
  if (header == nullptr || header->cbStruct < sizeof(AcmStreamHeader)) return kMmSysErrInvalParam;
  if (flags != 0) return kMmSysErrInvalFlag;
  const auto record = std::find_if(open->prepared.begin(), open->prepared.end(),
                                   [header](const PreparedHeader& p) { return p.header == header; });
  if (record == open->prepared.end()) return kAcmErrUnprepared;
  if (!SameBuffers(*record, *header)) return kMmSysErrInvalParam;
  open->prepared.erase(record);
  header->fdwStatus &= ~kAcmStreamHeaderStatusPrepared;
  return kMmSysErrNoError;
}

AcmResult acmStreamClose(AcmStreamHandle stream, std::uint32_t flags) {
  if (flags != 0) return kMmSysErrInvalFlag;
  return Registry().Remove(stream) ? kMmSysErrNoError : kMmSysErrInvalHandle;
}

}  // namespace vornek::platform
