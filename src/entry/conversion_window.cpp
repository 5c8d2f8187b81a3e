// SPDX-License-Identifier: BSD-3-Clause
#include "entry/conversion_window.h"

#include <algorithm>
#include <atomic>
#include <exception>

#include "entry/output_name.h"
#include "base/failures.h"
#include "platform/file.h"
#include "platform/host_thread.h"
#include "platform/cpu.h"
#include "platform/text.h"

namespace vornek {

namespace {

/// The window's stored description: what the window and its two components are set
/// to when the window is created.
struct StoredForm {
  const char* Caption;
  int Left, Top, ClientWidth, ClientHeight;  // FormCreate replaces them by 0, 0, 0, 0
  bool WaveIn1Loop;
  std::int64_t WaveIn1EndSample;
  std::uint16_t ShareMode;
  bool KeepStoppedFile;  // a conversion that is stopped leaves no FLAC file behind
  bool BestModelSearch;
  std::uint16_t BlockSize;
  std::int32_t CompressionLevel;  // FormActivate replaces it by 2
  bool EnableMidSideStereo;
  bool EnableLooseMidSideStereo;
  std::uint16_t MaxLPCOrder;
  std::uint16_t MaxResidualPartitionOrder;
  std::uint16_t MinResidualPartitionOrder;
  std::uint16_t QLPCoeffPrecision;
  bool QLPCoeffPrecisionSearch;
  bool Verify;
};

constexpr StoredForm kForm1Stored = {
    /*Caption=*/"VornekForm",
    /*Left=*/192, /*Top=*/107, /*ClientWidth=*/281, /*ClientHeight=*/171,
    /*WaveIn1Loop=*/false,
    /*WaveIn1EndSample=*/-1,
    /*ShareMode=*/1,
    /*KeepStoppedFile=*/false,
    /*BestModelSearch=*/false,
    /*BlockSize=*/4608,
    /*CompressionLevel=*/-1,
    /*EnableMidSideStereo=*/true,
    /*EnableLooseMidSideStereo=*/false,
    /*MaxLPCOrder=*/0,
    /*MaxResidualPartitionOrder=*/0,
    /*MinResidualPartitionOrder=*/0,
    /*QLPCoeffPrecision=*/0,
    /*QLPCoeffPrecisionSearch=*/false,
    /*Verify=*/false,
};

// The window of the call in progress; the call is not re-entrant.
TForm1* Form1 = nullptr;
std::atomic<bool> call_running{false};
TConversionWatch watch;  // host thread only

/// Runs the conversion of the path given in both forms.
void Convert(platform::WindowHandle owner, const std::string& narrow, const std::u16string& wide,
             const TConversionOptions& options) {
  // Synchronised deliveries run only on the thread that loaded the library: from any
  // other thread the conversion could only wait for ever.
  if (!platform::OnHostThread()) {
    platform::ShowMessage(FailureText(TFailure::faNotHostThread));
    return;
  }
  if (call_running.exchange(true)) return;  // a call from inside a running call
  struct EndOfCall {
    ~EndOfCall() {
      Form1 = nullptr;
      platform::SetOwnerWindow(0);
      call_running = false;
    }
  } end_of_call;
  try {
    platform::SetOwnerWindow(owner);
    auto form = std::make_unique<TForm1>();
    Form1 = form.get();
    form->SourceFileName = narrow;
    form->SourceWideFileName = wide;
    form->Options = options;
    form->Watch = watch;
    form->ShowModal();
    form->FLACOut1->Stop(false);
  } catch (const std::exception& e) {
    platform::ShowMessage(e.what());
  } catch (...) {
    platform::ShowMessage(FailureText(TFailure::faCallFailed));
  }
}

}  // namespace

TForm1::TForm1() : Window(kForm1Stored.Caption) {
  const StoredForm& s = kForm1Stored;
  Window.SetBounds(s.Left, s.Top, s.ClientWidth, s.ClientHeight);

  WaveIn1 = std::make_unique<TWaveIn>();
  WaveIn1->Name = "WaveIn1";
  WaveIn1->Loop = s.WaveIn1Loop;
  WaveIn1->EndSample = s.WaveIn1EndSample;

  FLACOut1 = std::make_unique<TFLACOut>();
  FLACOut1->Name = "FLACOut1";
  FLACOut1->SetInput(WaveIn1.get());
  FLACOut1->OnDone = [this](TAuOutput* sender) { FLACOut1Done(sender); };
  FLACOut1->OnProgress = [this](TAuOutput* sender) { FLACOut1Progress(sender); };
  FLACOut1->OnThreadException = [this](TAuOutput* sender) { FLACOut1ThreadException(sender); };
  FLACOut1->ShareMode = s.ShareMode;
  FLACOut1->KeepStoppedFile = s.KeepStoppedFile;
  FLACOut1->SetBestModelSearch(s.BestModelSearch);
  FLACOut1->SetBlockSize(s.BlockSize);
  FLACOut1->SetCompressionLevel(s.CompressionLevel);
  FLACOut1->SetEnableMidSideStereo(s.EnableMidSideStereo);
  FLACOut1->SetEnableLooseMidSideStereo(s.EnableLooseMidSideStereo);
  FLACOut1->SetMaxLPCOrder(s.MaxLPCOrder);
  FLACOut1->SetMaxResidualPartitionOrder(s.MaxResidualPartitionOrder);
  FLACOut1->SetMinResidualPartitionOrder(s.MinResidualPartitionOrder);
  FLACOut1->SetQLPCoeffPrecision(s.QLPCoeffPrecision);
  FLACOut1->SetQLPCoeffPrecisionSearch(s.QLPCoeffPrecisionSearch);
  FLACOut1->SetVerify(s.Verify);

  FormCreate();
}

TForm1::~TForm1() {
  FLACOut1.reset();
  WaveIn1.reset();
}

int TForm1::ShowModal() {
  return Window.ShowModal({[this] { FormActivate(); }, [this] { FormClose(); }});
}

void TForm1::FormCreate() { Window.SetBounds(0, 0, 0, 0); }

void TForm1::FormActivate() {
  // Files are opened by the UTF-16 name; the narrow one only says which in texts.
  WaveIn1->SetWideFileName(SourceWideFileName);
  FLACOut1->SetWideFileName(Options.Output.empty() ? FlacFileName(SourceWideFileName) : Options.Output);
  // The output name can name the input itself (a source whose extension is already
  // ".flac", in any letter case on a case-insensitive file system): replacing it would
  // destroy the input, so nothing is written.
  const std::u16string& input = SourceWideFileName;
  const std::u16string& output = FLACOut1->GetWideFileName();
  if (platform::SameFile(input, output)) {
    Fail(FailureText(TFailure::faOutputIsInput));
    Close();
    return;
  }
  // An existing FLAC file is left alone until the new one is whole and replaces it
  // in one step: a conversion that fails or is stopped leaves it as it was. The new
  // one takes the input's permissions and times.
  FLACOut1->AttributesFrom = input;
  FLACOut1->ReplaceExisting = Options.Replace;
  FLACOut1->SetVerify(Options.Verify);
  FLACOut1->SetEncoderThreads(Options.EncoderThreads);
  FLACOut1->SetCompressionLevel(2);
  FLACOut1->GetTags().Clear();
  FLACOut1->Run();
}

void TForm1::Close() {
  Window.Close();
  if (Watch.OnEnded) Watch.OnEnded();
  if (OnClosed) OnClosed();
}

void TForm1::FormClose() { FLACOut1->Stop(false); }

void TForm1::FLACOut1Progress(TAuOutput* /*sender*/) {
  platform::ProcessMessages();
  if (Watch.OnProgress) Watch.OnProgress(FLACOut1->LastProgress);
}

void TForm1::FLACOut1Done(TAuOutput* /*sender*/) {
  FLACOut1->Stop(false);
  if (FLACOut1->GetExceptionMessage().empty()) {
    if (Watch.OnConverted) {
      // As the last open read it: asking the reader would open the file again.
      TConversionReport report;
      report.Channels = WaveIn1->Channels;
      report.BitsPerSample = WaveIn1->BitsPerSample;
      report.SampleRate = WaveIn1->SampleRate;
      const std::int64_t frame_bytes = std::int64_t{report.Channels} * (report.BitsPerSample / 8);
      report.Frames = frame_bytes > 0 ? WaveIn1->Position / frame_bytes : 0;
      Watch.OnConverted(report);
    }
    const std::int64_t short_by = WaveIn1->FramesShort();
    if (short_by > 0 && Watch.OnEndedEarly) Watch.OnEndedEarly(short_by);
    if (const std::int64_t stated = WaveIn1->StatedDataBytesPastFile(); stated > 0)
      Warn(FailureText(TFailure::faDataSizePastFile, {WaveIn1->GetFileName(), std::to_string(stated),
                                                      std::to_string(WaveIn1->FileBytes())}));
    if (const std::string& warning = FLACOut1->GetAttributeWarning(); !warning.empty()) Warn(warning);
  }
  Close();
}

void TForm1::Warn(const std::string& text) {
  if (Watch.OnWarning)
    Watch.OnWarning(text);
  else
    platform::ShowWarning(text);
}

void TForm1::Fail(const std::string& text) {
  if (Watch.OnFailed)
    Watch.OnFailed(text);
  else
    platform::ShowMessage(text);
}

void TForm1::FLACOut1ThreadException(TAuOutput* /*sender*/) { Fail(FLACOut1->GetExceptionMessage()); }

void ConvertFile(platform::WindowHandle owner, const char* path) {
  const std::string narrow = path != nullptr ? path : "";
  Convert(owner, narrow, platform::AnsiToWide(narrow), {});
}

void ConvertFile(platform::WindowHandle owner, const std::u16string& path, const TConversionOptions& options) {
  Convert(owner, platform::WideToAnsi(path), path, options);
}

void WatchConversions(TConversionWatch watch_from_now) { watch = std::move(watch_from_now); }

namespace {

/// The jobs of ConvertFiles and the forms that run them, in one modal loop.
class TBatch {
 public:
  TBatch(std::vector<TConversionJob> jobs, unsigned at_once)
      : jobs_(std::move(jobs)), at_once_(std::max(1u, at_once)), window_(kForm1Stored.Caption) {
    window_.SetBounds(0, 0, 0, 0);
  }

