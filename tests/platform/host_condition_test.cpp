// SPDX-License-Identifier: BSD-3-Clause
// HostCondition on real threads; this test thread is the host thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/host_thread.h"

namespace vornek::test {
namespace {

using namespace std::chrono_literals;

// A synchronised call that the host runs while it waits on a condition may itself wait
// on the same condition (a handler that stops the output whose stop is being waited
// for). When the inner wait ends, the outer one must still be woken by the next change.
TEST(HostCondition, AWaitInsideASynchronisedCallLeavesTheOuterWaitWakeable) {
  std::mutex mutex;
  platform::HostCondition changed;
  bool inner_may_end = false;
  bool outer_may_end = false;
  std::atomic<bool> outer_returned{false};
  std::atomic<bool> rescued{false};

  std::thread other([&] {
    platform::Synchronize([&] {
      std::unique_lock lock(mutex);
      changed.Wait(lock, [&] { return inner_may_end; });
    });
    std::this_thread::sleep_for(50ms);
    std::lock_guard lock(mutex);
    outer_may_end = true;
    changed.NotifyAll();
  });
  std::thread inner_ender([&] {
    std::this_thread::sleep_for(50ms);
    std::lock_guard lock(mutex);
    inner_may_end = true;
    changed.NotifyAll();
  });
  // Ends a wait that nothing wakes, so that the fault shows as a failure, not a hang.
  std::thread rescuer([&] {
    for (int i = 0; i < 500 && !outer_returned; ++i) std::this_thread::sleep_for(10ms);
    if (outer_returned) return;
    std::lock_guard lock(mutex);
    rescued = true;
    outer_may_end = true;
    platform::WakeHostThread();
  });

  {
    std::unique_lock lock(mutex);
    changed.Wait(lock, [&] { return outer_may_end; });
  }
  outer_returned = true;
  other.join();
  inner_ender.join();
  rescuer.join();
  EXPECT_FALSE(rescued) << "the outer wait slept through the change";
}

}  // namespace
}  // namespace vornek::test
