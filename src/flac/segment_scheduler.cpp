// SPDX-License-Identifier: BSD-3-Clause
#include "flac/segment_scheduler.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace vornek {

TSegmentScheduler::TSegmentScheduler(std::size_t threads, std::size_t slots, Work work)
    : work_(std::move(work)),
      state_(std::max<std::size_t>(slots, 1), SlotState::Free),
      failure_(state_.size()) {
  const std::size_t count = std::max<std::size_t>(threads, 1);
  threads_.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    threads_.emplace_back([this, i, stop = stop_.get_token()] { Serve(i, stop); });
}

std::optional<std::size_t> TSegmentScheduler::TakeFree() {
  std::lock_guard guard(lock_);
  for (std::size_t slot = 0; slot < state_.size(); ++slot) {
    if (state_[slot] == SlotState::Free) {
      state_[slot] = SlotState::Owner;
      return slot;
    }
  }
  return std::nullopt;
}

void TSegmentScheduler::Queue(std::size_t slot) {
  {
    std::lock_guard guard(lock_);
    if (slot >= state_.size() || state_[slot] != SlotState::Owner)
      throw std::logic_error("TSegmentScheduler: queued a slot the owner does not hold");
    state_[slot] = SlotState::Queued;
    failure_[slot] = nullptr;
    order_.push_back(slot);
    waiting_.push_back(slot);
  }
  queued_.notify_one();
}

std::optional<std::size_t> TSegmentScheduler::Collect(bool wait) {
  std::unique_lock guard(lock_);
  const auto ready = [this] {
    return stop_.stop_requested() || order_.empty() || state_[order_.front()] == SlotState::Done;
  };
  if (wait)
    done_.wait(guard, ready);
  else if (!ready())
    return std::nullopt;
  if (stop_.stop_requested() || order_.empty()) return std::nullopt;
  const std::size_t slot = order_.front();
  order_.pop_front();
  if (failure_[slot]) {
    std::exception_ptr failure = std::exchange(failure_[slot], nullptr);
    state_[slot] = SlotState::Free;
    guard.unlock();
    std::rethrow_exception(failure);
  }
  state_[slot] = SlotState::Owner;
  return slot;
}

void TSegmentScheduler::Release(std::size_t slot) {
  std::lock_guard guard(lock_);
  if (slot >= state_.size() || state_[slot] != SlotState::Owner)
    throw std::logic_error("TSegmentScheduler: released a slot the owner does not hold");
  state_[slot] = SlotState::Free;
}

std::size_t TSegmentScheduler::Outstanding() const {
  std::lock_guard guard(lock_);
  return order_.size();
}

void TSegmentScheduler::Abort() {
  {
    std::lock_guard guard(lock_);
    waiting_.clear();
  }
  // Wakes every wait: the threads', and the owner's in Collect.
  platform::RequestStop(stop_, lock_, queued_, done_);
}

void TSegmentScheduler::Serve(std::size_t thread, std::stop_token stop) {
  std::unique_lock guard(lock_);
  for (;;) {
    queued_.wait(guard, [&] { return stop.stop_requested() || !waiting_.empty(); });
    if (stop.stop_requested()) return;
    const std::size_t slot = waiting_.front();
    waiting_.pop_front();
    state_[slot] = SlotState::Working;
    guard.unlock();
    std::exception_ptr failure;
    try {
      work_(slot, thread, stop);
    } catch (...) {
      failure = std::current_exception();
    }
    guard.lock();
    state_[slot] = SlotState::Done;
    failure_[slot] = failure;
    // Only the owner waits for this (for the oldest slot; it looks again whenever any
    // slot is done). Signalled with the lock let go, so that it does not wake only to
    // wait for the lock.
    guard.unlock();
    done_.notify_one();
    guard.lock();
  }
}

}  // namespace vornek
