// SPDX-License-Identifier: BSD-3-Clause
// The windowing layer on Windows: real windows and messages on the host thread.
//
// The conversion window is a borderless popup of zero size, owned by the owner window
// and kept off the taskbar, so the user never sees it. Its modal loop waits for the
// thread's messages and for the host's wake-up event together: a synchronised call
// wakes it even when there is no owner window to carry the WM_NULL wake-up.
#include "platform/win32/windows_api.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/host_thread.h"
#include "platform/text.h"
#include "platform/win32/host_wake.h"
#include "platform/win32/system_error.h"
#include "platform/window.h"

namespace vornek::platform {

struct ModalWindow::Impl {
  HWND hwnd = nullptr;
  int modal_result = 0;
  bool shown = false;  // shown modally: a close request sets the modal result

  Impl() = default;
  ~Impl() {
    if (hwnd != nullptr) ::DestroyWindow(hwnd);
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
};

namespace {

constexpr wchar_t kClassName[] = L"TForm1";
constexpr wchar_t kMessageCaption[] = L"Vornek";

std::atomic<WindowHandle> owner_window{0};
// The window shown modally, if any; read by PostCloseToModalWindow on any thread.
std::atomic<HWND> modal_hwnd{nullptr};

std::mutex sink_mutex;
MessageSink& Sink() {
  static MessageSink sink;
  return sink;
}

// Host thread only: a quit message taken from the queue while a modal loop runs is
// remembered here, ends the loop, and is put back for the host's own loop after it.
struct PendingQuit {
  bool seen = false;
  WPARAM code = 0;
};
PendingQuit pending_quit;
int modal_depth = 0;

/// The module this code is in: the DLL, or the program it is linked into.
HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

LRESULT CALLBACK ConversionWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CLOSE) {
    // A close request ends a modal show through its closing step; the window itself
    // stays until its owner frees it.
    auto* impl = reinterpret_cast<ModalWindow::Impl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (impl != nullptr && impl->shown) impl->modal_result = kModalResultCancel;
    return 0;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

/// The conversion window's class, registered on first use and unregistered when the
/// module goes (a class left behind would point at code that is no longer there).
class WindowClass {
 public:
  WindowClass() : instance_(ThisModule()) {
    WNDCLASSEXW description{};
    description.cbSize = sizeof description;
    description.lpfnWndProc = ConversionWindowProc;
    description.hInstance = instance_;
    description.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    description.lpszClassName = kClassName;
    atom_ = ::RegisterClassExW(&description);
    if (atom_ == 0)
      win32::ThrowLastError("RegisterClassEx");
  }
  ~WindowClass() { ::UnregisterClassW(kClassName, instance_); }
  WindowClass(const WindowClass&) = delete;
  WindowClass& operator=(const WindowClass&) = delete;

  HINSTANCE Instance() const { return instance_; }

 private:
  HINSTANCE instance_;
  ATOM atom_ = 0;
};

const WindowClass& ConversionWindowClass() {
  static const WindowClass window_class;
  return window_class;
}

HWND Owner() {
  const HWND owner = reinterpret_cast<HWND>(OwnerWindow());
  return owner != nullptr && ::IsWindow(owner) ? owner : nullptr;
}

/// Takes and dispatches one message; false when the queue is empty. A quit message is
/// not dispatched: it is remembered, for the modal loop to end on.
bool DispatchOne() {
  MSG message;
  if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return false;
  if (message.message == WM_QUIT) {
    pending_quit = {true, message.wParam};
    return true;
  }
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
  return true;
}

/// Gives a remembered quit message back to the thread's queue, for the host's own
/// message loop: swallowing it would keep the host from ending.
void RepostQuit() {
  if (!pending_quit.seen) return;
  const WPARAM code = pending_quit.code;
  pending_quit = {};
  ::PostQuitMessage(static_cast<int>(code));
}

/// The thread's visible and enabled top-level windows, disabled for the length of a
/// modal show and enabled again when it ends.
class DisabledThreadWindows {
 public:
  explicit DisabledThreadWindows(HWND except) : except_(except) {
    ::EnumThreadWindows(::GetCurrentThreadId(), &DisabledThreadWindows::Collect,
                        reinterpret_cast<LPARAM>(this));
    for (HWND window : windows_) ::EnableWindow(window, FALSE);
  }
  ~DisabledThreadWindows() {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
      if (::IsWindow(*it)) ::EnableWindow(*it, TRUE);
  }
  DisabledThreadWindows(const DisabledThreadWindows&) = delete;
  DisabledThreadWindows& operator=(const DisabledThreadWindows&) = delete;

 private:
  static BOOL CALLBACK Collect(HWND window, LPARAM self_pointer) {
    auto* self = reinterpret_cast<DisabledThreadWindows*>(self_pointer);
    if (window != self->except_ && ::IsWindowVisible(window) && ::IsWindowEnabled(window))
      self->windows_.push_back(window);
    return TRUE;
  }
  HWND except_;
  std::vector<HWND> windows_;
};

}  // namespace

void SetOwnerWindow(WindowHandle owner) { owner_window = owner; }
WindowHandle OwnerWindow() { return owner_window; }

ModalWindow::ModalWindow(const std::string& caption) : impl_(std::make_unique<Impl>()) {
  const WindowClass& window_class = ConversionWindowClass();
  const std::u16string title = AnsiToWide(caption);
  impl_->hwnd = ::CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, reinterpret_cast<LPCWSTR>(title.c_str()),
                                  WS_POPUP, 0, 0, 0, 0, Owner(), nullptr, window_class.Instance(), nullptr);
  if (impl_->hwnd == nullptr)
    win32::ThrowLastError("CreateWindowEx");
  ::SetWindowLongPtrW(impl_->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl_.get()));
}

