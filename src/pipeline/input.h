// SPDX-License-Identifier: BSD-3-Clause
// Inputs: the components that hand out raw interleaved PCM bytes on request.
//
//   TAuInput          format queries, the locked open/read/close protocol, byte
//                     accounting and an optional read-ahead buffer;
//   TAuStreamedInput  reads a byte stream and delivers the frames StartSample ..
//                     EndSample of it, optionally looping over them;
//   TAuFileIn         a streamed input over a named file (or a supplied stream); it
//                     keeps the format read from the file's header and opens the file
//                     lazily.
//
// Threads: Open, Read, ReadInto, ReadFully, Close and Seek serialise on InputLock and
// run on the consuming output's worker thread. The FileName setter, SetStream and the
// format queries take no InputLock; a concrete file input guards its OpenFile and
// CloseFile with FileLock. Where both are held, InputLock is taken first. RequestStop
// may come from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/component.h"
#include "pipeline/stream.h"
#include "platform/threads.h"

namespace vornek {

class TAuInput : public TComponent {
 public:
  TAuInput();
  ~TAuInput() override;

  // Format. A file input answers from its header, opening the file for it. The FLAC
  // writer takes the length from Size.
  virtual std::int32_t GetBitsPerSample() = 0;
  virtual std::int32_t GetChannels() = 0;
  virtual std::int32_t GetSampleRate() = 0;

  /// Prepares the input for reading. On failure EndOfData is set and an EAuException
  /// carrying the failure's text is raised.
  void Open();
  /// Asks an Open under way, or the next one, to give up. Long work inside Open (the
  /// decode of a whole compressed file) polls StopRequested between its pieces and then
  /// fails the open. Any thread; the consuming output asks this of its input when it is
  /// stopped, and withdraws it when it starts its next run.
  void RequestStop() { StopAsked = true; }
  void WithdrawStopRequest() { StopAsked = false; }
  /// Drops any read-ahead data and closes the input.
  void Close();
  /// Hands out up to `count` bytes: on return `buffer` points at them (memory of the
  /// input, valid until its next operation) and `count` says how many (0: no more).
  virtual void Read(const std::uint8_t*& buffer, std::uint32_t& count);
  /// One Read of at most `count` bytes, copied to `destination`; returns the bytes copied.
  std::uint32_t ReadInto(void* destination, std::uint32_t count);
  /// Reads until `destination` holds `count` bytes or a read delivers nothing;
  /// `end_reached` tells whether a read delivered nothing. Returns the bytes copied.
  std::uint32_t ReadFully(void* destination, std::uint32_t count, bool& end_reached);

  // Readable state. Position and Size are read by the consuming output's progress,
  // on its worker, while a reader of its own may be reading the input: Position is
  // atomic for that. Size is set when the input opens (or a format query opens its
  // file), never while it delivers.
  std::atomic<std::int64_t> Position{0};  ///< bytes handed out since Open, from the range start
  std::int64_t Size = 0;      ///< bytes the input will deliver; <= 0: not known
  /// Without a Size: the bytes the input expects to deliver, as far as it can tell when
  /// it opens (a file read to its end); <= 0: none. A guess only: delivery is not held
  /// to it, and progress is not told from it.
  std::int64_t SizeEstimate = 0;
  std::uint16_t FrameSize = 0;
  bool Busy = false;
  bool EndOfData = false;

 protected:
  virtual void OpenInternal() = 0;
  virtual void CloseInternal() = 0;
  /// Delivers up to `count` bytes from the current place (0: no more data). Must not
  /// change Position.
  virtual void ReadInternal(const std::uint8_t*& buffer, std::uint32_t& count) = 0;
  /// Hands out read-ahead bytes, if any are held (FillReadAhead, below); returns
  /// whether it did.
  bool ServeReadAhead(const std::uint8_t*& buffer, std::uint32_t& count);
  /// True inside an Open while a stop is asked (RequestStop); false outside Open.
  bool StopRequested() const { return Opening && StopAsked; }

  /// The decoded-block window of a concrete reader: WindowStart is the 1-based read
  /// index, WindowEnd the bytes held; empty when WindowStart > WindowEnd.
  std::uint32_t WindowStart = 1;
  std::uint32_t WindowEnd = 0;

  platform::ReentrantLock InputLock;
  std::vector<std::uint8_t> ReadAheadBuffer;
  std::uint32_t ReadAheadCount = 0;
  std::uint32_t ReadAheadOffset = 0;

