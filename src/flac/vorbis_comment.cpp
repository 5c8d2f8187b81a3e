// SPDX-License-Identifier: BSD-3-Clause
#include "flac/vorbis_comment.h"

#include <cstring>

#include "base/au_exception.h"
#include "base/bytes.h"
#include "base/failures.h"
#include "platform/text.h"

namespace vornek {

namespace {

std::string Comment(const TVorbisTags& tags, const char* key) {
  const std::u16string value = tags.GetAsText(key);
  if (value.empty()) return {};
  const std::string k(key);
  return platform::WideToUtf8(std::u16string(k.begin(), k.end()) + u"=" + value);
}

}  // namespace

TVComments FillVComments(const TVorbisTags& tags) {
  TVComments record;
  record.Vendor = kVorbisVendor;
  record.Title = Comment(tags, kVorbisTitle);
  record.Artist = Comment(tags, kVorbisArtist);
  record.Album = Comment(tags, kVorbisAlbum);
  record.Date = Comment(tags, kVorbisDate);
  record.Genre = Comment(tags, kVorbisGenre);
  record.Track = Comment(tags, kVorbisTrack);
  record.Disc = Comment(tags, kVorbisDisc);
  record.Reference = Comment(tags, kVorbisReference);
  record.TrackGain = Comment(tags, kVorbisTrackGain);
  record.TrackPeak = Comment(tags, kVorbisTrackPeak);
  record.AlbumGain = Comment(tags, kVorbisAlbumGain);
  record.AlbumPeak = Comment(tags, kVorbisAlbumPeak);
  return record;
}

std::uint64_t VorbisCommentBodyLength(const TVComments& record) {
  std::uint64_t length = 4 + 4 + record.Vendor.size();
  for (const std::string* field : record.Comments())
    if (!field->empty()) length += 4 + field->size();
  return length;
}

void AppendCommentString(std::uint8_t*& position, const std::string& text) {
  PutLe32(position, static_cast<std::uint32_t>(text.size()));
  position += 4;
  if (!text.empty()) std::memcpy(position, text.data(), text.size());
  position += text.size();
}

std::vector<std::uint8_t> BuildVorbisComment(const TVComments& record, bool not_last) {
  const std::uint64_t length = VorbisCommentBodyLength(record);
  if (length > kMaxMetadataBlockLength)
    Raise(TFailure::faTagsTooLarge);
  const auto body = static_cast<std::uint32_t>(length);

  std::uint32_t count = 0;
  for (const std::string* field : record.Comments())
    if (!field->empty()) ++count;

  std::vector<std::uint8_t> block(body + 4);
  std::uint8_t* position = block.data();
  *position++ = static_cast<std::uint8_t>(not_last ? 4 : 4 + 128);
  PutBe24(position, body);
  position += 3;
  AppendCommentString(position, record.Vendor);
  PutLe32(position, count);
  position += 4;
  for (const std::string* field : record.Comments())
    if (!field->empty()) AppendCommentString(position, *field);
  return block;
}

}  // namespace vornek
