// SPDX-License-Identifier: BSD-3-Clause
// make-wav: writes a WAV file of a musical signal — a slow progression of plucked
// chords over a bass line, with a little noise — so that it compresses like music
// rather than like a test tone. Used by the demo and the benchmarks.
//
// usage: make-wav OUT.wav [seconds] [rate] [bits: 16 or 24] [channels]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

void Put(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make-wav OUT.wav [seconds] [rate] [bits] [channels]\n");
    return 2;
  }
  const double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
  const int rate = argc > 3 ? std::atoi(argv[3]) : 44100;
  const int bits = argc > 4 ? std::atoi(argv[4]) : 16;
  const int channels = argc > 5 ? std::atoi(argv[5]) : 2;
  if (seconds <= 0 || rate <= 0 || (bits != 16 && bits != 24) || channels < 1 || channels > 8) {
    std::fprintf(stderr, "make-wav: bad arguments\n");
    return 2;
  }
  const auto frames = static_cast<std::uint64_t>(seconds * rate);
  const int width = bits / 8;
  const std::uint64_t data_bytes = frames * static_cast<std::uint64_t>(width * channels);
  if (data_bytes > 0xFFFFFFF0u) {
    std::fprintf(stderr, "make-wav: too long for a WAV file\n");
    return 2;
  }
  std::FILE* file = std::fopen(argv[1], "wb");
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<std::uint8_t> out;
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  Put(out, static_cast<std::uint32_t>(36 + data_bytes), 4);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put(out, 16, 4);
  Put(out, 1, 2);
  Put(out, static_cast<std::uint32_t>(channels), 2);
  Put(out, static_cast<std::uint32_t>(rate), 4);
  Put(out, static_cast<std::uint32_t>(rate * width * channels), 4);
  Put(out, static_cast<std::uint32_t>(width * channels), 2);
  Put(out, static_cast<std::uint32_t>(bits), 2);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  Put(out, static_cast<std::uint32_t>(data_bytes), 4);

  const double peak = static_cast<double>((1 << (bits - 1)) - 1);
  const int chords[4][3] = {{0, 4, 7}, {-3, 0, 4}, {-7, -3, 0}, {-5, -1, 2}};  // I vi IV V
  const std::uint64_t beat = static_cast<std::uint64_t>(rate) / 2;
  std::mt19937 random(7);
  std::uniform_real_distribution<double> noise(-0.003, 0.003);
  const double two_pi = 6.283185307179586;
  for (std::uint64_t n = 0; n < frames; ++n) {
    const int* chord = chords[(n / (4 * beat)) % 4];
    const double t = static_cast<double>(n) / rate;
    const double envelope = std::exp(-3.0 * static_cast<double>(n % beat) / rate);
    const double bass = 110.0 * std::pow(2.0, chord[0] / 12.0);
    for (int c = 0; c < channels; ++c) {
      const double pan = 0.5 + 0.3 * std::sin(c + 0.5);
      double v = 0;
      for (int k = 0; k < 3; ++k)
        v += std::sin(two_pi * 440.0 * std::pow(2.0, chord[k] / 12.0) * t + c);
      v = v * envelope * 0.18 * pan + std::sin(two_pi * bass * t) * 0.25 + noise(random);
      const double s = std::fmax(-peak - 1, std::fmin(peak, std::floor(v * peak)));
      Put(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(s)), width);
    }
    if (out.size() >= (1u << 20)) {
      std::fwrite(out.data(), 1, out.size(), file);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), file);
  return std::fclose(file) == 0 ? 0 : 1;
}
