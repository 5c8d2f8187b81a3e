// SPDX-License-Identifier: BSD-3-Clause
// The output engine on real threads: the worker, the event thread and the test's own
// host loop (this thread, which ran the library's initialisation).
#include <gtest/gtest.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/event_handler.h"
#include "platform/call_queue.h"
#include "platform/host_thread.h"
#include "support/host_loop.h"
#include "fakes.h"

namespace vornek::test {
namespace {

using namespace std::chrono_literals;

/// What the host thread saw, in order: "progress N", "failure TEXT", "done".
struct EventLog {
  std::vector<std::string> entries;
  bool off_host = false;

  void Attach(StepOutput& output) {
    output.OnProgress = [this, &output](TAuOutput* sender) {
      Note("progress " + std::to_string(sender->LastProgress));
      ++output.progress_delivered;
    };
    output.OnThreadException = [this](TAuOutput* sender) {
      Note("failure " + sender->GetExceptionMessage());
    };
    output.OnDone = [this](TAuOutput*) { Note("done"); };
  }
  void Note(const std::string& entry) {
    if (!platform::OnHostThread()) off_host = true;
    entries.push_back(entry);
  }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& e : entries) n += e.rfind(prefix, 0) == 0;
    return n;
  }
  bool Has(const std::string& entry) const { return Count(entry) > 0; }
};

std::vector<std::uint8_t> Bytes(std::size_t n) { return std::vector<std::uint8_t>(n, 7); }

TEST(Engine, OneRunPostsEachProgressChangeThenDoneOnTheHostThread) {
  MemoryInput input(Bytes(8));
  StepOutput output;
  output.lockstep = true;
  EventLog log;
  log.Attach(output);
  output.SetInput(&input);
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("done"); }));
  // 1 of 8 bytes is 12.5 % (to 12), 3 of 8 is 37.5 % (to 38): halves go to the even side.
  const std::vector<std::string> expected = {"progress 12", "progress 25", "progress 38",
                                             "progress 50", "progress 62", "progress 75",
                                             "progress 88", "progress 100", "done"};
  EXPECT_EQ(log.entries, expected);
  EXPECT_FALSE(log.off_host);
  EXPECT_EQ(output.dones, 1);
  EXPECT_FALSE(output.Busy());
}

TEST(Engine, ProgressArithmetic) {
  struct Case {
    std::int64_t position, size;
    std::int32_t expected;
  };
  const Case cases[] = {{1, 8, 12}, {3, 8, 38}, {5, 8, 62}, {0, 8, 0},   {8, 8, 100},
                        {0, -1, -1}, {5, 0, 0},  {1, 3, 33}, {2, 3, 67}};
  MemoryInput input(Bytes(0));
  StepOutput output;
  EXPECT_EQ(output.GetProgress(), 0) << "no input";
  output.SetInput(&input);
  for (const Case& c : cases) {
    input.Position = c.position;
    input.Size = c.size;
    EXPECT_EQ(output.GetProgress(), c.expected) << c.position << " of " << c.size;
  }
}

TEST(Engine, UnknownSizePostsProgressOnce) {
  MemoryInput input(Bytes(5), /*stated_size=*/-1);
  StepOutput output;
  EventLog log;
  log.Attach(output);
  output.SetInput(&input);
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("done"); }));
  EXPECT_EQ(log.entries, (std::vector<std::string>{"progress -1", "done"}));
}

TEST(Engine, FailingPrepareReportsFailureThenDoneAndStillCallsDone) {
  MemoryInput input(Bytes(4));
  StepOutput output;
  EventLog log;
  log.Attach(output);
  output.fail_prepare = true;
  output.SetInput(&input);
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("done"); }));
  EXPECT_EQ(log.entries, (std::vector<std::string>{"failure prepare failed", "done"}));
  EXPECT_EQ(output.dones, 1);
  EXPECT_EQ(output.steps, 0);
}

TEST(Engine, AFailingDoneIsReportedAndTheOutputBecomesIdle) {
  MemoryInput input(Bytes(2));
  StepOutput output;
  EventLog log;
  log.Attach(output);
  output.fail_done = true;
  output.SetInput(&input);
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("done"); }));
  EXPECT_EQ(log.entries.end()[-2], "failure done failed") << "reported before the done event";
  EXPECT_FALSE(output.Busy());
  output.fail_done = false;
  output.Run();  // idle again: a second run is accepted
  ASSERT_TRUE(PumpUntil([&] { return log.Count("done") == 2; }));
  EXPECT_EQ(log.Count("failure"), 1);
}

