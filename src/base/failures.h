// SPDX-License-Identifier: BSD-3-Clause
// Every failure text of the system, in one catalogue: one code per failure, and one
// switch (FailureTemplate, without a default) that gives each its words, so that a code
// without words does not compile. Components raise failures by code (Raise); the texts
// they carry reach the user unchanged, in a message box or on the command's standard
// error. The system's own texts for its errors (strerror, FormatMessage) are not here:
// they are added to these as details.
//
// A text may hold "{}" marks, filled in turn by the details given with the code (a
// format tag, a chunk id, a file name, the system's words).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "base/au_exception.h"

namespace vornek {

enum class TFailure : std::uint8_t {
  // The output engine and the input base.
  faOutputBusy,            ///< Run while a run is under way
  faInputNotAssigned,      ///< Run without an input
  faUnknown,               ///< something not an exception of ours was thrown on the worker
  faStopped,               ///< an Open cut short because the run was stopped
  faInputBusy,             ///< Open of a file input that is open already
  faInputNameNotAssigned,  ///< Open of a file input without a name
  faNoWholeFrame,          ///< a format whose frame is not a whole number of bytes
  faNoSampleRate,          ///< a format without a sample rate
  faSeekBeforeStart,       ///< a stream seek before its first byte

  // Files: opening, writing and putting in place.
  faOutputNameNotAssigned,  ///< a file output run without a name
  faNotRegularFile,         ///< an input that is a pipe, a device or a socket: {name}
  faFileFailure,            ///< what the system said about a file: {name} {system text}
  faNotWritten,             ///< a write that failed without the system saying why
  faOutputExists,           ///< a file stands at the output name, which is not to be replaced: {name}
  faAttributesNotKept,      ///< (a warning) the input's permissions or times not given: {name} {system text}
  faDataSizePastFile,       ///< (a warning) a data size far past the file: {name} {stated bytes} {file bytes}

  // The WAV reader.
  faNotWave,           ///< no RIFF, RF64 or Wave64 header in the first 8192 bytes
  faNoFormat,          ///< no "fmt " chunk
  faNoFact,            ///< a compressed kind without "fact" before "data"
  faNoData,            ///< no "data" chunk after "fmt "
  faFormatTag,         ///< a format tag the reader does not know: {tag}
  faSubFormat,         ///< an extensible sub-format it does not know: {GUID}
  faNoChannels,        ///< 0 channels
  faSampleRate,        ///< sample rate 0 (or beyond 2^31 - 1): {rate}
  faPcmWidth,          ///< PCM bits other than 8, 16, 24, 32: {bits}
  faFloatWidth,        ///< float bits other than 32, 64: {bits}
  faTooManyChannels,   ///< a sample frame larger than the decoding window: {channels}
  faFormatTooShort,    ///< "fmt " body shorter than its kind reads
  faFactTooShort,      ///< "fact" body shorter than 4 bytes
  faChunkPastEnd,      ///< a chunk before "data" runs past the end of the file: {id}
  faChunkAfterPastEnd, ///< a chunk whose id cannot be read runs past the end: {id of the chunk before}
  faFormatAfterData,   ///< "fmt " only after "data"
  faImaBits,           ///< IMA ADPCM with bits per sample other than 4: {bits}
  faBlockAlign,        ///< a PCM block align that fits no slot of whole bytes: {align}
  faDs64TooShort,      ///< RF64: a "ds64" body shorter than its fields and table
  faDs64Missing,       ///< RF64: a size of 0xFFFFFFFF that no "ds64" gives: {id}
  faWave64ChunkSize,   ///< Wave64: a chunk size below its own 24-byte header
  faG711Width,         ///< A-law or mu-law with bits per sample other than 8: {bits}
  faNotOpened,         ///< a read of a reader that is not open

  // ADPCM block layouts that a decoder could not decode safely.
  faAdpcmChannels,                ///< neither mono nor stereo
  faAdpcmBlockAlignZero,          ///< block align 0
  faAdpcmBlockTooSmall,           ///< a block smaller than its header
  faImaStereoGroups,              ///< IMA stereo codes not in whole groups of 8 bytes
  faAdpcmSamplesPerBlockTooSmall, ///< fewer than 2 frames a block
  faAdpcmSamplesPerBlockTooLarge, ///< more frames than a block has codes for
  faAdpcmSamplesPerBlockMismatch, ///< frames a block other than it holds
  faAdpcmDecodedBlockTooLarge,    ///< a decoded block larger than the decoding window: {bytes}
  faMsNoCoefficients,             ///< MS ADPCM without coefficient pairs
  faMsTooManyCoefficients,        ///< more pairs than the reader keeps
  faMsCoefficientsOutsideFmt,     ///< pairs that run past the "fmt " chunk

  // MPEG Layer 3 data, decoded through the compression manager.
  faMpegManagerFormats,  ///< the manager's formats do not fit the buffers: {bytes}
  faMpegFormatTooLong,   ///< a "fmt " body longer than the format buffers: {bytes}
  faMpegFormatTooShort,  ///< a "fmt " body shorter than the 16 common bytes, or cut off
  faMpegNoData,          ///< no "data" chunk with content
  faMpegNoPcmFormat,     ///< no PCM format is suggested: {format} {manager's words}
  faMpegCannotOpen,      ///< the conversion stream does not open: {format} {words}
  faMpegConversion,      ///< a conversion call fails: {format} {words}
  faMpegNoAudio,         ///< the data decodes to nothing

  // The FLAC writer.
  faFlacLoad,           ///< libFLAC could not be loaded: {the names tried}
  faFlacLoadEntry,      ///< a libFLAC was loaded without an entry the writer needs: {name} {entry}
  faFlacInit,           ///< the encoder could not be created or initialised
  faFlacEncode,         ///< the encoder refused a block or its end
  faFlacVerify,         ///< its verification found frames that do not decode to the samples read
  faTagsTooLarge,       ///< the comment block would not fit a metadata block
  faNoAudioChannels,    ///< an input without channels
  faSampleSize,         ///< a sample width the writer cannot widen: {bits}
  faFlacChannels,       ///< more channels than FLAC holds: {channels}
  faFlacSampleRate,     ///< a rate FLAC cannot state: {rate}

  // The conversion window and its call.
  faOutputIsInput,   ///< the FLAC name names the input itself
  faNotHostThread,   ///< the call made on a thread other than the one that loaded the library
  faCallFailed,      ///< a failure of the window itself, not of the conversion

  // The tag store.
  faAssignNothing,  ///< Assign from nothing: {class}
  faAssign,         ///< Assign between classes that cannot: {class} {class}
};

/// The last code: the catalogue holds the codes from 0 to this one.
inline constexpr TFailure kLastFailure = TFailure::faAssign;

/// The words of `failure`, with their "{}" marks unfilled.
std::string_view FailureTemplate(TFailure failure);

/// The text of `failure`, its "{}" marks filled by `details` in turn.
std::string FailureText(TFailure failure, std::initializer_list<std::string_view> details = {});
inline std::string FailureText(TFailure failure, std::string_view detail) { return FailureText(failure, {detail}); }

/// Raises the EAuException of `failure`.
[[noreturn]] void Raise(TFailure failure, std::initializer_list<std::string_view> details = {});
[[noreturn]] inline void Raise(TFailure failure, std::string_view detail) { Raise(failure, {detail}); }

}  // namespace vornek
