// SPDX-License-Identifier: BSD-3-Clause
// The compression manager's calls: argument checks and result codes, and the
// MPEG Layer 3 codec on real encoder output made at test time.
#include "platform/acm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"
#include "support/wav_writer.h"
#include "support/tools.h"

namespace vornek::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::MissingMp3Encoder;

/// An MP3-in-WAV file of a 1 kHz sine, split into its format and its MPEG data.
struct Mp3Data {
  WaveFormatEx format{};
  Bytes data;
};

Mp3Data EncodeSine(int channels, int rate, double seconds) {
  test::TempDir dir;
  const std::string path = dir.File("sine.wav");
  const std::string command = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=frequency=1000:duration=" +
                              std::to_string(seconds) + " -ac " + std::to_string(channels) + " -ar " +
                              std::to_string(rate) + " -c:a libmp3lame -f wav '" + path + "'";
  if (std::system(command.c_str()) != 0) ADD_FAILURE() << "ffmpeg failed: " << command;
  auto chunks = test::ReadChunks(test::ReadBytes(path));
  Mp3Data out;
  const Bytes& fmt = chunks["fmt "];
  if (fmt.size() < sizeof(WaveFormatEx)) {
    ADD_FAILURE() << "ffmpeg wrote no full \"fmt \" chunk";
    return out;
  }
  std::memcpy(&out.format, fmt.data(), sizeof out.format);
  out.data = chunks["data"];
  return out;
}

WaveFormatEx Mp3Format(std::uint16_t channels, std::uint32_t rate) {
  WaveFormatEx format{};
  format.wFormatTag = kWaveFormatMpegLayer3;
  format.nChannels = channels;
  format.nSamplesPerSec = rate;
  format.nAvgBytesPerSec = 16000;
  format.nBlockAlign = 1;
  return format;
}

WaveFormatEx PcmFormat(std::uint16_t channels, std::uint32_t rate) {
  WaveFormatEx format{};
  format.wFormatTag = kWaveFormatPcm;
  format.nChannels = channels;
  format.nSamplesPerSec = rate;
  format.wBitsPerSample = 16;
  format.nBlockAlign = static_cast<std::uint16_t>(channels * 2);
  format.nAvgBytesPerSec = rate * format.nBlockAlign;
  return format;
}

/// An open stream that closes itself.
class OpenStream {
 public:
  OpenStream(WaveFormatEx source, WaveFormatEx target) : source_(source), target_(target) {
    result_ = acmStreamOpen(&handle_, nullptr, &source_, &target_, nullptr, 0, 0, kAcmStreamOpenNonRealtime);
  }
  ~OpenStream() {
    if (handle_ != nullptr) acmStreamClose(handle_, 0);
  }
  OpenStream(const OpenStream&) = delete;
  OpenStream& operator=(const OpenStream&) = delete;
  AcmStreamHandle handle() const { return handle_; }
  AcmResult result() const { return result_; }

 private:
  WaveFormatEx source_;
  WaveFormatEx target_;
  AcmStreamHandle handle_ = nullptr;
  AcmResult result_ = 0;
};

struct Conversion {
  AcmResult result = 0;
  std::uint32_t estimate = 0;
  std::uint32_t used_source = 0;
  std::uint32_t produced = 0;
  std::uint32_t status = 0;
  Bytes pcm;
};

/// Runs the whole call sequence the converter makes. `destination_length`, when
/// given, replaces the estimate; the buffer has guard bytes behind that length.
Conversion Convert(const WaveFormatEx& source, Bytes data, std::optional<std::uint32_t> destination_length = {}) {
  Conversion out;
  OpenStream stream(source, PcmFormat(source.nChannels, source.nSamplesPerSec));
  EXPECT_EQ(stream.result(), kMmSysErrNoError);
  if (stream.result() != kMmSysErrNoError) return out;
  EXPECT_EQ(acmStreamSize(stream.handle(), static_cast<std::uint32_t>(data.size()), &out.estimate,
                          kAcmStreamSizeSource),
            kMmSysErrNoError);
  const std::uint32_t length = destination_length.value_or(out.estimate);
  constexpr std::size_t kGuard = 4096;
  Bytes buffer(length + kGuard, 0xA5);
  AcmStreamHeader header{};
  header.cbStruct = sizeof header;
  header.pbSrc = data.data();
  header.cbSrcLength = static_cast<std::uint32_t>(data.size());
  header.pbDst = buffer.data();
  header.cbDstLength = length;
  EXPECT_EQ(acmStreamPrepareHeader(stream.handle(), &header, 0), kMmSysErrNoError);
  out.result = acmStreamConvert(stream.handle(), &header, kAcmStreamConvertBlockAlign);
  out.used_source = header.cbSrcLengthUsed;
  out.produced = header.cbDstLengthUsed;
  out.status = header.fdwStatus;
  EXPECT_EQ(acmStreamUnprepareHeader(stream.handle(), &header, 0), kMmSysErrNoError);
  for (std::size_t i = length; i < buffer.size(); ++i) {
    if (buffer[i] != 0xA5) {
      ADD_FAILURE() << "the conversion wrote past the destination, at byte " << i;
      break;
    }
  }
  out.pcm.assign(buffer.begin(), buffer.begin() + std::min(out.produced, length));
  return out;
}