TEST(Engine, AFailingDoneAfterAFailedRunKeepsTheFirstFailure) {
  MemoryInput input(Bytes(2));
  StepOutput output;
  EventLog log;
  log.Attach(output);
  output.fail_prepare = true;
  output.fail_done = true;
  output.SetInput(&input);
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("done"); }));
  EXPECT_EQ(log.entries, (std::vector<std::string>{"failure prepare failed", "done"}));
}

TEST(Engine, RunWhileBusyIsRefusedAndLeavesTheRunAlone) {
  MemoryInput input(Bytes(6));
  StepOutput output;
  EventLog log;
  log.Attach(output);
  output.SetInput(&input);
  output.Hold();
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return output.Waiting(); }));
  try {
    output.Run();
    ADD_FAILURE() << "Run while busy was accepted";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Component is Busy");
  }
  EXPECT_EQ(output.GetExceptionMessage(), "");
  output.Release();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("done"); }));
  EXPECT_EQ(output.prepares, 1);
  EXPECT_TRUE(log.Has("progress 100")) << "the run went on to the end";
}

TEST(Engine, RunWithoutInputIsRefusedThenWorksOnceAnInputIsSet) {
  StepOutput output;
  EventLog log;
  log.Attach(output);
  try {
    output.Run();
    ADD_FAILURE() << "Run without input was accepted";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Input is not assigned");
  }
  EXPECT_FALSE(output.Busy());
  MemoryInput input(Bytes(3));
  output.SetInput(&input);
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("done"); }));
}

TEST(Engine, SynchronousStopWaitsForDoneAndDropsTheRunsEvents) {
  MemoryInput input(Bytes(64));
  StepOutput output;
  EventLog log;
  log.Attach(output);
  output.SetInput(&input);
  output.Hold(/*from_step=*/10);
  output.Run();
  // Without pumping, the worker's progress events pile up behind the first delivery.
  while (!output.Waiting()) std::this_thread::sleep_for(1ms);
  std::thread releaser([&] {
    std::this_thread::sleep_for(50ms);
    output.Release();
  });
  output.Stop(false);
  releaser.join();
  EXPECT_EQ(output.dones, 1) << "Stop(false) returns only after Done";
  PumpFor(300ms);
  EXPECT_FALSE(log.Has("done"));
  // At most the one delivery that was already under way when Stop began gets through.
  EXPECT_LE(log.Count("progress"), 1);
  EXPECT_FALSE(output.Busy());
}

// A stop that comes after Run but before the run has reached its input's Open still
// holds for that Open: it is not taken for a request of an earlier run.
TEST(Engine, AStopBeforeTheInputIsOpenedHoldsForItsOpen) {
  SlowOpenInput input(Bytes(64));
  StepOutput output;
  output.SetInput(&input);
  output.HoldAt(StepOutput::Point::kPrepare);
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return output.Waiting(); }));
  std::thread releaser([&] {
    while (!output.Worker().StopRequested()) std::this_thread::sleep_for(1ms);
    output.Release();
  });
  output.Stop(false);
  releaser.join();
  EXPECT_TRUE(input.stop_seen_at_start) << "the Open began with the stop already asked";
  EXPECT_EQ(output.GetExceptionMessage(), "open stopped");
  EXPECT_FALSE(output.Busy());
}

TEST(Engine, StoppingTheOutputCutsShortTheOpenOfItsInput) {
  SlowOpenInput input(Bytes(64));
  StepOutput output;
  EventLog log;
  log.Attach(output);
  output.SetInput(&input);
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return input.in_open.load(); }));
  output.Stop(false);
  EXPECT_EQ(output.GetExceptionMessage(), "open stopped");
  EXPECT_EQ(output.dones, 1);
  EXPECT_FALSE(input.StopRequestedNow()) << "a request means nothing outside an Open";

  // The request was for that Open only: the next run opens and reads to the end.
  input.slow = false;
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("done"); }));
  EXPECT_FALSE(input.stop_seen_at_start);
  EXPECT_FALSE(log.Has("failure"));
  EXPECT_EQ(output.steps, 65);
}

