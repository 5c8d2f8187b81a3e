// SPDX-License-Identifier: BSD-3-Clause
#include "wave/wave_in.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>

#include "base/au_exception.h"
#include "pipeline/file_stream.h"
#include "platform/file.h"
#include "base/bytes.h"
#include "wave/chunk_walker.h"
#include "wave/g711.h"
#include "wave/ima_adpcm.h"
#include "wave/sample_convert.h"
#include "base/failures.h"

namespace vornek {

namespace {

// KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT in file layout (first field 32-bit
// little-endian, then two 16-bit fields, then eight bytes).
constexpr std::uint8_t kSubFormatPcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint8_t kSubFormatIeeeFloat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                  0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint8_t kSubFormatALaw[16] = {0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                             0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint8_t kSubFormatMuLaw[16] = {0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                              0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

/// Bytes of a "fmt " body the reader looks at: the MS ADPCM table of 32 pairs ends at
/// 150. The rest of a longer body is skipped.
constexpr std::uint32_t kFormatReadBytes = 256;

std::string HexTag(std::uint16_t tag) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(tag));
  return text;
}

std::string GuidText(const std::uint8_t* g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(Le32(g)), static_cast<unsigned>(Le16(g + 4)),
                static_cast<unsigned>(Le16(g + 6)), g[8], g[9], g[10], g[11], g[12], g[13],
                g[14], g[15]);
  return text;
}

void RequirePcmWidth(std::uint16_t bits) {
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
    Raise(TFailure::faPcmWidth, std::to_string(bits));
}

void RequireFloatWidth(std::uint16_t bits) {
  if (bits != 32 && bits != 64) Raise(TFailure::faFloatWidth, std::to_string(bits));
}

/// A stored frame (PCM) or a window read unit (float: 8 bytes a channel) must fit the
/// window, which is refilled in whole frames.
void RequireFrameFits(std::uint32_t channels, std::uint32_t bytes_per_sample) {
  if (channels * bytes_per_sample > TWaveIn::kWindowBytes)
    Raise(TFailure::faTooManyChannels, std::to_string(channels));
}

bool IsPcmKind(TWaveKind kind) {
  return kind == TWaveKind::wkPcm || kind == TWaveKind::wkExtensiblePcm;
}

bool IsG711Kind(TWaveKind kind) { return kind == TWaveKind::wkALaw || kind == TWaveKind::wkMuLaw; }

bool IsFloatKind(TWaveKind kind) {
  return kind == TWaveKind::wkFloat || kind == TWaveKind::wkExtensibleFloat;
}

/// The kinds whose "fmt " is followed by "fact" before "data".
bool NeedsFact(TWaveKind kind) {
  return kind == TWaveKind::wkImaAdpcm || kind == TWaveKind::wkMsAdpcm ||
         kind == TWaveKind::wkCompressed;
}

enum class TScanState { ssExpectFmt, ssExpectFact, ssExpectData };

}  // namespace

// ---------------------------------------------------------------------------------
// Construction

TWaveIn::TWaveIn() = default;

TWaveIn::~TWaveIn() {
  try {
    CloseFile();
  } catch (...) {
    // Rewinding a supplied stream may fail; the reader goes away regardless.
  }
}

bool TWaveIn::SameChunkId(const std::uint8_t* read, const char* expected) {
  return vornek::SameChunkId(read, expected);
}

bool TWaveIn::SameGuid(const std::uint8_t* a, const std::uint8_t* b) {
  return std::memcmp(a, b, 16) == 0;
}

// ---------------------------------------------------------------------------------
// The header

