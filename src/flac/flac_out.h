// TFLACOut: the output that turns the raw PCM of its input into a FLAC file.
//
// On the output's worker the engine calls Prepare once (load and bind libFLAC, create
// the file, create, configure and initialise an encoder, open the input), DoOutput
// until it returns false (one block of BlockSize frames per call, handed to the
// encoder), then Done (finish the encoder, release the run's resources). The blocks
// are read from the input and widened to 32-bit samples ahead of the encoder by a
// TBlockFeeder, on a thread of its own, from the end of Prepare to the start of Done. The encoder never touches the file: every byte of the stream
// comes back through EncoderWrite, which writes it to Stream and puts the block built
// from Tags in place of libFLAC's own Vorbis comment block.
//
// Threads: the host sets the properties and Tags before Run; the worker only reads
// them during a run, except QLPCoeffPrecision, which Prepare may lower. Prepare,
// DoOutput, Done and the four callbacks run on the worker alone; the encoder, the
// feeder, Stream and CommentWritten belong to it for the length of a run. While the
// feeder lives, the input is read by the feeder's thread alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "flac/block_feeder.h"
#include "pipeline/file_output.h"
#include "tags/vorbis_tags.h"

namespace vornek {

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

  /// Writes what the encoder hands over, putting the block built from Tags in place
  /// of the library's first Vorbis comment block.
  void WriteEncoded(const std::uint8_t* buffer, std::size_t bytes);

  // The run's resources: acquired by Prepare, released by Done.
  std::unique_ptr<TBlockFeeder> Feeder;  ///< reads the input ahead, a block at a time
  std::unique_ptr<void, EncoderDeleter> Encoder;  ///< the run's FLAC__StreamEncoder
  // The input's format as read in Prepare.
  std::int32_t Channels = 0;
  std::int32_t BitsPerSample = 0;
  bool CommentWritten = false;
  /// The encoder accepted its initialisation, so finishing it writes a stream.
  bool EncoderInitialised = false;
  /// The run has read its input to the end (it was not stopped before).
  bool EndOfInput = false;
  /// Why writing, seeking in or asking the place of the file last failed inside a
  /// callback: the file's own failure, which says more than the library's refusal
  /// that follows it.
  std::string StreamFailure;

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
  std::unique_ptr<TVorbisTags> Tags;
};

}  // namespace vornek
