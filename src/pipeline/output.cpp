// SPDX-License-Identifier: BSD-3-Clause
#include "pipeline/output.h"

#include <cmath>
#include <exception>

#include "base/au_exception.h"
#include "base/failures.h"

namespace vornek {

// ---------------------------------------------------------------------------------
// TAuThread

TAuThread::TAuThread(TAuOutput& output)
    : Output(output), thread_([this](std::stop_token end) { Execute(std::move(end)); }) {}

TAuThread::~TAuThread() {
  if (State() != TWorkerState::wsEnded) End();
}

TWorkerState TAuThread::State() const {
  std::lock_guard lock(mutex_);
  return state_;
}

bool TAuThread::StopRequested() const {
  std::lock_guard lock(mutex_);
  return stop_requested_;
}

bool TAuThread::DeliverDone() const {
  std::lock_guard lock(mutex_);
  return deliver_done_;
}

bool TAuThread::RunFinished() const {
  std::lock_guard lock(mutex_);
  return run_finished_;
}

bool TAuThread::Start() {
  std::lock_guard lock(mutex_);
  if (state_ != TWorkerState::wsParked || thread_.get_stop_token().stop_requested()) return false;
  state_ = TWorkerState::wsPreparing;
  stop_requested_ = false;
  changed_.NotifyAll();
  return true;
}

void TAuThread::RequestStop(bool deliver_done) {
  std::lock_guard lock(mutex_);
  deliver_done_ = deliver_done;
  if (!deliver_done) done_pending_ = false;
  run_finished_ = false;
  stop_requested_ = true;
}

void TAuThread::SetDeliverDone(bool deliver_done) {
  std::lock_guard lock(mutex_);
  deliver_done_ = deliver_done;
}

void TAuThread::WaitIdle() {
  std::unique_lock lock(mutex_);
  changed_.Wait(lock, [this] {
    return state_ == TWorkerState::wsParked || state_ == TWorkerState::wsEnded;
  });
}

void TAuThread::End() {
  thread_.request_stop();
  {
    // Taken after the request: a parked worker that found no stop is asleep by now.
    std::unique_lock lock(mutex_);
    done_pending_ = false;
    changed_.NotifyAll();
    changed_.Wait(lock, [this] { return state_ == TWorkerState::wsEnded; });
  }
  thread_.join();
}

void TAuThread::WaitParkedAfterDone() {
  // The done event is posted while finishing, and the worker parks next: once it is
  // anywhere else it has parked since (a later run can only have begun from there).
  std::unique_lock lock(mutex_);
  changed_.Wait(lock, [this] { return state_ != TWorkerState::wsFinishing; });
}

bool TAuThread::DonePending() const {
  std::lock_guard lock(mutex_);
  return done_pending_;
}

bool TAuThread::TakeDone() {
  std::lock_guard lock(mutex_);
  const bool pending = done_pending_;
  done_pending_ = false;
  return pending;
}

void TAuThread::Execute(std::stop_token end) {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      // Start refuses a run once the stop is asked, so a worker still parked then ends.
      changed_.Wait(lock, [&] { return state_ != TWorkerState::wsParked || end.stop_requested(); });
      if (state_ == TWorkerState::wsParked) {
        state_ = TWorkerState::wsEnded;
        changed_.NotifyAll();
        return;
      }
    }
    PerformRun();
  }
}

void TAuThread::PerformRun() {
  TAuOutput* const output = &Output;
  TEventHandler& events = *EventHandler();
  bool failed = false;
  auto report = [&](const std::string& message) {
    failed = true;
    output->SetExceptionMessage(message);
    if (output->OnThreadException)
      events.PostThreadException(output, [handler = output->OnThreadException, output] { handler(output); });
  };
  try {
    output->Prepare();
    {
      std::lock_guard lock(mutex_);
      state_ = TWorkerState::wsStepping;
    }
    bool more = true;
    do {
      const std::int32_t progress = output->GetProgress();
      if (progress != output->LastProgress) {
        output->LastProgress = progress;
        if (output->OnProgress)
          events.PostProgress(output, [handler = output->OnProgress, output] { handler(output); });
      }
      more = output->DoOutput(StopRequested());
    } while (more && !StopRequested());
  } catch (const std::exception& e) {
    report(e.what());
  } catch (...) {
    report(FailureText(TFailure::faUnknown));
  }

  {
    std::lock_guard lock(mutex_);
    state_ = TWorkerState::wsFinishing;
    stop_requested_ = false;
  }
  try {
    output->Done();
  } catch (const std::exception& e) {
    // Finishing is where a writer completes its file: a failure there means the file
    // is not whole, and is reported like any other (unless the run failed already).
    if (!failed) report(e.what());
  } catch (...) {
    if (!failed) report(FailureText(TFailure::faUnknown));
  }
  // Posted before the worker parks: a synchronous Stop that waits for the park has its
  // output blocked by then, so the event is refused, and the event thread holds a
  // done record until the worker has left finishing. During such a stop the event is
  // not pending either, in case the event thread took it before the block.
  {
    std::lock_guard lock(mutex_);
    done_pending_ = deliver_done_;
  }
  events.PostDone(output);
  std::lock_guard lock(mutex_);
  state_ = TWorkerState::wsParked;
  run_finished_ = true;
  changed_.NotifyAll();
}

