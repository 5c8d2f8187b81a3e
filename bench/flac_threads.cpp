// flac-threads: one WAV file converted in process by the FLAC writer with a chosen
// number of encoders, to see how the parallel path scales.
//
// usage: flac-threads IN.wav OUT.flac THREADS [runs] [SEGMENT_BLOCKS]
//
// THREADS is the writer's EncoderThreads: 1 is the single encoder, 2 or more that many
// encoders on as many threads whatever the length, 0 the writer's own choice.
// SEGMENT_BLOCKS (default 0: the writer's own) is its SegmentBlocks. Prints one line
// per run, the conversion alone (the reader and writer are made before and destroyed
// after it):
//   <wall seconds> <CPU seconds of the whole process> <bytes written>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "flac/flac_out.h"
#include "platform/host_thread.h"
#include "wave/wave_in.h"

int main(int argc, char** argv) {
  using namespace vornek;
  if (argc < 4 || argc > 6) {
    std::fprintf(stderr, "usage: flac-threads IN.wav OUT.flac THREADS [runs] [SEGMENT_BLOCKS]\n");
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
