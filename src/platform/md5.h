// SPDX-License-Identifier: BSD-3-Clause
// MD5 digests, from the platform's own cryptographic service: the system's crypto
// library (OpenSSL's libcrypto) on POSIX, CryptoAPI on Windows.
//
// The FLAC writer signs the samples of a stream it joins from several encoders with
// it; MD5 is what the FLAC format asks for there, not a security measure.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace vornek::platform {

/// An MD5 digest computed over bytes handed over in pieces. Move-only; used by one
/// thread at a time (any thread).
class Md5 {
 public:
  using Digest = std::array<std::uint8_t, 16>;

  /// Starts a digest. When the platform's service cannot provide one, the object is
  /// false and Finish answers nothing.
  Md5();
  ~Md5();
  Md5(Md5&& other) noexcept;
  Md5& operator=(Md5&& other) noexcept;
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  /// True while the digest is usable: the service provided it and no Update failed.
  explicit operator bool() const;

  /// Adds `size` bytes; any size, 0 included.
  void Update(const void* data, std::size_t size);

  /// The digest of every byte added, or nothing when the object is false. The object
  /// is spent afterwards (false).
  std::optional<Digest> Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vornek::platform
