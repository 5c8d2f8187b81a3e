// SPDX-License-Identifier: BSD-3-Clause
// Shared pieces of the FLAC writer's tests: an input over PCM bytes in memory, a
// decoder that reads back what the writer produced, and a run helper that drives the
// output on its real worker while the test thread pumps the host's calls.
#pragma once

#include <FLAC/stream_decoder.h>

#include <array>
#include <atomic>
#include <cmath>
#include <memory>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "flac/flac_binding.h"
#include "flac/flac_out.h"
#include "base/au_exception.h"
#include "pipeline/input.h"
#include "support/host_loop.h"

namespace vornek::test {

/// Interleaved little-endian PCM in memory, with a format of the test's choosing.
/// `stated_size` replaces the Size it reports after Open (0: the byte count).
class PcmInput : public TAuInput {
 public:
  PcmInput(std::vector<std::uint8_t> bytes, std::int32_t bits, std::int32_t channels,
           std::int32_t rate = 44100)
      : data_(std::move(bytes)), bits_(bits), channels_(channels), rate_(rate) {}

  std::int32_t GetBitsPerSample() override { return bits_; }
  std::int32_t GetChannels() override { return channels_; }
  std::int32_t GetSampleRate() override { return rate_; }

  std::int64_t stated_size = 0;
  std::string open_failure;  ///< non-empty: Open fails with this text
  int failing_read = -1;     ///< >= 0: the read of this index (from 0) fails with read_failure
  std::string read_failure = "The input could not be read.";
  std::atomic<int> opens{0};
  std::atomic<int> closes{0};
  std::atomic<int> reads{0};

  /// From now on the read after `reads_before_hold` reads waits until Release.
  void HoldAfter(int reads_before_hold) {
    std::lock_guard lock(gate_);
    hold_after_ = reads_before_hold;
  }
  void Release() {
    {
      std::lock_guard lock(gate_);
      hold_after_ = -1;
    }
    gate_cv_.notify_all();
  }
  bool Holding() {
    std::lock_guard lock(gate_);
    return holding_;
  }

 protected:
  void OpenInternal() override {
    ++opens;
    if (!open_failure.empty()) throw EAuException(open_failure);
    offset_ = 0;
    Position = 0;
    Size = stated_size != 0 ? stated_size : static_cast<std::int64_t>(data_.size());
  }
  void CloseInternal() override { ++closes; }
  void ReadInternal(const std::uint8_t*& buffer, std::uint32_t& count) override {
    {
      std::unique_lock lock(gate_);
      if (hold_after_ >= 0 && reads >= hold_after_) {
        holding_ = true;
        gate_cv_.wait(lock, [&] { return hold_after_ < 0; });
        holding_ = false;
      }
    }
    if (reads++ == failing_read) throw EAuException(read_failure);
    const std::size_t left = data_.size() - offset_;
    if (count > left) count = static_cast<std::uint32_t>(left);
    buffer = data_.data() + offset_;
    offset_ += count;
    Position += count;
  }

