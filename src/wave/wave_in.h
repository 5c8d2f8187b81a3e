// SPDX-License-Identifier: BSD-3-Clause
// TWaveIn: the WAV file reader. It reads the header of its stream (its own file, or a
// stream handed to SetStream, so that tests and fuzzers run from memory), and hands
// out interleaved integer PCM from a 16384-byte window:
//
//   wkPcm, wkExtensiblePcm     the stored bytes (8-bit unsigned, wider signed); samples
//                              in slots wider than themselves are read slot by slot
//   wkFloat, wkExtensibleFloat signed 32-bit, converted in place (wave/sample_convert.h)
//   wkImaAdpcm, wkMsAdpcm      signed 16-bit, decoded block by block
//   wkALaw, wkMuLaw            signed 16-bit, expanded code by code (wave/g711.h)
//   wkCompressed               PCM of the codec's choice (16-bit): MPEG Layer 3
//                              decoded through the compression manager a piece at a
//                              time as it is read (wave/mpeg_decoder.h); opening the
//                              file decodes it once to learn its length (a stop asked
//                              of an Open under way cuts that short)
//
// A header the reader cannot use makes OpenFile (and so Open) fail with an
// EAuException whose text says what is wrong (the catalogue, pipeline/failures.h).
//
// Containers: RIFF/WAVE, RF64 and BW64, and Wave64, found in the first 8192 bytes
// (junk before them is skipped, RIFF ids match in any letter case) and walked chunk
// by chunk with 64-bit offsets and sizes to the end of the file (wave/chunk_walker.h),
// so "data" may sit behind any amount of metadata. The first "fmt " counts; the
// compressed kinds need a "fact" chunk between "fmt " and "data". A RIFF "data" size
// that is left open (0 or 0xFFFFFFFF) or has wrapped past 4 GiB reads to the end of
// the file; one that runs past the end delivers what is there, and FramesShort tells
// how much is missing.
//
// Threads: OpenFile and CloseFile hold FileLock (taken after InputLock where both are
// held). ReadInternal and SeekInternal run under InputLock, taken by Read and Seek, on
// the consuming output's worker thread.
//
// StartSample and EndSample (the range, TAuStreamedInput) and Loop are the reader's
// published range settings; the conversion uses 0, -1 and false.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "pipeline/input.h"
#include "pipeline/stream.h"
#include "wave/chunk_walker.h"
#include "wave/decode_window.h"
#include "wave/ima_adpcm.h"
#include "wave/mpeg_decoder.h"
#include "wave/ms_adpcm.h"

namespace vornek {

/// What kind of data a WAV file holds.
enum class TWaveKind : std::uint8_t {
  wkUnsupported = 0,
  wkPcm = 1,              ///< format tag 1
  wkImaAdpcm = 2,         ///< format tag 0x11
  wkMsAdpcm = 3,          ///< format tag 2
  wkCompressed = 4,       ///< format tag 0x55, MPEG Layer 3
  wkFloat = 5,            ///< format tag 3, IEEE float
  wkExtensiblePcm = 6,    ///< format tag 0xFFFE, PCM sub-format
  wkExtensibleFloat = 7,  ///< format tag 0xFFFE, IEEE-float sub-format
  wkALaw = 8,             ///< format tag 6, or 0xFFFE with that sub-format
  wkMuLaw = 9,            ///< format tag 7, or 0xFFFE with that sub-format
};

class TWaveIn : public TAuFileIn {
 public:
  /// Bytes of the delivery window; one decoded ADPCM block must fit it.
  static constexpr std::uint32_t kWindowBytes = kDecodeWindowBytes;

  TWaveIn();
  ~TWaveIn() override;

  /// True when each of the four bytes `read` equals the byte of `expected` or differs
  /// from it by exactly 0x20 (modulo 256): blind to ASCII letter case.
  static bool SameChunkId(const std::uint8_t* read, const char* expected);
  /// True when the 16 bytes at `a` and `b` are equal (GUIDs in file layout).
  static bool SameGuid(const std::uint8_t* a, const std::uint8_t* b);

  // The header as read by the last OpenFile. Only the header reader fills them; the
  // delivery (refills, seeking) reads them, and so do tests.
  TWaveKind WaveKind = TWaveKind::wkUnsupported;
  std::uint16_t ImaBlockAlign = 0;       ///< IMA: bytes per block, all channels
  std::uint16_t ImaSamplesPerBlock = 0;  ///< IMA: frames per block
  std::uint32_t ImaFactSamples = 0;      ///< IMA: frames, from "fact"
  std::uint16_t BlockAlign = 0;          ///< every kind but IMA: the "fmt " block align
  std::uint16_t SamplesPerBlock = 0;     ///< MS ADPCM and MPEG Layer 3: frames per block
  std::uint32_t FactSamples = 0;         ///< MS ADPCM and MPEG Layer 3: frames, from "fact"
  std::uint16_t CoefCount = 0;           ///< MS ADPCM: predictor pairs in "fmt " (1..32)
  std::array<MsCoefPair, kMaxMsCoefs> Coefs{};  ///< MS ADPCM: the pairs, as in "fmt "
  /// Stream position of the first payload byte of "data".
  std::int64_t DataOffset = 0;
  /// Stream position where the payload ends: "data" start + its size, cut at the end
  /// of the stream; the end of the stream when "data" states a size of 0.
  std::int64_t DataEnd = 0;
  /// Float data is 32-bit (else 64-bit).
  bool FloatIsSingle = false;