TEST(AcmMetrics, MaxFormatSizeFitsTheFormatBuffers) {
  std::uint32_t size = 0;
  ASSERT_EQ(acmMetrics(nullptr, kAcmMetricMaxSizeFormat, &size), kMmSysErrNoError);
  EXPECT_GE(size, sizeof(WaveFormatEx));
  EXPECT_LE(size, kMaxWaveFormatBytes);
}

TEST(AcmMetrics, RefusesWhatItCannotAnswer) {
  std::uint32_t size = 0;
  EXPECT_EQ(acmMetrics(reinterpret_cast<AcmObjectHandle>(&size), kAcmMetricMaxSizeFormat, &size),
            kMmSysErrInvalHandle);
  EXPECT_EQ(acmMetrics(nullptr, kAcmMetricMaxSizeFormat, nullptr), kMmSysErrInvalParam);
  EXPECT_EQ(acmMetrics(nullptr, 40, &size), kMmSysErrNotSupported);
}

struct SuggestCase {
  std::uint16_t channels;
  std::uint32_t rate;
};

TEST(AcmFormatSuggest, OffersSixteenBitPcmWithTheSourceChannelsAndRate) {
  const SuggestCase cases[] = {{1, 44100}, {2, 44100}, {1, 48000}, {2, 48000}, {2, 32000},
                               {1, 22050}, {2, 24000}, {1, 16000}, {2, 11025}, {1, 8000}};
  for (const SuggestCase& c : cases) {
    WaveFormatEx source = Mp3Format(c.channels, c.rate);
    std::uint8_t buffer[kMaxWaveFormatBytes];
    std::memset(buffer, 0xEE, sizeof buffer);
    WaveFormatEx target{};
    target.wFormatTag = kWaveFormatPcm;
    std::memcpy(buffer, &target, sizeof target);
    auto* destination = reinterpret_cast<WaveFormatEx*>(buffer);
    ASSERT_EQ(acmFormatSuggest(nullptr, &source, destination, sizeof buffer, kAcmFormatSuggestWFormatTag),
              kMmSysErrNoError)
        << c.channels << " channels at " << c.rate;
    WaveFormatEx suggested;
    std::memcpy(&suggested, buffer, sizeof suggested);
    const WaveFormatEx expected = PcmFormat(c.channels, c.rate);
    EXPECT_EQ(suggested.wFormatTag, 1);
    EXPECT_EQ(suggested.nChannels, c.channels);
    EXPECT_EQ(suggested.nSamplesPerSec, c.rate);
    EXPECT_EQ(suggested.wBitsPerSample, 16);
    EXPECT_EQ(suggested.nBlockAlign, expected.nBlockAlign);
    EXPECT_EQ(suggested.nAvgBytesPerSec, expected.nAvgBytesPerSec);
    EXPECT_EQ(suggested.cbSize, 0);
    EXPECT_EQ(buffer[sizeof(WaveFormatEx)], 0xEE) << "wrote past the PCM structure";
  }
}