TEST(Engine, AsynchronousStopEndsAfterTheCurrentStepAndDeliversDone) {
  MemoryInput input(Bytes(64));
  StepOutput output;
  EventLog log;
  log.Attach(output);
  output.SetInput(&input);
  output.Hold();
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return output.Waiting(); }));
  output.Stop(true);
  output.Release();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("done"); }));
  EXPECT_EQ(output.steps, 1);
  EXPECT_EQ(output.dones, 1);
}

TEST(Engine, SynchronousStopOfAnIdleOutputReturnsAtOnce) {
  StepOutput output;
  output.Stop(false);
  EXPECT_TRUE(output.Worker().Parked());
  EXPECT_TRUE(output.Worker().DeliverDone());
  EXPECT_EQ(output.dones, 0);
}

TEST(Engine, BusyActiveAndParkedFollowTheWorkerThroughARun) {
  using P = StepOutput::Point;
  using S = TWorkerState;
  struct Seen {
    S state;
    bool busy, active, parked;
  };
  MemoryInput input(Bytes(3));
  StepOutput output;
  output.SetInput(&input);
  auto expect = [&](const std::string& where, const Seen& seen) {
    SCOPED_TRACE(where);
    EXPECT_EQ(output.Worker().State(), seen.state);
    EXPECT_EQ(output.Busy(), seen.busy);
    EXPECT_EQ(output.Active(), seen.active);
    EXPECT_EQ(output.Worker().Parked(), seen.parked);
  };
  expect("created", {S::wsParked, false, false, true});
  const struct {
    P point;
    const char* name;
    Seen seen;
  } points[] = {
      {P::kPrepare, "in Prepare", {S::wsPreparing, true, false, false}},
      {P::kStep, "in a step", {S::wsStepping, true, true, false}},
      // Busy until the worker has parked, so a Run the host makes once it reads
      // false never finds a worker that is still on its way to its wait.
      {P::kDone, "in Done", {S::wsFinishing, true, false, false}},
  };
  for (const auto& at : points) {
    output.HoldAt(at.point);
    output.Run();
    ASSERT_TRUE(PumpUntil([&] { return output.Waiting(); })) << at.name;
    expect(at.name, at.seen);
    EXPECT_THROW(output.Run(), EAuException) << at.name;
    output.Release();
    ASSERT_TRUE(PumpUntil([&] { return !output.Busy(); })) << at.name;
    expect(std::string("after holding ") + at.name, {S::wsParked, false, false, true});
    EXPECT_TRUE(output.Worker().RunFinished()) << at.name;
  }
  EXPECT_EQ(output.prepares, 3);
  EXPECT_EQ(output.dones, 3);

  // A stop of the idle output stays on the parked worker until the next Run clears it.
  output.Stop(true);
  EXPECT_TRUE(output.Worker().StopRequested());
  EXPECT_FALSE(output.Worker().RunFinished());
  EXPECT_TRUE(output.Worker().DeliverDone());
  output.HoldAt(P::kPrepare);
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return output.Waiting(); }));
  EXPECT_FALSE(output.Worker().StopRequested());
  output.Release();
  ASSERT_TRUE(PumpUntil([&] { return !output.Busy(); }));
}

