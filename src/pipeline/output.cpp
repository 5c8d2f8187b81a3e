#include "pipeline/output.h"

#include <cmath>
#include <exception>

#include "pipeline/au_exception.h"
#include "pipeline/event_handler.h"
#include "pipeline/module.h"
#include "platform/host_thread.h"

namespace vornek {

// ---------------------------------------------------------------------------------
// TAuThread

TAuThread::TAuThread(TAuOutput& output)
    : Output(output), thread_(std::make_unique<platform::Thread>([this](platform::Thread& self) { Execute(self); })) {}

TAuThread::~TAuThread() = default;

void TAuThread::Park() {
  // Reset first, so that a signal left over from an earlier wake cannot release this
  // wait. The termination test after Parked is raised pairs with the destructor,
  // which raises the request before it looks at Parked: one of the two sees the other.
  ResumeEvent.Reset();
  Parked = true;
  if (TEventHandler* events = EventHandler()) events->NotifyParked();
  if (!self_->Terminated()) ResumeEvent.Wait();
  Parked = false;
  ++Wakeups;
}

void TAuThread::Execute(platform::Thread& self) {
  self_ = &self;
  Park();
  StopRequested = false;
  while (!self.Terminated()) {
    bool failed = false;
    auto report = [&](const std::string& message) {
      failed = true;
      Output.SetExceptionMessage(message);
      if (Output.OnThreadException)
        EventHandler()->PostThreadException(&Output, Output.OnThreadException);
    };
    try {
      Output.Prepare();
      Output.Active = true;
      bool more = true;
      do {
        const std::int32_t progress = Output.GetProgress();
        if (progress != Output.LastProgress) {
          Output.LastProgress = progress;
          if (Output.OnProgress) EventHandler()->PostProgress(&Output, Output.OnProgress);
        }
        more = Output.DoOutput(StopRequested);
      } while (!StopRequested && more);
    } catch (const std::exception& e) {
      report(e.what());
    } catch (...) {
      report("Unknown failure.");
    }
    StopRequested = false;
    try {
      Output.FinishRun();
    } catch (const std::exception& e) {
      // Finishing is where a writer completes its file: a failure there means the file
      // is not whole, and is reported like any other (unless the run failed already).
      Output.Busy = false;
      if (!failed) report(e.what());
    } catch (...) {
      Output.Busy = false;
      if (!failed) report("Unknown failure.");
    }
    EventHandler()->PostDone(&Output, this);
    RunFinished = true;
    if (!self.Terminated()) Park();
  }
}

// ---------------------------------------------------------------------------------
// TAuOutput

TAuOutput::TAuOutput() {
  // The event thread first: the new worker tells it when it parks.
  AcquireEventHandler();
  Thread = std::make_unique<TAuThread>(*this);
}

TAuOutput::~TAuOutput() { EndWorker(); }

void TAuOutput::EndWorker() {
  if (!Thread) return;
  Stop(false);
  Thread->Terminate();
  if (Thread->Parked) Thread->Wake();
  WaitRunningSynchronize([this] { return Thread->Finished(); });
  Thread->WaitFor();
  // The worker is gone; a done record the event thread may hold must not be
  // delivered, and nothing of this output may be touched once it is freed.
  Thread->DeliverDone = false;
  EventHandler()->ForgetOutput(this);
  Thread.reset();
  ReleaseEventHandler();
}

void TAuOutput::Run() {
  std::lock_guard lock(RunLock);
  SetExceptionMessage("");
  if (Busy) throw EAuException("Component is Busy");
  if (!Input) throw EAuException("Input is not assigned");
  Busy = true;
  // A worker that is just starting, or has finished a run but not yet parked again,
  // would miss the wake: wait the moment until it parks. Once Parked is seen, the
  // worker has reset its event, so one signal releases it; waiting for the count of
  // wake-ups (not for Parked to drop) cannot mistake a worker that has already run
  // and parked again for one that never woke, and wakes it exactly once.
  while (!Thread->Parked) platform::Yield();
  const std::uint64_t wakeups = Thread->Wakeups;
  Thread->StopRequested = false;
  Thread->Wake();
  while (Thread->Wakeups == wakeups) platform::Yield();
}

void TAuOutput::Stop(bool async) {
  Thread->DeliverDone = async;
  Thread->RunFinished = false;
  Thread->StopRequested = true;
  // A run may be inside the input's Open, which only the input can cut short. An idle
  // output leaves its input alone: it may be gone already (an output stopped as it is
  // destroyed, after its input).
  if (Busy && Input) Input->RequestStop();
  if (async) return;
  TEventHandler& events = *EventHandler();
  events.BlockOutput(this);
  events.RemoveEvents(this);
  struct Unblock {
    TEventHandler& events;
    TAuThread& worker;
    ~Unblock() {
      events.UnblockOutput();
      worker.DeliverDone = true;
    }
  } unblock{events, *Thread};
  while (!Thread->Parked && !Thread->RunFinished) {
    platform::Yield();
    if (platform::OnHostThread()) platform::CheckSynchronize();
  }
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
  if (Busy) {
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

void TAuOutput::FinishRun() {
  if (!Busy) return;
  Active = false;
  Done();
  Busy = false;
}

}  // namespace vornek