TEST(AcmFormatSuggest, RefusesWithTheManagersCodes) {
  struct Case {
    const char* what;
    WaveFormatEx source;
    std::uint16_t fixed_tag;
    std::uint32_t destination_bytes;
    std::uint32_t flags;
    AcmResult expected;
  };
  WaveFormatEx pcm_source = PcmFormat(2, 44100);
  const Case cases[] = {
      {"PCM source", pcm_source, 1, 129, kAcmFormatSuggestWFormatTag, kAcmErrNotPossible},
      {"IMA ADPCM source", [] { auto f = Mp3Format(2, 44100); f.wFormatTag = 0x11; return f; }(), 1, 129,
       kAcmFormatSuggestWFormatTag, kAcmErrNotPossible},
      {"three channels", Mp3Format(3, 44100), 1, 129, kAcmFormatSuggestWFormatTag, kAcmErrNotPossible},
      {"no channels", Mp3Format(0, 44100), 1, 129, kAcmFormatSuggestWFormatTag, kAcmErrNotPossible},
      {"rate no MPEG version has", Mp3Format(2, 44000), 1, 129, kAcmFormatSuggestWFormatTag, kAcmErrNotPossible},
      {"non-PCM target fixed", Mp3Format(2, 44100), 2, 129, kAcmFormatSuggestWFormatTag, kAcmErrNotPossible},
      {"unknown flag", Mp3Format(2, 44100), 1, 129, kAcmFormatSuggestWFormatTag | 0x1, kMmSysErrInvalFlag},
      {"destination too small", Mp3Format(2, 44100), 1, 8, kAcmFormatSuggestWFormatTag, kMmSysErrInvalParam},
  };
  for (const Case& c : cases) {
    WaveFormatEx source = c.source;
    WaveFormatEx target{};
    target.wFormatTag = c.fixed_tag;
    EXPECT_EQ(acmFormatSuggest(nullptr, &source, &target, c.destination_bytes, c.flags), c.expected) << c.what;
  }
  WaveFormatEx source = Mp3Format(2, 44100);
  WaveFormatEx target{};
  EXPECT_EQ(acmFormatSuggest(reinterpret_cast<AcmDriverHandle>(&target), &source, &target, 129, 0),
            kMmSysErrInvalHandle);
  EXPECT_EQ(acmFormatSuggest(nullptr, nullptr, &target, 129, 0), kMmSysErrInvalParam);
  EXPECT_EQ(acmFormatSuggest(nullptr, &source, nullptr, 129, 0), kMmSysErrInvalParam);
}

TEST(AcmFormatSuggest, HonoursFixedFieldsOnlyWhenTheyAgree) {
  WaveFormatEx source = Mp3Format(2, 48000);
  WaveFormatEx target = PcmFormat(1, 48000);
  EXPECT_EQ(acmFormatSuggest(nullptr, &source, &target, sizeof target, kAcmFormatSuggestNChannels),
            kAcmErrNotPossible);
  target = PcmFormat(2, 44100);
  EXPECT_EQ(acmFormatSuggest(nullptr, &source, &target, sizeof target, kAcmFormatSuggestNSamplesPerSec),
            kAcmErrNotPossible);
  target = PcmFormat(2, 48000);
  target.wBitsPerSample = 8;
  EXPECT_EQ(acmFormatSuggest(nullptr, &source, &target, sizeof target, kAcmFormatSuggestWBitsPerSample),
            kAcmErrNotPossible);
  target = PcmFormat(2, 48000);
  EXPECT_EQ(acmFormatSuggest(nullptr, &source, &target, sizeof target,
                             kAcmFormatSuggestWFormatTag | kAcmFormatSuggestNChannels |
                                 kAcmFormatSuggestNSamplesPerSec | kAcmFormatSuggestWBitsPerSample),
            kMmSysErrNoError);
}

TEST(AcmStreamOpen, OpensOnlyTheConversionTheCodecOffers) {
  {
    OpenStream ok(Mp3Format(2, 44100), PcmFormat(2, 44100));
    EXPECT_EQ(ok.result(), kMmSysErrNoError);
    EXPECT_NE(ok.handle(), nullptr);
  }
  const std::pair<WaveFormatEx, WaveFormatEx> refused[] = {
      {Mp3Format(2, 44100), PcmFormat(1, 44100)},  // a down-mix is not offered
      {Mp3Format(2, 44100), PcmFormat(2, 48000)},  // nor resampling
      {PcmFormat(2, 44100), PcmFormat(2, 44100)},
      {Mp3Format(2, 44100), Mp3Format(2, 44100)},
  };
  for (const auto& [source, target] : refused) {
    OpenStream stream(source, target);
    EXPECT_EQ(stream.result(), kAcmErrNotPossible);
    EXPECT_EQ(stream.handle(), nullptr);
  }
}

