// SPDX-License-Identifier: BSD-3-Clause
#include "flac/frame_renumber.h"

#include <array>
#include <stdexcept>

namespace vornek {

namespace {

constexpr std::uint32_t kCrc16Polynomial = 0x18005;  // x^16 + x^15 + x^2 + 1

constexpr std::array<std::uint16_t, 256> MakeCrc16Table() {
  std::array<std::uint16_t, 256> table{};
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    std::uint32_t crc = byte << 8;
    for (int bit = 0; bit < 8; ++bit) {
      crc <<= 1;
      if (crc & 0x10000) crc ^= kCrc16Polynomial;
    }
    table[byte] = static_cast<std::uint16_t>(crc);
  }
  return table;
}

constexpr std::array<std::uint16_t, 256> kCrc16Table = MakeCrc16Table();

/// a * b modulo the CRC-16 polynomial, both read as polynomials over GF(2).
std::uint16_t MulMod(std::uint16_t a, std::uint16_t b) {
  std::uint32_t product = 0;
  for (int bit = 15; bit >= 0; --bit) {
    product <<= 1;
    if (product & 0x10000) product ^= kCrc16Polynomial;
    if ((b >> bit) & 1) product ^= a;
  }
  return static_cast<std::uint16_t>(product);
}

/// x^(8 * bytes) modulo the CRC-16 polynomial: what the CRC of a message is multiplied
/// by when `bytes` more bytes follow it.
std::uint16_t ShiftFactor(std::size_t bytes) {
  std::uint16_t result = 1;      // x^0
  std::uint16_t power = 0x0100;  // x^8
  for (; bytes != 0; bytes >>= 1) {
    if (bytes & 1) result = MulMod(result, power);
    power = MulMod(power, power);
  }
  return result;
}

[[noreturn]] void NotAFrame(const char* why) {
  throw std::invalid_argument(std::string("not a fixed-blocksize FLAC frame: ") + why);
}

/// Where the parts of a frame header lie.
struct HeaderLayout {
  std::size_t NumberLength = 0;  ///< bytes of the number code, from offset 4
  std::size_t Length = 0;        ///< header bytes before the CRC-8
  std::uint64_t Number = 0;
};

HeaderLayout ParseHeader(const std::uint8_t* frame, std::size_t size) {
  // Shortest frame: 4 fixed bytes, a 1-byte number, the CRC-8, one byte of subframe,
  // the CRC-16.
  if (size < 9) NotAFrame("too short");
  if (frame[0] != 0xFF || (frame[1] & 0xFE) != 0xF8) NotAFrame("no sync code");
  if (frame[1] & 0x01) NotAFrame("variable block size");
  const unsigned block_code = frame[2] >> 4;
  const unsigned rate_code = frame[2] & 0x0F;
  if (block_code == 0) NotAFrame("reserved block size code");
  if (rate_code == 15) NotAFrame("invalid sample rate code");

  HeaderLayout layout;
  const std::uint8_t lead = frame[4];
  // The first byte's leading ones count the code's bytes; none: a single byte.
  std::size_t ones = 0;
  while (ones < 8 && ((lead << ones) & 0x80)) ++ones;
  if (ones == 1 || ones > 6) NotAFrame("malformed frame number");
  const std::size_t length = ones == 0 ? 1 : ones;
  layout.NumberLength = length;
  layout.Number = length == 1 ? lead : (lead & (0x7Fu >> length));
  std::size_t at = 5;
  for (std::size_t i = 1; i < length; ++i, ++at) {
    if (at >= size || (frame[at] & 0xC0) != 0x80) NotAFrame("malformed frame number");
    layout.Number = (layout.Number << 6) | (frame[at] & 0x3Fu);
  }
  at += block_code == 6 ? 1 : block_code == 7 ? 2 : 0;
  at += rate_code == 12 ? 1 : (rate_code == 13 || rate_code == 14) ? 2 : 0;
  layout.Length = at;
  // The CRC-8, at least one byte of subframe, and the CRC-16 follow.
  if (size < at + 4) NotAFrame("too short");
  if (FlacCrc8(frame, at) != frame[at]) NotAFrame("header CRC-8 does not match");
  return layout;
}

/// The frame number's code: 1 to 6 bytes.
std::size_t EncodeNumber(std::uint64_t number, std::uint8_t* out) {
  if (number < 0x80) {
    out[0] = static_cast<std::uint8_t>(number);
    return 1;
  }
  std::size_t length = 2;
  while (length < 6 && number >= (std::uint64_t{1} << (5 * length + 1))) ++length;
  for (std::size_t i = length - 1; i > 0; --i, number >>= 6)
    out[i] = static_cast<std::uint8_t>(0x80 | (number & 0x3F));
  const auto mark = static_cast<std::uint8_t>(0xFF00u >> length);  // length leading ones
  out[0] = static_cast<std::uint8_t>(mark | number);
  return length;
}

}  // namespace

std::uint8_t FlacCrc8(const std::uint8_t* bytes, std::size_t size) {
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80) ? ((crc << 1) ^ 0x07) & 0xFF : crc << 1;
  }
  return static_cast<std::uint8_t>(crc);
}

std::uint16_t FlacCrc16(const std::uint8_t* bytes, std::size_t size) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < size; ++i)
    crc = static_cast<std::uint16_t>((crc << 8) ^ kCrc16Table[(crc >> 8) ^ bytes[i]]);
  return crc;
}

std::uint64_t FrameNumber(const std::uint8_t* frame, std::size_t size) {
  return ParseHeader(frame, size).Number;
}

std::size_t RenumberFrame(const std::uint8_t* frame, std::size_t size, std::uint64_t number,
                          std::vector<std::uint8_t>& out) {
  if (number > kMaxFrameNumber)
    throw std::invalid_argument("frame number does not fit a fixed-blocksize frame");
  const HeaderLayout layout = ParseHeader(frame, size);

  // The new header with its CRC-8: at most 4 + 6 + 2 + 2 + 1 bytes.
  std::array<std::uint8_t, 16> header{};
  std::copy(frame, frame + 4, header.begin());
  std::size_t length = 4 + EncodeNumber(number, header.data() + 4);
  const std::size_t tail = layout.Length - 4 - layout.NumberLength;  // block size, rate
  std::copy(frame + 4 + layout.NumberLength, frame + layout.Length, header.begin() + length);
  length += tail;
  header[length] = FlacCrc8(header.data(), length);
  ++length;

  // CRC-16 is linear: crc(H + B) = crc(H) * x^(8|B|) + crc(B). Replacing the header H
  // by H' therefore changes the frame's CRC by (crc(H) + crc(H')) * x^(8|B|).
  const std::size_t old_header = layout.Length + 1;
  const std::size_t body = size - 2 - old_header;
  const std::uint16_t old_crc =
      static_cast<std::uint16_t>((frame[size - 2] << 8) | frame[size - 1]);
  const std::uint16_t change = FlacCrc16(frame, old_header) ^ FlacCrc16(header.data(), length);
  const std::uint16_t new_crc =
      static_cast<std::uint16_t>(old_crc ^ MulMod(change, ShiftFactor(body)));

  const std::size_t start = out.size();
  out.insert(out.end(), header.begin(), header.begin() + static_cast<std::ptrdiff_t>(length));
  out.insert(out.end(), frame + old_header, frame + old_header + body);
  out.push_back(static_cast<std::uint8_t>(new_crc >> 8));
  out.push_back(static_cast<std::uint8_t>(new_crc & 0xFF));
  return out.size() - start;
}

}  // namespace vornek
