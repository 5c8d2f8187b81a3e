// SPDX-License-Identifier: BSD-3-Clause
#include "flac/stream_head.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <utility>
#include <vector>

#include "base/au_exception.h"
#include "base/bytes.h"

namespace vornek {

namespace {
constexpr std::uint8_t kStreamInfoType = 0;
constexpr std::uint8_t kVorbisCommentType = 4;
}  // namespace

void ApplySummary(const TStreamSummary& summary, std::uint8_t* body) {
  PutBe24(body + 4, std::min<std::uint32_t>(summary.MinFrameBytes, 0xFFFFFF));
  PutBe24(body + 7, std::min<std::uint32_t>(summary.MaxFrameBytes, 0xFFFFFF));
  // Bytes 10 to 17: rate (20 bits), channels - 1 (3), bits - 1 (5), total samples (36).
  const std::uint64_t total = summary.Samples < (std::uint64_t{1} << 36) ? summary.Samples : 0;
  body[13] = static_cast<std::uint8_t>((body[13] & 0xF0) | ((total >> 32) & 0x0F));
  for (int i = 0; i < 4; ++i) body[14 + i] = static_cast<std::uint8_t>(total >> (24 - 8 * i));
  std::fill(body + 18, body + kStreamInfoLength, std::uint8_t{0});
  if (summary.Md5) std::copy(summary.Md5->begin(), summary.Md5->end(), body + 18);
}

TStreamHead::TStreamHead(TStream& file, TVComments comments) : file_(file), comments_(std::move(comments)) {}

void TStreamHead::Write(const std::uint8_t* buffer, std::size_t bytes) {
  const std::uint8_t type = bytes >= 4 ? buffer[0] & 0x7F : 0xFF;
  if (!comment_written_ && type == kVorbisCommentType) {
    // A whole comment block is one write of its header's length plus the header;
    // a write that merely starts with that byte is something else.
    if (bytes == std::size_t{Be24(buffer + 1)} + 4) {
      comment_written_ = true;
      const std::vector<std::uint8_t> block = BuildVorbisComment(comments_, (buffer[0] & 0x80) == 0);
      file_.Write(block.data(), block.size());
      return;
    }
  }
  file_.Write(buffer, bytes);
  // The stream information is written whole, as it came: its body ends where the file
  // is now.
  if (stream_info_at_ < 0 && type == kStreamInfoType && bytes == 4 + kStreamInfoLength) {
    stream_info_at_ = file_.Position() - static_cast<std::int64_t>(kStreamInfoLength);
    std::copy(buffer + 4, buffer + bytes, stream_info_.begin());
  }
}

void TStreamHead::CompleteStreamInfo(const TStreamSummary& summary) {
  if (stream_info_at_ < 0) Raise(TFailure::faFlacInit);
  ApplySummary(summary, stream_info_.data());
  file_.Seek(stream_info_at_, SeekOrigin::Begin);
  file_.Write(stream_info_.data(), stream_info_.size());
}

void TStreamHead::RaiseFailure(TFailure failure) const {
  if (!failure_.empty()) throw EAuException(failure_);
  Raise(failure);
}

FLAC__StreamEncoderWriteStatus TStreamHead::WriteCallback(const FLAC__StreamEncoder* /*encoder*/,
                                                          const FLAC__byte buffer[], size_t bytes,
                                                          uint32_t /*samples*/, uint32_t /*frame*/,
                                                          void* head) {
  auto* self = static_cast<TStreamHead*>(head);
  try {
    self->Write(buffer, bytes);
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  } catch (const std::exception& e) {
    self->failure_ = e.what();
  } catch (...) {
  }
  return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}

FLAC__StreamEncoderSeekStatus TStreamHead::SeekCallback(const FLAC__StreamEncoder* /*encoder*/,
                                                        FLAC__uint64 offset, void* head) {
  auto* self = static_cast<TStreamHead*>(head);
  try {
    if (offset > static_cast<FLAC__uint64>(std::numeric_limits<std::int64_t>::max()))
      return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    const auto target = static_cast<std::int64_t>(offset);
    if (self->file_.Seek(target, SeekOrigin::Begin) == target) return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
  } catch (const std::exception& e) {
    self->failure_ = e.what();
  } catch (...) {
  }
  return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
}

FLAC__StreamEncoderTellStatus TStreamHead::TellCallback(const FLAC__StreamEncoder* /*encoder*/,
                                                        FLAC__uint64* offset, void* head) {
  auto* self = static_cast<TStreamHead*>(head);
  try {
    // The replaced comment block's length differs from the library's: the place is
    // the file's, never a count of what the library handed over.
    const std::int64_t position = self->file_.Position();
    if (position < 0) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    *offset = static_cast<FLAC__uint64>(position);
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
  } catch (const std::exception& e) {
    self->failure_ = e.what();
  } catch (...) {
  }
  return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
}

}  // namespace vornek