TEST(AcmStreamOpen, QueryOpensNothingAndAsyncOrFiltersAreRefused) {
  WaveFormatEx source = Mp3Format(1, 48000);
  WaveFormatEx target = PcmFormat(1, 48000);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &source, &target, nullptr, 0, 0, kAcmStreamOpenQuery), kMmSysErrNoError);
  AcmStreamHandle handle = nullptr;
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &source, &target, nullptr, 0, 0, 0), kMmSysErrInvalParam);
  EXPECT_EQ(acmStreamOpen(&handle, nullptr, &source, &target, nullptr, 0, 0, kAcmStreamOpenAsync),
            kAcmErrNotPossible);
  WaveFilter filter{};
  EXPECT_EQ(acmStreamOpen(&handle, nullptr, &source, &target, &filter, 0, 0, 0), kAcmErrNotPossible);
  EXPECT_EQ(acmStreamOpen(&handle, nullptr, &source, &target, nullptr, 0, 0, 0x100), kMmSysErrInvalFlag);
  EXPECT_EQ(handle, nullptr);
}

TEST(AcmStream, ClosedOrForeignHandlesAreRefused) {
  WaveFormatEx source = Mp3Format(2, 44100);
  WaveFormatEx target = PcmFormat(2, 44100);
  AcmStreamHandle handle = nullptr;
  ASSERT_EQ(acmStreamOpen(&handle, nullptr, &source, &target, nullptr, 0, 0, 0), kMmSysErrNoError);
  ASSERT_EQ(acmStreamClose(handle, 0), kMmSysErrNoError);
  std::uint32_t size = 0;
  AcmStreamHeader header{};
  header.cbStruct = sizeof header;
  EXPECT_EQ(acmStreamClose(handle, 0), kMmSysErrInvalHandle);
  EXPECT_EQ(acmStreamSize(handle, 1000, &size, kAcmStreamSizeSource), kMmSysErrInvalHandle);
  EXPECT_EQ(acmStreamPrepareHeader(handle, &header, 0), kMmSysErrInvalHandle);
  EXPECT_EQ(acmStreamConvert(handle, &header, 0), kMmSysErrInvalHandle);
  EXPECT_EQ(acmStreamUnprepareHeader(handle, &header, 0), kMmSysErrInvalHandle);
  EXPECT_EQ(acmStreamClose(reinterpret_cast<AcmStreamHandle>(&header), 0), kMmSysErrInvalHandle);
}

TEST(AcmStream, HeadersMustBePreparedAndKeepTheirBuffers) {
  OpenStream stream(Mp3Format(2, 44100), PcmFormat(2, 44100));
  ASSERT_EQ(stream.result(), kMmSysErrNoError);
  Bytes source(1000), destination(100000);
  AcmStreamHeader header{};
  header.cbStruct = sizeof header;
  header.pbSrc = source.data();
  header.cbSrcLength = static_cast<std::uint32_t>(source.size());
  header.pbDst = destination.data();
  header.cbDstLength = static_cast<std::uint32_t>(destination.size());
  EXPECT_EQ(acmStreamConvert(stream.handle(), &header, 0), kAcmErrUnprepared);
  EXPECT_EQ(acmStreamUnprepareHeader(stream.handle(), &header, 0), kAcmErrUnprepared);

  AcmStreamHeader short_header = header;
  short_header.cbStruct = 40;
  EXPECT_EQ(acmStreamPrepareHeader(stream.handle(), &short_header, 0), kMmSysErrInvalParam);

  ASSERT_EQ(acmStreamPrepareHeader(stream.handle(), &header, 0), kMmSysErrNoError);
  EXPECT_NE(header.fdwStatus & kAcmStreamHeaderStatusPrepared, 0u);
  header.cbDstLength += 1;  // larger than what was prepared
  EXPECT_EQ(acmStreamConvert(stream.handle(), &header, 0), kMmSysErrInvalParam);
  header.cbDstLength -= 1;
  EXPECT_EQ(acmStreamConvert(stream.handle(), &header, 0x1000), kMmSysErrInvalFlag);
  ASSERT_EQ(acmStreamUnprepareHeader(stream.handle(), &header, 0), kMmSysErrNoError);
  EXPECT_EQ(header.fdwStatus & kAcmStreamHeaderStatusPrepared, 0u);
  EXPECT_EQ(acmStreamConvert(stream.handle(), &header, 0), kAcmErrUnprepared);
}

