// SPDX-License-Identifier: BSD-3-Clause
// Auto-reset events on Windows are kernel events; a name puts the event in the
// session's name space, where every open of that name is the same object.
#include "platform/win32/windows_api.h"


#include "platform/threads.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/system_error.h"

namespace vornek::platform {

struct AutoResetEvent::State {
  win32::UniqueHandle event;
};

AutoResetEvent::AutoResetEvent(const char* name) : state_(std::make_unique<State>()) {
  state_->event = win32::UniqueHandle(::CreateEventA(nullptr, FALSE, FALSE, name));
  // The name can be taken by an object of another kind (another program's mutex of
  // that name): the engine only needs the event's signalling, so it carries on with
  // an unnamed one rather than fail every conversion.
  if (!state_->event && name != nullptr)
    state_->event = win32::UniqueHandle(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (!state_->event)
    win32::ThrowLastError("CreateEvent");
}

AutoResetEvent::~AutoResetEvent() = default;

void AutoResetEvent::Set() { ::SetEvent(state_->event.Get()); }

void AutoResetEvent::Reset() { ::ResetEvent(state_->event.Get()); }

bool AutoResetEvent::Wait(std::chrono::milliseconds timeout) {
  const auto count = timeout.count();
  const DWORD ms = count <= 0 ? 0 : count >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(count);
  return ::WaitForSingleObject(state_->event.Get(), ms) == WAIT_OBJECT_0;
}

void AutoResetEvent::Wait() { ::WaitForSingleObject(state_->event.Get(), INFINITE); }

}  // namespace vornek::platform
