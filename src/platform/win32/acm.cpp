// SPDX-License-Identifier: BSD-3-Clause
// The compression manager on Windows is msacm32 itself: each call forwards
// unchanged. Our structures have the layout of the system's, which the checks
// below hold to at compile time, so pointers are passed through as they are.
// The program must link msacm32.
#include "platform/acm.h"

#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include <cstddef>

namespace vornek::platform {

static_assert(sizeof(WaveFormatEx) == sizeof(WAVEFORMATEX));
static_assert(offsetof(WaveFormatEx, nSamplesPerSec) == offsetof(WAVEFORMATEX, nSamplesPerSec));
static_assert(offsetof(WaveFormatEx, cbSize) == offsetof(WAVEFORMATEX, cbSize));
static_assert(sizeof(WaveFilter) == sizeof(WAVEFILTER));
static_assert(sizeof(AcmStreamHeader) == sizeof(ACMSTREAMHEADER));
static_assert(offsetof(AcmStreamHeader, pbSrc) == offsetof(ACMSTREAMHEADER, pbSrc));
static_assert(offsetof(AcmStreamHeader, cbDstLengthUsed) == offsetof(ACMSTREAMHEADER, cbDstLengthUsed));
static_assert(offsetof(AcmStreamHeader, dwReservedDriver) == offsetof(ACMSTREAMHEADER, dwReservedDriver));
static_assert(kAcmDriverReservedWords == _DRVRESERVED);
static_assert(kAcmMetricMaxSizeFormat == ACM_METRIC_MAX_SIZE_FORMAT);
static_assert(kAcmFormatSuggestWFormatTag == ACM_FORMATSUGGESTF_WFORMATTAG);
static_assert(kAcmStreamOpenNonRealtime == ACM_STREAMOPENF_NONREALTIME);
static_assert(kAcmStreamSizeSource == ACM_STREAMSIZEF_SOURCE);
static_assert(kAcmStreamConvertBlockAlign == ACM_STREAMCONVERTF_BLOCKALIGN);
static_assert(kAcmErrNotPossible == ACMERR_NOTPOSSIBLE);
static_assert(kMmSysErrInvalParam == MMSYSERR_INVALPARAM);

namespace {

LPWAVEFORMATEX Native(WaveFormatEx* format) { return reinterpret_cast<LPWAVEFORMATEX>(format); }
LPACMSTREAMHEADER Native(AcmStreamHeader* header) { return reinterpret_cast<LPACMSTREAMHEADER>(header); }
HACMSTREAM Native(AcmStreamHandle stream) { return reinterpret_cast<HACMSTREAM>(stream); }
HACMDRIVER Native(AcmDriverHandle driver) { return reinterpret_cast<HACMDRIVER>(driver); }

}  // namespace

AcmResult acmMetrics(AcmObjectHandle object, std::uint32_t metric_index, void* metric) {
  return ::acmMetrics(reinterpret_cast<HACMOBJ>(object), metric_index, metric);
}

AcmResult acmFormatSuggest(AcmDriverHandle driver, WaveFormatEx* source, WaveFormatEx* destination,
                           std::uint32_t destination_bytes, std::uint32_t flags) {
  return ::acmFormatSuggest(Native(driver), Native(source), Native(destination), destination_bytes, flags);
}

AcmResult acmStreamOpen(AcmStreamHandle* stream, AcmDriverHandle driver, WaveFormatEx* source,
                        WaveFormatEx* destination, WaveFilter* filter, std::uintptr_t callback,
                        std::uintptr_t instance, std::uint32_t flags) {
  return ::acmStreamOpen(reinterpret_cast<LPHACMSTREAM>(stream), Native(driver), Native(source), Native(destination),
                         reinterpret_cast<LPWAVEFILTER>(filter), callback, instance, flags);
}

AcmResult acmStreamSize(AcmStreamHandle stream, std::uint32_t input_bytes, std::uint32_t* output_bytes,
                        std::uint32_t flags) {
  return ::acmStreamSize(Native(stream), input_bytes, reinterpret_cast<LPDWORD>(output_bytes), flags);
}

AcmResult acmStreamPrepareHeader(AcmStreamHandle stream, AcmStreamHeader* header, std::uint32_t flags) {
  return ::acmStreamPrepareHeader(Native(stream), Native(header), flags);
}

AcmResult acmStreamConvert(AcmStreamHandle stream, AcmStreamHeader* header, std::uint32_t flags) {
  return ::acmStreamConvert(Native(stream), Native(header), flags);
}

AcmResult acmStreamUnprepareHeader(AcmStreamHandle stream, AcmStreamHeader* header, std::uint32_t flags) {
  return ::acmStreamUnprepareHeader(Native(stream), Native(header), flags);
}

AcmResult acmStreamClose(AcmStreamHandle stream, std::uint32_t flags) {
  return ::acmStreamClose(Native(stream), flags);
}

}  // namespace vornek::platform