TEST(AcmStreamSize, EstimateIsWholeFramesAndNeverWrapsAround) {
  struct Case {
    std::uint16_t channels;
    std::uint32_t rate;
  };
  const Case cases[] = {{2, 44100}, {1, 48000}, {2, 8000}, {1, 11025}, {2, 24000}};
  for (const Case& c : cases) {
    OpenStream stream(Mp3Format(c.channels, c.rate), PcmFormat(c.channels, c.rate));
    ASSERT_EQ(stream.result(), kMmSysErrNoError);
    const std::uint32_t block = c.channels * 2u;
    std::uint32_t small = 0;
    ASSERT_EQ(acmStreamSize(stream.handle(), 10000, &small, kAcmStreamSizeSource), kMmSysErrNoError);
    EXPECT_GT(small, 0u);
    EXPECT_EQ(small % block, 0u);
    // The largest source: the answer must be capped, not wrapped to a small number.
    std::uint32_t huge = 0;
    ASSERT_EQ(acmStreamSize(stream.handle(), 0xFFFFFFFFu, &huge, kAcmStreamSizeSource), kMmSysErrNoError);
    EXPECT_GT(huge, 0xF0000000u) << c.rate;
    EXPECT_EQ(huge % block, 0u);
    std::uint32_t source_needed = 0;
    ASSERT_EQ(acmStreamSize(stream.handle(), small, &source_needed, kAcmStreamSizeDestination), kMmSysErrNoError);
    EXPECT_GT(source_needed, 0u);
  }
}

struct EncodedCase {
  int channels;
  int rate;
};

class AcmMp3Conversion : public ::testing::TestWithParam<EncodedCase> {};

TEST_P(AcmMp3Conversion, DecodesTheWholeSourceInOneCallWithinTheEstimate) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  const EncodedCase c = GetParam();
  const Mp3Data mp3 = EncodeSine(c.channels, c.rate, 1.0);
  ASSERT_EQ(mp3.format.wFormatTag, kWaveFormatMpegLayer3);
  const Conversion done = Convert(mp3.format, mp3.data);
  ASSERT_EQ(done.result, kMmSysErrNoError);
  EXPECT_EQ(done.used_source, mp3.data.size());
  EXPECT_NE(done.status & kAcmStreamHeaderStatusDone, 0u);
  const std::uint32_t block = static_cast<std::uint32_t>(c.channels) * 2;
  EXPECT_EQ(done.produced % block, 0u);
  const std::uint32_t frames = done.produced / block;
  // One second of audio plus the encoder's delay and padding: whole frames of 1152.
  EXPECT_GE(frames, static_cast<std::uint32_t>(c.rate));
  EXPECT_LE(frames, static_cast<std::uint32_t>(c.rate) + 3 * 1152);
  EXPECT_LT(done.produced, done.estimate);
}

INSTANTIATE_TEST_SUITE_P(Formats, AcmMp3Conversion,
                         ::testing::Values(EncodedCase{1, 44100}, EncodedCase{2, 44100}, EncodedCase{1, 48000},
                                           EncodedCase{2, 48000}, EncodedCase{2, 22050}));

TEST(AcmMp3, DestinationTooSmallFailsWithoutWritingPastIt) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  const Mp3Data mp3 = EncodeSine(2, 44100, 1.0);
  const Conversion done = Convert(mp3.format, mp3.data, 10000);  // far less than a second of PCM
  EXPECT_EQ(done.result, kAcmErrNotPossible);
  EXPECT_EQ(done.status & kAcmStreamHeaderStatusDone, 0u);
}

TEST(AcmMp3, DeclaredFormatMustMatchTheFrames) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  const Mp3Data mp3 = EncodeSine(2, 44100, 0.5);
  EXPECT_EQ(Convert(Mp3Format(2, 48000), mp3.data).result, kAcmErrNotPossible) << "wrong rate declared";
  EXPECT_EQ(Convert(Mp3Format(1, 44100), mp3.data).result, kAcmErrNotPossible) << "wrong channels declared";
}

