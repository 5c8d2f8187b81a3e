// The base of every component: a name and the removal notification.
//
// Components are owned by whoever created them (a std::unique_ptr in the owner). When
// an owner frees one of its components it first tells the others, through
// Notification, so that none keeps a pointer to it.
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

  std::string Name;
};

}  // namespace vornek
