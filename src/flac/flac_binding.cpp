// SPDX-License-Identifier: BSD-3-Clause
#include "flac/flac_binding.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/dynlib.h"
#include "platform/flac_library_names.h"

namespace vornek {

namespace {

/// The process-wide lock of the binding: the test, the load and the whole binding are
/// one step under it. It lives from its first use to the end of the process.
std::recursive_mutex& ModuleLock() {
  static std::recursive_mutex lock;
  return lock;
}

// All of it is written only under ModuleLock; the flag is atomic so that it may also
// be read without the lock.
TLibFLAC g_slots;
std::atomic<bool> g_loaded{false};
std::optional<std::vector<std::string>> g_names_override;
std::string g_loaded_name;  ///< the name that loaded; empty for slots a test installed
int g_bind_count = 0;

#define VORNEK_LIBFLAC_NAME(slot, prototype, use) #slot,
constexpr std::array<const char*, kLibFLACEntryCount> kNames = {
    VORNEK_LIBFLAC_ENTRIES(VORNEK_LIBFLAC_NAME)};
#undef VORNEK_LIBFLAC_NAME

void Bind(const platform::DynamicLibrary& library, TLibFLAC& slots) {
#define VORNEK_LIBFLAC_BIND(slot, prototype, use) \
  slots.slot = reinterpret_cast<decltype(slots.slot)>(library.Symbol(#slot));
  VORNEK_LIBFLAC_ENTRIES(VORNEK_LIBFLAC_BIND)
#undef VORNEK_LIBFLAC_BIND
  slots.FLAC__stream_encoder_set_do_md5 =
      reinterpret_cast<TSetDoMd5>(library.Symbol("FLAC__stream_encoder_set_do_md5"));
}

std::vector<std::string> NamesToTry() {
  return g_names_override ? *g_names_override : platform::FlacLibraryNames();
}

}  // namespace

const std::array<const char*, kLibFLACEntryCount>& LibFLACEntryNames() { return kNames; }

void LoadLibFLAC() {
  std::lock_guard lock(ModuleLock());
  if (g_loaded.load()) return;
  const std::vector<std::string> names = NamesToTry();
  // A libFLAC the process has already (the host's own) comes first: libFLAC calls its
  // own exported entries through the process's symbols, so a second libFLAC beside it
  // would run the first one's code with its own structures.
  for (const auto load : {&platform::DynamicLibrary::Loaded, &platform::DynamicLibrary::Load}) {
    for (const std::string& name : names) {
      platform::DynamicLibrary library = load(name);
      if (!library) continue;
      // The library stays for the life of the process: its entries are kept in
      // process-wide slots that nothing ever clears.
      library.Keep();
      TLibFLAC slots;
      Bind(library, slots);
      g_slots = slots;
      g_loaded_name = name;
      ++g_bind_count;
      // Set last, so that even a reader of the flag alone never finds half the slots.
      g_loaded.store(true);
      return;
    }
  }
}

bool LibFLACLoaded() { return g_loaded.load(); }

const TLibFLAC& LibFLAC() { return g_slots; }

std::vector<std::string> LibFLACNamesTried() {
  std::lock_guard lock(ModuleLock());
  return NamesToTry();
}

std::string LoadedLibFLACName() {
  std::lock_guard lock(ModuleLock());
  return g_loaded.load() ? g_loaded_name : std::string();
}

namespace libflac_testing {

void UseLibraryNames(std::vector<std::string> names) {
  std::lock_guard lock(ModuleLock());
  if (names.empty())
    g_names_override.reset();
  else
    g_names_override = std::move(names);
}

void ForgetBinding() {
  std::lock_guard lock(ModuleLock());
  g_loaded.store(false);
  g_slots = TLibFLAC{};
}

void InstallSlots(const TLibFLAC& slots) {
  std::lock_guard lock(ModuleLock());
  g_slots = slots;
  g_loaded_name.clear();
  g_loaded.store(true);
}

int BindCount() {
  std::lock_guard lock(ModuleLock());
  return g_bind_count;
}

}  // namespace libflac_testing

}  // namespace vornek
