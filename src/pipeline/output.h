// Outputs: components that pull audio from an input on a worker thread of their own.
//
// Each output owns one worker, a TAuThread, for its whole life. Run wakes the worker
// for one run: Prepare, then DoOutput until it reports the end or a stop is asked
// for, then Done. Progress changes, worker failures and the end of every run are
// posted to the process-wide event thread (event_handler.h), which runs the output's
// OnProgress, OnThreadException and OnDone handlers on the host thread.
//
// Threads: the host thread creates, starts, stops and destroys outputs. The worker
// runs Prepare, DoOutput and Done. The event thread reads Parked and DeliverDone and
// clears Busy. The flags are atomics that one thread writes and another polls; the
// meaning of the engine lies in the order in which each side sets and tests them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "pipeline/component.h"
#include "pipeline/input.h"
#include "platform/threads.h"

namespace vornek {

class TAuOutput;

/// Handlers of the three output events; an event is assigned when it holds a target.
using TOutputEvent = std::function<void(TAuOutput* sender)>;
using TOutputProgressEvent = TOutputEvent;
using TOutputDoneEvent = TOutputEvent;
using TThreadExceptionEvent = TOutputEvent;

/// The worker of one output. It starts at once, parks, and performs one run each time
/// it is woken, until it is told to terminate.
class TAuThread {
 public:
  explicit TAuThread(TAuOutput& output);
  ~TAuThread();  // the owner has ended the thread first (see TAuOutput's destructor)

  /// Waits on ResumeEvent until woken (or told to terminate).
  void Park();
  void Wake() { ResumeEvent.Set(); }

  void Terminate() { thread_->Terminate(); }
  bool Terminated() const { return thread_->Terminated(); }
  bool Finished() const { return thread_->Finished(); }
  void WaitFor() { thread_->WaitFor(); }

  TAuOutput& Output;
  /// False only while a synchronous Stop of the output is in progress; the done event
  /// of a run is delivered only while it is true.
  std::atomic<bool> DeliverDone{true};
  std::atomic<bool> RunFinished{false};
  std::atomic<bool> StopRequested{false};
  /// True while the worker waits for the next run. A Run that comes before the new
  /// worker has reached its first wait waits the moment until it has.
  std::atomic<bool> Parked{false};
  /// Counts the worker's returns from Park: how Run knows its wake was taken.
  std::atomic<std::uint64_t> Wakeups{0};

 private:
  void Execute(platform::Thread& self);

  platform::Thread* self_ = nullptr;  // the running thread, as the worker sees it
  platform::AutoResetEvent ResumeEvent;
  std::unique_ptr<platform::Thread> thread_;
};

class TAuOutput : public TComponent {
 public:
  TAuOutput();
  ~TAuOutput() override;

  /// Starts a run on the worker and returns once the worker has left its wait.
  /// Host thread. Fails with "Component is Busy" or "Input is not assigned".
  void Run();
  /// Asks the current run to end after its current step. With `async` false it also
  /// waits until the worker has finished the run (Done has run) and suppresses the
  /// run's done event and every event the run posts from now on. Host thread.
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

  /// True from an accepted Run until the run has finished.
  std::atomic<bool> Busy{false};
  /// True from the end of Prepare until just before Done.
  std::atomic<bool> Active{false};
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
  void FinishRun();
  void SetExceptionMessage(const std::string& message);

  mutable std::mutex message_mutex_;  // the host clears the message while a run may set it
  std::string ExceptionMessage;
  std::mutex RunLock;
  std::unique_ptr<TAuThread> Thread;
};

}  // namespace vornek