  void Run() {
    if (jobs_.empty()) return;
    window_.ShowModal({[this] { StartMore(); }, [this] { StopAll(); }});
  }

 private:
  /// Starts jobs until at_once_ run or none is left; ends the loop when all are over.
  void StartMore() {
    if (starting_) return;  // a job over as soon as it starts: the loop below goes on
    starting_ = true;
    while (!stopping_ && running_.size() < at_once_ && next_ < jobs_.size()) Start(next_++);
    starting_ = false;
    if (running_.empty() && next_ == jobs_.size()) window_.Close();
  }

  void Start(std::size_t index) {
    TConversionJob& job = jobs_[index];
    auto form = std::make_unique<TForm1>();
    TForm1* const started = form.get();
    form->SourceWideFileName = job.Input;
    form->SourceFileName = platform::WideToAnsi(job.Input);
    form->Options = job.Options;
    // Side by side, each writer takes its share of the processors.
    const std::size_t side_by_side = std::min<std::size_t>(at_once_, running_.size() + 1 + (jobs_.size() - next_));
    if (side_by_side > 1 && form->Options.EncoderThreads == 0)
      form->Options.EncoderThreads = std::max<std::uint32_t>(
          1, platform::ProcessorCount() / static_cast<std::uint32_t>(side_by_side));
    form->Watch = std::move(job.Watch);
    form->OnClosed = [this, started] { Ended(started); };
    running_.push_back(std::move(form));
    started->FormActivate();
  }

