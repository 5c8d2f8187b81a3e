// SPDX-License-Identifier: BSD-3-Clause
#include "floor_encode.h"

#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vornek::bench {

namespace {

std::uint32_t Le(const std::uint8_t* p, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

/// The encoder's output: a buffer touched before the clock starts, so that the timed
/// part pays for libFLAC's writes and nothing of the allocator's.
struct MemorySink {
  std::vector<std::uint8_t> bytes;
  std::size_t length = 0;
  std::size_t position = 0;
};

FLAC__StreamEncoderWriteStatus SinkWrite(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                         size_t bytes, uint32_t, uint32_t, void* client) {
  auto& sink = *static_cast<MemorySink*>(client);
  if (sink.position + bytes > sink.bytes.size()) sink.bytes.resize((sink.position + bytes) * 2);
  std::memcpy(sink.bytes.data() + sink.position, buffer, bytes);
  sink.position += bytes;
  if (sink.position > sink.length) sink.length = sink.position;
  return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

FLAC__StreamEncoderSeekStatus SinkSeek(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                       void* client) {
  auto& sink = *static_cast<MemorySink*>(client);
  if (offset > sink.length) return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
  sink.position = static_cast<std::size_t>(offset);
  return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus SinkTell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                       void* client) {
  *offset = static_cast<const MemorySink*>(client)->position;
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

}  // namespace

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

PcmSamples ReadPcmWav(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error(path + ": cannot open");
  const std::vector<std::uint8_t> raw((std::istreambuf_iterator<char>(file)),
                                      std::istreambuf_iterator<char>());
  if (raw.size() < 12 || std::memcmp(raw.data(), "RIFF", 4) != 0 ||
      std::memcmp(raw.data() + 8, "WAVE", 4) != 0)
    throw std::runtime_error(path + ": not a RIFF/WAVE file");

  PcmSamples pcm;
  bool have_format = false;
  std::size_t at = 12;
  while (at + 8 <= raw.size()) {
    const std::uint8_t* chunk = raw.data() + at;
    const std::size_t size = Le(chunk + 4, 4);
    const std::size_t body = at + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16 && body + size <= raw.size()) {
      std::uint32_t tag = Le(chunk + 8, 2);
      if (tag == 0xFFFE && size >= 26) tag = Le(chunk + 8 + 24, 2);  // sub-format GUID
      if (tag != 1) throw std::runtime_error(path + ": not PCM");
      pcm.Channels = Le(chunk + 10, 2);
      pcm.SampleRate = Le(chunk + 12, 4);
      pcm.BitsPerSample = Le(chunk + 22, 2);
      have_format = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!have_format) throw std::runtime_error(path + ": data before fmt");
      const std::uint32_t width = pcm.BitsPerSample / 8;
      if (pcm.Channels == 0 || (width != 1 && width != 2 && width != 3 && width != 4))
        throw std::runtime_error(path + ": unsupported PCM layout");
      const std::size_t bytes = std::min(size, raw.size() - body);
      const std::size_t frame = std::size_t{width} * pcm.Channels;
      const std::size_t count = bytes / frame * pcm.Channels;
      pcm.Samples.resize(count);
      const std::uint8_t* in = raw.data() + body;
      const int shift = 32 - static_cast<int>(pcm.BitsPerSample);
      for (std::size_t i = 0; i < count; ++i, in += width) {
        if (width == 1) {
          pcm.Samples[i] = std::int32_t{in[0]} - 128;
        } else {
          // Sign-extend through the top of a 32-bit word.
          const std::uint32_t v = Le(in, static_cast<int>(width)) << shift;
          pcm.Samples[i] = static_cast<std::int32_t>(v) >> shift;
        }
      }
      return pcm;
    }
    at = body + size + (size & 1);
  }
  throw std::runtime_error(path + ": no data chunk");
}

std::vector<std::int32_t> Widen16(const std::uint8_t* bytes, std::size_t count) {
  std::vector<std::int32_t> out(count);
  for (std::size_t i = 0; i < count; ++i)
    out[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
  return out;
}

EncodeTiming EncodeInMemory(const PcmSamples& pcm) {
  MemorySink sink;
  sink.bytes.assign(pcm.Samples.size() * (pcm.BitsPerSample / 8) + (1u << 20), 0);

  const auto wall_start = std::chrono::steady_clock::now();
  const double cpu_start = ThreadCpuSeconds();

  FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
  if (!encoder) throw std::runtime_error("FLAC__stream_encoder_new failed");
  bool ok = FLAC__stream_encoder_set_channels(encoder, pcm.Channels) &&
            FLAC__stream_encoder_set_bits_per_sample(encoder, pcm.BitsPerSample) &&
            FLAC__stream_encoder_set_sample_rate(encoder, pcm.SampleRate) &&
            FLAC__stream_encoder_set_compression_level(encoder, 2) &&
            FLAC__stream_encoder_set_blocksize(encoder, 4608) &&
            FLAC__stream_encoder_set_total_samples_estimate(encoder, pcm.Frames());
  ok = ok && FLAC__stream_encoder_init_stream(encoder, SinkWrite, SinkSeek, SinkTell, nullptr,
                                              &sink) == FLAC__STREAM_ENCODER_INIT_STATUS_OK;
  ok = ok && FLAC__stream_encoder_process_interleaved(encoder, pcm.Samples.data(),
                                                      static_cast<uint32_t>(pcm.Frames()));
  ok = FLAC__stream_encoder_finish(encoder) && ok;
  FLAC__stream_encoder_delete(encoder);

  EncodeTiming timing;
  timing.CpuSeconds = ThreadCpuSeconds() - cpu_start;
  timing.WallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  timing.EncodedBytes = sink.length;
  if (!ok) throw std::runtime_error("libFLAC refused the encode");
  return timing;
}

}  // namespace vornek::bench