void TWaveIn::ReadHeader() {
  Size = 0;
  SizeEstimate = 0;
  BitsPerSample = 0;
  Channels = 0;
  SampleRate = 0;
  WaveKind = TWaveKind::wkUnsupported;
  DataOffset = 0;
  DataEnd = 0;
  MissingBytes = 0;
  StatedBytes = 0;
  StreamBytes = 0;
  FramesMissing = 0;
  PayloadEnded = false;
  CompressedParts = {};

  TChunkWalker walker(*Stream);
  StreamBytes = walker.StreamSize();
  TScanState state = TScanState::ssExpectFmt;
  bool data_before_format = false;
  while (const std::optional<TChunk> chunk = walker.Current()) {
    const bool fits = walker.Fits(chunk->Body, chunk->Size);
    if (state == TScanState::ssExpectFmt && chunk->Is("fmt ")) {
      if (!fits) Raise(TFailure::faChunkPastEnd, "fmt ");
      ParseFormat(walker, *chunk);
      state = NeedsFact(WaveKind) ? TScanState::ssExpectFact : TScanState::ssExpectData;
    } else if (state == TScanState::ssExpectFact && chunk->Is("fact")) {
      if (!fits) Raise(TFailure::faChunkPastEnd, "fact");
      std::uint8_t fact[4];
      if (walker.ReadBody(*chunk, fact, 4) < 4) Raise(TFailure::faFactTooShort);
      (WaveKind == TWaveKind::wkImaAdpcm ? ImaFactSamples : FactSamples) = Le32(fact);
      state = TScanState::ssExpectData;
    } else if (state == TScanState::ssExpectData && chunk->Is("data")) {
      // A stated size running past the end (a file cut short, or a writer that never
      // came back to fill it in) delivers what is there.
      const TPayload payload = walker.Payload(*chunk);
      DataOffset = payload.Begin;
      DataEnd = payload.End;
      MissingBytes = payload.Missing;
      // A size left open (0) reads to the end: Size stays unknown, and what the file
      // holds at open is only an estimate.
      if (IsPcmKind(WaveKind) || IsFloatKind(WaveKind) || IsG711Kind(WaveKind))
        (chunk->Size != 0 ? Size : SizeEstimate) = DataEnd - DataOffset;
      CompressedParts.DataBegin = DataOffset;
      CompressedParts.DataEnd = DataEnd;
      Stream->SetPosition(DataOffset);
      return;
    } else {
      if (state == TScanState::ssExpectFact && chunk->Is("data")) Raise(TFailure::faNoFact);
      if (state == TScanState::ssExpectFmt && chunk->Is("data")) data_before_format = true;
      // A chunk whose id cannot be read is named by the place it stands.
      if (!fits && !chunk->Readable() && !walker.PreviousId().empty())
        Raise(TFailure::faChunkAfterPastEnd, walker.PreviousId());
      if (!fits) Raise(TFailure::faChunkPastEnd, chunk->IdText());
    }
    const char* awaited = state == TScanState::ssExpectFmt    ? "fmt "
                          : state == TScanState::ssExpectFact ? "fact"
                                                              : "data";
    walker.Advance(*chunk, awaited);
  }

  switch (state) {
    case TScanState::ssExpectFmt: Raise(TFailure::faNoFormat);
    case TScanState::ssExpectFact: Raise(TFailure::faNoFact);
    case TScanState::ssExpectData: Raise(data_before_format ? TFailure::faFormatAfterData : TFailure::faNoData);
  }
}

/// The fields of a "fmt " body every kind has, and the bytes of it that were read.
struct TWaveIn::TFormatBody {
  std::span<const std::uint8_t> Bytes;  ///< the first kFormatReadBytes (zeros past the body)
  std::uint32_t Size;                   ///< the body size the chunk states (at most 2^32 - 1)
  std::uint16_t Tag;
  std::uint16_t Channels;
  std::uint16_t BlockAlign;
  std::uint16_t Bits;
};

