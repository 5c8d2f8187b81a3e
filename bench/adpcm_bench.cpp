// SPDX-License-Identifier: BSD-3-Clause
// ADPCM decoding through the WAV reader against the FLAC encode of the samples it
// decodes: the reader must stay far below the encoder's cost.
//
// Files come from the benchmark script: VORNEK_BENCH_IMA and VORNEK_BENCH_MS name an
// IMA ADPCM and a Microsoft ADPCM WAV file of the same music.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "floor_encode.h"
#include "base/au_exception.h"
#include "pipeline/stream.h"
#include "wave/wave_in.h"

namespace vornek::bench {
namespace {

const char* const kFileVariable[] = {"VORNEK_BENCH_IMA", "VORNEK_BENCH_MS"};

/// Reads the whole delivery of the reader from `source`; returns the bytes delivered
/// (into `keep` as well, when given, with the format into `format`).
std::int64_t DecodeAll(TMemoryStream& source, std::vector<std::uint8_t>& block,
                       std::vector<std::uint8_t>* keep, PcmSamples* format, TWaveIn& wave) {
  source.SetPosition(0);
  wave.SetStream(&source);
  wave.Open();
  if (format) {
    format->Channels = static_cast<std::uint32_t>(wave.GetChannels());
    format->SampleRate = static_cast<std::uint32_t>(wave.GetSampleRate());
    format->BitsPerSample = static_cast<std::uint32_t>(wave.GetBitsPerSample());
  }
  std::int64_t total = 0;
  for (bool end = false; !end;) {
    const std::uint32_t got =
        wave.ReadFully(block.data(), static_cast<std::uint32_t>(block.size()), end);
    if (keep) keep->insert(keep->end(), block.begin(), block.begin() + got);
    total += got;
  }
  wave.Close();
  wave.SetStream(nullptr);
  return total;
}

/// The ADPCM file the benchmark's argument names, read into memory; empty, with the
/// benchmark marked as skipped, when it is not set or cannot be read.
std::vector<std::uint8_t> LoadAdpcmFile(benchmark::State& state) {
  std::vector<std::uint8_t> bytes =
      ReadFileBytes(FileFromEnvironment(kFileVariable[state.range(0)]));
  if (bytes.empty()) state.SkipWithError("the ADPCM file is not set or cannot be read");
  return bytes;
}

// Decoding only: the file is in memory, the reader is opened on it and read to the
// end in blocks of 4608 frames, as the FLAC writer reads it.
void BM_AdpcmDecode(benchmark::State& state) {
  std::vector<std::uint8_t> bytes = LoadAdpcmFile(state);
  if (bytes.empty()) return;
  TMemoryStream source(std::move(bytes));
  std::vector<std::uint8_t> block(4608u * 4u);
  std::int64_t delivered = 0;
  try {
    for (auto _ : state) {
      TWaveIn wave;
      delivered = DecodeAll(source, block, nullptr, nullptr, wave);
      benchmark::DoNotOptimize(block.data());
    }
  } catch (const EAuException& e) {
    state.SkipWithError(e.what());
    return;
  }
  state.SetBytesProcessed(delivered * state.iterations());
  state.counters["frames"] = static_cast<double>(delivered / 4);
}
BENCHMARK(BM_AdpcmDecode)->Arg(0)->Arg(1)->ArgName("ms")->Unit(benchmark::kMillisecond)
    ->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

// The floor's encode of exactly the samples the reader decoded from the same file.
void BM_AdpcmEncode(benchmark::State& state) {
  std::vector<std::uint8_t> bytes = LoadAdpcmFile(state);
  if (bytes.empty()) return;
  TMemoryStream source(std::move(bytes));
  std::vector<std::uint8_t> block(4608u * 4u);
  std::vector<std::uint8_t> decoded;
  PcmSamples pcm;
  try {
    TWaveIn wave;
    DecodeAll(source, block, &decoded, &pcm, wave);
  } catch (const EAuException& e) {
    state.SkipWithError(e.what());
    return;
  }
  if (pcm.BitsPerSample != 16) {
    state.SkipWithError("ADPCM should decode to 16-bit samples");
    return;
  }
  pcm.Samples = Widen16(decoded.data(), decoded.size() / 2);
  for (auto _ : state) state.SetIterationTime(EncodeInMemory(pcm).WallSeconds);
  state.SetBytesProcessed(static_cast<std::int64_t>(decoded.size()) * state.iterations());
  state.counters["frames"] = static_cast<double>(pcm.Frames());
}
BENCHMARK(BM_AdpcmEncode)->Arg(0)->Arg(1)->ArgName("ms")->Unit(benchmark::kMillisecond)
    ->UseManualTime()->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
}  // namespace vornek::bench
