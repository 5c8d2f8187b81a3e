// SPDX-License-Identifier: BSD-3-Clause
// Run-time loading on Windows: LoadLibraryExA with the loader's standard search.
#include "platform/win32/windows_api.h"

#include "platform/dynlib.h"

namespace vornek::platform {

namespace {
HMODULE Module(void* handle) { return static_cast<HMODULE>(handle); }
}  // namespace

DynamicLibrary::~DynamicLibrary() {
  if (handle_ && !kept_) ::FreeLibrary(Module(handle_));
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(other.handle_), kept_(other.kept_) {
  other.handle_ = nullptr;
}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_ && !kept_) ::FreeLibrary(Module(handle_));
    handle_ = other.handle_;
    kept_ = other.kept_;
    other.handle_ = nullptr;
  }
  return *this;
}

DynamicLibrary DynamicLibrary::Load(const std::string& name) {
  DynamicLibrary library;
  library.handle_ = ::LoadLibraryExA(name.c_str(), nullptr, 0);
  return library;
}

DynamicLibrary DynamicLibrary::Loaded(const std::string& name) {
  DynamicLibrary library;
  HMODULE module = nullptr;
  // Flags 0: the module's reference count goes up, as LoadLibrary's would.
  if (::GetModuleHandleExA(0, name.c_str(), &module)) library.handle_ = module;
  return library;
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (!handle_) return nullptr;
  // GetProcAddress answers with a generic function pointer; the binding casts it
  // to the entry's own prototype.
  return reinterpret_cast<void*>(::GetProcAddress(Module(handle_), name));
}

}  // namespace vornek::platform