void TWaveIn::ParseFormat(TChunkWalker& walker, const TChunk& chunk) {
  std::array<std::uint8_t, kFormatReadBytes> b{};
  walker.ReadBody(chunk, b.data(), b.size());
  // A 64-bit size is held to 32 bits: only the kinds' minimum lengths and the end of
  // the MS ADPCM table are compared with it, and those lie far below.
  const auto body_size = static_cast<std::uint32_t>(std::min<std::uint64_t>(chunk.Size, 0xFFFFFFFF));
  if (body_size < 16) Raise(TFailure::faFormatTooShort);
  const TFormatBody fmt{b, body_size, Le16(&b[0]), Le16(&b[2]), Le16(&b[12]), Le16(&b[14])};

  switch (fmt.Tag) {
    case 0x0001:
    case 0x0002:
    case 0x0003:
    case 0x0006:
    case 0x0007:
    case 0x0011:
    case 0x0055:
    case 0xFFFE:
      break;
    default: Raise(TFailure::faFormatTag, HexTag(fmt.Tag));
  }
  Channels = fmt.Channels;
  BitsPerSample = fmt.Bits;
  if (fmt.Channels == 0) Raise(TFailure::faNoChannels);
  const std::uint32_t rate = Le32(&b[4]);
  if (rate == 0 || rate > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
    Raise(TFailure::faSampleRate, std::to_string(rate));
  SampleRate = static_cast<std::int32_t>(rate);

  switch (fmt.Tag) {
    case 0x0001: ParsePcm(fmt, TWaveKind::wkPcm); break;
    case 0x0002: ParseMsAdpcm(fmt); break;
    case 0x0003: ParseFloat(fmt, TWaveKind::wkFloat); break;
    case 0x0006: ParseG711(fmt, TWaveKind::wkALaw); break;
    case 0x0007: ParseG711(fmt, TWaveKind::wkMuLaw); break;
    case 0x0011: ParseImaAdpcm(fmt); break;
    case 0x0055: ParseMpegLayer3(fmt, chunk); break;
    default: ParseExtensible(fmt); break;
  }
}

void TWaveIn::ParsePcm(const TFormatBody& fmt, TWaveKind kind) {
  RequirePcmWidth(fmt.Bits);
  // The block align is the channels times a slot of whole bytes. A slot wider than
  // the sample (24-bit samples in 4-byte slots) is read whole, as the extensible
  // format's container is: its samples are as wide as the slot. An 8-bit sample is
  // unsigned and wider ones signed, so 8 bits only come one to a byte. A block align
  // of 0 states nothing and the samples are taken as packed.
  std::uint32_t slot = fmt.Bits / 8u;
  RequireFrameFits(fmt.Channels, slot);
  if (fmt.BlockAlign != 0 && fmt.BlockAlign != fmt.Channels * slot) {
    const std::uint32_t wide_slot = fmt.BlockAlign / fmt.Channels;
    if (fmt.BlockAlign % fmt.Channels != 0 || wide_slot < slot || wide_slot > 4 || slot == 1)
      Raise(TFailure::faBlockAlign, std::to_string(fmt.BlockAlign));
    slot = wide_slot;
    BitsPerSample = static_cast<std::int32_t>(8 * slot);
  }
  RequireFrameFits(fmt.Channels, slot);
  BlockAlign = fmt.BlockAlign;
  WaveKind = kind;
}

void TWaveIn::ParseFloat(const TFormatBody& fmt, TWaveKind kind) {
  RequireFloatWidth(fmt.Bits);
  RequireFrameFits(fmt.Channels, 8);
  BlockAlign = fmt.BlockAlign;
  WaveKind = kind;
}

void TWaveIn::ParseExtensible(const TFormatBody& fmt) {
  // The sub-format GUID sits at byte 24 of the (at least 40-byte) extensible body; the
  // valid-bits and channel-mask fields are not needed: the container width is what
  // the data holds.
  if (fmt.Size < 40) Raise(TFailure::faFormatTooShort);
  const std::uint8_t* sub_format = &fmt.Bytes[24];
  if (SameGuid(sub_format, kSubFormatIeeeFloat)) {
    ParseFloat(fmt, TWaveKind::wkExtensibleFloat);
  } else if (SameGuid(sub_format, kSubFormatPcm)) {
    ParsePcm(fmt, TWaveKind::wkExtensiblePcm);
  } else if (SameGuid(sub_format, kSubFormatALaw)) {
    ParseG711(fmt, TWaveKind::wkALaw);
  } else if (SameGuid(sub_format, kSubFormatMuLaw)) {
    ParseG711(fmt, TWaveKind::wkMuLaw);
  } else {
    Raise(TFailure::faSubFormat, GuidText(sub_format));
  }
}

void TWaveIn::ParseG711(const TFormatBody& fmt, TWaveKind kind) {
  // One byte a sample, expanded to 16 bits: a decoded frame must fit the window.
  if (fmt.Bits != 8) Raise(TFailure::faG711Width, std::to_string(fmt.Bits));
  RequireFrameFits(fmt.Channels, 2);
  if (fmt.BlockAlign != 0 && fmt.BlockAlign != fmt.Channels)
    Raise(TFailure::faBlockAlign, std::to_string(fmt.BlockAlign));
  BlockAlign = fmt.BlockAlign;
  WaveKind = kind;
}

void TWaveIn::ParseImaAdpcm(const TFormatBody& fmt) {
  if (fmt.Size < 20) Raise(TFailure::faFormatTooShort);
  if (fmt.Bits != 4) Raise(TFailure::faImaBits, std::to_string(fmt.Bits));
  ImaBlockAlign = fmt.BlockAlign;
  ImaSamplesPerBlock = Le16(&fmt.Bytes[18]);
  if (const auto refusal = CheckImaFormat({fmt.Channels, ImaBlockAlign, ImaSamplesPerBlock}))
    Raise(*refusal, std::to_string(kWindowBytes));
  WaveKind = TWaveKind::wkImaAdpcm;
}

void TWaveIn::ParseMsAdpcm(const TFormatBody& fmt) {
  if (fmt.Size < 22) Raise(TFailure::faFormatTooShort);
  BlockAlign = fmt.BlockAlign;
  SamplesPerBlock = Le16(&fmt.Bytes[18]);
  CoefCount = Le16(&fmt.Bytes[20]);
  // Also refuses more than 32 pairs and a table running out of the body.
  if (const auto refusal = CheckMsFormat({fmt.Channels, BlockAlign, SamplesPerBlock}, CoefCount, fmt.Size))
    Raise(*refusal, std::to_string(kWindowBytes));
  for (std::size_t i = 0; i < CoefCount; ++i) {
    Coefs[i].Coef1 = LeS16(&fmt.Bytes[22 + 4 * i]);
    Coefs[i].Coef2 = LeS16(&fmt.Bytes[24 + 4 * i]);
  }
  WaveKind = TWaveKind::wkMsAdpcm;
}

void TWaveIn::ParseMpegLayer3(const TFormatBody& fmt, const TChunk& chunk) {
  if (fmt.Size < 20) Raise(TFailure::faFormatTooShort);
  BlockAlign = fmt.BlockAlign;
  SamplesPerBlock = Le16(&fmt.Bytes[18]);
  // The conversion reads the whole body again from the stream.
  CompressedParts.FormatAt = chunk.Body;
  CompressedParts.FormatSize = chunk.Size;
  WaveKind = TWaveKind::wkCompressed;
}

void TWaveIn::CompleteFormat() {
  // Payload bytes as the kind delivers them: whole frames only (a partial last frame is
  // dropped), 8 stored bytes of a double float become 4, a G.711 byte a 16-bit sample.
  const auto delivered = [this](std::int64_t bytes) {
    bytes -= bytes % StoredFrameBytes();
    if (IsFloatKind(WaveKind) && !FloatIsSingle) return bytes / 2;
    if (IsG711Kind(WaveKind)) return bytes * 2;
    return bytes;
  };
  switch (WaveKind) {
    case TWaveKind::wkPcm:
    case TWaveKind::wkExtensiblePcm:
      Size = delivered(Size);
      SizeEstimate = delivered(SizeEstimate);
      break;
    case TWaveKind::wkFloat:
    case TWaveKind::wkExtensibleFloat:
      FloatIsSingle = BitsPerSample == 32;
      Size = delivered(Size);
      SizeEstimate = delivered(SizeEstimate);
      BitsPerSample = 32;
      break;
    case TWaveKind::wkALaw:
    case TWaveKind::wkMuLaw:
      Size = delivered(Size);
      SizeEstimate = delivered(SizeEstimate);
      BitsPerSample = 16;
      CodeBytes.resize(kWindowBytes / 2);
      break;
    case TWaveKind::wkImaAdpcm:
    case TWaveKind::wkMsAdpcm: {
      const AdpcmBlockLayout layout = AdpcmLayout();
      BitsPerSample = 16;
      Size = std::int64_t{WaveKind == TWaveKind::wkImaAdpcm ? ImaFactSamples : FactSamples} * 2 * Channels;
      BlockBytes.resize(layout.BlockAlign);
      CodeBytes.resize(WaveKind == TWaveKind::wkImaAdpcm ? ImaCodeBytes(layout) : MsCodeBytes(layout));
      break;
    }
    case TWaveKind::wkCompressed:
      OpenCompressed();
      return;  // the decoded audio holds all it states
    case TWaveKind::wkUnsupported:
      return;
  }
  const std::int64_t present = DataEnd - DataOffset;
  StatedBytes = std::min(present, std::numeric_limits<std::int64_t>::max() - MissingBytes) + MissingBytes;
  CountMissingFrames();
}

void TWaveIn::CountMissingFrames() {
  FramesMissing = FramesHeld(StatedBytes) - FramesHeld(DataEnd - DataOffset);
}

std::int64_t TWaveIn::FramesHeld(std::int64_t bytes) const {
  if (WaveKind != TWaveKind::wkImaAdpcm && WaveKind != TWaveKind::wkMsAdpcm)
    return bytes / StoredFrameBytes();
  // A block cut short decodes as if the rest were zeros; no more frames than "fact"
  // counts are delivered.
  const AdpcmBlockLayout layout = AdpcmLayout();
  const std::int64_t blocks = bytes / layout.BlockAlign + (bytes % layout.BlockAlign != 0 ? 1 : 0);
  const std::int64_t fact = WaveKind == TWaveKind::wkImaAdpcm ? ImaFactSamples : FactSamples;
  if (blocks >= fact) return fact;  // a block holds at least one frame
  return std::min(blocks * layout.SamplesPerBlock, fact);
}

void TWaveIn::OpenCompressed() {
  Mpeg = std::make_unique<TMpegDecoder>(*Stream, CompressedParts);
  // The structure is packed: its fields are read by value, never bound to a reference.
  const platform::WaveFormatEx& pcm = Mpeg->PcmFormat();
  const std::uint32_t rate = pcm.nSamplesPerSec;
  Channels = pcm.nChannels;
  SampleRate = static_cast<std::int32_t>(std::min<std::uint32_t>(rate, std::numeric_limits<std::int32_t>::max()));
  BitsPerSample = pcm.wBitsPerSample;
  BlockAlign = pcm.nBlockAlign;
  // The length is learnt by decoding the data once; the decode gives up when the Open
  // under way is asked to stop.
  Size = Mpeg->Measure([this] { return StopRequested(); });
  DataOffset = 0;
  DataEnd = Size;
}

// ---------------------------------------------------------------------------------
// Opening and closing

void TWaveIn::OpenFile() {
  std::lock_guard lock(FileLock);
  Valid = true;
  if (OpenCount != 0) return;
  FloatIsSingle = false;
  WaveKind = TWaveKind::wkUnsupported;
  try {
    if (!StreamAssigned) {
      OwnStream = std::make_unique<TAuFileStream>(WideFileName, platform::kModeReadShareRead);
      Stream = OwnStream.get();
    }
    ReadHeader();
    CompleteFormat();
  } catch (...) {
    // Nothing stays open: the next OpenFile starts over (and fails the same way).
    Valid = false;
    WaveKind = TWaveKind::wkUnsupported;
    ReleaseSource();
    throw;
  }
  OpenCount = 1;
}

void TWaveIn::CloseFile() {
  std::lock_guard lock(FileLock);
  if (OpenCount <= 0) return;
  OpenCount = 0;
  ReleaseSource();
  if (StreamAssigned && Seekable && Stream != nullptr)
    Stream->SetPosition(0);  // a supplied stream is handed back rewound
}

void TWaveIn::ReleaseSource() {
  Mpeg.reset();
  if (!StreamAssigned) {
    Stream = nullptr;
    OwnStream.reset();
  }
}

// ---------------------------------------------------------------------------------
// Delivery

std::uint32_t TWaveIn::ReadPayload(void* destination, std::uint32_t count) {
  const std::int64_t left = DataEnd - Stream->Position();
  if (left <= static_cast<std::int64_t>(count)) PayloadEnded = true;
  if (left <= 0) return 0;
  const std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(count, left));
  const std::size_t got = ReadStreamFully(*Stream, destination, wanted);
  if (got < wanted) {
    // The file ended before the payload did: it was cut short while it was read. What
    // was there is delivered, and what is missing counted as for a file short at open.
    DataEnd = Stream->Position();
    PayloadEnded = true;
    CountMissingFrames();
  }
  return static_cast<std::uint32_t>(got);
}

