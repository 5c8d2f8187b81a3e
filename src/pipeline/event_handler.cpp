#include "pipeline/event_handler.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "pipeline/module.h"
#include "platform/host_thread.h"

namespace vornek {

namespace {
// Module-level state; outputs are created and destroyed on the host thread only.
TEventHandler* the_event_handler = nullptr;
std::int32_t EventHandlerUsers = 0;
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

TEventHandler::TEventHandler()
    : thread_(std::make_unique<platform::Thread>([this](platform::Thread& self) { Execute(self); })) {}

TEventHandler::~TEventHandler() {
  thread_->Terminate();
  // Signalled so that the thread sees the request now, not after its current wait.
  WakeEvent.Set();
  WaitRunningSynchronize([this] { return thread_->Finished(); });
  thread_->WaitFor();
}

void TEventHandler::PostProgress(TAuOutput* output, const TOutputEvent& handler) {
  PostEvent(std::make_unique<TEventRec>(TEventRec{TEventKind::ekProgress, output, handler}));
}

void TEventHandler::PostThreadException(TAuOutput* output, const TOutputEvent& handler) {
  PostEvent(
      std::make_unique<TEventRec>(TEventRec{TEventKind::ekThreadException, output, handler}));
}

void TEventHandler::PostDone(TAuOutput* output, TAuThread* thread) {
  PostEvent(std::make_unique<TEventRec>(TEventRec{TEventKind::ekDone, output, {}, thread}));
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

void TEventHandler::RemoveEvents(TAuOutput* output) {
  std::lock_guard lock(QueueLock);
  std::erase_if(Queue, [output](const auto& record) { return record->Sender == output; });
}

void TEventHandler::BlockOutput(TAuOutput* output) {
  std::lock_guard lock(QueueLock);
  BlockedOutput = output;
}

void TEventHandler::UnblockOutput() {
  std::lock_guard lock(QueueLock);
  BlockedOutput = nullptr;
}

void TEventHandler::ForgetOutput(TAuOutput* output) {
  RemoveEvents(output);
  WaitRunningSynchronize([&] {
    std::lock_guard lock(QueueLock);
    return CurrentSender != output;
  });
}

void TEventHandler::Deliver(const TEventRec& record) {
  try {
    platform::Synchronize([&record] { record.Handler(record.Sender); });
  } catch (const std::exception& e) {
    // A failing handler must not stop the deliveries that follow it.
    std::fprintf(stderr, "vornek: an event handler failed: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "vornek: an event handler failed\n");
  }
}

void TEventHandler::Execute(platform::Thread& self) {
  while (!self.Terminated()) {
    while (std::unique_ptr<TEventRec> record = TakeFirstEvent()) {
      if (record->Kind == TEventKind::ekDone) {
        TAuThread& worker = *record->Thread;
        // OnDone may start the output again, and Run wakes only a parked worker. The
        // worker signals WakeEvent when it parks; the 10 ms limit only bounds a missed
        // signal. Consuming a post's signal here loses nothing: the queue is emptied
        // before every wait below.
        while (!worker.Parked && !worker.Finished()) WakeEvent.Wait(std::chrono::milliseconds(10));
        TAuOutput& output = *record->Sender;
        // The output is idle already: the worker cleared Busy before it posted this
        // record. Clearing it here again could only hit a newer run that the host
        // started in the meantime, which would then skip its Done.
        RemoveEvents(&output);
        if (output.OnDone && worker.DeliverDone) {
          record->Handler = output.OnDone;
          Deliver(*record);
        }
      } else {
        Deliver(*record);
      }
      std::lock_guard lock(QueueLock);
      CurrentSender = nullptr;
    }
    WakeEvent.Wait(std::chrono::milliseconds(100));
  }
}

}  // namespace vornek
