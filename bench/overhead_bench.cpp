// SPDX-License-Identifier: BSD-3-Clause
// The fixed cost of a conversion: the whole call on a 1-second file against the
// in-memory encode of the same samples, and one output's create-run-destroy cycle on
// a tiny input, which must not wait on any timer (the event thread ends as soon as it
// is told to, and a done event goes out as soon as the worker has parked).
//
// Files come from the benchmark script: VORNEK_BENCH_WAV_1S names a 1-second PCM WAV.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "entry/conversion_window.h"
#include "flac/flac_out.h"
#include "floor_encode.h"
#include "pipeline/stream.h"
#include "platform/host_thread.h"
#include "platform/window.h"
#include "wave/wave_in.h"

namespace vornek::bench {

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The whole conversion call, as a host program makes it: window, reader, writer,
// worker and event thread built, the file converted, everything torn down again.
void BM_ConvertFile1s(benchmark::State& state) {
  const std::string wav = FileFromEnvironment("VORNEK_BENCH_WAV_1S");
  if (wav.empty()) {
    state.SkipWithError("VORNEK_BENCH_WAV_1S is not set");
    return;
  }
  std::vector<std::string> failures;
  platform::SetMessageSink([&](const std::string& text) { failures.push_back(text); });
  for (auto _ : state) ConvertFile(0, wav.c_str());
  platform::SetMessageSink(nullptr);
  if (!failures.empty()) state.SkipWithError(failures.front().c_str());
}
BENCHMARK(BM_ConvertFile1s)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()
    ->Repetitions(5)->ReportAggregatesOnly(true);

// libFLAC alone on the same samples: the part of the call above that is the encode.
void BM_FloorEncode1s(benchmark::State& state) {
  const std::string wav = FileFromEnvironment("VORNEK_BENCH_WAV_1S");
  if (wav.empty()) {
    state.SkipWithError("VORNEK_BENCH_WAV_1S is not set");
    return;
  }
  const PcmSamples pcm = ReadPcmWav(wav);
  for (auto _ : state) state.SetIterationTime(EncodeInMemory(pcm).WallSeconds);
}
BENCHMARK(BM_FloorEncode1s)->Unit(benchmark::kMillisecond)->UseManualTime()
    ->Repetitions(5)->ReportAggregatesOnly(true);

// A WAV file image of `frames` frames of 16-bit stereo silence.
std::vector<std::uint8_t> TinyWav(std::uint32_t frames) {
  const std::uint32_t data = frames * 4;
  std::vector<std::uint8_t> out(44 + std::size_t{data}, 0);
  std::size_t at = 0;
  auto put = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at++] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  auto id = [&](const char* s) {
    for (int i = 0; i < 4; ++i) out[at++] = static_cast<std::uint8_t>(s[i]);
  };
  id("RIFF"); put(36 + data, 4); id("WAVE");
  id("fmt "); put(16, 4); put(1, 2); put(2, 2); put(44100, 4); put(44100 * 4, 4); put(4, 2);
  put(16, 2);
  id("data"); put(data, 4);
  return out;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[at];
}

/// The FLAC writer, noting when its Done has finished on the worker: what follows is
/// the engine's delivery of the done event.
class TimedFLACOut : public TFLACOut {
 public:
  ~TimedFLACOut() override { EndWorker(); }
  std::atomic<Clock::rep> DoneAt{0};

 protected:
  void Done() override {
    TFLACOut::Done();
    DoneAt = Clock::now().time_since_epoch().count();
  }
};

// One output's life on a tiny input: create (starting its worker and the event
// thread), run to the done event on this, the host thread, destroy (ending both).
// Counters, from the times of the single cycles: the median and the slowest time from
// Run to the done handler, the part of it after the writer's Done had finished (the
// delivery), the destruction, and how many done events came 5 ms or more after Run.
void BM_OutputCycle(benchmark::State& state) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vornek-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string flac = (dir / "tiny.flac").string();
  TMemoryStream source(TinyWav(64));

  std::vector<double> run_to_done, delivery, destroy;
  std::int64_t failures = 0;
  for (auto _ : state) {
    auto input = std::make_unique<TWaveIn>();
    input->SetStream(&source);
    auto output = std::make_unique<TimedFLACOut>();
    output->SetInput(input.get());
    output->SetFileName(flac);
    output->SetCompressionLevel(2);
    std::atomic<bool> done{false};
    output->OnDone = [&done](TAuOutput*) { done = true; };
    output->OnThreadException = [&failures](TAuOutput*) { ++failures; };

    const auto run = Clock::now();
    output->Run();
    while (!done) {
      if (!platform::CheckSynchronize()) platform::WaitForHostWork(std::chrono::milliseconds(1));
    }
    const auto delivered = Clock::now();
    const Clock::time_point done_at{Clock::duration{output->DoneAt.load()}};
    output.reset();
    input.reset();
    const auto end = Clock::now();
    run_to_done.push_back(Seconds(delivered - run));
    delivery.push_back(Seconds(delivered - done_at));
    destroy.push_back(Seconds(end - delivered));
  }
  std::filesystem::remove_all(dir);
  if (failures) {
    state.SkipWithError("a run failed");
    return;
  }
  state.counters["done_p50_us"] = Percentile(run_to_done, 0.5) * 1e6;
  state.counters["done_max_ms"] = Percentile(run_to_done, 1.0) * 1e3;
  state.counters["delivery_p50_us"] = Percentile(delivery, 0.5) * 1e6;
  state.counters["delivery_max_ms"] = Percentile(delivery, 1.0) * 1e3;
  state.counters["destroy_p50_us"] = Percentile(destroy, 0.5) * 1e6;
  state.counters["destroy_max_ms"] = Percentile(destroy, 1.0) * 1e3;
  state.counters["late_done"] = static_cast<double>(
      std::count_if(run_to_done.begin(), run_to_done.end(), [](double s) { return s >= 0.005; }));
}
BENCHMARK(BM_OutputCycle)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(200);

}  // namespace
}  // namespace vornek::bench
