// SPDX-License-Identifier: BSD-3-Clause
// flac-threads: one WAV file converted in process by the FLAC writer with a chosen
// number of encoders, to see how the parallel path scales; and the parallel path's
// own pieces of work timed one by one.
//
// usage: flac-threads IN.wav OUT.flac THREADS [runs] [SEGMENT_BLOCKS]
//        flac-threads --parts IN.wav OUT.flac
//
// THREADS is the writer's EncoderThreads: 1 is the single encoder, 2 or more that many
// encoders on as many threads whatever the length, 0 the writer's own choice.
// SEGMENT_BLOCKS (default 0: the writer's own) is its SegmentBlocks. Prints one line
// per run, the conversion alone (the reader and writer are made before and destroyed
// after it):
//   <wall seconds> <CPU seconds of the whole process> <bytes written>
//
// --parts does, on one thread, what the parallel path adds to the encoding, each part
// alone over the whole file, and prints one line of seconds:
//   <read> <md5> <renumber> <write> <encode> <encode without MD5>
// read: the WAV reader handing out the input a block at a time, as the worker takes
// it; md5: the MD5 of those bytes; renumber: renumbering every frame libFLAC wrote
// for them (level 2, blocks of 4608); write: writing those frames to OUT.flac through
// the writer's file stream 64 frames at a time, until it is flushed (wall
// time: the stream writes behind on a thread of its own); encode: libFLAC encoding the
// samples as the floor does, then without its MD5, as the parallel encoders do. CPU
// time of the calling thread, but for write.
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "flac/flac_out.h"
#include "flac/frame_renumber.h"
#include "floor_encode.h"
#include "pipeline/file_stream.h"
#include "platform/host_thread.h"
#include "platform/md5.h"
#include "platform/text.h"
#include "wave/wave_in.h"

// Exported by libFLAC, declared only in its private headers.
extern "C" FLAC__bool FLAC__stream_encoder_set_do_md5(FLAC__StreamEncoder* encoder,
                                                       FLAC__bool value);

