// SPDX-License-Identifier: BSD-3-Clause
#include "base/failures.h"

namespace vornek {

std::string_view FailureTemplate(TFailure failure) {
  using F = TFailure;
  switch (failure) {
    // Several of these keep the component framework's own words, capitals and missing
    // full stops included: hosts and tests know them by those words.
    case F::faOutputBusy: return "Component is Busy";
    case F::faInputNotAssigned: return "Input is not assigned";
    case F::faUnknown: return "Unknown failure.";
    case F::faStopped: return "The conversion was stopped.";
    case F::faInputBusy: return "The component is Busy";
    case F::faInputNameNotAssigned: return "The file name is not assigned";
    case F::faNoWholeFrame: return "The audio format has no whole bytes per sample frame.";
    case F::faNoSampleRate: return "The audio format has no sample rate.";
    case F::faSeekBeforeStart: return "Stream seek before the beginning of the data.";

    case F::faOutputNameNotAssigned: return "File name is not assigned.";
    case F::faNotRegularFile: return "{} is not a regular file.";
    case F::faFileFailure: return "{}: {}";
    case F::faNotWritten: return "The file could not be written.";
    case F::faOutputExists: return "{} exists (use -f to replace it)";
    case F::faAttributesNotKept: return "{}: the input's permissions and times were not copied: {}";
    case F::faDataSizePastFile:
      return "{}: its data chunk states {} bytes, far more than the whole file holds ({} bytes); converted what is "
             "there.";

    case F::faNotWave: return "The file is not a WAV file.";
    case F::faNoFormat: return "The WAV file has no format chunk.";
    case F::faNoFact: return "The compressed WAV file has no \"fact\" chunk before its audio data.";
    case F::faNoData: return "The WAV file has no audio data chunk.";
    case F::faFormatTag: return "Unsupported WAV audio format (format tag {}).";
    case F::faSubFormat: return "Unsupported WAV extensible sub-format {}.";
    case F::faNoChannels: return "The WAV file declares no audio channels.";
    case F::faSampleRate: return "Unsupported sample rate: {} Hz.";
    case F::faPcmWidth: return "Unsupported sample format: {} bits per sample.";
    case F::faFloatWidth: return "Unsupported floating-point sample format: {} bits per sample.";
    case F::faTooManyChannels: return "Unsupported channel count: {} channels.";
    case F::faFormatTooShort: return "The WAV format chunk is damaged: it is too short for its audio format.";
    case F::faFactTooShort: return "The WAV \"fact\" chunk is damaged: it is too short.";
    case F::faChunkPastEnd: return "The WAV file is damaged: its \"{}\" chunk runs past the end of the file.";
    case F::faChunkAfterPastEnd:
      return "The WAV file is damaged: what follows its \"{}\" chunk is no chunk that fits in the file.";
    case F::faFormatAfterData:
      return "The WAV file's format chunk comes after its audio data chunk, where it cannot be read first.";
    case F::faImaBits: return "Unsupported IMA ADPCM format: {} bits per sample (only 4 can be decoded).";
    case F::faBlockAlign:
      return "The WAV format chunk is damaged: its block align of {} bytes does not fit its channels and "
             "sample width.";
    case F::faDs64TooShort: return "The RF64 file is damaged: its \"ds64\" chunk is too short.";
    case F::faDs64Missing: return "The RF64 file is damaged: no \"ds64\" chunk gives the size of its \"{}\" chunk.";
    case F::faWave64ChunkSize: return "The Wave64 file is damaged: a chunk states a size smaller than its own header.";
    case F::faG711Width: return "Unsupported A-law or mu-law format: {} bits per sample (only 8 can be decoded).";
    case F::faNotOpened: return "The Stream is not opened";

    case F::faAdpcmChannels:
      return "The ADPCM data has an unsupported number of channels; only mono and stereo can be decoded.";
    case F::faAdpcmBlockAlignZero: return "The ADPCM block size is 0.";
    case F::faAdpcmBlockTooSmall: return "The ADPCM block size is too small for its header.";
    case F::faImaStereoGroups: return "The IMA ADPCM stereo block size does not hold whole groups of 8 code bytes.";
    case F::faAdpcmSamplesPerBlockTooSmall: return "The ADPCM samples per block is below 2.";
    case F::faAdpcmSamplesPerBlockTooLarge: return "The ADPCM samples per block is more than one block holds.";
    case F::faAdpcmSamplesPerBlockMismatch:
      return "The ADPCM samples per block differs from what one block holds.";
    case F::faAdpcmDecodedBlockTooLarge: return "The decoded ADPCM block is larger than the {}-byte decoding window.";
    case F::faMsNoCoefficients: return "The MS ADPCM coefficient count is 0.";
    case F::faMsTooManyCoefficients: return "The MS ADPCM coefficient count is above 32.";
    case F::faMsCoefficientsOutsideFmt: return "The MS ADPCM coefficient table does not fit inside the \"fmt \" chunk.";

    case F::faMpegManagerFormats:
      return "The audio compression manager uses formats of up to {} bytes, more than the 129 bytes this reader "
             "can hold; the MPEG Layer 3 data cannot be converted.";
    case F::faMpegFormatTooLong:
      return "The \"fmt \" chunk of the MPEG Layer 3 file is {} bytes long; at most 129 bytes are supported.";
    case F::faMpegFormatTooShort: return "The \"fmt \" chunk of the MPEG Layer 3 file is too short.";
    case F::faMpegNoData: return "The MPEG Layer 3 file has no \"data\" chunk with content.";
    case F::faMpegNoPcmFormat: return "No PCM format is offered for the MPEG Layer 3 data of this file ({}): {}.";
    case F::faMpegCannotOpen:
      return "The MPEG Layer 3 data ({}) could not be converted to PCM: the conversion could not be started, "
             "because {}.";
    case F::faMpegConversion: return "The MPEG Layer 3 data ({}) could not be converted to PCM: {}.";
    case F::faMpegNoAudio: return "The MPEG Layer 3 data holds no audio that could be decoded.";

    case F::faFlacLoad: return "{} library could not be loaded.";
    case F::faFlacLoadEntry: return "{} library could not be loaded: it has no entry {}.";
    case F::faFlacInit: return "Failed to initialize FLAC encoder.";
    case F::faFlacVerify:
      return "Verification failed: the encoded FLAC data does not decode to the samples that were read.";
    case F::faFlacEncode: return "Failed to encode data.";
    case F::faTagsTooLarge: return "The tags are too large for a FLAC comment block.";
    case F::faNoAudioChannels: return "The input has no audio channels.";
    case F::faSampleSize: return "Unsupported sample size: {} bits per sample (8, 16, 24 or 32 expected).";
    case F::faFlacChannels: return "FLAC cannot hold {} channels (at most 8).";
    case F::faFlacSampleRate: return "FLAC cannot hold a sample rate of {} Hz (1 to 655350 Hz).";

    case F::faOutputIsInput: return "The output file would overwrite the input file.";
    case F::faNotHostThread: return "The conversion must be called on the thread that loaded the library.";
    case F::faCallFailed: return "The conversion failed.";

    case F::faAssignNothing: return "Cannot copy nothing into {}";
    case F::faAssign: return "Cannot copy {} into {}";
  }
  return {};  // not reached: every code has its case above
}

std::string FailureText(TFailure failure, std::initializer_list<std::string_view> details) {
  std::string text(FailureTemplate(failure));
  std::size_t from = 0;
  for (const std::string_view detail : details) {
    const std::size_t at = text.find("{}", from);
    if (at == std::string::npos) break;
    text.replace(at, 2, detail);
    from = at + detail.size();
  }
  return text;
}

void Raise(TFailure failure, std::initializer_list<std::string_view> details) {
  throw EAuException(FailureText(failure, details));
}

}  // namespace vornek
