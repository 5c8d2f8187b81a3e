// SPDX-License-Identifier: BSD-3-Clause
// TFLACOut: the output that turns the raw PCM of its input into a FLAC file.
//
// The writer keeps its encoder properties, its tags and the file; the encoding itself
// is a run (encode_run.h). On the output's worker the engine calls Prepare once (load
// and bind libFLAC, open the input, create the file, and build the run that suits the
// input), DoOutput until it returns false (each call steps the run), then Done (finish
// the run, then keep the file or remove it).
//
// The run is one of two (encode_run.h): a single encoder, fed a block at a time by a
// reader thread; or several encoders over segments of the input side by side, when the
// machine has more than one processor and the input is long enough to gain from it
// (EncoderThreads). Both write the same bytes for the same input, except with loose
// mid-side stereo, whose choices for a frame depend on the frames before it (a segment
// starts afresh).
//
// Threads: the host sets the properties and Tags before Run; the worker only reads
// them during a run, except QLPCoeffPrecision, which Prepare may lower. Prepare,
// DoOutput and Done run on the worker, and the run belongs to it.
#pragma once

#include <cstdint>
#include <memory>

#include "flac/encode_run.h"
#include "flac/vorbis_comment.h"
#include "pipeline/file_output.h"
#include "tags/vorbis_tags.h"

namespace vornek {

struct TEncoderSettings;
struct TRunFormat;

class TFLACOut : public TAuFileOut {
 public:
  /// Verify false, BlockSize 4608, BestModelSearch false, EnableMidSideStereo true,
  /// CompressionLevel -1; the tag set is created empty.
  TFLACOut();
  /// Ends the worker (finishing any run) before the tags and buffers go.
  ~TFLACOut() override;

  bool GetBestModelSearch() const { return BestModelSearch; }
  /// True also turns mid-side stereo on and loose mid-side stereo off.
  void SetBestModelSearch(bool value);
  std::uint16_t GetBlockSize() const { return BlockSize; }
  void SetBlockSize(std::uint16_t value) { BlockSize = value; }
  std::int32_t GetCompressionLevel() const { return CompressionLevel; }
  /// A value above 8 is stored as 8. Negative: no preset, the individual settings
  /// below are sent instead; 0 to 8 select the library's preset.
  void SetCompressionLevel(std::int32_t value) { CompressionLevel = value > 8 ? 8 : value; }
  bool GetEnableMidSideStereo() const { return EnableMidSideStereo; }
  void SetEnableMidSideStereo(bool value) { EnableMidSideStereo = value; }
  bool GetEnableLooseMidSideStereo() const { return EnableLooseMidSideStereo; }
  /// True also turns mid-side stereo on.
  void SetEnableLooseMidSideStereo(bool value);
  std::uint16_t GetMaxLPCOrder() const { return MaxLPCOrder; }
  void SetMaxLPCOrder(std::uint16_t value) { MaxLPCOrder = value; }
  std::uint16_t GetMaxResidualPartitionOrder() const { return MaxResidualPartitionOrder; }
  void SetMaxResidualPartitionOrder(std::uint16_t value) { MaxResidualPartitionOrder = value; }
  std::uint16_t GetMinResidualPartitionOrder() const { return MinResidualPartitionOrder; }
  void SetMinResidualPartitionOrder(std::uint16_t value) { MinResidualPartitionOrder = value; }
  /// Prepare lowers it to 31 - bits per sample (never below 0) when the sum would
  /// exceed 31 with a negative level; the lowered value stays.
  std::uint16_t GetQLPCoeffPrecision() const { return QLPCoeffPrecision; }
  void SetQLPCoeffPrecision(std::uint16_t value) { QLPCoeffPrecision = value; }
  bool GetQLPCoeffPrecisionSearch() const { return QLPCoeffPrecisionSearch; }
  void SetQLPCoeffPrecisionSearch(bool value) { QLPCoeffPrecisionSearch = value; }
  bool GetVerify() const { return Verify; }
  void SetVerify(bool value) { Verify = value; }