 private:
  std::vector<std::uint8_t> data_;
  std::int32_t bits_;
  std::int32_t channels_;
  std::int32_t rate_;
  std::size_t offset_ = 0;
  std::mutex gate_;
  std::condition_variable gate_cv_;
  int hold_after_ = -1;
  bool holding_ = false;
};

/// Starts `out`, waits until `input` holds a read, stops the run while it is held (a
/// stop that waits for the worker), lets the read go and pumps the host until the done
/// event has been delivered. False when the hold or the done event never came.
inline bool RunAndStopAtTheHeldRead(TFLACOut& out, PcmInput& input) {
  bool finished = false;
  out.OnDone = [&](TAuOutput*) { finished = true; };
  out.Run();
  const bool held = PumpUntil([&] { return input.Holding(); });
  out.Stop(true);
  input.Release();
  const bool done = PumpUntil([&] { return finished; });
  out.OnDone = nullptr;
  return held && done;
}

/// What the events of one run said.
struct RunResult {
  bool finished = false;  ///< the done event arrived
  std::vector<std::string> failures;
};

/// Starts `out` and pumps the host until its done event has been delivered.
inline RunResult RunAndWait(TFLACOut& out) {
  auto result = std::make_shared<RunResult>();
  out.OnDone = [result](TAuOutput*) { result->finished = true; };
  out.OnThreadException = [result](TAuOutput* sender) {
    result->failures.push_back(sender->GetExceptionMessage());
  };
  out.Run();
  PumpUntil([&] { return result->finished; }, std::chrono::seconds(60));
  out.OnDone = nullptr;
  out.OnThreadException = nullptr;
  return *result;
}

/// One metadata block as the decoder reported it.
struct DecodedBlock {
  FLAC__MetadataType type;
  std::string vendor;            ///< VORBIS_COMMENT only
  std::uint32_t comments = 0;    ///< VORBIS_COMMENT only
};

/// A FLAC file read back with libFLAC's own decoder.
struct Decoded {
  bool ok = false;            ///< every call succeeded and no error was reported
  bool md5_ok = false;        ///< finish's MD5 comparison (meaningful with a non-zero MD5)
  bool md5_present = false;   ///< STREAMINFO carries a non-zero MD5
  std::uint32_t rate = 0, channels = 0, bits = 0;
  std::uint32_t min_block = 0, max_block = 0;
  std::uint32_t min_frame_bytes = 0, max_frame_bytes = 0;  ///< as STREAMINFO states them
  std::uint64_t total = 0;
  std::vector<std::uint32_t> frame_sizes;
  std::vector<std::int32_t> samples;  ///< interleaved
  std::vector<DecodedBlock> blocks;
};

inline Decoded DecodeFlac(const std::string& path) {
  Decoded d;
  FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
  if (!decoder) return d;
  FLAC__stream_decoder_set_md5_checking(decoder, true);
  FLAC__stream_decoder_set_metadata_respond_all(decoder);
  bool error = false;
  struct Client {
    Decoded* d;
    bool* error;
  } client{&d, &error};
  auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                  const FLAC__int32* const buffer[], void* c) {
    auto* self = static_cast<Client*>(c);
    self->d->frame_sizes.push_back(frame->header.blocksize);
    for (std::uint32_t i = 0; i < frame->header.blocksize; ++i)
      for (std::uint32_t ch = 0; ch < frame->header.channels; ++ch)
        self->d->samples.push_back(buffer[ch][i]);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  };
  auto metadata = [](const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* c) {
    auto* self = static_cast<Client*>(c);
    DecodedBlock block{m->type, {}, 0};
    if (m->type == FLAC__METADATA_TYPE_STREAMINFO) {
      const auto& si = m->data.stream_info;
      self->d->rate = si.sample_rate;
      self->d->channels = si.channels;
      self->d->bits = si.bits_per_sample;
      self->d->total = si.total_samples;
      self->d->min_block = si.min_blocksize;
      self->d->max_block = si.max_blocksize;
      self->d->min_frame_bytes = si.min_framesize;
      self->d->max_frame_bytes = si.max_framesize;
      for (unsigned char b : si.md5sum) self->d->md5_present |= b != 0;
    } else if (m->type == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
      const auto& vc = m->data.vorbis_comment;
      block.vendor.assign(reinterpret_cast<const char*>(vc.vendor_string.entry),
                          vc.vendor_string.length);
      block.comments = vc.num_comments;
    }
    self->d->blocks.push_back(block);
  };
  auto on_error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* c) {
    *static_cast<Client*>(c)->error = true;
  };
  const bool init = FLAC__stream_decoder_init_file(decoder, path.c_str(), write, metadata,
                                                   on_error, &client) ==
                    FLAC__STREAM_DECODER_INIT_STATUS_OK;
  const bool processed = init && FLAC__stream_decoder_process_until_end_of_stream(decoder);
  d.md5_ok = FLAC__stream_decoder_finish(decoder);
  FLAC__stream_decoder_delete(decoder);
  d.ok = init && processed && !error;
  return d;
}