TEST(AcmMp3, StreamThatChangesFormatPartWayIsRefused) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  const Mp3Data stereo44 = EncodeSine(2, 44100, 0.5);
  const Mp3Data stereo48 = EncodeSine(2, 48000, 0.5);
  const Mp3Data mono44 = EncodeSine(1, 44100, 0.5);
  struct Case {
    const char* what;
    const Mp3Data& first;
    const Mp3Data& second;
  };
  const Case cases[] = {{"rate changes", stereo44, stereo48},
                        {"channels change", stereo44, mono44},
                        {"channels change the other way", mono44, stereo44}};
  for (const Case& c : cases) {
    Bytes joined = c.first.data;
    joined.insert(joined.end(), c.second.data.begin(), c.second.data.end());
    EXPECT_EQ(Convert(c.first.format, joined).result, kAcmErrNotPossible) << c.what;
  }
}

/// Converts `data` in successive calls on parts of `piece` bytes (the last part with
/// ACM_STREAMCONVERTF_END), each with the destination acmStreamSize states for it, then
/// calls without source until one produces nothing. `start_over_after`, when given,
/// first converts that many bytes and then starts the stream afresh with
/// ACM_STREAMCONVERTF_START. Returns the PCM of the calls, in order.
std::optional<Bytes> ConvertInParts(const WaveFormatEx& source, Bytes data, std::size_t piece,
                                    std::optional<std::size_t> start_over_after = {}) {
  OpenStream stream(source, PcmFormat(source.nChannels, source.nSamplesPerSec));
  if (stream.result() != kMmSysErrNoError) return std::nullopt;
  Bytes pcm;
  auto call = [&](std::uint8_t* part, std::size_t length, std::uint32_t flags) -> std::optional<std::uint32_t> {
    std::uint32_t room = 0;
    if (acmStreamSize(stream.handle(), static_cast<std::uint32_t>(length), &room, kAcmStreamSizeSource) !=
        kMmSysErrNoError)
      return std::nullopt;
    Bytes destination(std::max<std::uint32_t>(room, 4096));
    AcmStreamHeader header{};
    header.cbStruct = sizeof header;
    header.pbSrc = part;
    header.cbSrcLength = static_cast<std::uint32_t>(length);
    header.pbDst = destination.data();
    header.cbDstLength = static_cast<std::uint32_t>(destination.size());
    if (acmStreamPrepareHeader(stream.handle(), &header, 0) != kMmSysErrNoError) return std::nullopt;
    const AcmResult result = acmStreamConvert(stream.handle(), &header, flags);
    acmStreamUnprepareHeader(stream.handle(), &header, 0);
    if (result != kMmSysErrNoError) {
      ADD_FAILURE() << "conversion failed: " << result;
      return std::nullopt;
    }
    pcm.insert(pcm.end(), destination.begin(), destination.begin() + header.cbDstLengthUsed);
    return header.cbSrcLengthUsed;
  };
  if (start_over_after) {
    if (!call(data.data(), *start_over_after, kAcmStreamConvertStart)) return std::nullopt;
    pcm.clear();
  }
  std::size_t at = 0;
  std::uint32_t flags = kAcmStreamConvertStart;
  while (at < data.size()) {
    const std::size_t length = std::min(piece, data.size() - at);
    const bool last = at + length == data.size();
    const std::optional<std::uint32_t> used =
        call(data.data() + at, length, flags | (last ? kAcmStreamConvertEnd : kAcmStreamConvertBlockAlign));
    if (!used) return std::nullopt;
    at += *used;
    flags = 0;
  }
  for (;;) {
    const std::size_t before = pcm.size();
    if (!call(nullptr, 0, kAcmStreamConvertEnd)) return std::nullopt;
    if (pcm.size() == before) break;
  }
  return pcm;
}

TEST(AcmMp3, ConvertsInPartsOfAnySizeAsInOneCall) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  const Mp3Data mp3 = EncodeSine(2, 44100, 1.0);
  const Conversion whole = Convert(mp3.format, mp3.data);
  ASSERT_EQ(whole.result, kMmSysErrNoError);
  ASSERT_GT(whole.pcm.size(), 44100u * 4);
  // Parts that split frames anywhere: a byte at a time, less than a frame, about one
  // frame, many frames.
  for (std::size_t piece : {std::size_t{1}, std::size_t{100}, std::size_t{417}, std::size_t{4099},
                            std::size_t{65536}}) {
    const std::optional<Bytes> parts = ConvertInParts(mp3.format, mp3.data, piece);
    ASSERT_TRUE(parts) << piece;
    EXPECT_EQ(*parts, whole.pcm) << "parts of " << piece << " bytes";
  }
}

