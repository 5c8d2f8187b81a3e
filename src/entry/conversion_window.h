// SPDX-License-Identifier: BSD-3-Clause
// The conversion window: a hidden, borderless, zero-sized window whose only purpose is
// to run a modal message loop on the calling thread for the length of a conversion.
// It owns the two components that do the work, WaveIn1 (the WAV reader) and FLACOut1
// (the FLAC writer, whose Input is WaveIn1), built from the window's stored settings.
//
// Everything here runs on the host thread: the handlers run inside the modal loop,
// the output's three event handlers each inside one synchronised delivery.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flac/flac_out.h"
#include "platform/window.h"
#include "wave/wave_in.h"

namespace vornek {

/// What a program that converts in process (the command) may ask of a conversion
/// beyond the library's contract; the defaults are that contract.
struct TConversionOptions {
  /// The FLAC file's name; empty: beside the input, named by FlacFileName.
  std::u16string Output;
  /// Whether a file at the output name is replaced by the new one (the library's way),
  /// or left as it is, the conversion failing with "NAME exists (use -f to replace it)".
  bool Replace = true;
  /// Whether every frame is decoded again as it is encoded and compared with the
  /// samples read (libFLAC's verification), a difference failing the conversion.
  bool Verify = false;
  /// The encoders the FLAC writer may run side by side; 0: its own choice (by the
  /// input's length and the processors). The file is the same either way.
  std::uint32_t EncoderThreads = 0;
};

/// What a conversion that ended well made.
struct TConversionReport {
  std::int64_t Frames = 0;  ///< sample frames converted
  std::int32_t SampleRate = 0;
  std::int32_t Channels = 0;
  std::int32_t BitsPerSample = 0;  ///< of the FLAC's samples
};

/// What a program that converts in process (the command) hears of a conversion
/// besides the message box. Each handler runs on the host thread, inside ConvertFile
/// or ConvertFiles.
struct TConversionWatch {
  /// Each change of the whole percentage converted, from the output's progress events.
  std::function<void(std::int32_t percent)> OnProgress;
  /// After a conversion that ended well: the input ended `frames` sample frames before
  /// its data chunk said it would (what was there was converted).
  std::function<void(std::int64_t frames)> OnEndedEarly;
  /// After a conversion that ended well: something around the samples could not be
  /// kept (the file's permissions or times), in the system's words. Without this
  /// handler the text goes where the platform puts warnings (platform::ShowWarning).
  std::function<void(const std::string& text)> OnWarning;
  /// After a conversion that ended well, before any warning: what it made.
  std::function<void(const TConversionReport& report)> OnConverted;
  /// A failure of the conversion, in place of the message box.
  std::function<void(const std::string& text)> OnFailed;
  /// The conversion is over, whether it converted or failed (not when a close request
  /// to the window stopped it): the last thing the watch hears of it.
  std::function<void()> OnEnded;
};

class TForm1 {
 public:
  /// Builds WaveIn1 and FLACOut1 from the stored settings (which starts FLACOut1's
  /// worker and, for the first output, the event thread), then runs FormCreate.
  TForm1();
  /// Frees FLACOut1 (ending its worker and, as the last output, the event thread),
  /// then WaveIn1.
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  /// Shows the window modally and returns the modal result once the loop has ended.
  int ShowModal();
  /// Closes the window (ends the modal loop through its closing step), and tells
  /// OnClosed.
  void Close();

  void FormCreate();
  void FormActivate();
  void FormClose();
  void FLACOut1Progress(TAuOutput* sender);
  void FLACOut1Done(TAuOutput* sender);
  void FLACOut1ThreadException(TAuOutput* sender);
  /// Tells of something that did not fail the conversion: to the watch, or where the
  /// platform puts warnings.
  void Warn(const std::string& text);
  /// Tells of a failure: to the watch, or in the message box.
  void Fail(const std::string& text);

  std::unique_ptr<TWaveIn> WaveIn1;
  std::unique_ptr<TFLACOut> FLACOut1;
  /// The path given to the call in UTF-16, by which the files are opened: the narrow
  /// path turned into UTF-16, or the one the command was given when the narrow code
  /// page cannot spell it.
  std::u16string SourceWideFileName;
  /// What the call asks beyond the library's contract.
  TConversionOptions Options;
  /// Who hears how the conversion goes.
  TConversionWatch Watch;
  /// Called by Close: when several conversions share one modal loop (ConvertFiles), it
  /// tells the loop that this one is over.
  std::function<void()> OnClosed;

  // Part of the window's interface; the call sets it, and nothing in Vornek
  // reads it back (the files are opened by SourceWideFileName).
  /// The path given to the call, in the system's narrow code page (for a UTF-16 path
  /// the command gave, its narrow form).
  std::string SourceFileName;

 private:
  platform::ModalWindow Window;
};

/// The conversion behind the exported call: converts the WAV file at `path` (narrow
/// text, null reads as empty) into a FLAC file beside it, blocking the calling thread
/// in a modal loop that keeps `owner`'s messages flowing; failures are shown in a
/// message box. Never raises. A call made while another runs (from a handler the modal
/// loop dispatched) returns at once; a call from a thread other than the one that
/// loaded the library shows a failure instead of converting.
void ConvertFile(platform::WindowHandle owner, const char* path);
/// The same for a path in UTF-16: the command's way to convert a file whose name the
/// narrow code page cannot spell, with the command's options. Not exported: the
/// library's call stays narrow.
void ConvertFile(platform::WindowHandle owner, const std::u16string& path, const TConversionOptions& options = {});

/// Sets the watch for the conversions of ConvertFile from now on (an empty one to
/// stop). Host thread.
void WatchConversions(TConversionWatch watch);

/// One conversion of a batch: its input, its options and its own watch.
struct TConversionJob {
  std::u16string Input;
  TConversionOptions Options;
  TConversionWatch Watch;
};

/// Converts `jobs` in one modal loop (as ConvertFile does one), starting them in their
/// order and running at most `at_once` side by side. While several run, each FLAC
/// writer runs as many encoders as its share of the processors (the files are the
/// same as one at a time). Every job's watch hears only of its own conversion, ending
/// with OnEnded; a failure goes to its OnFailed. A close request to the window (the
/// command's interrupt) stops the conversions that run, leaving nothing at their
/// names, and starts no more. Host thread; never raises; not re-entrant (like
/// ConvertFile).
void ConvertFiles(platform::WindowHandle owner, std::vector<TConversionJob> jobs, unsigned at_once);

}  // namespace vornek