// CPU time of the calling thread: a wait that sleeps uses next to none of it.
std::chrono::nanoseconds ThreadCpuTime() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// The host's waits for a worker must keep running synchronised calls (a delivery under
// way may be what the worker's end depends on) and must sleep, not spin, meanwhile.
// Here the worker is let go only once a call from another thread has run on the host.
TEST(Engine, HostWaitsForTheWorkerSleepAndRunTheCallsThatArrive) {
  const struct {
    const char* name;
    std::function<void(std::unique_ptr<StepOutput>&, MemoryInput& other)> wait;
  } waits[] = {
      {"Stop(false)", [](auto& output, MemoryInput&) { output->Stop(false); }},
      {"SetInput on a busy output", [](auto& output, MemoryInput& other) { output->SetInput(&other); }},
      {"destroying the last output", [](auto& output, MemoryInput&) { output.reset(); }},
  };
  constexpr auto kCallAfter = 300ms;
  for (const auto& c : waits) {
    SCOPED_TRACE(c.name);
    MemoryInput first(Bytes(64));
    MemoryInput second(Bytes(4));
    auto output = std::make_unique<StepOutput>();
    StepOutput* held = output.get();
    output->SetInput(&first);
    output->Hold();
    output->Run();
    ASSERT_TRUE(PumpUntil([&] { return output->Waiting(); }));

    std::atomic<bool> call_ran{false};
    std::atomic<bool> ran_on_host{false};
    std::atomic<bool> ran_before_release{false};
    std::thread poster([&] {
      std::this_thread::sleep_for(kCallAfter);
      platform::Synchronize([&] {
        ran_on_host = platform::OnHostThread();
        call_ran = true;
      });
    });
    // Lets the worker go once the call has run, or after a few seconds if the wait
    // never runs it, so that a wrong wait fails here instead of hanging.
    std::thread releaser([&] {
      const auto give_up = std::chrono::steady_clock::now() + 5s;
      while (!call_ran && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(5ms);
      ran_before_release = call_ran.load();
      held->Release();
    });
    const auto cpu_before = ThreadCpuTime();
    const auto wall_before = std::chrono::steady_clock::now();
    c.wait(output, second);
    const auto wall = std::chrono::steady_clock::now() - wall_before;
    const auto cpu = ThreadCpuTime() - cpu_before;
    const bool ran_when_returned = call_ran;
    releaser.join();
    ASSERT_TRUE(PumpUntil([&] { return call_ran.load(); }));
    poster.join();

    EXPECT_TRUE(ran_before_release) << "the wait did not run the synchronised call";
    EXPECT_TRUE(ran_on_host);
    EXPECT_TRUE(ran_when_returned) << "the wait returned before the worker was let go";
    EXPECT_LT(cpu, wall / 4) << "the wait used the processor: "
                             << std::chrono::duration_cast<std::chrono::milliseconds>(cpu).count()
                             << " ms in "
                             << std::chrono::duration_cast<std::chrono::milliseconds>(wall).count()
                             << " ms";
    if (output) {
      ASSERT_TRUE(PumpUntil([&] { return !output->Busy(); }));
      EXPECT_EQ(output->dones, output->prepares.load());
    }
  }
}

TEST(Engine, OnDoneMayStartTheOutputAgain) {
  MemoryInput input(Bytes(3));
  StepOutput output;
  int done_count = 0;
  output.OnDone = [&](TAuOutput* sender) {
    if (++done_count == 1) sender->Run();
  };
  output.SetInput(&input);
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return done_count == 2; }));
  EXPECT_EQ(output.prepares, 2);
}

TEST(Engine, OutputWithoutOnDoneStillBecomesIdle) {
  MemoryInput input(Bytes(2));
  StepOutput output;
  output.SetInput(&input);
  for (int run = 1; run <= 3; ++run) {
    output.Run();
    ASSERT_TRUE(PumpUntil([&] { return output.dones == run && !output.Busy(); }));
  }
}

TEST(Engine, AFailingHandlerDoesNotStopLaterDeliveries) {
  MemoryInput input(Bytes(4));
  StepOutput output;
  EventLog log;
  log.Attach(output);
  output.OnProgress = [&](TAuOutput*) {
    log.Note("progress");
    throw EAuException("handler broke");
  };
  output.SetInput(&input);
  testing::internal::CaptureStderr();
  output.Run();
  const bool done = PumpUntil([&] { return log.Has("done"); });
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(done);
  EXPECT_EQ(log.Count("progress"), 4);
  EXPECT_NE(err.find("handler broke"), std::string::npos) << err;
}

TEST(Engine, SetInputOnABusyOutputRestartsOnTheNewInput) {
  MemoryInput first(Bytes(64));
  MemoryInput second(Bytes(5));
  StepOutput output;
  output.SetInput(&first);
  output.Hold();
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return output.Waiting(); }));
  std::thread releaser([&] {
    std::this_thread::sleep_for(30ms);
    output.Release();
  });
  output.SetInput(&second);
  releaser.join();
  ASSERT_TRUE(PumpUntil([&] { return output.dones == 2 && !output.Busy(); }));
  EXPECT_EQ(output.prepares, 2);
  EXPECT_EQ(second.Position, 5) << "the second run read the new input to its end";
}