std::uint32_t TWaveIn::StoredFrameBytes() const {
  const auto channels = static_cast<std::uint32_t>(Channels);
  if (IsFloatKind(WaveKind)) return channels * (FloatIsSingle ? 4u : 8u);
  if (IsG711Kind(WaveKind)) return channels;
  return channels * (static_cast<std::uint32_t>(BitsPerSample) / 8u);
}

void TWaveIn::RefillStored() {
  const std::uint32_t frame = StoredFrameBytes();
  const std::uint32_t got = ReadPayload(WindowBytes(), kWindowBytes - kWindowBytes % frame);
  WindowEnd = got - got % frame;
}

void TWaveIn::RefillCompressed() {
  const std::uint32_t frame = static_cast<std::uint32_t>(BlockAlign);
  WindowEnd = Mpeg ? Mpeg->Read(WindowBytes(), kWindowBytes - kWindowBytes % frame) : 0;
}

void TWaveIn::RefillG711() {
  // The codes are read beside the window and expanded into it.
  const auto channels = static_cast<std::uint32_t>(Channels);
  const auto room = static_cast<std::uint32_t>(CodeBytes.size());
  const std::uint32_t got = ReadPayload(CodeBytes.data(), room - room % channels);
  std::int32_t frames = static_cast<std::int32_t>(got / channels);
  DecodeG711(WaveKind == TWaveKind::wkALaw ? TG711Law::glALaw : TG711Law::glMuLaw, Channels,
             std::span<const std::uint8_t>(CodeBytes.data(), got), Window, frames);
  WindowEnd = static_cast<std::uint32_t>(frames) * channels * 2u;
}