  /// Once delivery has reached the end of what the file holds: how many frames the
  /// file is short of what its "data" chunk states, or of what it held when it was
  /// opened (a file cut short, before or while it is read, whose audio up to there is
  /// delivered). 0 before that, and for a file that holds all it states.
  std::int64_t FramesShort() const { return PayloadEnded && !SizePastFile() ? FramesMissing : 0; }

  /// A "data" size so far past the file (over kPastFileFactor times all its bytes) that
  /// it is a damaged size, not a file cut short: then FramesShort is 0 and these tell
  /// the size stated and the bytes of the whole file. 0 otherwise.
  std::int64_t StatedDataBytesPastFile() const { return SizePastFile() ? StatedBytes : 0; }
  std::int64_t FileBytes() const { return StreamBytes; }
  static constexpr std::int64_t kPastFileFactor = 100;

 protected:
  void ReadInternal(const std::uint8_t*& buffer, std::uint32_t& count) override;
  bool SeekInternal(std::int64_t& sample) override;
  void OpenFile() override;
  void CloseFile() override;

  /// Reads the header of `Stream` from its first byte: fills the fields above and the
  /// format (Channels, SampleRate, BitsPerSample as stored), sets Size to the payload
  /// bytes for the PCM, float and G.711 kinds (0 when "data" states 0: read to the
  /// end), and leaves the stream on the first payload byte. Raises EAuException
  /// (pipeline/failures.h) for a header it cannot use; failures of the stream pass
  /// through.
  void ReadHeader();

 private:
  /// Reads the "fmt " body: the fields every kind has, then those of its kind.
  void ParseFormat(TChunkWalker& walker, const TChunk& chunk);
  struct TFormatBody;
  void ParsePcm(const TFormatBody& fmt, TWaveKind kind);
  void ParseFloat(const TFormatBody& fmt, TWaveKind kind);
  void ParseG711(const TFormatBody& fmt, TWaveKind kind);
  /// The sub-format decides the kind.
  void ParseExtensible(const TFormatBody& fmt);
  void ParseImaAdpcm(const TFormatBody& fmt);
  void ParseMsAdpcm(const TFormatBody& fmt);
  void ParseMpegLayer3(const TFormatBody& fmt, const TChunk& chunk);
  /// After ReadHeader: the delivered format and Size, by kind.
  void CompleteFormat();
  /// Frames that `bytes` of payload hold, as the kind stores them.
  std::int64_t FramesHeld(std::int64_t bytes) const;
  /// FramesMissing, from StatedBytes and the payload the file holds (to DataEnd).
  void CountMissingFrames();
  bool SizePastFile() const { return MissingBytes > 0 && StatedBytes / kPastFileFactor > StreamBytes; }
  /// MPEG Layer 3: takes the decoder's PCM format as the delivered format and the
  /// length of its PCM as Size.
  void OpenCompressed();
  /// Drops the decoder and the reader's own file stream; a supplied stream stays the
  /// Stream.
  void ReleaseSource();

  void RefillStored();
  void RefillCompressed();
  void RefillFloat();
  void RefillG711();
  /// The block layout of the ADPCM kinds, from the header fields of the kind.
  AdpcmBlockLayout AdpcmLayout() const;
  /// One ADPCM block decoded into the window; false when no block came.
  bool RefillAdpcm();

  /// Reads until `count` bytes, the end of the stream or DataEnd; returns the bytes read.
  std::uint32_t ReadPayload(void* destination, std::uint32_t count);
  /// Bytes of one sample frame as stored in the file (PCM, float and G.711 kinds).
  std::uint32_t StoredFrameBytes() const;

  /// The delivery window. ADPCM and G.711 decode 16-bit samples into it; the PCM kinds
  /// read their bytes into it, MPEG Layer 3 is decoded into it, and float converts its
  /// bytes there in place (WindowBytes).
  std::uint8_t* WindowBytes() { return reinterpret_cast<std::uint8_t*>(Window.data()); }

  std::unique_ptr<TStream> OwnStream;  ///< the file stream OpenFile opened, if any
  /// The decoder of MPEG Layer 3 data, while the file is open.
  std::unique_ptr<TMpegDecoder> Mpeg;
  std::int64_t MissingBytes = 0;   ///< bytes "data" states past the end of the stream
  /// The payload bytes "data" states (or, with its size left open, the file held when
  /// opened): what delivery should reach.
  std::int64_t StatedBytes = 0;
  std::int64_t StreamBytes = 0;  ///< the size of the stream the header was read from
  std::int64_t FramesMissing = 0;  ///< the frames the bytes from DataEnd to StatedBytes would hold
  bool PayloadEnded = false;       ///< a read has reached DataEnd
  /// MPEG Layer 3: where the header reader found the "fmt " body and the payload.
  TCompressedParts CompressedParts;
  /// ADPCM: the current block as read, its code bytes (G.711 reads its codes there
  /// too), and the block header state.
  std::vector<std::uint8_t> BlockBytes;
  std::vector<std::uint8_t> CodeBytes;
  ImaBlockState ImaState;
  MsBlockState MsState;
  alignas(16) std::array<std::int16_t, kWindowBytes / 2> Window{};
};

}  // namespace vornek
