// Every failure text of the WAV reader, in one table. A header the reader cannot use
// makes Open fail with one of these (as an EAuException), never an input that opens
// and delivers nothing.
//
// A text may hold one "{}", replaced by a detail of the file (a format tag, a bit
// count, a chunk id). The block-layout refusals of the two ADPCM codecs are the
// codecs' own (wave/adpcm_errors.h): they check exactly what their decoders rely on,
// and the reader raises their text unchanged.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "pipeline/au_exception.h"

namespace vornek {

enum class TWaveError {
  weNotWave,                ///< no "RIFF" ... "WAVE" in the first 8192 bytes
  weNoFormat,               ///< no "fmt " chunk
  weNoFact,                 ///< a compressed kind without "fact" before "data"
  weNoData,                 ///< no "data" chunk after "fmt "
  weFormatTag,              ///< a format tag the reader does not know
  weSubFormat,              ///< an extensible sub-format other than PCM or IEEE float
  weNoChannels,             ///< 0 channels
  weSampleRate,             ///< sample rate 0 (or beyond 2^31 - 1)
  wePcmWidth,               ///< PCM bits other than 8, 16, 24, 32
  weFloatWidth,             ///< float bits other than 32, 64
  weTooManyChannels,        ///< a sample frame larger than the 16384-byte window
  weFormatTooShort,         ///< "fmt " body shorter than its kind reads
  weFactTooShort,           ///< "fact" body shorter than 4 bytes
  weChunkPastEnd,           ///< a chunk before "data" runs past the end of the file
  weImaBits,                ///< IMA ADPCM with bits per sample other than 4
  weBlockAlign,             ///< a PCM block align that fits no slot of whole bytes per sample
  weNotOpened,              ///< a read of an input that is not open (last value)
};

struct TWaveErrorText {
  TWaveError Error;
  std::string_view Text;
};

/// One entry per TWaveError, in the order of the enumeration.
inline constexpr TWaveErrorText kWaveErrorTexts[] = {
    {TWaveError::weNotWave, "The file is not a WAV file."},
    {TWaveError::weNoFormat, "The WAV file has no format chunk."},
    {TWaveError::weNoFact,
     "The compressed WAV file has no \"fact\" chunk before its audio data."},
    {TWaveError::weNoData, "The WAV file has no audio data chunk."},
    {TWaveError::weFormatTag, "Unsupported WAV audio format (format tag {})."},
    {TWaveError::weSubFormat, "Unsupported WAV extensible sub-format {}."},
    {TWaveError::weNoChannels, "The WAV file declares no audio channels."},
    {TWaveError::weSampleRate, "Unsupported sample rate: {} Hz."},
    {TWaveError::wePcmWidth, "Unsupported sample format: {} bits per sample."},
    {TWaveError::weFloatWidth, "Unsupported floating-point sample format: {} bits per sample."},
    {TWaveError::weTooManyChannels, "Unsupported channel count: {} channels."},
    {TWaveError::weFormatTooShort,
     "The WAV format chunk is damaged: it is too short for its audio format."},
    {TWaveError::weFactTooShort, "The WAV \"fact\" chunk is damaged: it is too short."},
    {TWaveError::weChunkPastEnd,
     "The WAV file is damaged: its \"{}\" chunk runs past the end of the file."},
    {TWaveError::weImaBits,
     "Unsupported IMA ADPCM format: {} bits per sample (only 4 can be decoded)."},
    {TWaveError::weBlockAlign,
     "The WAV format chunk is damaged: its block align of {} bytes does not fit its channels "
     "and sample width."},
    {TWaveError::weNotOpened, "The Stream is not opened"},
};

namespace wave_errors_detail {
constexpr bool InEnumOrder() {
  std::size_t i = 0;
  for (const auto& entry : kWaveErrorTexts)
    if (static_cast<std::size_t>(entry.Error) != i++) return false;
  return i == static_cast<std::size_t>(TWaveError::weNotOpened) + 1;
}
static_assert(InEnumOrder(), "kWaveErrorTexts must list every TWaveError once, in order");
}  // namespace wave_errors_detail

/// The text of `error`, with its "{}" (if any) replaced by `detail`.
inline std::string WaveErrorText(TWaveError error, std::string_view detail = {}) {
  std::string text(kWaveErrorTexts[static_cast<std::size_t>(error)].Text);
  if (const auto at = text.find("{}"); at != std::string::npos) text.replace(at, 2, detail);
  return text;
}

/// Raises the EAuException of `error`.
[[noreturn]] inline void RaiseWaveError(TWaveError error, std::string_view detail = {}) {
  throw EAuException(WaveErrorText(error, detail));
}

}  // namespace vornek
