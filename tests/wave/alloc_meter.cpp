// SPDX-License-Identifier: BSD-3-Clause
// The counting replacement of the global operator new and delete for this test
// program. Each block carries its size in a header in front of it, so that the
// unsized delete can count it off too. Over-aligned allocations keep the library's own
// operators: nothing measured here asks for them.
#include "alloc_meter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace vornek::test {
namespace {

std::atomic<std::int64_t> live{0};
std::atomic<std::int64_t> peak{0};

/// Room in front of each block for its size, keeping the block aligned for any
/// fundamental type.
constexpr std::size_t kHeader = alignof(std::max_align_t);

void* Allocate(std::size_t size) noexcept {
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) return nullptr;
  *reinterpret_cast<std::size_t*>(block) = size;
  const std::int64_t now = live.fetch_add(static_cast<std::int64_t>(size)) + static_cast<std::int64_t>(size);
  std::int64_t seen = peak.load();
  while (now > seen && !peak.compare_exchange_weak(seen, now)) {
  }
  return block + kHeader;
}

void Release(void* pointer) noexcept {
  if (pointer == nullptr) return;
  auto* block = static_cast<unsigned char*>(pointer) - kHeader;
  live.fetch_sub(static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(block)));
  std::free(block);
}

void* AllocateOrThrow(std::size_t size) {
  if (void* pointer = Allocate(size)) return pointer;
  throw std::bad_alloc();
}

}  // namespace

std::int64_t LiveBytes() { return live.load(); }
std::int64_t PeakBytes() { return peak.load(); }
void ResetPeakBytes() { peak.store(live.load()); }

}  // namespace vornek::test

void* operator new(std::size_t size) { return vornek::test::AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return vornek::test::AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return vornek::test::Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return vornek::test::Allocate(size); }
void operator delete(void* pointer) noexcept { vornek::test::Release(pointer); }
void operator delete[](void* pointer) noexcept { vornek::test::Release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { vornek::test::Release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { vornek::test::Release(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { vornek::test::Release(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { vornek::test::Release(pointer); }
