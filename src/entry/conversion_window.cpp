// SPDX-License-Identifier: BSD-3-Clause
#include "entry/conversion_window.h"

#include <atomic>
#include <exception>

#include "entry/output_name.h"
#include "base/failures.h"
#include "platform/file.h"
#include "platform/host_thread.h"
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
void Convert(platform::WindowHandle owner, const std::string& narrow, const std::u16string& wide) {
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
  FLACOut1->SetWideFileName(FlacFileName(SourceWideFileName));
  // The output name can name the input itself (a source whose extension is already
  // ".flac", in any letter case on a case-insensitive file system): deleting it would
  // destroy the input, so nothing is deleted or written.
  const std::u16string& input = SourceWideFileName;
  const std::u16string& output = FLACOut1->GetWideFileName();
  if (platform::SameFile(input, output)) {
    platform::ShowMessage(FailureText(TFailure::faOutputIsInput));
    Close();
    return;
  }
  platform::DeleteFileByName(output);  // whether it existed or could go is not looked at
  FLACOut1->SetCompressionLevel(2);
  FLACOut1->GetTags().Clear();
  FLACOut1->Run();
}

void TForm1::FormClose() { FLACOut1->Stop(false); }

void TForm1::FLACOut1Progress(TAuOutput* /*sender*/) {
  platform::ProcessMessages();
  if (watch.OnProgress) watch.OnProgress(FLACOut1->LastProgress);
}

void TForm1::FLACOut1Done(TAuOutput* /*sender*/) {
  FLACOut1->Stop(false);
  const std::int64_t short_by = WaveIn1->FramesShort();
  if (short_by > 0 && FLACOut1->GetExceptionMessage().empty() && watch.OnEndedEarly)
    watch.OnEndedEarly(short_by);
  Close();
}

void TForm1::FLACOut1ThreadException(TAuOutput* /*sender*/) {
  platform::ShowMessage(FLACOut1->GetExceptionMessage());
}

void ConvertFile(platform::WindowHandle owner, const char* path) {
  const std::string narrow = path != nullptr ? path : "";
  Convert(owner, narrow, platform::AnsiToWide(narrow));
}

void ConvertFile(platform::WindowHandle owner, const std::u16string& path) {
  Convert(owner, platform::WideToAnsi(path), path);
}

void WatchConversions(TConversionWatch watch_from_now) { watch = std::move(watch_from_now); }

}  // namespace vornek