void TWaveIn::RefillFloat() {
  // Read as many bytes as whole 64-bit frames fill, whichever the width.
  const std::uint32_t unit = static_cast<std::uint32_t>(Channels) * 8u;
  std::uint32_t got = ReadPayload(WindowBytes(), kWindowBytes - kWindowBytes % unit);
  got -= got % StoredFrameBytes();
  const auto bytes = static_cast<std::int32_t>(got);
  if (FloatIsSingle) {
    SinglesToInt32(WindowBytes(), bytes);
    WindowEnd = got;
  } else {
    DoublesToInt32(WindowBytes(), bytes);
    WindowEnd = got / 2;
  }
}

AdpcmBlockLayout TWaveIn::AdpcmLayout() const {
  if (WaveKind == TWaveKind::wkImaAdpcm) return {Channels, ImaBlockAlign, ImaSamplesPerBlock};
  return {Channels, BlockAlign, SamplesPerBlock};
}

// One ADPCM block per refill, read with one stream read and decoded straight into the
// window. The layout was checked against the window and the block when the file was
// opened (CheckImaFormat, CheckMsFormat); the decoders never go outside the spans
// they are given. Exactly samples-per-block frames are delivered: seeking counts
// blocks by that field.
bool TWaveIn::RefillAdpcm() {
  const AdpcmBlockLayout layout = AdpcmLayout();
  const std::uint32_t got = ReadPayload(BlockBytes.data(), layout.BlockAlign);
  const std::span<const std::uint8_t> block(BlockBytes.data(), got);
  const std::span<std::int16_t> out(Window.data(), Window.size());
  std::int32_t frames = layout.SamplesPerBlock;
  if (WaveKind == TWaveKind::wkImaAdpcm) {
    if (!SplitImaBlock(block, layout, ImaState, CodeBytes)) return false;
    (Channels == 2 ? DecodeImaStereo : DecodeImaMono)(ImaState, CodeBytes, out, frames);
  } else {
    if (!SplitMsBlock(block, layout, MsState, CodeBytes)) return false;
    const std::span<const MsCoefPair> coefs(Coefs.data(), CoefCount);
    (Channels == 2 ? DecodeMsStereo : DecodeMsMono)(MsState, coefs, CodeBytes, out, frames);
  }
  WindowEnd = static_cast<std::uint32_t>(frames) * 2u * static_cast<std::uint32_t>(Channels);
  return true;
}