  /// Inside `form`'s own handler, or while it starts: it is kept until a later
  /// handler, when nothing of it is on the stack any more. (A form that ends while
  /// another starts does so inside that other's handler: nothing is let go then.)
  void Ended(TForm1* form) {
    if (!starting_) ended_.clear();
    for (auto it = running_.begin(); it != running_.end(); ++it) {
      if (it->get() != form) continue;
      ended_.push_back(std::move(*it));
      running_.erase(it);
      break;
    }
    StartMore();
  }

  /// The close request: every conversion under way stops and leaves nothing.
  void StopAll() {
    stopping_ = true;
    for (const auto& form : running_) form->FormClose();
  }

  std::vector<TConversionJob> jobs_;
  unsigned at_once_;
  platform::ModalWindow window_;
  std::vector<std::unique_ptr<TForm1>> running_;
  std::vector<std::unique_ptr<TForm1>> ended_;
  std::size_t next_ = 0;
  bool starting_ = false;
  bool stopping_ = false;
};

}  // namespace

void ConvertFiles(platform::WindowHandle owner, std::vector<TConversionJob> jobs, unsigned at_once) {
  if (!platform::OnHostThread()) {
    platform::ShowMessage(FailureText(TFailure::faNotHostThread));
    return;
  }
  if (call_running.exchange(true)) return;
  struct EndOfCall {
    ~EndOfCall() {
      platform::SetOwnerWindow(0);
      call_running = false;
    }
  } end_of_call;
  try {
    platform::SetOwnerWindow(owner);
    TBatch(std::move(jobs), at_once).Run();
  } catch (const std::exception& e) {
    platform::ShowMessage(e.what());
  } catch (...) {
    platform::ShowMessage(FailureText(TFailure::faCallFailed));
  }
}

}  // namespace vornek
