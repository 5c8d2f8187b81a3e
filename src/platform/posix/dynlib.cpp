// SPDX-License-Identifier: BSD-3-Clause
#include <dlfcn.h>

#include "platform/dynlib.h"

namespace vornek::platform {

DynamicLibrary::~DynamicLibrary() {
  if (handle_ && !kept_) ::dlclose(handle_);
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(other.handle_), kept_(other.kept_) {
  other.handle_ = nullptr;
}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_ && !kept_) ::dlclose(handle_);
    handle_ = other.handle_;
    kept_ = other.kept_;
    other.handle_ = nullptr;
  }
  return *this;
}

DynamicLibrary DynamicLibrary::Load(const std::string& name) {
  DynamicLibrary library;
  library.handle_ = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  return library;
}

DynamicLibrary DynamicLibrary::Loaded(const std::string& name) {
  DynamicLibrary library;
  library.handle_ = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  return library;
}

void* DynamicLibrary::Symbol(const char* name) const {
  return handle_ ? ::dlsym(handle_, name) : nullptr;
}

}  // namespace vornek::platform
