// SPDX-License-Identifier: BSD-3-Clause
// The Vorbis comment metadata block (FLAC block type 4) that the FLAC writer puts in
// place of the one libFLAC produces: a fixed vendor text and one comment per
// non-empty Vorbis tag, all UTF-8, lengths counted in bytes.
//
// Threads: called on the FLAC writer's worker thread, inside its write callback (and
// once in Prepare, to refuse tags that cannot fit). Pure functions; no shared state.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tags/vorbis_tags.h"

namespace vornek {

/// The block's vendor string; it has no key of its own.
inline constexpr const char* kVorbisVendor = "VENDOR=Duzode";

/// The largest body a metadata block header can state (its length field has 24 bits).
inline constexpr std::uint32_t kMaxMetadataBlockLength = 0xFFFFFF;

/// The strings of one comment block, UTF-8, each empty unless filled. Every comment
/// field holds "key=value" or stays empty (then it is left out of the block).
struct TVComments {
  std::string Vendor;
  std::string Title;
  std::string Artist;
  std::string Album;
  std::string Date;
  std::string Genre;
  std::string Track;
  std::string Disc;
  std::string Reference;
  std::string TrackGain;
  std::string TrackPeak;
  std::string AlbumGain;
  std::string AlbumPeak;

  /// The twelve comment fields in the order they appear in the block.
  std::array<const std::string*, 12> Comments() const {
    return {&Title,     &Artist,    &Album,     &Date,      &Genre,     &Track,
            &Disc,      &Reference, &TrackGain, &TrackPeak, &AlbumGain, &AlbumPeak};
  }
};

/// The record for `tags`: the vendor text, and "key=value" for every tag whose text
/// is not empty (keys in lower case as declared).
TVComments FillVComments(const TVorbisTags& tags);

/// L, the length of the block after its 4-byte header, as the record would need it
/// (it may exceed what the header can state; see kMaxMetadataBlockLength).
std::uint64_t VorbisCommentBodyLength(const TVComments& record);

/// The whole block, header included: L + 4 bytes. The last-block flag is set (first
/// byte 132 instead of 4) when `not_last` is false. A record whose L would exceed
/// kMaxMetadataBlockLength cannot be stated in the header: EAuException
/// "The tags are too large for a FLAC comment block." is raised instead of writing a
/// block whose length field would lie.
std::vector<std::uint8_t> BuildVorbisComment(const TVComments& record, bool not_last);

/// Writes the byte length of `text` as unsigned 32-bit little-endian at `position`,
/// then its bytes, and advances `position` past them (4 + length bytes).
void AppendCommentString(std::uint8_t*& position, const std::string& text);

}  // namespace vornek