/// The sizes of the audio frames of a FLAC file, found by walking it: the metadata
/// blocks by their headers, then each frame to the next frame's sync code, checked by
/// its CRC-16 (a sync pattern inside a frame's data fails the check and is passed).
/// Empty when the file is not a FLAC stream.
inline std::vector<std::uint32_t> FrameBytes(const std::vector<std::uint8_t>& file) {
  std::vector<std::uint32_t> sizes;
  if (file.size() < 4 || std::string(file.begin(), file.begin() + 4) != "fLaC") return sizes;
  std::size_t at = 4;
  for (bool last = false; !last;) {
    if (at + 4 > file.size()) return {};
    last = (file[at] & 0x80) != 0;
    at += 4 + ((std::size_t{file[at + 1]} << 16) | (std::size_t{file[at + 2]} << 8) | file[at + 3]);
  }
  // A frame ends with the CRC-16 of what comes before it, so the CRC-16 of a whole
  // frame, its own check included, is 0.
  std::uint32_t crc = 0;
  std::size_t start = at;
  for (std::size_t end = start; end < file.size(); ++end) {
    crc ^= std::uint32_t{file[end]} << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? ((crc << 1) ^ 0x8005) & 0xFFFF : crc << 1;
    const std::size_t next = end + 1;
    const bool at_sync = next == file.size() ||
                         (next + 1 < file.size() && file[next] == 0xFF && (file[next + 1] & 0xFE) == 0xF8);
    if (crc != 0 || !at_sync || next - start < 8) continue;
    sizes.push_back(static_cast<std::uint32_t>(next - start));
    start = next;
  }
  if (start != file.size()) return {};
  return sizes;
}

/// Interleaved test samples of `bits` width: a mix of tones and noise per channel,
/// with the extremes of the range placed at fixed spots.
inline std::vector<std::int32_t> TestSignal(std::size_t frames, int channels, int bits,
                                            std::uint32_t seed = 1) {
  const std::int64_t max = (std::int64_t{1} << (bits - 1)) - 1;
  const std::int64_t min = -max - 1;
  std::vector<std::int32_t> out(frames * static_cast<std::size_t>(channels));
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::size_t f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) {
      state = state * 1664525u + 1013904223u;
      const double tone = 0.6 * static_cast<double>(max) *
                          std::sin(static_cast<double>(f) * 0.01 * (c + 1));
      const double noise = static_cast<double>(static_cast<std::int32_t>(state >> 8) % 2001 - 1000) /
                           1000.0 * 0.3 * static_cast<double>(max);
      std::int64_t v = static_cast<std::int64_t>(tone + noise);
      if (f % 997 == 3) v = max;
      if (f % 997 == 5) v = min;
      if (v > max) v = max;
      if (v < min) v = min;
      out[f * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
          static_cast<std::int32_t>(v);
    }
  }
  return out;
}

/// The test signal as the inputs deliver it (8-bit stored unsigned).
inline std::vector<std::uint8_t> ToPcm(const std::vector<std::int32_t>& samples, int bits) {
  std::vector<std::uint8_t> out;
  out.reserve(samples.size() * static_cast<std::size_t>(bits / 8));
  for (std::int32_t s : samples) {
    const auto u = static_cast<std::uint32_t>(bits == 8 ? s + 128 : s);
    for (int b = 0; b < bits / 8; ++b) out.push_back(static_cast<std::uint8_t>(u >> (8 * b)));
  }
  return out;
}

/// Points the binding at the real library again and forgets fakes, at both ends of a
/// test that changes it.
class BindingGuard {
 public:
  BindingGuard() { Reset(); }
  ~BindingGuard() { Reset(); }
  static void Reset() {
    libflac_testing::UseLibraryNames({});
    libflac_testing::ForgetBinding();
  }
};

}  // namespace vornek::test