namespace {

using vornek::bench::ThreadCpuSeconds;

/// The frames one libFLAC encode wrote, end to end, and where each ends.
struct Frames {
  std::vector<std::uint8_t> bytes;
  std::vector<std::size_t> ends;
};

FLAC__StreamEncoderWriteStatus KeepFrames(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                          size_t bytes, uint32_t samples, uint32_t, void* client) {
  auto* frames = static_cast<Frames*>(client);
  if (samples == 0) return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  frames->bytes.insert(frames->bytes.end(), buffer, buffer + bytes);
  frames->ends.push_back(frames->bytes.size());
  return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

/// CPU seconds of one in-memory encode of `samples`; the frames go to `frames`.
double Encode(const std::vector<std::int32_t>& samples, std::uint32_t channels,
              std::uint32_t bits, std::uint32_t rate, bool md5, Frames& frames) {
  const double start = ThreadCpuSeconds();
  FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
  FLAC__stream_encoder_set_channels(encoder, channels);
  FLAC__stream_encoder_set_bits_per_sample(encoder, bits);
  FLAC__stream_encoder_set_sample_rate(encoder, rate);
  FLAC__stream_encoder_set_compression_level(encoder, 2);
  FLAC__stream_encoder_set_blocksize(encoder, 4608);
  FLAC__stream_encoder_set_do_md5(encoder, md5);
  bool ok = FLAC__stream_encoder_init_stream(encoder, KeepFrames, nullptr, nullptr, nullptr,
                                             &frames) == FLAC__STREAM_ENCODER_INIT_STATUS_OK;
  ok = ok && FLAC__stream_encoder_process_interleaved(
                 encoder, samples.data(), static_cast<std::uint32_t>(samples.size() / channels));
  ok = FLAC__stream_encoder_finish(encoder) && ok;
  FLAC__stream_encoder_delete(encoder);
  if (!ok) throw std::runtime_error("libFLAC refused the samples");
  return ThreadCpuSeconds() - start;
}

int Parts(const char* wav, const char* flac) {
  using namespace vornek;
  TWaveIn input;
  input.SetFileName(wav);
  input.Open();
  const auto channels = static_cast<std::uint32_t>(input.GetChannels());
  const auto bits = static_cast<std::uint32_t>(input.GetBitsPerSample());
  const auto rate = static_cast<std::uint32_t>(input.GetSampleRate());
  if (bits != 16 && bits != 24) throw std::runtime_error("16 or 24 bits expected");
  const std::uint32_t block = 4608 * channels * (bits / 8);
  std::vector<std::uint8_t> pcm(static_cast<std::size_t>(std::max<std::int64_t>(input.Size, 0)) +
                                block);
  std::size_t read = 0;
  double start = ThreadCpuSeconds();
  for (bool end = false; !end && read + block <= pcm.size();)
    read += input.ReadFully(pcm.data() + read, block, end);
  const double read_s = ThreadCpuSeconds() - start;
  input.Close();
  pcm.resize(read);

  start = ThreadCpuSeconds();
  platform::Md5 md5;
  const std::size_t segment = std::size_t{block} * 64;
  for (std::size_t at = 0; at < pcm.size(); at += segment)
    md5.Update(pcm.data() + at, std::min(segment, pcm.size() - at));
  md5.Finish();
  const double md5_s = ThreadCpuSeconds() - start;

  std::vector<std::int32_t> samples(pcm.size() / (bits / 8));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const std::uint8_t* p = pcm.data() + i * (bits / 8);
    samples[i] = bits == 16 ? static_cast<std::int16_t>(p[0] | (p[1] << 8))
                            : p[0] | (p[1] << 8) | (static_cast<std::int8_t>(p[2]) * 65536);
  }
  Frames frames;
  const double encode_s = Encode(samples, channels, bits, rate, true, frames);
  Frames unused;
  const double encode_no_md5_s = Encode(samples, channels, bits, rate, false, unused);

  // Into one segment's buffer, used again for every 64 frames, as the encoders do.
  std::vector<std::uint8_t> renumbered;
  start = ThreadCpuSeconds();
  std::size_t from = 0;
  for (std::size_t i = 0; i < frames.ends.size(); ++i) {
    if (i % 64 == 0) renumbered.clear();
    RenumberFrame(frames.bytes.data() + from, frames.ends[i] - from, i + 1, renumbered);
    from = frames.ends[i];
  }
  const double renumber_s = ThreadCpuSeconds() - start;

  std::filesystem::remove(flac);
  const auto wall = std::chrono::steady_clock::now();
  {
    TAuFileStream stream(platform::AnsiToWide(flac), platform::kModeCreate);
    std::size_t at = 0;
    for (std::size_t i = 63; at < frames.bytes.size(); i += 64) {
      const std::size_t end = i < frames.ends.size() ? frames.ends[i] : frames.bytes.size();
      stream.Write(frames.bytes.data() + at, end - at);
      at = end;
    }
    stream.Flush();
  }
  const double write_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
  std::printf("%.6f %.6f %.6f %.6f %.6f %.6f\n", read_s, md5_s, renumber_s, write_s, encode_s,
              encode_no_md5_s);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vornek;
  if (argc == 4 && std::string(argv[1]) == "--parts") {
    try {
      return Parts(argv[2], argv[3]);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "flac-threads: %s\n", e.what());
      return 1;
    }
  }
  if (argc < 4 || argc > 6) {
    std::fprintf(stderr,
                 "usage: flac-threads IN.wav OUT.flac THREADS [runs] [SEGMENT_BLOCKS]\n"
                 "       flac-threads --parts IN.wav OUT.flac\n");
    return 2;
  }
  const int threads = std::atoi(argv[3]);
  const int runs = argc > 4 ? std::atoi(argv[4]) : 1;
  const int segment_blocks = argc > 5 ? std::atoi(argv[5]) : 0;
  if (threads < 0 || runs < 1 || segment_blocks < 0) {
    std::fprintf(stderr, "flac-threads: THREADS and SEGMENT_BLOCKS at least 0, runs at least 1\n");
    return 2;
  }
  for (int i = 0; i < runs; ++i) {
    std::filesystem::remove(argv[2]);
    TWaveIn input;
    input.SetFileName(argv[1]);
    TFLACOut output;
    output.SetInput(&input);
    output.SetFileName(argv[2]);
    output.SetCompressionLevel(2);
    output.GetTags().Clear();
    output.SetEncoderThreads(static_cast<std::uint32_t>(threads));
    output.SetSegmentBlocks(static_cast<std::uint32_t>(segment_blocks));
    std::atomic<bool> done{false};
    std::string failure;
    output.OnDone = [&](TAuOutput*) { done = true; };
    output.OnThreadException = [&](TAuOutput* sender) { failure = sender->GetExceptionMessage(); };

    const std::clock_t cpu = std::clock();
    const auto start = std::chrono::steady_clock::now();
    output.Run();
    while (!done) {
      if (!platform::CheckSynchronize()) platform::WaitForHostWork(std::chrono::milliseconds(1));
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu_seconds = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    if (!failure.empty()) {
      std::fprintf(stderr, "flac-threads: %s\n", failure.c_str());
      return 1;
    }
    std::printf("%.6f %.6f %ju\n", wall, cpu_seconds,
                static_cast<std::uintmax_t>(std::filesystem::file_size(argv[2])));
  }
  return 0;
}
