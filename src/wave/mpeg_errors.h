// Every failure text of the MPEG Layer 3 conversion, in one place. A text may hold
// "{}" marks, replaced in turn by the details of the file (sizes, its format, the
// compression manager's words for what went wrong).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "pipeline/au_exception.h"

namespace vornek {

enum class TMpegError {
  meManagerFormats,  ///< the manager's formats do not fit the 129-byte format buffers
  meFormatTooLong,   ///< a "fmt " body longer than the format buffers
  meFormatTooShort,  ///< a "fmt " body shorter than the 16 common bytes, or cut off
  meNoData,          ///< no "data" chunk with content
  meNoPcmFormat,     ///< no PCM format is suggested for the data's format
  meCannotOpen,      ///< the conversion stream does not open
  meConversion,      ///< a conversion call fails
  meNoAudio,         ///< the data decodes to nothing
  meTooLarge,        ///< the decoded audio would pass the ceiling of what is held
  meOutOfMemory,     ///< the decoded audio does not fit the memory there is
  meStopped,         ///< the run was stopped during the conversion
};

/// The text of `error` before its marks are filled.
constexpr std::string_view MpegErrorTemplate(TMpegError error) {
  switch (error) {
    case TMpegError::meManagerFormats:
      return "The audio compression manager uses formats of up to {} bytes, more than the 129 bytes "
             "this reader can hold; the MPEG Layer 3 data cannot be converted.";
    case TMpegError::meFormatTooLong:
      return "The \"fmt \" chunk of the MPEG Layer 3 file is {} bytes long; at most 129 bytes are supported.";
    case TMpegError::meFormatTooShort: return "The \"fmt \" chunk of the MPEG Layer 3 file is too short.";
    case TMpegError::meNoData: return "The MPEG Layer 3 file has no \"data\" chunk with content.";
    case TMpegError::meNoPcmFormat: return "No PCM format is offered for the MPEG Layer 3 data of this file ({}): {}.";
    case TMpegError::meCannotOpen:
      return "The MPEG Layer 3 data ({}) could not be converted to PCM: the conversion could not be started, "
             "because {}.";
    case TMpegError::meConversion: return "The MPEG Layer 3 data ({}) could not be converted to PCM: {}.";
    case TMpegError::meNoAudio: return "The MPEG Layer 3 data holds no audio that could be decoded.";
    case TMpegError::meTooLarge:
      return "The MPEG Layer 3 data would decode to {} of audio; at most {} ({}) are held in memory to "
             "convert it.";
    case TMpegError::meOutOfMemory:
      return "There is not enough memory to hold the decoded MPEG Layer 3 audio ({} so far).";
    case TMpegError::meStopped: return "The conversion was stopped.";
  }
  return {};  // not reached: every value has its case above
}

/// The text of `error` with its marks replaced by `details`, in order.
inline std::string MpegErrorText(TMpegError error, std::initializer_list<std::string_view> details = {}) {
  std::string text(MpegErrorTemplate(error));
  std::size_t from = 0;
  for (const std::string_view detail : details) {
    const std::size_t at = text.find("{}", from);
    if (at == std::string::npos) break;
    text.replace(at, 2, detail);
    from = at + detail.size();
  }
  return text;
}

/// Raises the EAuException of `error`.
[[noreturn]] inline void RaiseMpegError(TMpegError error, std::initializer_list<std::string_view> details = {}) {
  throw EAuException(MpegErrorText(error, details));
}

}  // namespace vornek
