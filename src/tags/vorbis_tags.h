// SPDX-License-Identifier: BSD-3-Clause
// The tag store with the key set of Vorbis comments: twelve keys, each published as a
// UTF-16 text property. The key texts are the comment field names of the FLAC
// writer's comment block.
//
// Threads: as TAuTags (host fills it before a run; the worker reads it).
#pragma once

#include <array>
#include <string>

#include "tags/au_tags.h"

namespace vornek {

inline constexpr const char* kVorbisAlbum = "album";
inline constexpr const char* kVorbisArtist = "artist";
inline constexpr const char* kVorbisDate = "date";
inline constexpr const char* kVorbisGenre = "genre";
inline constexpr const char* kVorbisTitle = "title";
inline constexpr const char* kVorbisTrack = "tracknumber";
inline constexpr const char* kVorbisDisc = "discnumber";
inline constexpr const char* kVorbisReference = "replaygain_reference_loudness";
inline constexpr const char* kVorbisTrackGain = "replaygain_track_gain";
inline constexpr const char* kVorbisTrackPeak = "replaygain_track_peak";
inline constexpr const char* kVorbisAlbumGain = "replaygain_album_gain";
inline constexpr const char* kVorbisAlbumPeak = "replaygain_album_peak";

/// The twelve keys in declaration (and property) order.
inline constexpr std::array<const char*, 12> kVorbisKeys = {
    kVorbisAlbum, kVorbisArtist, kVorbisDate, kVorbisGenre, kVorbisTitle, kVorbisTrack,
    kVorbisDisc, kVorbisReference, kVorbisTrackGain, kVorbisTrackPeak, kVorbisAlbumGain,
    kVorbisAlbumPeak};

class TVorbisTags : public TAuTags {
 public:
  /// Declares the twelve keys, each null.
  TVorbisTags();
  const char* ClassName() const override { return "TVorbisTags"; }

  // The twelve properties of the component interface. Nothing in Vornek sets them
  // (the conversion clears the tags) or reads them: the comment block reads the tags
  // by key (GetAsText). Each property reads GetAsText(key) (empty while null) and
  // writes SetValue(key, the text as a UTF-16 value); equal text changes nothing, any
  // other text (the empty one included) sets Empty false and Changed true.
  std::u16string GetAlbum() const { return GetAsText(kVorbisAlbum); }
  void SetAlbum(const std::u16string& v) { SetValue(kVorbisAlbum, v); }
  std::u16string GetArtist() const { return GetAsText(kVorbisArtist); }
  void SetArtist(const std::u16string& v) { SetValue(kVorbisArtist, v); }
  std::u16string GetDate() const { return GetAsText(kVorbisDate); }
  void SetDate(const std::u16string& v) { SetValue(kVorbisDate, v); }
  std::u16string GetGenre() const { return GetAsText(kVorbisGenre); }
  void SetGenre(const std::u16string& v) { SetValue(kVorbisGenre, v); }
  std::u16string GetTitle() const { return GetAsText(kVorbisTitle); }
  void SetTitle(const std::u16string& v) { SetValue(kVorbisTitle, v); }
  std::u16string GetTrack() const { return GetAsText(kVorbisTrack); }
  void SetTrack(const std::u16string& v) { SetValue(kVorbisTrack, v); }
  std::u16string GetDisc() const { return GetAsText(kVorbisDisc); }
  void SetDisc(const std::u16string& v) { SetValue(kVorbisDisc, v); }
  std::u16string GetReference() const { return GetAsText(kVorbisReference); }
  void SetReference(const std::u16string& v) { SetValue(kVorbisReference, v); }
  std::u16string GetTrackGain() const { return GetAsText(kVorbisTrackGain); }
  void SetTrackGain(const std::u16string& v) { SetValue(kVorbisTrackGain, v); }
  std::u16string GetTrackPeak() const { return GetAsText(kVorbisTrackPeak); }
  void SetTrackPeak(const std::u16string& v) { SetValue(kVorbisTrackPeak, v); }
  std::u16string GetAlbumGain() const { return GetAsText(kVorbisAlbumGain); }
  void SetAlbumGain(const std::u16string& v) { SetValue(kVorbisAlbumGain, v); }
  std::u16string GetAlbumPeak() const { return GetAsText(kVorbisAlbumPeak); }
  void SetAlbumPeak(const std::u16string& v) { SetValue(kVorbisAlbumPeak, v); }
};

}  // namespace vornek
