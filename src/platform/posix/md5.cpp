// SPDX-License-Identifier: BSD-3-Clause
// MD5 through OpenSSL's libcrypto (its EVP digest interface).
#include <openssl/evp.h>

#include "platform/md5.h"

namespace vornek::platform {

struct Md5::State {
  struct Free {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> context;
};

Md5::Md5() : state_(std::make_unique<State>()) {
  state_->context.reset(EVP_MD_CTX_new());
  // A library built without MD5 (a FIPS-only configuration) refuses the digest here.
  if (state_->context && EVP_DigestInit_ex(state_->context.get(), EVP_md5(), nullptr) != 1)
    state_->context.reset();
}

Md5::~Md5() = default;
Md5::Md5(Md5&& other) noexcept = default;
Md5& Md5::operator=(Md5&& other) noexcept = default;

Md5::operator bool() const { return state_ && state_->context; }

void Md5::Update(const void* data, std::size_t size) {
  if (!*this || size == 0) return;
  if (EVP_DigestUpdate(state_->context.get(), data, size) != 1) state_->context.reset();
}

std::optional<Md5::Digest> Md5::Finish() {
  if (!*this) return std::nullopt;
  Digest digest{};
  unsigned int length = 0;
  const bool ok = EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) == 1 &&
                  length == digest.size();
  state_->context.reset();
  if (!ok) return std::nullopt;
  return digest;
}

}  // namespace vornek::platform
