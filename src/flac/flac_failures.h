// The FLAC writer's failure texts, shared by the writer and its parallel encoder.
#pragma once

namespace vornek {

inline constexpr const char* kLibFLACLoadFailure = "libFLAC.dll library could not be loaded.";
inline constexpr const char* kEncoderInitFailure = "Failed to initialize FLAC encoder.";
inline constexpr const char* kEncodeFailure = "Failed to encode data.";

}  // namespace vornek
