// SPDX-License-Identifier: BSD-3-Clause
// A Windows host program for vornek.dll, run under Wine by scripts/test-windows.
//
// It does what a real host does: creates a real top-level window, loads vornek.dll
// from its own folder, and calls vnkconv (or vnkconvW, with a UTF-16 path) with its
// window handle on the thread that loaded the library. A watcher thread finds every message box of this process (dialog
// class #32770), records its text, owner, buttons and icon, and presses OK, as a user
// would. Each case of the table below is one call (or a few) with what must be seen.
//
// Usage: vornek_host.exe FIXTURE_DIR
//   FIXTURE_DIR holds the WAV files made by scripts/test-windows; every file this
//   program writes goes there too. The FLAC files are checked afterwards on Linux
//   (flac -t, and samples against the Linux build's output of the same WAV).
// Prints "PASS name" or "FAIL name: why" per case and closes with "N passed, N failed".
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmreg.h>
#include <msacm.h>
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Vnkconv = void(__stdcall*)(HWND, const char*);
using VnkconvW = void(__stdcall*)(HWND, const wchar_t*);

// ---------------------------------------------------------------------------------
// Text

std::string Narrow(const std::wstring& wide, UINT code_page = CP_UTF8) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

std::wstring Wide(const std::string& text, UINT code_page = CP_UTF8) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

