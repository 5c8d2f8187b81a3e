// SPDX-License-Identifier: BSD-3-Clause
// The audio compression manager: the eight calls the WAV reader uses to turn
// MPEG Layer 3 data into PCM, with the argument and result conventions of the
// Windows manager (msacm32), streaming included. On Windows they forward to msacm32
// itself; on POSIX they are served by our own implementation whose MPEG Layer 3 codec
// is libmpg123.
//
// The structures below have the byte layout of their Windows counterparts so
// that the Windows build can hand them to msacm32 unchanged, and so that a
// format structure can be copied to and from a WAV file's "fmt " body as is.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace vornek::platform {

// Format structures are stored little-endian, as in a WAV file and on Windows.
static_assert(std::endian::native == std::endian::little,
              "the wave-format structures are used in their little-endian file layout");

/// Result of every call: 0 on success, otherwise one of the error codes below.
using AcmResult = std::uint32_t;

/// Opaque handles. A null handle means "no driver" / "no object".
struct AcmDriver;
struct AcmObject;
struct AcmStream;
using AcmDriverHandle = AcmDriver*;
using AcmObjectHandle = AcmObject*;
using AcmStreamHandle = AcmStream*;

/// The 16-bit format tags this system uses.
inline constexpr std::uint16_t kWaveFormatPcm = 1;
inline constexpr std::uint16_t kWaveFormatMpegLayer3 = 0x55;

#pragma pack(push, 1)
/// The wave-format structure (18-byte base). Codec-specific extension bytes
/// (`cbSize` of them) follow it directly in the same buffer.
struct WaveFormatEx {
  std::uint16_t wFormatTag;
  std::uint16_t nChannels;
  std::uint32_t nSamplesPerSec;
  std::uint32_t nAvgBytesPerSec;
  std::uint16_t nBlockAlign;
  std::uint16_t wBitsPerSample;
  std::uint16_t cbSize;
};

/// A filter description; only passed as "no filter" (null) here.
struct WaveFilter {
  std::uint32_t cbStruct;
  std::uint32_t dwFilterTag;
  std::uint32_t fdwFilter;
  std::uint32_t dwReserved[5];
};

/// Words the driver may use privately: 10 in the 32-bit Windows layout, 15 in the 64-bit one.
inline constexpr std::size_t kAcmDriverReservedWords = sizeof(void*) == 8 ? 15 : 10;

/// The conversion header of one acmStreamConvert call. The caller owns the
/// header and both buffers; they must stay in place from
/// acmStreamPrepareHeader to acmStreamUnprepareHeader.
struct AcmStreamHeader {
  std::uint32_t cbStruct;         ///< sizeof(AcmStreamHeader)
  std::uint32_t fdwStatus;        ///< kAcmStreamHeaderStatus* bits, kept by the manager
  std::uintptr_t dwUser;
  std::uint8_t* pbSrc;
  std::uint32_t cbSrcLength;
  std::uint32_t cbSrcLengthUsed;  ///< set by the conversion
  std::uintptr_t dwSrcUser;
  std::uint8_t* pbDst;
  std::uint32_t cbDstLength;
  std::uint32_t cbDstLengthUsed;  ///< set by the conversion: the bytes it produced
  std::uintptr_t dwDstUser;
  std::uint32_t dwReservedDriver[kAcmDriverReservedWords];
};
#pragma pack(pop)

static_assert(sizeof(WaveFormatEx) == 18);
static_assert(sizeof(void*) != 4 || sizeof(AcmStreamHeader) == 84,
              "the 32-bit header must keep the 84-byte layout of the manager");

/// The largest format structure the reader's format buffers hold.
inline constexpr std::uint32_t kMaxWaveFormatBytes = 129;

// Result codes (the manager's own numbers).
inline constexpr AcmResult kMmSysErrNoError = 0;        // MMSYSERR_NOERROR
inline constexpr AcmResult kMmSysErrError = 1;          // MMSYSERR_ERROR: unspecified failure
inline constexpr AcmResult kMmSysErrInvalHandle = 5;    // MMSYSERR_INVALHANDLE
inline constexpr AcmResult kMmSysErrNoMem = 7;          // MMSYSERR_NOMEM
inline constexpr AcmResult kMmSysErrNotSupported = 8;   // MMSYSERR_NOTSUPPORTED
inline constexpr AcmResult kMmSysErrInvalFlag = 10;     // MMSYSERR_INVALFLAG
inline constexpr AcmResult kMmSysErrInvalParam = 11;    // MMSYSERR_INVALPARAM
inline constexpr AcmResult kAcmErrNotPossible = 512;    // ACMERR_NOTPOSSIBLE
inline constexpr AcmResult kAcmErrBusy = 513;           // ACMERR_BUSY
inline constexpr AcmResult kAcmErrUnprepared = 514;     // ACMERR_UNPREPARED
inline constexpr AcmResult kAcmErrCanceled = 515;       // ACMERR_CANCELED

