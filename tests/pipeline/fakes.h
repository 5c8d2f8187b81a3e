// SPDX-License-Identifier: BSD-3-Clause
// Small real components for the engine's tests: an input over bytes in memory and an
// output whose steps the test can hold, fail or count.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/au_exception.h"
#include "pipeline/input.h"
#include "pipeline/output.h"

namespace vornek::test {

/// An 8-bit mono input over a byte vector. `stated_size` replaces the size it reports
/// after Open (for instance -1: no size known).
class MemoryInput : public TAuInput {
 public:
  explicit MemoryInput(std::vector<std::uint8_t> bytes, std::int64_t stated_size = 0)
      : data_(std::move(bytes)), stated_size_(stated_size) {}

  std::int32_t GetBitsPerSample() override { return 8; }
  std::int32_t GetChannels() override { return 1; }
  std::int32_t GetSampleRate() override { return 8000; }

 protected:
  void OpenInternal() override {
    if (Busy) throw EAuException("The component is Busy");
    Busy = true;
    Position = 0;
    offset_ = 0;
    Size = stated_size_ != 0 ? stated_size_ : static_cast<std::int64_t>(data_.size());
  }
  void CloseInternal() override { Busy = false; }
  void ReadInternal(const std::uint8_t*& buffer, std::uint32_t& count) override {
    const std::size_t left = data_.size() - offset_;
    if (count > left) count = static_cast<std::uint32_t>(left);
    buffer = data_.data() + offset_;
    offset_ += count;
    Position += count;
  }

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t stated_size_;
  std::size_t offset_ = 0;
};

/// A MemoryInput whose Open works on, as the decode of a long compressed file does,
/// until a stop is asked of it (it then fails with "open stopped"), and gives up after
/// 20 seconds ("never stopped"). With `slow` false it opens at once.
class SlowOpenInput : public MemoryInput {
 public:
  using MemoryInput::MemoryInput;

  std::atomic<bool> slow{true};
  std::atomic<bool> in_open{false};
  /// Whether a stop was asked when the last OpenInternal began.
  std::atomic<bool> stop_seen_at_start{false};
  bool StopRequestedNow() const { return StopRequested(); }

 protected:
  void OpenInternal() override {
    stop_seen_at_start = StopRequested();
    MemoryInput::OpenInternal();
    if (!slow) return;
    in_open = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!StopRequested()) {
      if (std::chrono::steady_clock::now() > deadline) {
        in_open = false;
        throw EAuException("never stopped");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    in_open = false;
    throw EAuException("open stopped");
  }
};

/// An output that reads `step_bytes` per step from its input. The test can make
/// Prepare or Done fail, and hold the worker inside Prepare, a step or Done until it
/// lets it go.
class StepOutput : public TAuOutput {
 public:
  enum class Point { kPrepare, kStep, kDone };

  ~StepOutput() override { EndWorker(); }

  std::atomic<int> prepares{0};
  std::atomic<int> steps{0};
  std::atomic<int> dones{0};
  std::atomic<bool> fail_prepare{false};
  std::atomic<bool> fail_done{false};
  std::uint32_t step_bytes = 1;
  /// With lockstep, a step waits until the host has delivered every progress event
  /// posted so far, so that a handler sees the percentage its event was posted for.
  bool lockstep = false;
  std::atomic<int> progress_delivered{0};

  /// From now on, step number `from_step` (counted from 0) and every later one waits
  /// at its start until Release.
  void Hold(int from_step = 0) {
    std::lock_guard lock(gate_mutex_);
    held_ = true;
    hold_point_ = Point::kStep;
    hold_from_ = from_step;
  }
  /// From now on, the worker waits at the start of every Prepare (or Done) until Release.
  void HoldAt(Point point) {
    std::lock_guard lock(gate_mutex_);
    held_ = true;
    hold_point_ = point;
    hold_from_ = 0;
  }
  /// Lets the worker go on. The releasing thread is done with the output once this
  /// returns, so the output may be destroyed as soon as its worker has moved on.
  void Release() {
    std::lock_guard lock(gate_mutex_);
    held_ = false;
    gate_cv_.notify_all();
  }
  /// True while the worker waits at a held point.
  bool Waiting() {
    std::lock_guard lock(gate_mutex_);
    return waiting_;
  }

 protected:
  void Prepare() override {
    Gate(Point::kPrepare);
    ++prepares;
    if (fail_prepare) throw EAuException("prepare failed");
    Input->Open();
  }
  bool DoOutput(bool abort) override {
    if (abort) return false;
    if (lockstep) {
      if (LastProgress != progress_seen_) {
        progress_seen_ = LastProgress;
        ++progress_posted_;
      }
      while (progress_delivered < progress_posted_) std::this_thread::yield();
    }
    Gate(Point::kStep);
    ++steps;
    std::vector<std::uint8_t> buffer(step_bytes);
    bool end = false;
    const std::uint32_t got = Input->ReadFully(buffer.data(), step_bytes, end);
    return got > 0;
  }
  void Done() override {
    Gate(Point::kDone);
    ++dones;
    Input->Close();
    if (fail_done) throw std::runtime_error("done failed");
  }

 private:
  void Gate(Point point) {
    std::unique_lock lock(gate_mutex_);
    const bool holds = held_ && hold_point_ == point && (point != Point::kStep || steps >= hold_from_);
    waiting_ = holds;
    if (holds) gate_cv_.wait(lock, [this] { return !held_; });
    waiting_ = false;
  }

  std::mutex gate_mutex_;
  std::condition_variable gate_cv_;
  int progress_seen_ = 0;
  int progress_posted_ = 0;
  bool held_ = false;
  Point hold_point_ = Point::kStep;
  int hold_from_ = 0;
  bool waiting_ = false;
};

}  // namespace vornek::test
