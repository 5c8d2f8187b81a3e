// SPDX-License-Identifier: BSD-3-Clause
// Outputs: components that pull audio from an input on a worker thread of their own.
//
// Each output owns one worker, a TAuThread, for its whole life. Run starts the worker
// on one run: Prepare, then DoOutput until it reports the end or a stop is asked for,
// then Done. Progress changes, worker failures and the end of every run are posted to
// the process-wide event thread (event_handler.h), which runs the output's OnProgress,
// OnThreadException and OnDone handlers on the host thread.
//
// Threads: the host thread creates, starts, stops and destroys outputs. The worker
// runs Prepare, DoOutput and Done. The event thread asks the output, through its
// TEventSource face, to wait for the worker to park and for the done handler.
//
// The worker's life is one state (TWorkerState), with the stop request and the flags
// of the done delivery beside it, all under one mutex; every wait for it is a wait on
// its condition. Busy, Active, Parked and the other flags are views of that state. How
// a run's done event reaches OnDone, and how a synchronous Stop withdraws it, is drawn
// in event_handler.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "pipeline/component.h"
#include "pipeline/event_handler.h"
#include "pipeline/input.h"
#include "platform/host_thread.h"
#include "platform/threads.h"

namespace vornek {

class TAuOutput;

/// Handlers of the three output events; an event is assigned when it holds a target.
using TOutputEvent = std::function<void(TAuOutput* sender)>;
using TOutputProgressEvent = TOutputEvent;
using TOutputDoneEvent = TOutputEvent;
using TThreadExceptionEvent = TOutputEvent;

/// Where the worker is in its life. It begins parked (a run started before the new
/// thread has first looked is not lost) and goes round parked → preparing → stepping →
/// finishing → parked, or from preparing straight to finishing when Prepare fails.
enum class TWorkerState : std::uint8_t {
  wsParked,     ///< waiting for the next run
  wsPreparing,  ///< in Prepare
  wsStepping,   ///< calling DoOutput
  wsFinishing,  ///< in Done, then posting the done event; parks next
  wsEnded,      ///< told to terminate while parked; the thread has returned or is returning
};

/// The worker of one output. It starts at once, parks, and performs one run each time
/// it is started, until it is told to end.
class TAuThread {
 public:
  explicit TAuThread(TAuOutput& output);
  ~TAuThread();  // ends the thread first if End has not

  // Views of the state; any thread.
  TWorkerState State() const;
  /// True while the worker waits for the next run (from its creation on).
  bool Parked() const { return State() == TWorkerState::wsParked; }
  /// The stop request: tested after every step and handed to DoOutput as `abort`.
  bool StopRequested() const;
  /// False only while a synchronous Stop of the output is in progress; a done event
  /// posted meanwhile is never delivered.
  bool DeliverDone() const;
  /// True once a run has ended and the worker has parked, until the next Stop.
  bool RunFinished() const;

  TAuOutput& Output;

 private:
  friend class TAuOutput;

  // Host thread.
  /// Parked → preparing, with the stop request cleared. False if the worker is not
  /// parked.
  bool Start();
  /// Raises the stop request. `deliver_done` false also withdraws a done event not yet
  /// delivered, and keeps the worker's next one from counting until
  /// SetDeliverDone(true).
  void RequestStop(bool deliver_done);
  void SetDeliverDone(bool deliver_done);
  /// Waits until the worker is parked or has ended; runs synchronised calls meanwhile
  /// on the host thread.
  void WaitIdle();
  /// Asks the thread to stop, waits for it as WaitIdle does, and joins it. Only for a
  /// worker that is parked (or has ended).
  void End();

  // Worker thread.
  void Execute(std::stop_token end);
  void PerformRun();

  // Event thread.
  /// Returns once the worker has left finishing (where it posts its done event).
  void WaitParkedAfterDone();
  /// Whether the done event posted last is still to be delivered.
  bool DonePending() const;

  // Host thread, inside the done delivery.
  /// DonePending, and the event counts as delivered from now on.
  bool TakeDone();

  mutable std::mutex mutex_;  // guards everything below it but the thread
  platform::HostCondition changed_;
  TWorkerState state_ = TWorkerState::wsParked;
  bool stop_requested_ = false;
  bool deliver_done_ = true;
  /// Set as the worker posts a done event; cleared when that event is delivered, and
  /// by a synchronous Stop or the worker's end, which withdraw it wherever it is.
  bool done_pending_ = false;
  bool run_finished_ = false;
  /// Last: it starts once the rest exists. A stop request tells the worker to end: a
  /// parked worker ends at once, a running one after its run.
  std::jthread thread_;
};

class TAuOutput : public TComponent, private TEventSource {
 public:
  TAuOutput();
  ~TAuOutput() override;

  /// Starts a run on the worker and returns at once; the worker is no longer parked
  /// when it returns. Host thread. Fails with "Component is Busy" or "Input is not
  /// assigned".
  void Run();
  /// Asks the current run to end after its current step. With `async` false it also
  /// waits until the worker has finished the run (Done has run and the worker has
  /// parked); it drops the output's queued events and refuses those posted until it
  /// returns, and the done event of the run (or of a run that has just ended) is never
  /// delivered, not even one already on its way to the host. Host thread; the wait
  /// runs synchronised calls.
  void Stop(bool async = true);

  /// The percentage of the input consumed (rounded half to even), -1 when the input
  /// has no size, 0 without input. Worker thread.
  std::int32_t GetProgress();

  TAuInput* GetInput() const { return Input; }
  /// Sets the input; a busy output is stopped and started again on the new one.
  virtual void SetInput(TAuInput* value);
  void Notification(TComponent* component, TOperation operation) override;

  /// The message of the last failure raised on the worker; cleared by every Run.
  std::string GetExceptionMessage() const;

  TOutputDoneEvent OnDone;
  TOutputProgressEvent OnProgress;
  TThreadExceptionEvent OnThreadException;

  /// True from an accepted Run until the worker has finished the run and parked again.
  bool Busy() const;
  /// True from the end of Prepare until just before Done.
  bool Active() const { return Thread->State() == TWorkerState::wsStepping; }
  /// The last percentage seen by the worker; not reset between runs.
  std::atomic<std::int32_t> LastProgress{0};

  TAuThread& Worker() { return *Thread; }

 protected:
  /// One step of output; true asks for another call. `abort` is the stop request.
  virtual bool DoOutput(bool abort) = 0;
  /// End of a run; runs once for every accepted run, also when Prepare failed part-way.
  virtual void Done() = 0;
  /// Start of a run: acquire what the run needs.
  virtual void Prepare() = 0;

  /// Stops the current run synchronously and ends the worker. A concrete output calls
  /// it first thing in its destructor, while its own members still exist; later calls
  /// do nothing.
  void EndWorker();

  TAuInput* Input = nullptr;

 private:
  friend class TAuThread;

  // TEventSource, on the event thread.
  void WaitParked() final;
  std::function<void()> DoneCall() final;

  void SetExceptionMessage(const std::string& message);

  mutable std::mutex message_mutex_;  // the host clears the message while a run may set it
  std::string ExceptionMessage;
  std::mutex RunLock;
  std::unique_ptr<TAuThread> Thread;
};

}  // namespace vornek