// acmMetrics
inline constexpr std::uint32_t kAcmMetricMaxSizeFormat = 50;  // ACM_METRIC_MAX_SIZE_FORMAT
// acmFormatSuggest: which fields of the destination are fixed by the caller.
inline constexpr std::uint32_t kAcmFormatSuggestWFormatTag = 0x00010000;      // ..._WFORMATTAG
inline constexpr std::uint32_t kAcmFormatSuggestNChannels = 0x00020000;       // ..._NCHANNELS
inline constexpr std::uint32_t kAcmFormatSuggestNSamplesPerSec = 0x00040000;  // ..._NSAMPLESPERSEC
inline constexpr std::uint32_t kAcmFormatSuggestWBitsPerSample = 0x00080000;  // ..._WBITSPERSAMPLE
// acmStreamOpen
inline constexpr std::uint32_t kAcmStreamOpenQuery = 0x00000001;        // ACM_STREAMOPENF_QUERY
inline constexpr std::uint32_t kAcmStreamOpenAsync = 0x00000002;        // ACM_STREAMOPENF_ASYNC
inline constexpr std::uint32_t kAcmStreamOpenNonRealtime = 0x00000004;  // ACM_STREAMOPENF_NONREALTIME
// acmStreamSize
inline constexpr std::uint32_t kAcmStreamSizeSource = 0x00000000;       // ACM_STREAMSIZEF_SOURCE
inline constexpr std::uint32_t kAcmStreamSizeDestination = 0x00000001;  // ACM_STREAMSIZEF_DESTINATION
// acmStreamConvert
inline constexpr std::uint32_t kAcmStreamConvertBlockAlign = 0x00000004;  // ACM_STREAMCONVERTF_BLOCKALIGN
inline constexpr std::uint32_t kAcmStreamConvertStart = 0x00000010;       // ACM_STREAMCONVERTF_START
inline constexpr std::uint32_t kAcmStreamConvertEnd = 0x00000020;         // ACM_STREAMCONVERTF_END
// AcmStreamHeader::fdwStatus
inline constexpr std::uint32_t kAcmStreamHeaderStatusDone = 0x00010000;      // ..._STATUSF_DONE
inline constexpr std::uint32_t kAcmStreamHeaderStatusPrepared = 0x00020000;  // ..._STATUSF_PREPARED
inline constexpr std::uint32_t kAcmStreamHeaderStatusInQueue = 0x00100000;   // ..._STATUSF_INQUEUE

/// What a result code means, in words that can follow "because" in a failure text;
/// empty for a code the manager does not document (the caller then names the number).
inline const char* AcmResultText(AcmResult result) {
  switch (result) {
    case kMmSysErrNoError: return "nothing went wrong";
    case kMmSysErrError: return "the decoder could not make sense of the data";
    case kMmSysErrInvalHandle: return "the conversion stream was not open";
    case kMmSysErrNoMem: return "there was not enough memory";
    case kMmSysErrNotSupported: return "the codec does not support it";
    case kMmSysErrInvalFlag: return "the codec does not know a flag it was given";
    case kMmSysErrInvalParam: return "the codec refused the formats or buffers it was given";
    case kAcmErrNotPossible:
      return "the data is not of the format its header declares, or no installed codec converts it";
    case kAcmErrBusy: return "the codec was busy";
    case kAcmErrUnprepared: return "the conversion buffers were not prepared";
    case kAcmErrCanceled: return "the conversion was canceled";
    default: return "";
  }
}

/// Answers one metric of the manager or of `object` (null: the manager itself) into
/// `metric` (a 32-bit value for ACM_METRIC_MAX_SIZE_FORMAT).
AcmResult acmMetrics(AcmObjectHandle object, std::uint32_t metric_index, void* metric);

/// Fills `destination` (`destination_bytes` long, owned by the caller) with a format
/// the data of `source` can be converted to; `flags` tell which fields of
/// `destination` the caller has already fixed.
AcmResult acmFormatSuggest(AcmDriverHandle driver, WaveFormatEx* source, WaveFormatEx* destination,
                           std::uint32_t destination_bytes, std::uint32_t flags);

/// Opens a conversion stream from `source` to `destination` into `*stream`; close it with
/// acmStreamClose. With ACM_STREAMOPENF_QUERY only tells whether it could be opened.
AcmResult acmStreamOpen(AcmStreamHandle* stream, AcmDriverHandle driver, WaveFormatEx* source,
                        WaveFormatEx* destination, WaveFilter* filter, std::uintptr_t callback,
                        std::uintptr_t instance, std::uint32_t flags);

/// The destination length needed for `input_bytes` of source (ACM_STREAMSIZEF_SOURCE),
/// or the source length for that much destination (ACM_STREAMSIZEF_DESTINATION).
AcmResult acmStreamSize(AcmStreamHandle stream, std::uint32_t input_bytes, std::uint32_t* output_bytes,
                        std::uint32_t flags);

/// Registers `header` and its buffers with the stream before conversion.
AcmResult acmStreamPrepareHeader(AcmStreamHandle stream, AcmStreamHeader* header, std::uint32_t flags);

/// Converts the header's source into its destination, never writing past cbDstLength;
/// reports the bytes used on both sides. A stream is converted in successive calls on
/// successive parts of its source: the codec keeps its state from call to call (a
/// frame split between two parts, output that did not fit the last destination), and
/// a part it did not use (cbSrcLengthUsed short of cbSrcLength) is to be given again.
/// ACM_STREAMCONVERTF_START starts the stream afresh; ACM_STREAMCONVERTF_END marks the
/// last part, after which calls without source hand out what is still held until one
/// produces nothing. The destination should be at least what acmStreamSize states for
/// the source given.
AcmResult acmStreamConvert(AcmStreamHandle stream, AcmStreamHeader* header, std::uint32_t flags);

/// Releases what acmStreamPrepareHeader registered.
AcmResult acmStreamUnprepareHeader(AcmStreamHandle stream, AcmStreamHeader* header, std::uint32_t flags);

/// Closes the stream; the handle is invalid afterwards.
AcmResult acmStreamClose(AcmStreamHandle stream, std::uint32_t flags);

}  // namespace vornek::platform
