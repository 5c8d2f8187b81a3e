// SPDX-License-Identifier: BSD-3-Clause
// The segment scheduler with plain work in place of encoding: order, concurrency,
// failures and abort, on its real threads.
#include "flac/segment_scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace vornek {
namespace {

using namespace std::chrono_literals;

/// A one-shot flag a thread can wait for, with a time limit so that a fault shows as
/// a failed expectation rather than a hung test.
class Latch {
 public:
  void Open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    cv_.notify_all();
  }
  bool Wait(std::chrono::milliseconds limit = 10s) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

// Slots are collected in the order they were queued, whatever order the work ends in,
// every queued item is worked on exactly once, and the ring goes round many times.
TEST(SegmentScheduler, CollectsInQueueOrderWhateverOrderTheWorkEnds) {
  constexpr std::size_t kSlots = 5;
  constexpr int kItems = 200;
  std::vector<int> item_of_slot(kSlots, -1);  // the owner's data, one per slot
  std::vector<int> result(kSlots, -1);
  std::atomic<int> calls{0};
  std::mutex threads_mutex;
  std::set<std::size_t> threads_seen;
  TSegmentScheduler scheduler(3, kSlots, [&](std::size_t slot, std::size_t thread, std::stop_token) {
    ++calls;
    {
      std::lock_guard lock(threads_mutex);
      threads_seen.insert(thread);
    }
    // Later items of a round end first.
    std::this_thread::sleep_for(std::chrono::microseconds(50 * (3 - item_of_slot[slot] % 3)));
    result[slot] = item_of_slot[slot] * 10;
  });
  EXPECT_EQ(scheduler.Slots(), kSlots);
  EXPECT_EQ(scheduler.Threads(), 3u);

  std::vector<int> collected;
  const auto collect = [&](bool wait) {
    const std::optional<std::size_t> slot = scheduler.Collect(wait);
    if (!slot) return false;
    collected.push_back(result[*slot]);
    scheduler.Release(*slot);
    return true;
  };
  for (int item = 0; item < kItems; ++item) {
    std::optional<std::size_t> slot;
    while (!(slot = scheduler.TakeFree())) ASSERT_TRUE(collect(true));
    item_of_slot[*slot] = item;
    scheduler.Queue(*slot);
    collect(false);
  }
  while (collect(true)) {
  }
  EXPECT_EQ(scheduler.Outstanding(), 0u);
  ASSERT_EQ(collected.size(), static_cast<std::size_t>(kItems));
  for (int i = 0; i < kItems; ++i) EXPECT_EQ(collected[static_cast<std::size_t>(i)], i * 10);
  EXPECT_EQ(calls, kItems);
  for (std::size_t thread : threads_seen) EXPECT_LT(thread, 3u);
}

// Two queued slots are worked on at once: the first slot's work waits until the
// second's has started, which a scheduler that worked one slot at a time never lets
// happen.
TEST(SegmentScheduler, WorksOnSeveralSlotsAtOnce) {
  Latch second_started;
  std::atomic<bool> first_saw_second{false};
  TSegmentScheduler scheduler(2, 2, [&](std::size_t slot, std::size_t, std::stop_token) {
    if (slot == 0)
      first_saw_second = second_started.Wait();
    else
      second_started.Open();
  });
  const std::size_t a = *scheduler.TakeFree();
  const std::size_t b = *scheduler.TakeFree();
  ASSERT_EQ(a, 0u);
  ASSERT_EQ(b, 1u);
  EXPECT_FALSE(scheduler.TakeFree());  // both held by the owner
  scheduler.Queue(a);
  scheduler.Queue(b);
  EXPECT_EQ(scheduler.Collect(true), std::optional<std::size_t>(0));
  EXPECT_EQ(scheduler.Collect(true), std::optional<std::size_t>(1));
  EXPECT_TRUE(first_saw_second);
  EXPECT_FALSE(scheduler.Collect(true));  // nothing queued: no wait
}

// A failure is raised by the Collect that reaches its slot, after every slot queued
// before it, and that slot is free again.
TEST(SegmentScheduler, AFailureIsRaisedInItsTurnAndFreesItsSlot) {
  std::vector<int> item_of_slot(4, -1);
  TSegmentScheduler scheduler(2, 4, [&](std::size_t slot, std::size_t, std::stop_token) {
    if (item_of_slot[slot] == 2) throw std::runtime_error("item 2 failed");
  });
  for (int item = 0; item < 4; ++item) {
    const std::size_t slot = *scheduler.TakeFree();
    item_of_slot[slot] = item;
    scheduler.Queue(slot);
  }
  for (int item : {0, 1}) {
    const std::optional<std::size_t> slot = scheduler.Collect(true);
    ASSERT_TRUE(slot);
    EXPECT_EQ(item_of_slot[*slot], item);
    scheduler.Release(*slot);
  }
  try {
    scheduler.Collect(true);
    ADD_FAILURE() << "the failure of item 2 was not raised";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "item 2 failed");
  }
  const std::optional<std::size_t> next = scheduler.Collect(true);
  ASSERT_TRUE(next);
  EXPECT_EQ(item_of_slot[*next], 3);
  scheduler.Release(*next);
  int free = 0;
  while (scheduler.TakeFree()) ++free;
  EXPECT_EQ(free, 4);
}

// Abort: work under way sees it and returns, queued work never starts, Collect answers
// nothing without waiting, and destruction returns.
TEST(SegmentScheduler, AbortDropsQueuedWorkAndEndsWorkUnderWay) {
  Latch started;
  std::atomic<int> calls{0};
  std::atomic<bool> saw_abort{false};
  auto scheduler = std::make_unique<TSegmentScheduler>(1, 3, [&](std::size_t, std::size_t, std::stop_token stop) {
    if (calls++ > 0) return;
    started.Open();
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < limit) {
      if (stop.stop_requested()) {
        saw_abort = true;
        return;
      }
      std::this_thread::sleep_for(1ms);
    }
  });
  for (int i = 0; i < 3; ++i) scheduler->Queue(*scheduler->TakeFree());
  ASSERT_TRUE(started.Wait());
  scheduler->Abort();
  EXPECT_FALSE(scheduler->Collect(true));
  scheduler.reset();
  EXPECT_TRUE(saw_abort);
  EXPECT_EQ(calls, 1);
}

TEST(SegmentScheduler, RefusesSlotsTheOwnerDoesNotHold) {
  TSegmentScheduler scheduler(1, 2, [](std::size_t, std::size_t, std::stop_token) {});
  EXPECT_THROW(scheduler.Queue(0), std::logic_error);  // free, not taken
  EXPECT_THROW(scheduler.Queue(7), std::logic_error);  // no such slot
  EXPECT_THROW(scheduler.Release(1), std::logic_error);
  const std::size_t slot = *scheduler.TakeFree();
  scheduler.Queue(slot);
  EXPECT_THROW(scheduler.Queue(slot), std::logic_error);  // already queued
  EXPECT_EQ(scheduler.Collect(true), std::optional<std::size_t>(slot));
  scheduler.Release(slot);
}

}  // namespace
}  // namespace vornek