TEST(Engine, RemovingTheInputOfABusyOutputStopsItWithoutThrowing) {
  MemoryInput input(Bytes(64));
  StepOutput output;
  output.SetInput(&input);
  output.Hold();
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return output.Waiting(); }));
  // The step is let go once the removal has asked the run to stop, however late the
  // host thread gets there.
  std::thread releaser([&] {
    while (!output.Worker().StopRequested()) std::this_thread::sleep_for(1ms);
    output.Release();
  });
  EXPECT_NO_THROW(output.Notification(&input, TOperation::opRemove));
  releaser.join();
  EXPECT_EQ(output.GetInput(), nullptr);
  EXPECT_EQ(output.GetExceptionMessage(), "Input is not assigned");
  EXPECT_FALSE(output.Busy());
}

TEST(Engine, ThreadsEndWithTheLastOutputAndANewOutputStartsThemAgain) {
  const int before = SettledThreadCount();
  {
    StepOutput a;
    EXPECT_EQ(ThreadCountBecomes(before + 2), before + 2) << "a worker and the event thread";
    {
      StepOutput b;
      EXPECT_EQ(ThreadCountBecomes(before + 3), before + 3) << "the event thread is shared";
    }
    EXPECT_EQ(ThreadCountBecomes(before + 2), before + 2);
  }
  EXPECT_EQ(ThreadCountBecomes(before), before);
  EXPECT_EQ(EventHandler(), nullptr);

  MemoryInput input(Bytes(2));
  StepOutput output;
  EventLog log;
  log.Attach(output);
  output.SetInput(&input);
  output.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("done"); }));
}

TEST(Engine, DestroyingAnOutputWhoseEventsAreStillQueuedDeliversNothingOfIt) {
  const int before = SettledThreadCount();
  EventLog log;
  {
    MemoryInput input(Bytes(16));
    StepOutput output;
    log.Attach(output);
    output.SetInput(&input);
    output.Run();
    // No pumping: the run ends and its done event waits for the host.
    while (output.dones == 0) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
  }
  PumpFor(100ms);
  EXPECT_FALSE(log.Has("done"));
  EXPECT_EQ(ThreadCountBecomes(before), before);
}

// The done event of a finished run can be on its way to the host (the event thread
// blocked in the synchronised call) when the host stops or frees the output: a closing
// window stops it that way. The event must not reach the handler then, since the
// handler may use what is being torn down.
TEST(Engine, ADoneEventOnItsWayToTheHostIsWithdrawnByAStopOrTheOutputsEnd) {
  const struct {
    const char* name;
    std::function<void(std::unique_ptr<StepOutput>&)> withdraw;
  } cases[] = {
      {"Stop(false)", [](auto& output) { output->Stop(false); }},
      {"destroying the output", [](auto& output) { output.reset(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryInput input(Bytes(2));
    auto output = std::make_unique<StepOutput>();
    int done_delivered = 0;
    output->OnDone = [&](TAuOutput*) { ++done_delivered; };  // no progress events
    output->SetInput(&input);
    output->Run();
    // Without pumping: the only call that can be waiting for the host is the done one.
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    while (!platform::detail::CallPending() && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(platform::detail::CallPending());
    c.withdraw(output);
    PumpFor(100ms);
    EXPECT_EQ(done_delivered, 0);
    if (output) {
      output->Run();  // the withdrawal was for that run only
      ASSERT_TRUE(PumpUntil([&] { return done_delivered == 1; }));
    }
  }
}

TEST(HostThread, SynchronisedCallsRunOnTheHostAndHandBackTheirFailure) {
  bool ran_on_host = false;
  std::string failure;
  std::atomic<bool> finished{false};
  std::thread poster([&] {
    platform::Synchronize([&] { ran_on_host = platform::OnHostThread(); });
    try {
      platform::Synchronize([] { throw EAuException("refused"); });
    } catch (const EAuException& e) {
      failure = e.what();
    }
    finished = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return finished.load(); }));
  poster.join();
  EXPECT_TRUE(ran_on_host);
  EXPECT_EQ(failure, "refused");
}

TEST(HostThread, CheckSynchronizeIsRefusedOffTheHostThread) {
  std::string failure;
  std::thread other([&] {
    try {
      platform::CheckSynchronize();
    } catch (const platform::HostThreadError& e) {
      failure = e.what();
    }
  });
  other.join();
  EXPECT_NE(failure.find("thread that loaded the library"), std::string::npos) << failure;
}

}  // namespace
}  // namespace vornek::test