/// The ANSI form of a path, as a host passes it to vnkconv; empty when the code page
/// cannot carry every character.
std::string Ansi(const std::wstring& wide) {
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, &lossy);
  if (lossy || n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

/// The system's own text for an error code, as the library shows it (without the
/// line break the message table ends with).
std::wstring SystemText(DWORD code) {
  wchar_t* buffer = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = buffer ? buffer : L"";
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
  return text;
}

// ---------------------------------------------------------------------------------
// Files

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadAll(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

bool WriteAll(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  CloseHandle(file);
  return ok && put == bytes.size();
}

bool IsFlac(const std::wstring& path) { return ReadAll(path).rfind("fLaC", 0) == 0; }

// ---------------------------------------------------------------------------------
// Threads of this process

std::set<DWORD> ProcessThreads() {
  std::set<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
  CloseHandle(snapshot);
  return ids;
}

// ---------------------------------------------------------------------------------
// The watcher: finds each message box of this process and presses OK.

struct Box {
  std::wstring text;
  std::wstring caption;
  HWND owner = nullptr;
  int buttons = 0;         // visible push buttons
  bool ok_button = false;  // one of them is OK
  bool icon = false;       // a visible icon
  bool host_enabled = true;  // the host window's state while the box was open
};

class Watcher {
 public:
  explicit Watcher(HWND host) : host_(host), thread_([this] { Run(); }) {}
  ~Watcher() {
    stop_ = true;
    thread_.join();
  }
  std::vector<Box> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(boxes_, {});
  }

 private:
  static BOOL CALLBACK Child(HWND child, LPARAM param) {
    Box& box = *reinterpret_cast<Box*>(param);
    wchar_t class_name[64] = {};
    GetClassNameW(child, class_name, 64);
    if (!IsWindowVisible(child)) return TRUE;
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    if (_wcsicmp(class_name, L"Static") == 0) {
      if ((style & SS_TYPEMASK) == SS_ICON) {
        // The icon control can be there with no icon in it.
        if (SendMessageW(child, STM_GETICON, 0, 0) != 0) box.icon = true;
      } else {
        wchar_t text[1024] = {};
        GetWindowTextW(child, text, 1024);
        if (text[0] != 0) box.text = text;
      }
    } else if (_wcsicmp(class_name, L"Button") == 0) {
      ++box.buttons;
      if (GetDlgCtrlID(child) == IDOK) box.ok_button = true;
    }
    return TRUE;
  }

  static BOOL CALLBACK Top(HWND window, LPARAM param) {
    auto* self = reinterpret_cast<Watcher*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t class_name[64] = {};
    GetClassNameW(window, class_name, 64);
    if (process != GetCurrentProcessId() || wcscmp(class_name, L"#32770") != 0 || !IsWindowVisible(window) ||
        self->pressed_.count(window) != 0)
      return TRUE;
    Box box;
    wchar_t caption[256] = {};
    GetWindowTextW(window, caption, 256);
    box.caption = caption;
    box.owner = GetWindow(window, GW_OWNER);
    box.host_enabled = IsWindowEnabled(self->host_) != FALSE;
    EnumChildWindows(window, Child, reinterpret_cast<LPARAM>(&box));
    self->pressed_.insert(window);
    {
      std::lock_guard lock(self->mutex_);
      self->boxes_.push_back(box);
    }
    // The user presses OK.
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
    return TRUE;
  }

  void Run() {
    while (!stop_) {
      EnumWindows(Top, reinterpret_cast<LPARAM>(this));
      // A box that has gone may have its handle reused by the next one.
      for (auto it = pressed_.begin(); it != pressed_.end();)
        it = IsWindow(*it) ? std::next(it) : pressed_.erase(it);
      Sleep(20);
    }
  }

  HWND host_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Box> boxes_;
  std::set<HWND> pressed_;
  std::thread thread_;
};

// ---------------------------------------------------------------------------------
// The cases

struct Context {
  Vnkconv vnkconv;
  VnkconvW vnkconv_w;
  HWND host;
  std::wstring dir;  // with a trailing backslash
  Watcher* watcher;
  std::wstring Path(const std::wstring& name) const { return dir + name; }
};

/// One call's outcome: what the user saw and which threads were left.
struct Outcome {
  std::vector<Box> boxes;
  std::set<DWORD> new_threads;
  bool quit_in_queue = false;
  bool host_enabled_after = true;
};

/// Makes one call and gathers its outcome.
Outcome Observe(const Context& c, const std::function<void()>& call) {
  const std::set<DWORD> before = ProcessThreads();
  call();
  Outcome outcome;
  outcome.host_enabled_after = IsWindowEnabled(c.host) != FALSE;
  MSG message;
  outcome.quit_in_queue = PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
  // Give the watcher time to see a box that was already dismissed by a fast return.
  Sleep(60);
  outcome.boxes = c.watcher->Take();
  for (DWORD id : ProcessThreads())
    if (before.count(id) == 0) outcome.new_threads.insert(id);
  return outcome;
}

Outcome Call(const Context& c, HWND owner, const std::string& ansi_path) {
  return Observe(c, [&] { c.vnkconv(owner, ansi_path.c_str()); });
}

/// The wide-name call; a null `path` is passed as a null pointer.
Outcome CallW(const Context& c, HWND owner, const wchar_t* path) {
  return Observe(c, [&] { c.vnkconv_w(owner, path); });
}

std::string CallPath(const Context& c, const std::wstring& name) { return Ansi(c.Path(name)); }

/// Collects the failures of one case.
struct Check {
  std::vector<std::string> failures;
  void That(bool condition, const std::string& what) {
    if (!condition) failures.push_back(what);
  }
};

/// What every call must leave behind: no thread of the library, the host window
/// enabled again.
void CommonChecks(Check& check, const Outcome& outcome) {
  check.That(outcome.new_threads.empty(),
             std::to_string(outcome.new_threads.size()) + " thread(s) left running after the call");
  check.That(outcome.host_enabled_after, "the host window is still disabled after the call");
}

void NoBoxes(Check& check, const Outcome& outcome) {
  for (const Box& box : outcome.boxes) check.That(false, "unexpected message box: " + Narrow(box.text));
}

/// Exactly one box with `text`, shown as the library shows every message.
void OneBox(Check& check, const Outcome& outcome, const std::wstring& text, HWND owner) {
  check.That(outcome.boxes.size() == 1, std::to_string(outcome.boxes.size()) + " message boxes instead of 1");
  if (outcome.boxes.empty()) return;
  const Box& box = outcome.boxes.front();
  check.That(box.text == text, "box text \"" + Narrow(box.text) + "\" instead of \"" + Narrow(text) + "\"");
  check.That(box.buttons == 1 && box.ok_button, "the box has " + std::to_string(box.buttons) + " buttons, not one OK");
  check.That(!box.icon, "the box shows an icon");
  check.That(box.owner == owner, "the box is not owned by the owner window");
  check.That(!box.host_enabled, "the host window took input while the box was open");
}

/// A conversion that must write `flac` and show nothing.
void Converts(Check& check, const Context& c, HWND owner, const std::wstring& wav, const std::wstring& flac) {
  DeleteFileW(c.Path(flac).c_str());
  const Outcome outcome = Call(c, owner, CallPath(c, wav));
  NoBoxes(check, outcome);
  CommonChecks(check, outcome);
  check.That(IsFlac(c.Path(flac)), Narrow(flac) + " was not written");
}

struct Case {
  const char* name;
  std::function<void(const Context&, Check&)> run;
};

const std::wstring kOutputIsInputText = L"The output file would overwrite the input file.";
const std::wstring kWrongThreadText = L"The conversion must be called on the thread that loaded the library.";

std::vector<Case> Cases() {
  std::vector<Case> cases;
  // Every WAV kind the reader accepts; the FLACs are compared with the Linux build's.
  struct Kind {
    const char* name;
    const wchar_t* wav;
    const wchar_t* flac;
  };
  static const Kind kKinds[] = {
      {"pcm 8-bit mono", L"pcm8.wav", L"pcm8.flac"},
      {"pcm 16-bit stereo", L"pcm16.wav", L"pcm16.flac"},
      {"pcm 24-bit mono", L"pcm24.wav", L"pcm24.flac"},
      {"pcm 32-bit stereo", L"pcm32.wav", L"pcm32.flac"},
      {"extensible 24-bit in 32 stereo", L"ext24.wav", L"ext24.flac"},
      {"IEEE float stereo", L"float.wav", L"float.flac"},
      {"IMA ADPCM stereo", L"ima.wav", L"ima.flac"},
      {"Microsoft ADPCM mono", L"msadpcm.wav", L"msadpcm.flac"},
      {"RF64 16-bit stereo", L"rf64.wav", L"rf64.flac"},
      {"Wave64 24-bit stereo", L"w64.wav", L"w64.flac"},
      {"A-law mono", L"alaw.wav", L"alaw.flac"},
      {"PCM 16-bit stereo, long enough for several encoders", L"several.wav", L"several.flac"},
  };
  for (const Kind& kind : kKinds)
    cases.push_back({kind.name, [kind](const Context& c, Check& check) {
                       Converts(check, c, c.host, kind.wav, kind.flac);
                     }});

  // MPEG Layer 3 data goes through msacm32. What Wine's compression manager offers
  // decides whether it converts: either a FLAC and no box, or exactly one box that
  // says why, never a silent nothing. The script compares the result with Linux's.
  cases.push_back({"MPEG Layer 3 in WAV", [](const Context& c, Check& check) {
                     DeleteFileW(c.Path(L"mp3.flac").c_str());
                     const Outcome outcome = Call(c, c.host, CallPath(c, L"mp3.wav"));
                     CommonChecks(check, outcome);
                     const bool flac = IsFlac(c.Path(L"mp3.flac"));
                     if (outcome.boxes.empty()) {
                       check.That(flac, "neither a FLAC nor a message");
                     } else {
                       check.That(outcome.boxes.size() == 1, "more than one message box");
                       check.That(!outcome.boxes.front().text.empty(), "an empty message box");
                       std::printf("NOTE MPEG Layer 3 in WAV: not converted; the box said: %s\n",
                                   Narrow(outcome.boxes.front().text).c_str());
                       WriteAll(c.Path(L"mp3.message.txt"), Narrow(outcome.boxes.front().text));
                     }
                   }});

  cases.push_back({"missing input: one box with the system's text", [](const Context& c, Check& check) {
                     const Outcome outcome = Call(c, c.host, CallPath(c, L"absent.wav"));
                     OneBox(check, outcome, SystemText(ERROR_FILE_NOT_FOUND), c.host);
                     CommonChecks(check, outcome);
                   }});
  cases.push_back({"missing input, no owner window", [](const Context& c, Check& check) {
                     const Outcome outcome = Call(c, nullptr, CallPath(c, L"absent.wav"));
                     OneBox(check, outcome, SystemText(ERROR_FILE_NOT_FOUND), nullptr);
                     CommonChecks(check, outcome);
                   }});
  cases.push_back({"no owner window: deliveries still wake the loop", [](const Context& c, Check& check) {
                     Converts(check, c, nullptr, L"pcm16.wav", L"pcm16.flac");
                   }});

  // An input whose FLAC name names the input itself is left alone.
  for (const wchar_t* name : {L"same.flac", L"SAME2.FLAC"}) {
    cases.push_back({Narrow(name) == "same.flac" ? "input is output" : "input is output, other letter case",
                     [name](const Context& c, Check& check) {
                       const std::string before = ReadAll(c.Path(name));
                       const Outcome outcome = Call(c, c.host, CallPath(c, name));
                       OneBox(check, outcome, kOutputIsInputText, c.host);
                       CommonChecks(check, outcome);
                       check.That(!before.empty() && ReadAll(c.Path(name)) == before, "the input was changed");
                     }});
  }

  cases.push_back({"an existing FLAC is replaced", [](const Context& c, Check& check) {
                     const std::string old = "not a FLAC file, to be replaced";
                     check.That(WriteAll(c.Path(L"replace.flac"), old), "cannot write replace.flac");
                     const Outcome outcome = Call(c, c.host, CallPath(c, L"replace.wav"));
                     NoBoxes(check, outcome);
                     CommonChecks(check, outcome);
                     check.That(IsFlac(c.Path(L"replace.flac")), "replace.flac was not replaced by a FLAC");
                   }});

  cases.push_back({"non-ASCII file name", [](const Context& c, Check& check) {
                     const std::wstring wav = L"t\u00f6n \u00e9t\u00e9.wav";
                     const std::wstring flac = L"t\u00f6n \u00e9t\u00e9.flac";
                     const std::string ansi = CallPath(c, wav);
                     check.That(!ansi.empty(), "the ANSI code page cannot carry the name");
                     check.That(CopyFileW(c.Path(L"pcm16.wav").c_str(), c.Path(wav).c_str(), FALSE) != FALSE,
                                "cannot copy the input");
                     DeleteFileW(c.Path(flac).c_str());
                     const Outcome outcome = Call(c, c.host, ansi);
                     NoBoxes(check, outcome);
                     CommonChecks(check, outcome);
                     check.That(IsFlac(c.Path(flac)), "the FLAC with the non-ASCII name was not written");
                   }});

  // The wide-name call converts a name the ANSI code page cannot spell (on a Western
  // system); the script compares the FLACs with the Linux build's.
  struct WideName {
    const char* name;
    const wchar_t* wav;
    const wchar_t* flac;
  };
  static const WideName kWideNames[] = {
      {"vnkconvW: Japanese name", L"\u97f3\u697d.wav", L"\u97f3\u697d.flac"},
      {"vnkconvW: Greek name", L"\u039c\u03bf\u03c5\u03c3\u03b9\u03ba\u03ae.wav",
       L"\u039c\u03bf\u03c5\u03c3\u03b9\u03ba\u03ae.flac"},
  };
  for (const WideName& name : kWideNames)
    cases.push_back({name.name, [name](const Context& c, Check& check) {
                       if (!Ansi(c.Path(name.wav)).empty())
                         std::printf("NOTE %s: this system's ANSI code page can spell the name too\n", name.name);
                       check.That(CopyFileW(c.Path(L"pcm16.wav").c_str(), c.Path(name.wav).c_str(), FALSE) != FALSE,
                                  "cannot copy the input");
                       DeleteFileW(c.Path(name.flac).c_str());
                       const Outcome outcome = CallW(c, c.host, c.Path(name.wav).c_str());
                       NoBoxes(check, outcome);
                       CommonChecks(check, outcome);
                       check.That(IsFlac(c.Path(name.flac)), Narrow(name.flac) + " was not written");
                     }});

  // Both calls reach the same conversion: a failure shows the same one box.
  cases.push_back({"vnkconvW shows the failures vnkconv shows", [](const Context& c, Check& check) {
                     const std::wstring absent = c.Path(L"absent.wav");
                     const std::string absent_ansi = CallPath(c, L"absent.wav");
                     const std::pair<Outcome, Outcome> narrow_and_wide[] = {
                         {Call(c, c.host, absent_ansi), CallW(c, c.host, absent.c_str())},
                         {Observe(c, [&] { c.vnkconv(c.host, nullptr); }), CallW(c, c.host, nullptr)},
                     };
                     for (const auto& [narrow, wide] : narrow_and_wide) {
                       CommonChecks(check, narrow);
                       CommonChecks(check, wide);
                       check.That(narrow.boxes.size() == 1 && wide.boxes.size() == 1,
                                  std::to_string(narrow.boxes.size()) + " and " + std::to_string(wide.boxes.size()) +
                                      " message boxes instead of 1 each");
                       if (narrow.boxes.size() != 1 || wide.boxes.size() != 1) continue;
                       check.That(!wide.boxes.front().text.empty() && wide.boxes.front().text == narrow.boxes.front().text,
                                  "vnkconvW said \"" + Narrow(wide.boxes.front().text) + "\", vnkconv \"" +
                                      Narrow(narrow.boxes.front().text) + "\"");
                       check.That(wide.boxes.front().owner == c.host, "vnkconvW's box is not owned by the owner window");
                     }
                   }});

  cases.push_back({"relative path", [](const Context& c, Check& check) {
                     wchar_t previous[MAX_PATH] = {};
                     GetCurrentDirectoryW(MAX_PATH, previous);
                     SetCurrentDirectoryW(c.dir.c_str());
                     DeleteFileW(c.Path(L"relative.flac").c_str());
                     const Outcome outcome = Call(c, c.host, "relative.wav");
                     SetCurrentDirectoryW(previous);
                     NoBoxes(check, outcome);
                     CommonChecks(check, outcome);
                     check.That(IsFlac(c.Path(L"relative.flac")), "relative.flac was not written beside the input");
                   }});

  cases.push_back({"two calls in a row", [](const Context& c, Check& check) {
                     Converts(check, c, c.host, L"twice1.wav", L"twice1.flac");
                     Converts(check, c, c.host, L"twice2.wav", L"twice2.flac");
                   }});

  cases.push_back({"a call from another thread shows why it cannot run", [](const Context& c, Check& check) {
                     DeleteFileW(c.Path(L"otherthread.flac").c_str());
                     const std::string path = CallPath(c, L"otherthread.wav");
                     std::thread other([&] { c.vnkconv(c.host, path.c_str()); });
                     other.join();
                     Sleep(60);
                     const std::vector<Box> boxes = c.watcher->Take();
                     check.That(boxes.size() == 1, std::to_string(boxes.size()) + " message boxes instead of 1");
                     if (!boxes.empty())
                       check.That(boxes.front().text == kWrongThreadText,
                                  "box text \"" + Narrow(boxes.front().text) + "\"");
                     check.That(!Exists(c.Path(L"otherthread.flac")), "a FLAC was written from the wrong thread");
                   }});

  cases.push_back({"a quit message ends the call and is left for the host", [](const Context& c, Check& check) {
                     PostQuitMessage(7);
                     const Outcome outcome = Call(c, c.host, CallPath(c, L"long.wav"));
                     NoBoxes(check, outcome);
                     CommonChecks(check, outcome);
                     check.That(outcome.quit_in_queue, "the quit message was swallowed");
                   }});

  cases.push_back({"a close request ends the call", [](const Context& c, Check& check) {
                     // Another program closes the conversion window as soon as it shows.
                     std::atomic<bool> stop{false};
                     std::thread closer([&] {
                       while (!stop) {
                         HWND form = nullptr;
                         while ((form = FindWindowExW(nullptr, form, L"TForm1", nullptr)) != nullptr) {
                           DWORD process = 0;
                           GetWindowThreadProcessId(form, &process);
                           if (process == GetCurrentProcessId() && IsWindowVisible(form))
                             PostMessageW(form, WM_CLOSE, 0, 0);
                         }
                         Sleep(5);
                       }
                     });
                     const auto start = std::chrono::steady_clock::now();
                     const Outcome outcome = Call(c, c.host, CallPath(c, L"long.wav"));
                     stop = true;
                     closer.join();
                     NoBoxes(check, outcome);
                     CommonChecks(check, outcome);
                     check.That(std::chrono::steady_clock::now() - start < std::chrono::seconds(30),
                                "the call did not return early");
                   }});
  return cases;
}

// ---------------------------------------------------------------------------------
// What Wine's compression manager offers for MPEG Layer 3, for the record.

void ReportMp3Codec() {
  MPEGLAYER3WAVEFORMAT mp3{};
  mp3.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  mp3.wfx.nChannels = 2;
  mp3.wfx.nSamplesPerSec = 44100;
  mp3.wfx.nAvgBytesPerSec = 128000 / 8;
  mp3.wfx.nBlockAlign = 1;
  mp3.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
  mp3.wID = MPEGLAYER3_ID_MPEG;
  mp3.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
  mp3.nBlockSize = 418;
  mp3.nFramesPerBlock = 1;
  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  const MMRESULT suggest = acmFormatSuggest(nullptr, &mp3.wfx, &pcm, sizeof pcm, ACM_FORMATSUGGESTF_WFORMATTAG);
  std::printf("NOTE msacm32: MPEG Layer 3 to PCM %s (acmFormatSuggest result %u)\n",
              suggest == MMSYSERR_NOERROR ? "is offered" : "is not offered", static_cast<unsigned>(suggest));
}

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vornek_host FIXTURE_DIR\n");
    return 2;
  }
  std::wstring dir = Wide(argv[1], CP_ACP);
  if (!dir.empty() && dir.back() != L'\\') dir += L'\\';

  // A case that hangs ends the whole run with a clear word instead of blocking CI.
  std::atomic<const char*> running{"start-up"};
  std::thread([&running] {
    for (int i = 0; i < 600; ++i) {
      Sleep(1000);
      if (running.load() == nullptr) return;
    }
    std::printf("FAIL %s: hung\n", running.load());
    std::fflush(stdout);
    ExitProcess(3);
  }).detach();

  WNDCLASSW window_class{};
  window_class.lpfnWndProc = HostWindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"VornekTestHost";
  RegisterClassW(&window_class);
  HWND host = CreateWindowExW(0, L"VornekTestHost", L"Vornek test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100,
                              100, 400, 300, nullptr, nullptr, window_class.hInstance, nullptr);
  if (host == nullptr) {
    std::printf("FAIL start-up: no host window (error %lu)\n", GetLastError());
    return 1;
  }

  // The library comes from this program's folder, as a host ships it.
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring library = self;
  library = library.substr(0, library.find_last_of(L'\\') + 1) + L"vornek.dll";
  HMODULE module = LoadLibraryW(library.c_str());
  if (module == nullptr) {
    std::printf("FAIL start-up: cannot load %s (error %lu)\n", Narrow(library).c_str(), GetLastError());
    return 1;
  }
  auto vnkconv = reinterpret_cast<Vnkconv>(reinterpret_cast<void*>(GetProcAddress(module, "vnkconv")));
  auto vnkconv_w = reinterpret_cast<VnkconvW>(reinterpret_cast<void*>(GetProcAddress(module, "vnkconvW")));
  if (vnkconv == nullptr || vnkconv_w == nullptr) {
    std::printf("FAIL start-up: vornek.dll does not export both vnkconv and vnkconvW\n");
    return 1;
  }
  ReportMp3Codec();

  int passed = 0, failed = 0;
  {
    Watcher watcher(host);
    const Context context{vnkconv, vnkconv_w, host, dir, &watcher};
    for (const Case& test : Cases()) {
      running = test.name;
      Check check;
      test.run(context, check);
      if (check.failures.empty()) {
        std::printf("PASS %s\n", test.name);
        ++passed;
      } else {
        for (const std::string& why : check.failures) std::printf("FAIL %s: %s\n", test.name, why.c_str());
        ++failed;
      }
      std::fflush(stdout);
    }
  }
  running = nullptr;
  FreeLibrary(module);
  DestroyWindow(host);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
