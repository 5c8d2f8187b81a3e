// The process-wide event thread.
//
// Workers never call event handlers themselves: they post small records here, and
// this thread hands each one, in posting order and one at a time, to the host thread
// (platform::Synchronize), blocking until the host has run the handler. Workers never
// wait for a delivery. Three rules of the engine live here:
//   - a done event is delivered only once the output's worker has parked (so that
//     its handler finds the output idle and may start it again);
//   - events posted for the output being stopped synchronously (BlockOutput) are
//     refused;
//   - a done event is delivered only while the worker's DeliverDone is true.
//
// The thread exists from the creation of the first output to the destruction of the
// last (AcquireEventHandler / ReleaseEventHandler, host thread only).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "pipeline/output.h"
#include "platform/threads.h"

namespace vornek {

enum class TEventKind : std::uint8_t { ekProgress, ekDone, ekThreadException };

struct TEventRec {
  TEventKind Kind;
  TAuOutput* Sender;
  TOutputEvent Handler;         ///< progress and failure: the handler as posted
  TAuThread* Thread = nullptr;  ///< done only: the worker that finished the run
};

class TEventHandler {
 public:
  TEventHandler();
  ~TEventHandler();  // tells the thread to end and waits for it (host thread)

  void PostProgress(TAuOutput* output, const TOutputEvent& handler);
  void PostThreadException(TAuOutput* output, const TOutputEvent& handler);
  void PostDone(TAuOutput* output, TAuThread* thread);

  /// Drops every queued event of `output`.
  void RemoveEvents(TAuOutput* output);
  /// Refuses every event posted for `output` until UnblockOutput. One at a time.
  void BlockOutput(TAuOutput* output);
  void UnblockOutput();

  /// Worker: it has just parked. A done delivery waiting for it goes on at once
  /// instead of at its next poll.
  void NotifyParked() { WakeEvent.Set(); }

  /// Host thread, while `output` is destroyed (its worker has ended): drops its queued
  /// events and waits, running synchronised calls, until the event thread no longer
  /// holds one of its records. Nothing of `output` is touched by this thread afterwards.
  void ForgetOutput(TAuOutput* output);

 private:
  void Execute(platform::Thread& self);
  void PostEvent(std::unique_ptr<TEventRec> record);
  std::unique_ptr<TEventRec> TakeFirstEvent();
  void Deliver(const TEventRec& record);

  std::mutex QueueLock;  // guards Queue, BlockedOutput and Current's sender
  std::deque<std::unique_ptr<TEventRec>> Queue;
  TAuOutput* BlockedOutput = nullptr;
  TAuOutput* CurrentSender = nullptr;
  platform::AutoResetEvent WakeEvent{"mainevent"};
  std::unique_ptr<platform::Thread> thread_;
};

/// The one event thread, or null while no output exists.
TEventHandler* EventHandler();
/// Host thread: the output constructor and destructor.
void AcquireEventHandler();
void ReleaseEventHandler();

}  // namespace vornek
