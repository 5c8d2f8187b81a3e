// SPDX-License-Identifier: BSD-3-Clause
// The one failure type of the audio components.
#pragma once

#include <stdexcept>
#include <string>

namespace vornek {

/// A component failure. It carries only its message text, in plain English.
class EAuException : public std::runtime_error {
 public:
  explicit EAuException(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace vornek
