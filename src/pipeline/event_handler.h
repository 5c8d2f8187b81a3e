// SPDX-License-Identifier: BSD-3-Clause
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
//   - whether a done event is delivered at all is the output's to say
//     (TEventSource::DoneCall): a synchronous stop or the output's destruction
//     withdraws it, also while its delivery waits for the host.
//
// The thread knows an output only as a TEventSource; outputs build on this header,
// not the other way round.
//
// The done delivery. The engine fixes this handshake: the event thread holds a done
// record until the worker that posted it has parked, and the host runs OnDone only if
// no synchronous Stop (or the output's end) has withdrawn the event meanwhile, wherever
// the record then was. The whole of it, across the three threads (time runs down):
//
//   worker (TAuThread)              event thread (here)            host thread
//   ------------------              -------------------            -----------
//   Done() returns
//   done_pending_ := deliver_done_
//   PostDone(output) ------------> [.. ekDone ..] queued
//   state_ := parked, notify        TakeFirstEvent: ekDone
//                                   WaitParked(): until the worker
//                                     has left finishing
//                                   RemoveEvents(output): what it
//                                     posted after the done goes
//                                   DoneCall(): empty if no OnDone
//                                     or !done_pending_; else a call
//                                   Synchronize(call) -----------> CheckSynchronize (modal
//                                     (blocks)                     loop, or any host wait):
//                                                                  TakeDone()? -> OnDone(output)
//                                                                  (may Run or Stop it)
//                                   record freed <----------------
//                                   CurrentSender := none
//
// What breaks in, on the host thread:
//   Stop(false)  RequestStop: deliver_done_ := false, done_pending_ := false;
//                BlockOutput + RemoveEvents (queued records go, new ones are refused);
//                WaitIdle runs synchronised calls until the worker parks, so a done call
//                already handed to the host runs there and finds TakeDone() false;
//                UnblockOutput; deliver_done_ := true.
//   ~TAuOutput   Stop(false), then the worker ends (done_pending_ := false), then
//                ForgetOutput waits until this thread holds no record of the output.
// The output side is TAuOutput::WaitParked / DoneCall and TAuThread's done_pending_,
// deliver_done_ and TakeDone (pipeline/output.h).
//
// The thread exists from the creation of the first output to the destruction of the
// last (AcquireEventHandler / ReleaseEventHandler, host thread only).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/host_thread.h"
#include "platform/threads.h"

namespace vornek {

/// An output as the event thread sees it. Progress and failure records carry their
/// call, bound when they are posted; a done record asks its source when it is taken.
class TEventSource {
 public:
  /// Event thread, for a done record just taken: returns once the worker that posted
  /// it has parked (or has ended instead).
  virtual void WaitParked() = 0;
  /// Event thread, after WaitParked: the done delivery, bound to the output, or an
  /// empty call when no done event is due (no handler, or the event was withdrawn).
  virtual std::function<void()> DoneCall() = 0;

 protected:
  ~TEventSource() = default;
};

enum class TEventKind : std::uint8_t { ekProgress, ekDone, ekThreadException };

struct TEventRec {
  TEventKind Kind;
  TEventSource* Sender;
  /// Progress and failure: the handler as it was when posted, bound to its sender.
  /// Done: filled from the sender when the record is delivered.
  std::function<void()> Call;
};

class TEventHandler {
 public:
  TEventHandler();
  /// Host thread: asks the thread to stop and waits for it, running synchronised calls
  /// meanwhile (the thread may be in the middle of a delivery).
  ~TEventHandler();

  /// Worker threads: queue an event (or drop it, for a blocked output) and wake this
  /// thread. `call` runs on the host thread.
  void PostProgress(TEventSource* output, std::function<void()> call);
  void PostThreadException(TEventSource* output, std::function<void()> call);
  void PostDone(TEventSource* output);

  /// Drops every queued event of `output`.
  void RemoveEvents(TEventSource* output);
  /// Refuses every event posted for `output` until UnblockOutput. One at a time.
  void BlockOutput(TEventSource* output);
  void UnblockOutput();

  /// Host thread, while `output` is destroyed (its worker has ended): drops its queued
  /// events and waits, running synchronised calls, until this thread no longer holds
  /// one of its records. Nothing of `output` is touched by this thread afterwards.
  void ForgetOutput(TEventSource* output);

 private:
  void Execute(std::stop_token end);
  void PostEvent(std::unique_ptr<TEventRec> record);
  std::unique_ptr<TEventRec> TakeFirstEvent();
  void Deliver(const TEventRec& record);

  std::mutex QueueLock;  // guards Queue, BlockedOutput, CurrentSender and Ended
  platform::HostCondition Changed;  // CurrentSender or Ended changed
  std::deque<std::unique_ptr<TEventRec>> Queue;
  TEventSource* BlockedOutput = nullptr;
  TEventSource* CurrentSender = nullptr;  // the sender of the record being handled
  bool Ended = false;                     // the thread's body has returned
  /// Signalled after every post and by the destructor, after the stop request. Its name makes it one object
  /// with the event of every other copy of the library in the name space, and another
  /// copy's thread may take a signal meant for this one: the thread never waits on it
  /// for long.
  platform::AutoResetEvent WakeEvent{"mainevent"};
  std::jthread thread_;  // last: it starts once the rest exists
};

/// The one event thread, or null while no output exists.
TEventHandler* EventHandler();
/// Host thread: the output constructor and destructor.
void AcquireEventHandler();
void ReleaseEventHandler();

}  // namespace vornek
