// SPDX-License-Identifier: BSD-3-Clause
// MD5 through CryptoAPI (advapi32): a verification-only context of the system's RSA
// provider, which every Windows since 2000 carries, and one hash object on it.
#include "platform/win32/windows_api.h"

#include <wincrypt.h>

#include <algorithm>

#include "platform/md5.h"

namespace vornek::platform {

struct Md5::State {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;

  ~State() { Release(); }
  void Release() {
    if (hash) ::CryptDestroyHash(hash);
    if (provider) ::CryptReleaseContext(provider, 0);
    hash = 0;
    provider = 0;
  }
};

Md5::Md5() : state_(std::make_unique<State>()) {
  if (!::CryptAcquireContextW(&state_->provider, nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    state_->provider = 0;
    return;
  }
  if (!::CryptCreateHash(state_->provider, CALG_MD5, 0, 0, &state_->hash)) {
    state_->hash = 0;
    state_->Release();
  }
}

Md5::~Md5() = default;
Md5::Md5(Md5&& other) noexcept = default;
Md5& Md5::operator=(Md5&& other) noexcept = default;

Md5::operator bool() const { return state_ && state_->hash != 0; }

void Md5::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const BYTE*>(data);
  // CryptHashData takes a 32-bit count.
  while (*this && size > 0) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::CryptHashData(state_->hash, bytes, piece, 0)) state_->Release();
    bytes += piece;
    size -= piece;
  }
}

std::optional<Md5::Digest> Md5::Finish() {
  if (!*this) return std::nullopt;
  Digest digest{};
  DWORD length = static_cast<DWORD>(digest.size());
  const bool ok = ::CryptGetHashParam(state_->hash, HP_HASHVAL, digest.data(), &length, 0) &&
                  length == digest.size();
  state_->Release();
  if (!ok) return std::nullopt;
  return digest;
}

}  // namespace vornek::platform
