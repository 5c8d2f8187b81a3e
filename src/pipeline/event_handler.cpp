// SPDX-License-Identifier: BSD-3-Clause
#include "pipeline/event_handler.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <utility>

namespace vornek {

namespace {
// Module-level state; outputs are created and destroyed on the host thread only.
TEventHandler* the_event_handler = nullptr;
std::int32_t EventHandlerUsers = 0;

// The longest the thread sleeps without looking at its queue: only a signal taken by
// another copy of the library's thread (the event is named) makes it matter.
constexpr std::chrono::milliseconds kLongestIdleWait{100};
}  // namespace

TEventHandler* EventHandler() { return the_event_handler; }

void AcquireEventHandler() {
  if (EventHandlerUsers == 0) the_event_handler = new TEventHandler();
  ++EventHandlerUsers;
}

void ReleaseEventHandler() {
  if (--EventHandlerUsers == 0) {
    delete the_event_handler;
    the_event_handler = nullptr;
  }
}

TEventHandler::TEventHandler() : thread_([this](std::stop_token end) { Execute(std::move(end)); }) {}

TEventHandler::~TEventHandler() {
  thread_.request_stop();
  // The event keeps the signal until the thread's next wait takes it: it looks at the
  // stop now, not after its time limit.
  WakeEvent.Set();
  // The thread may be waiting for the host to run a delivery: the host runs it here.
  std::unique_lock lock(QueueLock);
  Changed.Wait(lock, [this] { return Ended; });
  // thread_ joins as it goes, first of the members.
}

void TEventHandler::PostProgress(TEventSource* output, std::function<void()> call) {
  PostEvent(std::make_unique<TEventRec>(TEventRec{TEventKind::ekProgress, output, std::move(call)}));
}

void TEventHandler::PostThreadException(TEventSource* output, std::function<void()> call) {
  PostEvent(
      std::make_unique<TEventRec>(TEventRec{TEventKind::ekThreadException, output, std::move(call)}));
}

void TEventHandler::PostDone(TEventSource* output) {
  PostEvent(std::make_unique<TEventRec>(TEventRec{TEventKind::ekDone, output, {}}));
}

void TEventHandler::PostEvent(std::unique_ptr<TEventRec> record) {
  {
    std::lock_guard lock(QueueLock);
    if (record->Sender != BlockedOutput) Queue.push_back(std::move(record));
  }
  WakeEvent.Set();
}

std::unique_ptr<TEventRec> TEventHandler::TakeFirstEvent() {
  std::lock_guard lock(QueueLock);
  if (Queue.empty()) return nullptr;
  std::unique_ptr<TEventRec> record = std::move(Queue.front());
  Queue.pop_front();
  CurrentSender = record->Sender;
  return record;
}

void TEventHandler::RemoveEvents(TEventSource* output) {
  std::lock_guard lock(QueueLock);
  std::erase_if(Queue, [output](const auto& record) { return record->Sender == output; });
}

void TEventHandler::BlockOutput(TEventSource* output) {
  std::lock_guard lock(QueueLock);
  BlockedOutput = output;
}

void TEventHandler::UnblockOutput() {
  std::lock_guard lock(QueueLock);
  BlockedOutput = nullptr;
}

void TEventHandler::ForgetOutput(TEventSource* output) {
  std::unique_lock lock(QueueLock);
  std::erase_if(Queue, [output](const auto& record) { return record->Sender == output; });
  Changed.Wait(lock, [&] { return CurrentSender != output; });
}

void TEventHandler::Deliver(const TEventRec& record) {
  try {
    platform::Synchronize(record.Call);
  } catch (const std::exception& e) {
    // A failing handler must not stop the deliveries that follow it.
    std::fprintf(stderr, "vornek: an event handler failed: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "vornek: an event handler failed\n");
  }
}

void TEventHandler::Execute(std::stop_token end) {
  while (!end.stop_requested()) {
    while (std::unique_ptr<TEventRec> record = TakeFirstEvent()) {
      if (record->Kind == TEventKind::ekDone) {
        // OnDone may start the output again, which only a parked worker can take.
        TEventSource& output = *record->Sender;
        output.WaitParked();
        RemoveEvents(&output);
        record->Call = output.DoneCall();
      }
      if (record->Call) Deliver(*record);
      record.reset();  // the call's captures go before the sender is let go
      std::lock_guard lock(QueueLock);
      CurrentSender = nullptr;
      Changed.NotifyAll();
    }
    // Every post signals; the queue is empty here, so a signal taken inside the loop
    // above has lost nothing.
    WakeEvent.Wait(kLongestIdleWait);
  }
  std::lock_guard lock(QueueLock);
  Ended = true;
  Changed.NotifyAll();
}

}  // namespace vornek
