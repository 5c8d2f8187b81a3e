// SPDX-License-Identifier: BSD-3-Clause
// The windowing layer on POSIX: windows are entries in a table, messages go through
// the host queue, and a message box hands its text to the message sink.
#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/host_thread.h"
#include "platform/posix/host_queue.h"
#include "platform/window.h"

namespace vornek::platform {

namespace {

std::atomic<WindowHandle> owner_window{0};
std::atomic<WindowHandle> next_handle{1};

std::mutex sink_mutex;
MessageSink& Sink() {
  static MessageSink sink;
  return sink;
}

// The window shown modally, if any; read by PostCloseToModalWindow on any thread.
std::mutex modal_mutex;
ModalWindow* modal_window = nullptr;
WindowHandle modal_handle = 0;

// Set while a modal loop runs, when a quit message has been dispatched.
bool quit_seen = false;

void Dispatch(const posix::Message& message) {
  switch (message.kind) {
    case posix::MessageKind::Null:
      break;
    case posix::MessageKind::Quit:
      quit_seen = true;
      break;
    case posix::MessageKind::Close: {
      ModalWindow* target = nullptr;
      {
        std::lock_guard lock(modal_mutex);
        if (modal_handle != 0 && modal_handle == message.window) target = modal_window;
      }
      if (target) target->Close();
      break;
    }
  }
}

}  // namespace

struct ModalWindow::Impl {
  WindowHandle handle = next_handle++;
  int modal_result = 0;
  bool shown = false;
};

void SetOwnerWindow(WindowHandle owner) { owner_window = owner; }
WindowHandle OwnerWindow() { return owner_window; }

ModalWindow::ModalWindow(const std::string& /*caption*/) : impl_(std::make_unique<Impl>()) {}

ModalWindow::~ModalWindow() = default;

void ModalWindow::SetBounds(int, int, int, int) {}  // nothing is drawn on POSIX

WindowHandle ModalWindow::Handle() const { return impl_->handle; }

void ModalWindow::Close() {
  if (impl_->shown) impl_->modal_result = kModalResultCancel;
}

int ModalWindow::ShowModal(const Handlers& handlers) {
  impl_->modal_result = 0;
  impl_->shown = true;
  quit_seen = false;
  {
    std::lock_guard lock(modal_mutex);
    modal_window = this;
    modal_handle = impl_->handle;
  }
  struct Hide {
    Impl& impl;
    ~Hide() {
      impl.shown = false;
      std::lock_guard lock(modal_mutex);
      modal_window = nullptr;
      modal_handle = 0;
    }
  } hide{*impl_};

  if (handlers.on_activate) handlers.on_activate();
  while (impl_->modal_result == 0) {
    if (std::optional<posix::Message> message = posix::TakeHostMessage()) {
      Dispatch(*message);
    } else if (!CheckSynchronize()) {
      posix::WaitForMessageOrCall(std::chrono::hours(1));
    }
    if (quit_seen) {
      impl_->modal_result = kModalResultCancel;
    } else if (impl_->modal_result != 0 && handlers.on_close) {
      handlers.on_close();
    }
  }
  return impl_->modal_result;
}

void ProcessMessages() {
  while (std::optional<posix::Message> message = posix::TakeHostMessage()) Dispatch(*message);
}

void ShowMessage(const std::string& text) {
  MessageSink sink;
  {
    std::lock_guard lock(sink_mutex);
    sink = Sink();
  }
  if (sink) {
    sink(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
  }
}

void ShowWarning(const std::string& text) {
  std::fprintf(stderr, "warning: %s\n", text.c_str());
  std::fflush(stderr);
}

void SetMessageSink(MessageSink sink) {
  std::lock_guard lock(sink_mutex);
  Sink() = std::move(sink);
}

bool PostCloseToModalWindow() {
  WindowHandle target;
  {
    std::lock_guard lock(modal_mutex);
    target = modal_handle;
  }
  if (target == 0) return false;
  posix::PostHostMessage({target, posix::MessageKind::Close});
  return true;
}

void PostQuitToHostThread() { posix::PostHostMessage({0, posix::MessageKind::Quit}); }

}  // namespace vornek::platform
