// SPDX-License-Identifier: BSD-3-Clause
// TSegmentScheduler: work on a ring of slots by a fixed set of threads, collected by
// one owner in the order it queued them.
//
// The FLAC writer cuts its input into segments (runs of whole blocks) and has each
// encoded by whichever encoding thread is free, while its own thread reads the next
// segments and writes the encoded ones to the file. The scheduler holds that
// hand-over and nothing of FLAC: a slot is an index into the owner's own array of
// segments, and the work is a function of the slot and the thread doing it.
//
// A slot goes round: free -> the owner's (TakeFree: it fills the slot) -> queued
// (Queue) -> worked on by one thread -> done -> the owner's again (Collect, strictly
// in queue order) -> free (Release). Threads take queued slots in queue order; which
// thread takes which depends on timing, so the work must not depend on the thread
// beyond the state the thread keeps for itself.
//
// A failure raised by the work is kept with its slot and raised to the owner by the
// Collect that reaches that slot, so everything queued before it is collected first.
//
// Threads: TakeFree, Queue, Collect and Release belong to one owner thread, as do
// construction and destruction. Abort may be called from any thread: it is the one
// stop request of all the threads, and the work is handed its token to give up early.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/threads.h"

namespace vornek {

class TSegmentScheduler {
 public:
  /// Work on `slot`, done by thread number `thread` (0 .. threads - 1); it should
  /// return soon once `stop` is requested (Abort).
  using Work = std::function<void(std::size_t slot, std::size_t thread, std::stop_token stop)>;

  /// Starts `threads` threads (at least 1) over `slots` slots (at least 1), all free.
  TSegmentScheduler(std::size_t threads, std::size_t slots, Work work);
  /// Aborts, then joins every thread.
  ~TSegmentScheduler() { Abort(); }
  TSegmentScheduler(const TSegmentScheduler&) = delete;
  TSegmentScheduler& operator=(const TSegmentScheduler&) = delete;

  std::size_t Slots() const { return state_.size(); }
  std::size_t Threads() const { return threads_.size(); }

  /// Owner: a free slot, now the owner's; nothing when no slot is free.
  std::optional<std::size_t> TakeFree();
  /// Owner: queues `slot` (the owner's) for the work, behind every slot queued before.
  void Queue(std::size_t slot);
  /// Owner: the oldest queued slot, once its work is done (with `wait`, waiting for
  /// it), handed back to the owner. Nothing when no slot is queued, when the oldest is
  /// not done and `wait` is false, or after Abort. When the work on that slot failed,
  /// the slot is freed and its failure raised instead.
  std::optional<std::size_t> Collect(bool wait);
  /// Owner: frees a slot the owner holds.
  void Release(std::size_t slot);
  /// Owner: slots queued and not yet collected.
  std::size_t Outstanding() const;

  /// Any thread: no queued slot is started any more; work under way is asked to stop.
  /// Collect answers nothing from now on.
  void Abort();

 private:
  enum class SlotState { Free, Owner, Queued, Working, Done };

  void Serve(std::size_t thread, std::stop_token stop);

  const Work work_;
  mutable std::mutex lock_;
  std::condition_variable queued_;           ///< a slot was queued, or stop
  std::condition_variable done_;             ///< a slot's work is done, or stop
  std::vector<SlotState> state_;             ///< guarded
  std::vector<std::exception_ptr> failure_;  ///< guarded; set with Done
  std::deque<std::size_t> order_;            ///< guarded: queued, not collected, in queue order
  std::deque<std::size_t> waiting_;          ///< guarded: queued, not started, in queue order
  std::stop_source stop_;  ///< the stop of every thread and wait here
  std::vector<std::jthread> threads_;  ///< last: they start once the rest exists
};

}  // namespace vornek