TEST(AcmMp3, StartBeginsTheStreamAfresh) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  const Mp3Data mp3 = EncodeSine(1, 48000, 0.5);
  const Conversion whole = Convert(mp3.format, mp3.data);
  ASSERT_EQ(whole.result, kMmSysErrNoError);
  const std::optional<Bytes> again = ConvertInParts(mp3.format, mp3.data, 3000, mp3.data.size() / 2 + 3);
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, whole.pcm);
}

TEST(AcmMp3, AFewFramesOfAnotherFormatAreSkippedAsJunkButAChangeIsRefused) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  const Mp3Data stereo44 = EncodeSine(2, 44100, 1.0);
  const Mp3Data stereo48 = EncodeSine(2, 48000, 0.5);
  const Conversion alone = Convert(stereo44.format, stereo44.data);
  ASSERT_EQ(alone.result, kMmSysErrNoError);
  // Whole frames of the 48 kHz stream (384 bytes each at 128 kbit/s) put between two
  // frames of the 44.1 kHz one (417 bytes, 418 when padded).
  struct Case {
    std::size_t foreign_frames;
    AcmResult expected;
  };
  const Case cases[] = {{2, kMmSysErrNoError}, {12, kAcmErrNotPossible}};
  for (const Case& c : cases) {
    std::size_t cut = 0;  // the end of the 20th frame of the 44.1 kHz stream
    for (int i = 0; i < 20; ++i) cut += 417u + ((stereo44.data[cut + 2] >> 1) & 1u);
    const std::size_t foreign = c.foreign_frames * 384;
    Bytes joined(stereo44.data.begin(), stereo44.data.begin() + static_cast<std::ptrdiff_t>(cut));
    joined.insert(joined.end(), stereo48.data.begin(), stereo48.data.begin() + static_cast<std::ptrdiff_t>(foreign));
    joined.insert(joined.end(), stereo44.data.begin() + static_cast<std::ptrdiff_t>(cut), stereo44.data.end());
    const Conversion done = Convert(stereo44.format, joined);
    EXPECT_EQ(done.result, c.expected) << c.foreign_frames << " frames of 48 kHz";
    if (done.result == kMmSysErrNoError) {
      EXPECT_EQ(done.pcm.size(), alone.pcm.size()) << "the foreign frames are not in the PCM";
    }
  }
}

TEST(AcmResultText, EveryDocumentedCodeIsWordsAndAnUnknownOneNothing) {
  const AcmResult documented[] = {kMmSysErrNoError,     kMmSysErrError,      kMmSysErrInvalHandle,
                                  kMmSysErrNoMem,       kMmSysErrNotSupported, kMmSysErrInvalFlag,
                                  kMmSysErrInvalParam,  kAcmErrNotPossible,  kAcmErrBusy,
                                  kAcmErrUnprepared,    kAcmErrCanceled};
  for (const AcmResult code : documented) {
    const std::string text = AcmResultText(code);
    EXPECT_GT(text.size(), 8u) << code;
    EXPECT_EQ(text.find_first_of("0123456789"), std::string::npos) << code << ": " << text;
  }
  EXPECT_STREQ(AcmResultText(9999), "");
}

TEST(AcmMp3, StreamsOnSeveralThreadsAtOnceStayApart) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  const Mp3Data mono = EncodeSine(1, 48000, 0.5);
  const Mp3Data stereo = EncodeSine(2, 44100, 0.5);
  const Conversion mono_alone = Convert(mono.format, mono.data);
  const Conversion stereo_alone = Convert(stereo.format, stereo.data);
  ASSERT_EQ(mono_alone.result, kMmSysErrNoError);
  ASSERT_EQ(stereo_alone.result, kMmSysErrNoError);
  std::vector<Conversion> results(4);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&, i] {
      const Mp3Data& mp3 = i % 2 ? stereo : mono;
      results[i] = Convert(mp3.format, mp3.data);
    });
  }
  for (auto& thread : threads) thread.join();
  for (std::size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i].result, kMmSysErrNoError);
    EXPECT_EQ(results[i].pcm, (i % 2 ? stereo_alone : mono_alone).pcm) << "thread " << i;
  }
}

}  // namespace
}  // namespace vornek::platform
