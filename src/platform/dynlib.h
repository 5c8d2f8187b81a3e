// SPDX-License-Identifier: BSD-3-Clause
// Run-time loading of a shared library and lookup of its entries.
#pragma once

#include <string>

namespace vornek::platform {

/// A loaded shared library. Move-only; the library is unloaded when the object is
/// destroyed, unless Keep() was called (the library then stays for the life of the
/// process).
class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  /// Loads `name` with the platform loader's standard search; the result is empty
  /// (false) when it cannot be loaded.
  static DynamicLibrary Load(const std::string& name);
  /// The library `name` when the process has it loaded already (the host linked it, or
  /// loaded it); empty otherwise. Nothing new is loaded.
  static DynamicLibrary Loaded(const std::string& name);

  explicit operator bool() const { return handle_ != nullptr; }

  /// The address of the exported entry `name`, or null when there is none.
  void* Symbol(const char* name) const;

  /// Never unload this library.
  void Keep() { kept_ = true; }

 private:
  void* handle_ = nullptr;
  bool kept_ = false;
};

}  // namespace vornek::platform
