// SPDX-License-Identifier: BSD-3-Clause
// The windowing layer of the host thread: the application's owner window, the hidden
// modal conversion window and its message loop, dispatch of pending messages, and the
// message box.
//
// On Windows these are real windows and messages. On POSIX they are a small emulation
// on the host thread: a queue of messages (a wake-up, a close request for a window, a
// quit) that any thread may post, dispatched by the host thread; a message box hands
// its text to a sink the host can replace (standard error by default).
//
// Everything here runs on the host thread, except the Post* calls, which any thread
// may make.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vornek::platform {

/// A window handle; 0 is no window.
using WindowHandle = std::uintptr_t;

/// The modal result of a window closed by a close request, Close or a quit message.
inline constexpr int kModalResultCancel = 2;

/// The application's owner window: it owns the library's top-level windows and
/// message boxes, and receives the wake-up messages of synchronised calls. 0: none.
void SetOwnerWindow(WindowHandle owner);
WindowHandle OwnerWindow();

/// A hidden window shown modally on the host thread for the length of a conversion.
class ModalWindow {
 public:
  struct Handlers {
    std::function<void()> on_activate;  ///< the window has been shown and activated
    std::function<void()> on_close;     ///< the closing step of the modal loop
  };

  /// Creates the window (not shown), borderless, owned by the owner window.
  explicit ModalWindow(const std::string& caption);
  ~ModalWindow();
  ModalWindow(const ModalWindow&) = delete;
  ModalWindow& operator=(const ModalWindow&) = delete;

  void SetBounds(int left, int top, int width, int height);

  /// Disables the thread's visible and enabled top-level windows, shows and activates
  /// this one, runs `on_activate`, then runs the modal loop: dispatch one message, or,
  /// when the queue is empty, run pending synchronised calls and, if there were none,
  /// sleep until a message or a synchronised call arrives. After each pass: a quit
  /// message seen makes the result cancel (no closing step); otherwise a result that
  /// has been set runs `on_close`. The loop ends once the result is non-zero; the
  /// window is hidden and the disabled windows enabled again. Returns the result.
  int ShowModal(const Handlers& handlers);

  /// Closes the window: while it is shown modally, sets the modal result to cancel.
  void Close();

  WindowHandle Handle() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

/// Dispatches every message waiting in the host thread's queue, then returns.
void ProcessMessages();

/// Shows `text` in a modal message box without icon, with one OK button, centred and
/// owned by the owner window; returns when it has been dismissed.
void ShowMessage(const std::string& text);

/// Tells of something that went less well than it should without failing the
/// conversion: on POSIX "warning: TEXT" on standard error, on Windows the debugger's
/// output (a library shows no box for what is not a failure).
void ShowWarning(const std::string& text);

/// Where message box texts go instead of a box; null restores the default (standard
/// error on POSIX, a real box on Windows). The command sets one; the library never does.
using MessageSink = std::function<void(const std::string& text)>;
void SetMessageSink(MessageSink sink);

/// Any thread: asks the window shown modally on the host thread (if any) to close, as
/// a close message sent to it by another program would. Returns whether one was shown.
bool PostCloseToModalWindow();

/// Any thread: puts a quit message in the host thread's queue.
void PostQuitToHostThread();

}  // namespace vornek::platform
