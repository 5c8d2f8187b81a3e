// SPDX-License-Identifier: BSD-3-Clause
// flac-floor: the in-memory libFLAC encode of a PCM WAV file, the floor against which
// the benchmark script sets the converter and the flac command.
//
// usage: flac-floor FILE.wav [runs]
//
// Reads the whole file into memory and widens it to 32-bit samples, then encodes it
// `runs` times (default 1) and prints one line per run:
//   <wall seconds> <CPU seconds> <encoded bytes>
// Only the encoder's creation, the one process_interleaved call and finish are timed.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "floor_encode.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: flac-floor FILE.wav [runs]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
  if (runs < 1) {
    std::fprintf(stderr, "flac-floor: runs must be at least 1\n");
    return 2;
  }
  try {
    const vornek::bench::PcmSamples pcm = vornek::bench::ReadPcmWav(argv[1]);
    for (int i = 0; i < runs; ++i) {
      const vornek::bench::EncodeTiming t = vornek::bench::EncodeInMemory(pcm);
      std::printf("%.6f %.6f %zu\n", t.WallSeconds, t.CpuSeconds, t.EncodedBytes);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "flac-floor: %s\n", e.what());
    return 1;
  }
  return 0;
}