 private:
  std::atomic<bool> StopAsked{false};
  std::atomic<bool> Opening{false};  ///< an Open is under way

  // ---------------------------------------------------------------------------------
  // The rest of the component interface. Neither the library nor the command calls
  // these (the tests exercise ForceClose and FillReadAhead). FillReadAhead is the only
  // thing that fills the read-ahead buffer, which both forms of Read serve first.
 public:
  virtual std::int32_t GetTotalTime() { return 0; }
  virtual std::int64_t GetTotalSamples() { return 0; }
  virtual void SetOptionFlag(bool value) { OptionFlag = value; }
  /// Close, ignoring failures; leaves the input not busy.
  virtual void ForceClose();
  /// Reads `count` bytes ahead into the read-ahead buffer (when it is empty).
  virtual void FillReadAhead(std::uint32_t count);
  virtual void ReservedHookA() {}
  virtual void ReservedHookB() {}
  bool OptionFlag = false;  ///< stored by SetOptionFlag; nothing consults it
};

class TAuStreamedInput : public TAuInput {
 public:
  TAuStreamedInput() = default;

  /// Delivers the range StartSample .. EndSample, clipped at Size; with Loop the range
  /// restarts after its last byte has been handed out.
  void Read(const std::uint8_t*& buffer, std::uint32_t& count) override;
  /// Reads from `stream` (not owned) instead of the input's own source; null undoes it.
  virtual void SetStream(TStream* stream);

  // The range, applied by the next Open.
  bool Seekable = true;
  std::int64_t StartSample = 0;
  std::int64_t EndSample = -1;  ///< last frame, inclusive; -1: to the end of the data
  bool Loop = false;
  /// Frames of the whole data before Open applies the range, of the range after it.
  std::int64_t TotalSamples = 0;

 protected:
  /// Positions the source so that the next ReadInternal starts at frame `sample`
  /// (counted from the start of the data); may move `sample` to the frame reached.
  virtual bool SeekInternal(std::int64_t& sample) = 0;

  TStream* Stream = nullptr;
  bool StreamAssigned = false;

 private:
  void AccountFor(std::uint32_t& count);
  void RestartRange();
};

class TAuFileIn : public TAuStreamedInput {
 public:
  TAuFileIn() = default;
  /// Concrete readers call CloseFile from their own destructor (it is virtual).
  ~TAuFileIn() override = default;

  std::int32_t GetBitsPerSample() override;
  std::int32_t GetChannels() override;
  std::int32_t GetSampleRate() override;
  void SetStream(TStream* stream) override;

  /// The file to read, in the system's narrow code page. Setting it closes the file.
  void SetFileName(const std::string& name);
  /// The same, by the UTF-16 name files are opened by (for a name the narrow code
  /// page cannot spell; FileName then holds its narrow form, for texts only).
  void SetWideFileName(const std::u16string& name);

  /// Repositions to frame `sample` of the range (counted from StartSample). On a closed
  /// input it moves the range start instead. Returns whether it worked.
  bool Seek(std::int64_t sample);

  // The format read from the file's header.
  bool Valid = false;
  std::int32_t BitsPerSample = 0;
  std::int32_t SampleRate = 0;
  std::int32_t Channels = 0;

  /// The published FileName (the file itself is opened by its UTF-16 name); it names
  /// the file in warnings.
  const std::string& GetFileName() const { return FileName; }

 protected:
  void OpenInternal() override;
  void CloseInternal() override;

  /// Opens the source and reads its header when OpenCount is 0: fills the format,
  /// Size (bytes of sample data) and Valid, and sets OpenCount to 1. Cheap when the
  /// file is already open: every format query calls it.
  virtual void OpenFile() = 0;
  /// Releases what OpenFile opened (a supplied stream stays open); OpenCount := 0.
  virtual void CloseFile() = 0;

  platform::ReentrantLock FileLock;
  std::string FileName;
  std::u16string WideFileName;
  std::int32_t OpenCount = 0;

  // ---------------------------------------------------------------------------------
  // The rest of the component interface; neither the library nor the command calls or
  // reads these.
 public:
  std::int32_t GetTotalTime() override;
  std::int64_t GetTotalSamples() override;
  void ForceClose() override;
  /// Whole seconds of the file's data, set when the input opens (before the range is
  /// applied). GetTotalTime works its answer out afresh from Size instead.
  std::int32_t TotalTime = 0;
};

}  // namespace vornek
