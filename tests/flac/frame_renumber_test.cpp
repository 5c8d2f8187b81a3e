// SPDX-License-Identifier: BSD-3-Clause
// Frame renumbering against libFLAC itself: frames encoded as the first frames of a
// fresh encoder and renumbered must be byte for byte the frames libFLAC writes at
// those numbers in one long stream, and libFLAC's decoder must accept them.
#include "flac/frame_renumber.h"

#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "flac/flac_fixtures.h"

namespace vornek {
namespace {

using Frame = std::vector<std::uint8_t>;

/// What one libFLAC encode wrote: its head and its frames, one per write.
struct Encoded {
  Frame head;
  std::vector<Frame> frames;
};

FLAC__StreamEncoderWriteStatus Collect(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                       size_t bytes, uint32_t samples, uint32_t, void* client) {
  auto* out = static_cast<Encoded*>(client);
  if (samples == 0)
    out->head.insert(out->head.end(), buffer, buffer + bytes);
  else
    out->frames.emplace_back(buffer, buffer + bytes);
  return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

/// Blocks of 16 mono samples: the shortest blocks libFLAC takes, so that frame 65536
/// is reached with a million samples.
constexpr std::uint32_t kBlock = 16;

Encoded Encode(const std::vector<std::int32_t>& samples, std::size_t first, std::size_t count) {
  Encoded out;
  FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
  FLAC__stream_encoder_set_channels(encoder, 1);
  FLAC__stream_encoder_set_bits_per_sample(encoder, 16);
  FLAC__stream_encoder_set_sample_rate(encoder, 44100);
  FLAC__stream_encoder_set_compression_level(encoder, 0);
  FLAC__stream_encoder_set_blocksize(encoder, kBlock);
  EXPECT_EQ(FLAC__stream_encoder_init_stream(encoder, Collect, nullptr, nullptr, nullptr, &out),
            FLAC__STREAM_ENCODER_INIT_STATUS_OK);
  EXPECT_TRUE(FLAC__stream_encoder_process_interleaved(encoder, samples.data() + first,
                                                       static_cast<uint32_t>(count)));
  EXPECT_TRUE(FLAC__stream_encoder_finish(encoder));
  FLAC__stream_encoder_delete(encoder);
  return out;
}

/// The frames libFLAC's decoder read from `stream`, by their first sample's number,
/// and whether it reported any error (a CRC that does not match, lost sync).
struct DecodedFrames {
  std::vector<std::uint64_t> first_samples;
  std::vector<std::vector<std::int32_t>> samples;
  bool error = false;
};

DecodedFrames DecodeStream(const Frame& stream) {
  struct Client {
    const Frame* stream;
    std::size_t at = 0;
    DecodedFrames out;
  } client{&stream, 0, {}};
  FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
  const auto read = [](const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* c) {
    auto* self = static_cast<Client*>(c);
    const std::size_t left = self->stream->size() - self->at;
    if (left == 0) {
      *bytes = 0;
      return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    }
    *bytes = std::min(*bytes, left);
    std::memcpy(buffer, self->stream->data() + self->at, *bytes);
    self->at += *bytes;
    return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
  };
  const auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                        const FLAC__int32* const buffer[], void* c) {
    auto* self = static_cast<Client*>(c);
    self->out.first_samples.push_back(frame->header.number.sample_number);
    self->out.samples.emplace_back(buffer[0], buffer[0] + frame->header.blocksize);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  };
  const auto error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* c) {
    static_cast<Client*>(c)->out.error = true;
  };
  EXPECT_EQ(FLAC__stream_decoder_init_stream(decoder, read, nullptr, nullptr, nullptr, nullptr,
                                             write, nullptr, error, &client),
            FLAC__STREAM_DECODER_INIT_STATUS_OK);
  EXPECT_TRUE(FLAC__stream_decoder_process_until_end_of_stream(decoder));
  FLAC__stream_decoder_finish(decoder);
  FLAC__stream_decoder_delete(decoder);
  return client.out;
}

TEST(FrameRenumber, ChecksMatchTheirStandardCheckValues) {
  const std::string text = "123456789";
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  EXPECT_EQ(FlacCrc8(bytes, text.size()), 0xF4);
  EXPECT_EQ(FlacCrc16(bytes, text.size()), 0xFEE8);
  EXPECT_EQ(FlacCrc8(bytes, 0), 0);
  EXPECT_EQ(FlacCrc16(bytes, 0), 0);
}

// One long stream, and short encodes of the same samples that start just before the
// frame numbers at which the number's code grows a byte (128, 2048, 65536): renumbered,
// each short encode's frames are the long stream's, and the decoder takes them.
TEST(FrameRenumber, FramesOfAFreshEncoderBecomeTheFramesOfTheLongStream) {
  constexpr std::size_t kFrames = 65536 + 8;
  const std::vector<std::int32_t> signal = test::TestSignal(kFrames * kBlock, 1, 16);
  const Encoded whole = Encode(signal, 0, signal.size());
  ASSERT_EQ(whole.frames.size(), kFrames);

  for (const std::uint64_t first :
       {std::uint64_t{120}, std::uint64_t{2040}, std::uint64_t{65530}}) {
    SCOPED_TRACE("segment from frame " + std::to_string(first));
    const Encoded part = Encode(signal, first * kBlock, 12 * kBlock);
    ASSERT_EQ(part.frames.size(), 12u);
    Frame stream = whole.head;
    for (std::size_t k = 0; k < part.frames.size(); ++k) {
      EXPECT_EQ(FrameNumber(part.frames[k].data(), part.frames[k].size()), k);
      Frame renumbered;
      const std::size_t size =
          RenumberFrame(part.frames[k].data(), part.frames[k].size(), first + k, renumbered);
      EXPECT_EQ(size, renumbered.size());
      EXPECT_EQ(renumbered, whole.frames[first + k]) << "frame " << first + k;
      EXPECT_EQ(FrameNumber(renumbered.data(), renumbered.size()), first + k);
      stream.insert(stream.end(), renumbered.begin(), renumbered.end());
    }
    const DecodedFrames decoded = DecodeStream(stream);
    EXPECT_FALSE(decoded.error);
    ASSERT_EQ(decoded.first_samples.size(), 12u);
    for (std::size_t k = 0; k < 12; ++k) {
      EXPECT_EQ(decoded.first_samples[k], (first + k) * kBlock);
      EXPECT_TRUE(std::equal(decoded.samples[k].begin(), decoded.samples[k].end(),
                             signal.begin() + static_cast<std::ptrdiff_t>((first + k) * kBlock)));
    }
  }
}

// Numbers whose codes take 4, 5 and 6 bytes, and back to 1: both checks are those of a
// frame built whole, and the decoder reads the frame's samples unchanged.
TEST(FrameRenumber, EveryCodeLengthUpToThirtyOneBits) {
  const std::vector<std::int32_t> signal = test::TestSignal(3 * kBlock, 1, 16);
  const Encoded part = Encode(signal, 0, signal.size());
  ASSERT_EQ(part.frames.size(), 3u);
  const Frame& original = part.frames[1];
  for (const std::uint64_t number :
       {std::uint64_t{0}, std::uint64_t{127}, std::uint64_t{65535}, std::uint64_t{65536},
        std::uint64_t{(1u << 21) - 1}, std::uint64_t{1u << 21}, std::uint64_t{1u << 26},
        kMaxFrameNumber}) {
    SCOPED_TRACE(number);
    Frame renumbered;
    RenumberFrame(original.data(), original.size(), number, renumbered);
    EXPECT_EQ(FrameNumber(renumbered.data(), renumbered.size()), number);
    // The header ends with its CRC-8: the 4 fixed bytes, the number's code (as many
    // bytes as its first byte has leading ones, or 1), the block size that blocks of
    // 16 state in a byte of their own (code 6), the CRC-8.
    ASSERT_EQ(renumbered[2] >> 4, 6);
    std::size_t code = 0;
    while (code < 8 && (renumbered[4] << code & 0x80)) ++code;
    const std::size_t header = 4 + std::max<std::size_t>(code, 1) + 1 + 1;
    EXPECT_EQ(FlacCrc8(renumbered.data(), header - 1), renumbered[header - 1]);
    const std::uint16_t crc = FlacCrc16(renumbered.data(), renumbered.size() - 2);
    EXPECT_EQ(renumbered[renumbered.size() - 2], crc >> 8);
    EXPECT_EQ(renumbered[renumbered.size() - 1], crc & 0xFF);
    // Renumbered back, it is the original again.
    Frame back;
    RenumberFrame(renumbered.data(), renumbered.size(), 1, back);
    EXPECT_EQ(back, original);

    const DecodedFrames decoded = DecodeStream([&] {
      Frame stream = part.head;
      stream.insert(stream.end(), renumbered.begin(), renumbered.end());
      return stream;
    }());
    EXPECT_FALSE(decoded.error);
    ASSERT_EQ(decoded.samples.size(), 1u);
    EXPECT_EQ(decoded.first_samples[0], number * kBlock);
    EXPECT_TRUE(
        std::equal(decoded.samples[0].begin(), decoded.samples[0].end(), signal.begin() + kBlock));
  }
}

TEST(FrameRenumber, RefusesWhatIsNoFixedBlocksizeFrame) {
  const std::vector<std::int32_t> signal = test::TestSignal(kBlock, 1, 16);
  const Frame frame = Encode(signal, 0, signal.size()).frames.at(0);
  struct Damage {
    const char* name;
    std::size_t at;      // byte changed
    std::uint8_t value;  // its new value
    std::size_t keep;    // bytes kept (0: all)
  };
  const Damage cases[] = {
      {"TooShort", 0, frame[0], 8},
      {"NoSync", 0, 0xFE, 0},
      {"VariableBlocksize", 1, 0xF9, 0},
      {"ReservedBlockSizeCode", 2, static_cast<std::uint8_t>(frame[2] & 0x0F), 0},
      {"InvalidRateCode", 2, static_cast<std::uint8_t>(frame[2] | 0x0F), 0},
      {"ContinuationByteAsNumber", 4, 0x80, 0},
      {"HeaderCrcWrong", 5, static_cast<std::uint8_t>(frame[5] ^ 0x01), 0},
  };
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.name);
    Frame damaged = frame;
    damaged[c.at] = c.value;
    if (c.keep) damaged.resize(c.keep);
    Frame out = {0xAA};
    EXPECT_THROW(RenumberFrame(damaged.data(), damaged.size(), 3, out), std::invalid_argument);
    EXPECT_EQ(out, Frame{0xAA});  // nothing appended
  }
  Frame out;
  EXPECT_THROW(RenumberFrame(frame.data(), frame.size(), kMaxFrameNumber + 1, out),
               std::invalid_argument);
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace vornek