  /// How many encoders encode a run side by side, each on a thread of its own.
  /// 0 (the default): as many as the process has processors, at most
  /// kMaxAutomaticEncoders, when the input is long enough to gain from them
  /// (kParallelMinSamples), else one. 1: always one. 2 or more: that many, whatever
  /// the input's length (at most kMaxEncoderThreads). A block size of 0 or below 16
  /// always uses one encoder.
  std::uint32_t GetEncoderThreads() const { return EncoderThreads; }
  void SetEncoderThreads(std::uint32_t value) {
    EncoderThreads = value < kMaxEncoderThreads ? value : kMaxEncoderThreads;
  }
  /// Blocks of BlockSize frames in each segment of the input that one of several
  /// encoders encodes. 0 (the default): about kSegmentSamples samples a segment, or, for
  /// an input of fewer than kMinSegments such segments, a kMinSegments-th of it (at
  /// least kMinSegmentBlocks blocks).
  std::uint32_t GetSegmentBlocks() const { return SegmentBlocks; }
  void SetSegmentBlocks(std::uint32_t value) { SegmentBlocks = value; }

  static constexpr std::uint32_t kMaxAutomaticEncoders = 8;
  static constexpr std::uint32_t kMaxEncoderThreads = 64;
  /// The interleaved samples of a segment when SegmentBlocks is 0. Setting up an
  /// encoder for a segment costs about as much as encoding two blocks of stereo, and
  /// the last segments of a stream leave threads idle while the slowest ends.
  static constexpr std::uint64_t kSegmentSamples = 64 * 4608 * 2;
  static constexpr std::uint64_t kMinSegments = 16;
  static constexpr std::uint64_t kMinSegmentBlocks = 8;
  /// The fewest interleaved samples (by the input's stated size) that several
  /// encoders take on automatically: about 9 seconds of CD audio. Below about 8
  /// seconds, starting the threads and touching their buffers for the first time cost
  /// as much as the second encoder saves on two processors.
  static constexpr std::uint64_t kParallelMinSamples = 768 * 1024;

  /// The owned tag set; it is never replaced.
  TVorbisTags& GetTags() { return *Tags; }
  /// Copies the values of `tags` into the owned set (TAuTags::Assign).
  void SetTags(const TAuTags& tags) { Tags->Assign(&tags); }

 protected:
  void Prepare() override;
  bool DoOutput(bool abort) override;
  void Done() override;

 private:
  /// Opens the input and takes its format for the run, refusing one the writer cannot
  /// widen or FLAC cannot state; returns the settings of the run. Lowers
  /// QLPCoeffPrecision where the width leaves it no room.
  TEncoderSettings OpenInput();
  /// The run for `settings`: several encoders when EncoderThreads and the input ask for
  /// them (and the platform offers an MD5), else one. The file must be open.
  std::unique_ptr<TEncodeRun> MakeRun(const TEncoderSettings& settings, TVComments comments);
  /// The encoding threads for a run of `format`; 1 for the single encoder.
  std::uint32_t EncodingThreads(const TRunFormat& format) const;
  /// SegmentBlocks' automatic value for an input of `format`.
  std::uint32_t AutomaticSegmentBlocks(const TRunFormat& format) const;

  std::unique_ptr<TEncodeRun> EncodingRun;  ///< from Prepare to Done

  // Properties.
  bool Verify = false;
  std::uint16_t BlockSize = 4608;
  bool BestModelSearch = false;
  bool EnableMidSideStereo = true;
  std::uint16_t MaxLPCOrder = 0;
  bool EnableLooseMidSideStereo = false;
  std::uint16_t QLPCoeffPrecision = 0;
  bool QLPCoeffPrecisionSearch = false;
  std::uint16_t MaxResidualPartitionOrder = 0;
  std::uint16_t MinResidualPartitionOrder = 0;
  std::int32_t CompressionLevel = -1;
  std::uint32_t EncoderThreads = 0;
  std::uint32_t SegmentBlocks = 0;
  std::unique_ptr<TVorbisTags> Tags;
};

}  // namespace vornek