// ---------------------------------------------------------------------------------
// TAuOutput

TAuOutput::TAuOutput() {
  // The event thread outlives the worker: it may still hold the worker's last done
  // event when the worker has ended.
  AcquireEventHandler();
  Thread = std::make_unique<TAuThread>(*this);
}

TAuOutput::~TAuOutput() { EndWorker(); }

void TAuOutput::EndWorker() {
  if (!Thread) return;
  Stop(false);
  Thread->End();
  // With its worker ended, a done record that the event thread may still hold is not
  // delivered (its done event is no longer pending); after ForgetOutput the event
  // thread holds nothing of this output at all.
  EventHandler()->ForgetOutput(this);
  Thread.reset();
  ReleaseEventHandler();
}

bool TAuOutput::Busy() const {
  const TWorkerState state = Thread->State();
  return state == TWorkerState::wsPreparing || state == TWorkerState::wsStepping ||
         state == TWorkerState::wsFinishing;
}

void TAuOutput::Run() {
  std::lock_guard lock(RunLock);
  SetExceptionMessage("");
  if (Busy()) Raise(TFailure::faOutputBusy);
  if (!Input) Raise(TFailure::faInputNotAssigned);
  // A stop asked of the input belongs to an earlier run; one asked from now on, even
  // before the new run has reached the input's Open, holds for this one.
  Input->WithdrawStopRequest();
  // Not busy means parked: only the host starts runs, and RunLock is held.
  if (!Thread->Start()) Raise(TFailure::faOutputBusy);
}

void TAuOutput::Stop(bool async) {
  Thread->RequestStop(/*deliver_done=*/async);
  // A run may be inside the input's Open, which only the input can cut short. An idle
  // output leaves its input alone: it may be gone already (an output stopped as it is
  // destroyed, after its input).
  if (Busy() && Input) Input->RequestStop();
  if (async) return;
  TEventHandler& events = *EventHandler();
  events.BlockOutput(this);
  events.RemoveEvents(this);
  struct Unblock {
    TEventHandler& events;
    TAuThread& worker;
    ~Unblock() {
      events.UnblockOutput();
      worker.SetDeliverDone(true);
    }
  } unblock{events, *Thread};
  Thread->WaitIdle();
}

std::int32_t TAuOutput::GetProgress() {
  if (!Input) return 0;
  const std::int64_t size = Input->Size;
  if (size == -1) return -1;
  if (size == 0) return 0;
  const double percent =
      static_cast<double>(Input->Position) / static_cast<double>(size) * 100.0;
  return static_cast<std::int32_t>(std::nearbyint(percent));
}

void TAuOutput::SetInput(TAuInput* value) {
  if (Busy()) {
    Stop(false);
    Input = value;
    Run();
  } else {
    Input = value;
  }
}

void TAuOutput::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && component != nullptr && component == Input) {
    try {
      SetInput(nullptr);
    } catch (const EAuException& e) {
      // The restart without input is refused ("Input is not assigned"); the removal
      // of the input goes on, and the refusal is kept where failures are read.
      SetExceptionMessage(e.what());
    }
  }
  TComponent::Notification(component, operation);
}

std::string TAuOutput::GetExceptionMessage() const {
  std::lock_guard lock(message_mutex_);
  return ExceptionMessage;
}

void TAuOutput::SetExceptionMessage(const std::string& message) {
  std::lock_guard lock(message_mutex_);
  ExceptionMessage = message;
}

void TAuOutput::WaitParked() { Thread->WaitParkedAfterDone(); }

std::function<void()> TAuOutput::DoneCall() {
  if (!OnDone || !Thread->DonePending()) return {};
  // Asked again on the host, where the call runs: a synchronous Stop (or the output's
  // destruction) may come first, while the call waits for the host, and withdraws it.
  return [handler = OnDone, this] {
    if (Thread->TakeDone()) handler(this);
  };
}

}  // namespace vornek