ModalWindow::~ModalWindow() = default;

void ModalWindow::SetBounds(int left, int top, int width, int height) {
  ::SetWindowPos(impl_->hwnd, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

WindowHandle ModalWindow::Handle() const { return reinterpret_cast<WindowHandle>(impl_->hwnd); }

void ModalWindow::Close() {
  if (impl_->shown) impl_->modal_result = kModalResultCancel;
}

int ModalWindow::ShowModal(const Handlers& handlers) {
  Impl& impl = *impl_;
  impl.modal_result = 0;
  pending_quit = {};
  const HWND previously_active = ::GetActiveWindow();

  // Ends the show in the order that gives activation back to the host: its windows
  // are enabled before this one is hidden, so Windows can activate one of them
  // instead of another program's window.
  struct EndOfShow {
    Impl& impl;
    HWND previously_active;
    std::unique_ptr<DisabledThreadWindows> disabled;
    ~EndOfShow() {
      disabled.reset();
      ::ShowWindow(impl.hwnd, SW_HIDE);
      if (previously_active != nullptr && ::IsWindow(previously_active)) ::SetActiveWindow(previously_active);
      impl.shown = false;
      modal_hwnd = nullptr;
      --modal_depth;
      RepostQuit();
    }
  } end_of_show{impl, previously_active, std::make_unique<DisabledThreadWindows>(impl.hwnd)};
  ++modal_depth;
  impl.shown = true;
  modal_hwnd = impl.hwnd;

  ::ShowWindow(impl.hwnd, SW_SHOW);
  ::SetActiveWindow(impl.hwnd);
  if (handlers.on_activate) handlers.on_activate();

  const HANDLE wake = win32::HostWakeEvent();
  while (impl.modal_result == 0) {
    if (!DispatchOne() && !CheckSynchronize()) {
      // Nothing queued and nothing to run: sleep until a message or a synchronised
      // call arrives. Messages already in the queue count too, so a message that
      // arrived while the calls ran is not slept over.
      ::MsgWaitForMultipleObjectsEx(1, &wake, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    if (pending_quit.seen) {
      impl.modal_result = kModalResultCancel;
    } else if (impl.modal_result != 0 && handlers.on_close) {
      handlers.on_close();
    }
  }
  return impl.modal_result;
}

void ProcessMessages() {
  while (!pending_quit.seen && DispatchOne()) {
  }
  // Outside a modal show nobody else would end on the quit message: give it back now.
  if (modal_depth == 0) RepostQuit();
}

void ShowMessage(const std::string& text) {
  MessageSink sink;
  {
    std::lock_guard lock(sink_mutex);
    sink = Sink();
  }
  // A program that links the library and replaces the sink (the command) gets the
  // text; the library on its own always shows the real box.
  if (sink) {
    sink(text);
    return;
  }
  const HWND owner = Owner();
  const std::u16string wide = AnsiToWide(text);
  // Without an owner the box is task-modal, so the thread's windows still take no
  // input while it is open.
  const UINT style = MB_OK | (owner != nullptr ? MB_APPLMODAL : MB_TASKMODAL);
  ::MessageBoxW(owner, reinterpret_cast<LPCWSTR>(wide.c_str()), kMessageCaption, style);
}

void SetMessageSink(MessageSink sink) {
  std::lock_guard lock(sink_mutex);
  Sink() = std::move(sink);
}

bool PostCloseToModalWindow() {
  const HWND target = modal_hwnd.load();
  if (target == nullptr) return false;
  ::PostMessageW(target, WM_CLOSE, 0, 0);
  return true;
}

void PostQuitToHostThread() { ::PostThreadMessageW(win32::HostThreadId(), WM_QUIT, 0, 0); }

}  // namespace vornek::platform
