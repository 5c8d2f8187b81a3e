// SPDX-License-Identifier: BSD-3-Clause
#include "flac/encoder_settings.h"

namespace vornek {

namespace {
// The library takes booleans as 32-bit integers; true is passed with all bits set.
FLAC__bool Flag(bool value) { return value ? -1 : 0; }
}  // namespace

void ConfigureEncoder(FLAC__StreamEncoder* encoder, const TEncoderSettings& settings) {
  const TLibFLAC& lib = LibFLAC();
  const TRunFormat& format = settings.Format;
  lib.FLAC__stream_encoder_set_verify(encoder, Flag(settings.Verify));
  lib.FLAC__stream_encoder_set_channels(encoder, static_cast<std::uint32_t>(format.Channels));
  lib.FLAC__stream_encoder_set_bits_per_sample(encoder, static_cast<std::uint32_t>(format.BitsPerSample));
  lib.FLAC__stream_encoder_set_sample_rate(encoder, static_cast<std::uint32_t>(format.SampleRate));
  // A frame header of the streamable subset states only rates below 65536 Hz or whole
  // tens of Hz; any other rate FLAC holds is stated once, in the stream information,
  // outside the subset (as flac --lax writes it, and as decoders read it).
  if (format.SampleRate > 65535 && format.SampleRate % 10 != 0 && lib.FLAC__stream_encoder_set_streamable_subset)
    lib.FLAC__stream_encoder_set_streamable_subset(encoder, false);
  if (format.Channels == 2) {
    lib.FLAC__stream_encoder_set_do_mid_side_stereo(encoder, Flag(settings.EnableMidSideStereo));
    lib.FLAC__stream_encoder_set_loose_mid_side_stereo(encoder, Flag(settings.EnableLooseMidSideStereo));
  }
  lib.FLAC__stream_encoder_set_blocksize(encoder, settings.BlockSize);
  if (settings.CompressionLevel >= 0) {
    lib.FLAC__stream_encoder_set_compression_level(encoder,
                                                   static_cast<std::uint32_t>(settings.CompressionLevel));
  } else {
    lib.FLAC__stream_encoder_set_max_lpc_order(encoder, settings.MaxLPCOrder);
    lib.FLAC__stream_encoder_set_qlp_coeff_precision(encoder, settings.QLPCoeffPrecision);
    lib.FLAC__stream_encoder_set_do_qlp_coeff_prec_search(encoder, Flag(settings.QLPCoeffPrecisionSearch));
    lib.FLAC__stream_encoder_set_min_residual_partition_order(encoder, settings.MinResidualPartitionOrder);
    lib.FLAC__stream_encoder_set_max_residual_partition_order(encoder, settings.MaxResidualPartitionOrder);
    lib.FLAC__stream_encoder_set_do_exhaustive_model_search(encoder, Flag(settings.BestModelSearch));
  }
  if (format.SamplesEstimate)
    lib.FLAC__stream_encoder_set_total_samples_estimate(encoder, *format.SamplesEstimate);
}

TFailure EncodeFailure(FLAC__StreamEncoder* encoder) {
  const TLibFLAC& lib = LibFLAC();
  if (lib.FLAC__stream_encoder_get_state == nullptr) return TFailure::faFlacEncode;
  switch (lib.FLAC__stream_encoder_get_state(encoder)) {
    case FLAC__STREAM_ENCODER_VERIFY_DECODER_ERROR:
    case FLAC__STREAM_ENCODER_VERIFY_MISMATCH_IN_AUDIO_DATA:
      return TFailure::faFlacVerify;
    default:
      return TFailure::faFlacEncode;
  }
}

}  // namespace vornek
