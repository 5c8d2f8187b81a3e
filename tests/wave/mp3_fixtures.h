// SPDX-License-Identifier: BSD-3-Clause
// MPEG Layer 3 WAV files for the decoder's tests, made at test time with ffmpeg's
// encoder (the tests that use them require it), and what can be done to them: longer
// files from the same frames, junk between frames, ffmpeg's own decode as the peer; and
// what the reader delivers for such a file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/stream.h"
#include "support/files.h"
#include "support/wav_writer.h"
#include "wave/wave_in.h"

namespace vornek::test {

constexpr int kMp3FrameSamples = 1152;

/// An MP3-in-WAV file of a sine as ffmpeg writes it, and its chunks.
struct Mp3Wav {
  Bytes file;
  Bytes fmt;
  Bytes fact;
  Bytes data;
  std::uint32_t encoded_samples = 0;  ///< per channel, from "fact"
};

inline Mp3Wav EncodeSine(int channels, int rate, double seconds, int frequency = 1000) {
  TempDir dir;
  const std::string path = dir.File("sine.wav");
  const std::string command = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=frequency=" +
                              std::to_string(frequency) + ":duration=" + std::to_string(seconds) + " -ac " +
                              std::to_string(channels) + " -ar " + std::to_string(rate) +
                              " -c:a libmp3lame -f wav '" + path + "'";
  Mp3Wav out;
  if (std::system(command.c_str()) != 0) {
    ADD_FAILURE() << "ffmpeg failed: " << command;
    return out;
  }
  out.file = ReadBytes(path);
  auto chunks = ReadChunks(out.file);
  out.fmt = chunks["fmt "];
  out.fact = chunks["fact"];
  out.data = chunks["data"];
  // The reader only routes tag 0x55 files with a "fact" chunk here; make sure the
  // fixture is one.
  EXPECT_GE(out.fmt.size(), 18u);
  if (out.fmt.size() >= 2) {
    EXPECT_EQ(GetLE16(out.fmt.data()), 0x55);
  }
  EXPECT_EQ(out.fact.size(), 4u);
  if (out.fact.size() == 4) out.encoded_samples = GetLE32(out.fact.data());
  EXPECT_FALSE(out.data.empty());
  return out;
}

/// The file of `mp3` with `data` as its audio ("fmt ", "fact", "data").
inline Bytes Mp3WavWith(const Mp3Wav& mp3, const Bytes& data) {
  return Riff({{"fmt ", mp3.fmt}, {"fact", mp3.fact}, {"data", data}});
}

/// The frames of `mp3` played `copies` times over, as one file.
inline Bytes RepeatedMp3Wav(const Mp3Wav& mp3, int copies) {
  Bytes data;
  data.reserve(mp3.data.size() * static_cast<std::size_t>(copies));
  for (int i = 0; i < copies; ++i) data.insert(data.end(), mp3.data.begin(), mp3.data.end());
  return Mp3WavWith(mp3, data);
}

/// The bytes of the MPEG-1 Layer III frame whose header is at `b` (as ffmpeg writes
/// them at 44.1 and 48 kHz), or nothing when no such header is there.
inline std::optional<std::size_t> Mpeg1FrameBytes(const std::uint8_t* b) {
  static constexpr std::uint32_t kKbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static constexpr std::uint32_t kRates[3] = {44100, 48000, 32000};
  if (b[0] != 0xFF || (b[1] & 0xFE) != 0xFA) return std::nullopt;  // sync, MPEG-1, Layer III
  const std::uint32_t bitrate = b[2] >> 4, rate = (b[2] >> 2) & 3u;
  if (bitrate == 0 || bitrate == 15 || rate == 3) return std::nullopt;
  return 144000u * kKbps[bitrate] / kRates[rate] + ((b[2] >> 1) & 1u);
}

/// Offsets of the frames that follow one another from the first frame of `data` on.
inline std::vector<std::size_t> FrameStarts(const Bytes& data) {
  std::vector<std::size_t> starts;
  std::size_t at = 0;
  while (at + 4 <= data.size() && !Mpeg1FrameBytes(&data[at])) ++at;
  while (at + 4 <= data.size()) {
    const std::optional<std::size_t> bytes = Mpeg1FrameBytes(&data[at]);
    if (!bytes) break;
    starts.push_back(at);
    at += *bytes;
  }
  return starts;
}

/// What the reader delivers for a WAV file: its format, its stated Size and every byte
/// read through to the end.
struct Delivered {
  int channels = 0;
  int rate = 0;
  int bits = 0;
  std::int64_t size = 0;
  Bytes pcm;
};

/// Opens `file` with a reader over memory and reads it to its end; the reader's
/// EAuException passes through when it refuses the file.
inline Delivered ReadThroughReader(const Bytes& file) {
  TMemoryStream stream(file);
  TWaveIn wave;
  wave.SetStream(&stream);
  wave.Open();
  Delivered out{wave.GetChannels(), wave.GetSampleRate(), wave.GetBitsPerSample(), wave.Size, {}};
  std::vector<std::uint8_t> buffer(65536);
  for (bool end = false; !end;) {
    const std::uint32_t got = wave.ReadFully(buffer.data(), static_cast<std::uint32_t>(buffer.size()), end);
    out.pcm.insert(out.pcm.end(), buffer.begin(), buffer.begin() + got);
  }
  wave.Close();
  wave.SetStream(nullptr);
  return out;
}

/// Interleaved 16-bit samples of `bytes` (little-endian).
inline std::vector<std::int16_t> Samples16(const Bytes& bytes) {
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int16_t>(GetLE16(&bytes[2 * i]));
  return samples;
}

/// ffmpeg's own decode of the WAV file `file` to 16-bit samples; nothing when ffmpeg
/// fails.
inline std::optional<std::vector<std::int16_t>> FfmpegDecode(const Bytes& file) {
  TempDir dir;
  WriteBytes(dir.File("in.wav"), file);
  const std::string command = "ffmpeg -hide_banner -loglevel quiet -nostdin -y -i '" + dir.File("in.wav") +
                              "' -f s16le -acodec pcm_s16le '" + dir.File("out.raw") + "'";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  return Samples16(ReadBytes(dir.File("out.raw")));
}

}  // namespace vornek::test
