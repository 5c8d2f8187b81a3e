// SPDX-License-Identifier: BSD-3-Clause
// The base of every component: a name and the removal notification.
//
// Components are owned by whoever created them (a std::unique_ptr in the owner).
// Notification is how an owner tells a component that another one is about to go, so
// that it lets go of any pointer to it (an output whose input is removed stops and
// drops it). The conversion window never needs to send it: it frees its output, which
// stops using its input, before the input.
#pragma once

#include <string>

namespace vornek {

enum class TOperation { opInsert, opRemove };

class TComponent {
 public:
  TComponent() = default;
  virtual ~TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  /// Called by the owner when `component` is inserted or about to be removed.
  virtual void Notification(TComponent* /*component*/, TOperation /*operation*/) {}

  // Part of the component interface; the conversion window names its components,
  // and nothing in Vornek reads the name back.
  std::string Name;
};

}  // namespace vornek
