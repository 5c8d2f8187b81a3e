// SPDX-License-Identifier: BSD-3-Clause
// Run-time binding of the FLAC library.
//
// The library is loaded by name on the first attempt to prepare a FLAC output and
// stays loaded for the life of the process. Its entries are looked up by name, in a
// fixed order, into process-wide typed slots; an entry the library does not export
// leaves its slot null. A failed load is tried again on the next call.
//
// The slot types come from the installed libFLAC headers (only the prototypes are
// used; nothing links the library), so a slot can only ever hold an entry of the
// type the library declares for it.
//
// Threads: LoadLibFLAC may be called from any worker at once; ModuleLock makes the
// test, the load and the whole binding one step. The slots are written only inside
// that lock and never change afterwards, so a caller that finds LibFLACLoaded() true
// after LoadLibFLAC() returned sees every slot bound.
#pragma once

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vornek {

// X(slot, prototype, use): the 89 entries in binding order. The slot's name is the exact
// text looked up; its type is that of the prototype named; `use` says whether the
// writer calls it (called) or it is only bound (bound: the decoder, the metadata
// iterators and the encoder's other entries, which Vornek never calls). One name is looked up with
// a capital M, as the library's interface has always been bound here; the library
// exports no such symbol, so that slot stays null (nothing calls it).
#define VORNEK_LIBFLAC_ENTRIES(X)                                                        \
  X(FLAC__stream_decoder_new, FLAC__stream_decoder_new, bound)                                  \
  X(FLAC__stream_decoder_delete, FLAC__stream_decoder_delete, bound)                            \
  X(FLAC__stream_decoder_set_ogg_serial_number, FLAC__stream_decoder_set_ogg_serial_number, bound) \
  X(FLAC__stream_decoder_set_md5_checking, FLAC__stream_decoder_set_md5_checking, bound)        \
  X(FLAC__stream_decoder_set_metadata_respond, FLAC__stream_decoder_set_metadata_respond, bound) \
  X(FLAC__stream_decoder_set_metadata_respond_application,                               \
    FLAC__stream_decoder_set_metadata_respond_application, bound)                               \
  X(FLAC__stream_decoder_set_metadata_respond_all, FLAC__stream_decoder_set_metadata_respond_all, bound) \
  X(FLAC__stream_decoder_set_metadata_ignore, FLAC__stream_decoder_set_metadata_ignore, bound)  \
  X(FLAC__stream_decoder_set_metadata_ignore_application,                                \
    FLAC__stream_decoder_set_metadata_ignore_application, bound)                                \
  X(FLAC__stream_decoder_set_metadata_ignore_all, FLAC__stream_decoder_set_metadata_ignore_all, bound) \
  X(FLAC__stream_decoder_get_state, FLAC__stream_decoder_get_state, bound)                      \
  X(FLAC__stream_decoder_get_md5_checking, FLAC__stream_decoder_get_md5_checking, bound)        \
  X(FLAC__stream_decoder_get_total_samples, FLAC__stream_decoder_get_total_samples, bound)      \
  X(FLAC__stream_decoder_get_channels, FLAC__stream_decoder_get_channels, bound)                \
  X(FLAC__stream_decoder_get_channel_assignment, FLAC__stream_decoder_get_channel_assignment, bound) \
  X(FLAC__stream_decoder_get_bits_per_sample, FLAC__stream_decoder_get_bits_per_sample, bound)  \
  X(FLAC__stream_decoder_get_sample_rate, FLAC__stream_decoder_get_sample_rate, bound)          \
  X(FLAC__stream_decoder_get_blocksize, FLAC__stream_decoder_get_blocksize, bound)              \
  X(FLAC__stream_decoder_get_decode_position, FLAC__stream_decoder_get_decode_position, bound)  \
  X(FLAC__stream_decoder_init_stream, FLAC__stream_decoder_init_stream, bound)                  \
  X(FLAC__stream_decoder_init_ogg_stream, FLAC__stream_decoder_init_ogg_stream, bound)          \
  X(FLAC__stream_decoder_init_file, FLAC__stream_decoder_init_file, bound)                      \
  X(FLAC__stream_decoder_init_ogg_file, FLAC__stream_decoder_init_ogg_file, bound)              \
  X(FLAC__stream_decoder_finish, FLAC__stream_decoder_finish, bound)                            \
  X(FLAC__stream_decoder_flush, FLAC__stream_decoder_flush, bound)                              \
  X(FLAC__stream_decoder_reset, FLAC__stream_decoder_reset, bound)                              \
  X(FLAC__stream_decoder_process_single, FLAC__stream_decoder_process_single, bound)            \
  X(FLAC__stream_decoder_process_until_end_of_metadata,                                  \
    FLAC__stream_decoder_process_until_end_of_metadata, bound)                                  \
  X(FLAC__stream_decoder_process_until_end_of_stream,                                    \
    FLAC__stream_decoder_process_until_end_of_stream, bound)                                    \
  X(FLAC__stream_decoder_skip_single_frame, FLAC__stream_decoder_skip_single_frame, bound)      \
  X(FLAC__stream_decoder_seek_absolute, FLAC__stream_decoder_seek_absolute, bound)              \
  X(FLAC__stream_encoder_new, FLAC__stream_encoder_new, called)                                  \
  X(FLAC__stream_encoder_delete, FLAC__stream_encoder_delete, called)                            \
  X(FLAC__stream_encoder_set_ogg_serial_number, FLAC__stream_encoder_set_ogg_serial_number, bound) \
  X(FLAC__stream_encoder_set_verify, FLAC__stream_encoder_set_verify, called)                    \
  X(FLAC__stream_encoder_set_streamable_subset, FLAC__stream_encoder_set_streamable_subset, bound) \
  X(FLAC__stream_encoder_set_channels, FLAC__stream_encoder_set_channels, called)                \
  X(FLAC__stream_encoder_set_bits_per_sample, FLAC__stream_encoder_set_bits_per_sample, called)  \
  X(FLAC__stream_encoder_set_sample_rate, FLAC__stream_encoder_set_sample_rate, called)          \
  X(FLAC__stream_encoder_set_compression_level, FLAC__stream_encoder_set_compression_level, called) \
  X(FLAC__stream_encoder_set_blocksize, FLAC__stream_encoder_set_blocksize, called)              \
  X(FLAC__stream_encoder_set_do_mid_side_stereo, FLAC__stream_encoder_set_do_mid_side_stereo, called) \
  X(FLAC__stream_encoder_set_loose_mid_side_stereo, FLAC__stream_encoder_set_loose_mid_side_stereo, called) \
  X(FLAC__stream_encoder_set_apodization, FLAC__stream_encoder_set_apodization, bound)          \
  X(FLAC__stream_encoder_set_max_lpc_order, FLAC__stream_encoder_set_max_lpc_order, called)      \
  X(FLAC__stream_encoder_set_qlp_coeff_precision, FLAC__stream_encoder_set_qlp_coeff_precision, called) \
  X(FLAC__stream_encoder_set_do_qlp_coeff_prec_search,                                   \
    FLAC__stream_encoder_set_do_qlp_coeff_prec_search, called)                                   \
  X(FLAC__stream_encoder_set_do_escape_coding, FLAC__stream_encoder_set_do_escape_coding, bound) \
  X(FLAC__stream_encoder_set_do_exhaustive_model_search,                                 \
    FLAC__stream_encoder_set_do_exhaustive_model_search, called)                                 \
  X(FLAC__stream_encoder_set_min_residual_partition_order,                               \
    FLAC__stream_encoder_set_min_residual_partition_order, called)                               \
  X(FLAC__stream_encoder_set_max_residual_partition_order,                               \
    FLAC__stream_encoder_set_max_residual_partition_order, called)                               \
  X(FLAC__stream_encoder_set_total_samples_estimate,                                     \
    FLAC__stream_encoder_set_total_samples_estimate, called)                                     \
  X(FLAC__stream_encoder_get_state, FLAC__stream_encoder_get_state, bound)                      \
  X(FLAC__stream_encoder_get_verify_decoder_state, FLAC__stream_encoder_get_verify_decoder_state, bound) \
  X(FLAC__stream_encoder_get_verify_decoder_error_stats,                                 \
    FLAC__stream_encoder_get_verify_decoder_error_stats, bound)                                 \
  X(FLAC__stream_encoder_get_verify, FLAC__stream_encoder_get_verify, bound)                    \
  X(FLAC__stream_encoder_get_streamable_subset, FLAC__stream_encoder_get_streamable_subset, bound) \
  X(FLAC__stream_encoder_get_channels, FLAC__stream_encoder_get_channels, bound)                \
  X(FLAC__stream_encoder_get_bits_per_sample, FLAC__stream_encoder_get_bits_per_sample, bound)  \
  X(FLAC__stream_encoder_get_sample_rate, FLAC__stream_encoder_get_sample_rate, bound)          \
  X(FLAC__stream_encoder_get_blocksize, FLAC__stream_encoder_get_blocksize, bound)              \
  X(FLAC__stream_encoder_get_do_mid_side_stereo, FLAC__stream_encoder_get_do_mid_side_stereo, bound) \
  X(FLAC__stream_encoder_get_loose_mid_side_stereo, FLAC__stream_encoder_get_loose_mid_side_stereo, bound) \
  X(FLAC__stream_encoder_get_qlp_coeff_precision, FLAC__stream_encoder_get_qlp_coeff_precision, bound) \
  X(FLAC__stream_encoder_get_do_qlp_coeff_prec_search,                                   \
    FLAC__stream_encoder_get_do_qlp_coeff_prec_search, bound)                                   \
  X(FLAC__stream_encoder_get_do_escape_coding, FLAC__stream_encoder_get_do_escape_coding, bound) \
  X(FLAC__stream_encoder_get_do_exhaustive_model_search,                                 \
    FLAC__stream_encoder_get_do_exhaustive_model_search, bound)                                 \
  X(FLAC__stream_encoder_get_min_residual_partition_order,                               \
    FLAC__stream_encoder_get_min_residual_partition_order, bound)                               \
  X(FLAC__stream_encoder_get_max_residual_partition_order,                               \
    FLAC__stream_encoder_get_max_residual_partition_order, bound)                               \
  X(FLAC__stream_encoder_get_rice_parameter_search_dist,                                 \
    FLAC__stream_encoder_get_rice_parameter_search_dist, bound)                                 \
  X(FLAC__stream_encoder_get_total_samples_estimate,                                     \
    FLAC__stream_encoder_get_total_samples_estimate, bound)                                     \
  X(FLAC__stream_encoder_init_stream, FLAC__stream_encoder_init_stream, called)                  \
  X(FLAC__stream_encoder_init_ogg_stream, FLAC__stream_encoder_init_ogg_stream, bound)          \
  X(FLAC__stream_encoder_init_file, FLAC__stream_encoder_init_file, bound)                      \
  X(FLAC__stream_encoder_init_ogg_file, FLAC__stream_encoder_init_ogg_file, bound)              \
  X(FLAC__stream_encoder_finish, FLAC__stream_encoder_finish, called)                            \
  X(FLAC__stream_encoder_process, FLAC__stream_encoder_process, bound)                          \
  X(FLAC__stream_encoder_process_interleaved, FLAC__stream_encoder_process_interleaved, called)  \
  X(FLAC__metadata_simple_iterator_new, FLAC__metadata_simple_iterator_new, bound)              \
  X(FLAC__metadata_simple_iterator_delete, FLAC__metadata_simple_iterator_delete, bound)        \
  X(FLAC__Metadata_simple_iterator_status, FLAC__metadata_simple_iterator_status, bound)        \
  X(FLAC__metadata_simple_iterator_init, FLAC__metadata_simple_iterator_init, bound)            \
  X(FLAC__metadata_simple_iterator_is_writable, FLAC__metadata_simple_iterator_is_writable, bound) \
  X(FLAC__metadata_simple_iterator_next, FLAC__metadata_simple_iterator_next, bound)            \
  X(FLAC__metadata_simple_iterator_prev, FLAC__metadata_simple_iterator_prev, bound)            \
  X(FLAC__metadata_simple_iterator_get_block_type, FLAC__metadata_simple_iterator_get_block_type, bound) \
  X(FLAC__metadata_simple_iterator_get_block, FLAC__metadata_simple_iterator_get_block, bound)  \
  X(FLAC__metadata_simple_iterator_set_block, FLAC__metadata_simple_iterator_set_block, bound)  \
  X(FLAC__metadata_simple_iterator_insert_block_after,                                   \
    FLAC__metadata_simple_iterator_insert_block_after, bound)

/// "FLAC__stream_encoder_set_do_md5": whether the encoder computes the MD5 of the
/// samples for its stream information (on by default). The library exports it without
/// declaring it in its public headers, so its prototype is stated here.
using TSetDoMd5 = FLAC__bool (*)(FLAC__StreamEncoder* encoder, FLAC__bool value);

/// The entry slots: one typed function pointer per bound name, null until bound or
/// when the library lacks the entry.
struct TLibFLAC {
#define VORNEK_LIBFLAC_SLOT(slot, prototype) decltype(&::prototype) slot = nullptr;
#define VORNEK_LIBFLAC_SLOT_called(slot, prototype) VORNEK_LIBFLAC_SLOT(slot, prototype)
#define VORNEK_LIBFLAC_SLOT_bound(slot, prototype)
#define VORNEK_LIBFLAC_SLOT_IF(slot, prototype, use) VORNEK_LIBFLAC_SLOT_##use(slot, prototype)
  // The entries the writer calls.
  VORNEK_LIBFLAC_ENTRIES(VORNEK_LIBFLAC_SLOT_IF)

  // Optional entries, looked up after the 89 when the library has them; a caller tests
  // the slot before each call.
  TSetDoMd5 FLAC__stream_encoder_set_do_md5 = nullptr;

  // ---------------------------------------------------------------------------------
  // Bound and never called: the rest of the interface the binding looks up.
#undef VORNEK_LIBFLAC_SLOT_called
#undef VORNEK_LIBFLAC_SLOT_bound
#define VORNEK_LIBFLAC_SLOT_called(slot, prototype)
#define VORNEK_LIBFLAC_SLOT_bound(slot, prototype) VORNEK_LIBFLAC_SLOT(slot, prototype)
  VORNEK_LIBFLAC_ENTRIES(VORNEK_LIBFLAC_SLOT_IF)
#undef VORNEK_LIBFLAC_SLOT_IF
#undef VORNEK_LIBFLAC_SLOT_bound
#undef VORNEK_LIBFLAC_SLOT_called
#undef VORNEK_LIBFLAC_SLOT
};

/// The number of names bound.
inline constexpr std::size_t kLibFLACEntryCount = 89;

/// The names looked up, in binding order.
const std::array<const char*, kLibFLACEntryCount>& LibFLACEntryNames();

/// Makes sure the library is loaded and bound; afterwards LibFLACLoaded() tells
/// whether it is usable. Any thread; serialised by ModuleLock.
void LoadLibFLAC();
/// True once the library has been loaded (never reset).
bool LibFLACLoaded();
/// The slots. Read them only after LoadLibFLAC() returned with LibFLACLoaded() true.
const TLibFLAC& LibFLAC();
/// The file names LoadLibFLAC tries, in order; for the text of a failed load.
std::vector<std::string> LibFLACNamesTried();
/// The file name of the library bound; empty when none is (or a test installed slots).
std::string LoadedLibFLACName();

/// Hooks for tests only: they let a test bind another library, or fake entries, in a
/// process that may already have bound the real one. A library once loaded is still
/// never unloaded. Call them while no FLAC output runs.
namespace libflac_testing {
/// Replaces the platform's list of library names (empty list: back to the platform's).
void UseLibraryNames(std::vector<std::string> names);
/// Back to unbound: the flag false and every slot null.
void ForgetBinding();
/// Binds `slots` as if a library had been loaded.
void InstallSlots(const TLibFLAC& slots);
/// How many times a library file has been loaded and bound in this process.
int BindCount();
}  // namespace libflac_testing

}  // namespace vornek