void TWaveIn::ReadInternal(const std::uint8_t*& buffer, std::uint32_t& count) {
  if (!Busy) Raise(TFailure::faNotOpened);
  if (WindowStart > WindowEnd) {
    WindowStart = 1;
    WindowEnd = 0;
    switch (WaveKind) {
      case TWaveKind::wkPcm:
      case TWaveKind::wkExtensiblePcm:
        RefillStored();
        break;
      case TWaveKind::wkCompressed:
        RefillCompressed();
        break;
      case TWaveKind::wkFloat:
      case TWaveKind::wkExtensibleFloat:
        RefillFloat();
        break;
      case TWaveKind::wkALaw:
      case TWaveKind::wkMuLaw:
        RefillG711();
        break;
      case TWaveKind::wkImaAdpcm:
      case TWaveKind::wkMsAdpcm:
        if (!RefillAdpcm() && !Seekable) {
          buffer = nullptr;
          count = 0;
          return;
        }
        break;
      case TWaveKind::wkUnsupported:
        break;
    }
  }
  // Whole delivered frames only: a request below one frame gets nothing.
  const std::uint32_t frame =
      (static_cast<std::uint32_t>(Channels) * static_cast<std::uint32_t>(BitsPerSample)) / 8u;
  count = frame == 0 ? 0 : count - count % frame;
  count = std::min(count, WindowEnd + 1 - WindowStart);
  buffer = WindowBytes() + (WindowStart - 1);
  WindowStart += count;
}

