// SPDX-License-Identifier: BSD-3-Clause
// TFLACOut: the output that turns the raw PCM of its input into a FLAC file.
//
// On the output's worker the engine calls Prepare once (load and bind libFLAC, open the
// input, create the file, create, configure and initialise an encoder), DoOutput
// until it returns false, then Done (finish the encoding, release the run's
// resources). The encoders never touch the file: every byte of the stream comes back
// through their write callbacks, and the block built from Tags is put in place of
// libFLAC's own Vorbis comment block.
//
// A run takes one of two paths, chosen by Prepare:
//  - one encoder: DoOutput hands the encoder one block of BlockSize frames per call.
//    The blocks are read from the input and widened to 32-bit samples ahead of the
//    encoder by a TBlockFeeder, on a thread of its own, from the end of Prepare to the
//    start of Done. Finishing the encoder completes the stream information through
//    the seek and tell callbacks.
//  - several encoders (TParallelEncoder), when the machine has more than one processor
//    and the input is long enough to gain from it: the input is cut into segments of
//    whole blocks that encoders on as many threads encode side by side, and their
//    frames are joined in order. Prepare writes the stream's head from an encoder
//    initialised with the same settings; Done writes the stream information of the
//    whole stream over that head's.
// Both write the same bytes for the same input, except with loose mid-side stereo,
// whose choices for a frame depend on the frames before it (a segment starts afresh).
//
// Threads: the host sets the properties and Tags before Run; the worker only reads
// them during a run, except QLPCoeffPrecision, which Prepare may lower. Prepare,
// DoOutput, Done and the callbacks of the one encoder run on the worker alone; the
// encoder, the feeder, the parallel encoder, Stream and CommentWritten belong to it
// for the length of a run. While the feeder lives, the input is read by the feeder's
// thread alone; the parallel encoder reads it on the worker. ConfigureEncoder is also
// called on the parallel encoder's threads, several at once: it only reads.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "flac/block_feeder.h"
#include "pipeline/file_output.h"
#include "tags/vorbis_tags.h"

namespace vornek {

class TParallelEncoder;

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
  /// Deletes a libFLAC stream encoder (held opaquely: its type is the library's).
  struct EncoderDeleter {
    void operator()(void* encoder) const;
  };

  // The encoder's four callbacks (they need libFLAC's types, so they live in the
  // implementation). Worker thread, inside the library calls of Prepare, DoOutput and
  // Done; no failure leaves them, it becomes the status returned to the library.
  friend struct FLACOutCallbacks;

  /// Opens the input and takes its format for the run (Channels, BitsPerSample,
  /// SampleRate, SamplesEstimate), refusing one the writer cannot widen or FLAC
  /// cannot state. Lowers QLPCoeffPrecision where the width leaves it no room.
  void OpenInput();
  /// Sends the settings of this run to a new encoder (a FLAC__StreamEncoder):
  /// everything but the callbacks. Reads the input's format as Prepare read it.
  void ConfigureEncoder(void* encoder) const;
  /// The encoding threads for this run; 1 for the single encoder.
  std::uint32_t EncodingThreads() const;
  /// SegmentBlocks' automatic value for this run's input.
  std::uint32_t AutomaticSegmentBlocks() const;
  /// Initialises the encoder for the head of a stream joined from several encoders,
  /// writes that head, and starts the parallel encoder. False when the platform
  /// offers no MD5: the run then takes the single encoder.
  bool StartParallel(std::uint32_t threads);
  /// Writes what the encoder hands over, putting the block built from Tags in place
  /// of the library's first Vorbis comment block.
  void WriteEncoded(const std::uint8_t* buffer, std::size_t bytes);
  /// The same for the head encoder of the parallel path, which hands over its metadata
  /// a block at a time: notes where the stream information is written, and what.
  void WriteHeadBlock(const std::uint8_t* buffer, std::size_t bytes);
  /// Raises the failure of an encoder that refused a block or its end: the file's
  /// own failure when a callback met one, else the library's refusal.
  [[noreturn]] void RaiseEncodeFailure() const;

  // The run's resources: acquired by Prepare, released by Done.
  std::unique_ptr<TBlockFeeder> Feeder;  ///< reads the input ahead, a block at a time
  std::unique_ptr<void, EncoderDeleter> Encoder;  ///< the run's FLAC__StreamEncoder
  std::unique_ptr<TParallelEncoder> Parallel;  ///< the several encoders' path
  /// A step of the parallel encoder failed: Done writes nothing more.
  bool ParallelFailed = false;
  // The input's format as read in Prepare.
  std::int32_t Channels = 0;
  std::int32_t BitsPerSample = 0;
  std::int32_t SampleRate = 0;
  std::optional<std::uint64_t> SamplesEstimate;  ///< from the input's Size, when it has one
  bool CommentWritten = false;
  /// The encoder accepted its initialisation, so finishing it writes a stream.
  bool EncoderInitialised = false;
  /// The run has read its input to the end (it was not stopped before).
  bool EndOfInput = false;
  /// Why writing, seeking in or asking the place of the file last failed inside a
  /// callback: the file's own failure, which says more than the library's refusal
  /// that follows it.
  std::string StreamFailure;
  /// Where the body of the stream information lies in Stream (-1: not written), and
  /// the body written there; the parallel path rewrites it in Done.
  std::int64_t StreamInfoAt = -1;
  std::array<std::uint8_t, 34> StreamInfo{};

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