bool TWaveIn::SeekInternal(std::int64_t& sample) {
  WindowStart = 1;
  WindowEnd = 0;
  if (sample < 0) return false;
  std::int64_t index = sample;  // in units of `unit` bytes from DataOffset
  std::int64_t unit = 0;
  switch (WaveKind) {
    case TWaveKind::wkPcm:
    case TWaveKind::wkExtensiblePcm:
    case TWaveKind::wkFloat:
    case TWaveKind::wkExtensibleFloat:
    case TWaveKind::wkALaw:
    case TWaveKind::wkMuLaw:
      unit = StoredFrameBytes();
      break;
    case TWaveKind::wkCompressed:
      // Decoded data is not repositioned: delivery goes on where it is.
      return false;
    case TWaveKind::wkImaAdpcm:
      // Delivery resumes at the first frame of the block that holds `sample`.
      if (ImaSamplesPerBlock == 0) return false;
      index = sample / ImaSamplesPerBlock;
      unit = ImaBlockAlign;
      break;
    case TWaveKind::wkMsAdpcm:
      if (SamplesPerBlock == 0) return false;
      index = sample / SamplesPerBlock;
      unit = BlockAlign;
      break;
    case TWaveKind::wkUnsupported:
      return false;
  }
  if (unit <= 0 || index > (std::numeric_limits<std::int64_t>::max() - DataOffset) / unit)
    return false;
  Stream->SetPosition(DataOffset + index * unit);
  return true;
}

}  // namespace vornek
