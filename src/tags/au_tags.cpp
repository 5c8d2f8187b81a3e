// SPDX-License-Identifier: BSD-3-Clause
#include "tags/au_tags.h"

#include <algorithm>
#include <concepts>
#include <type_traits>
#include <utility>

#include "base/failures.h"
#include "platform/text.h"

namespace vornek {

namespace {

// Keys are ASCII in practice; bytes outside ASCII compare as they are.
char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int CompareKeys(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(FoldCase(a[i]));
    const auto cb = static_cast<unsigned char>(FoldCase(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

template <typename T>
concept Integer = std::integral<T> && !std::same_as<T, bool>;
template <typename T>
concept Number = Integer<T> || std::floating_point<T>;
template <typename T>
concept Text = std::same_as<T, std::string> || std::same_as<T, std::u16string>;

std::u16string AsWide(const std::string& text) { return platform::AnsiToWide(text); }
const std::u16string& AsWide(const std::u16string& text) { return text; }

template <typename A, typename B>
bool Same(const A& a, const B& b) {
  if constexpr (std::same_as<A, B>) {
    return a == b;
  } else if constexpr (Integer<A> && Integer<B>) {
    return std::cmp_equal(a, b);
  } else if constexpr (Number<A> && Number<B>) {
    return static_cast<long double>(a) == static_cast<long double>(b);
  } else if constexpr (Text<A> && Text<B>) {
    return AsWide(a) == AsWide(b);
  } else {
    return false;
  }
}

template <typename T>
std::u16string Decimal(T value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

bool SameTagValue(const TTagValue& a, const TTagValue& b) {
  return std::visit([](const auto& x, const auto& y) { return Same(x, y); }, a, b);
}

// ---------------------------------------------------------------------------------
// TPersistent

void TPersistent::Assign(const TPersistent* source) {
  if (source == nullptr)
    throw EAssignError(FailureText(TFailure::faAssignNothing, ClassName()));
  source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* destination) const {
  throw EAssignError(
      FailureText(TFailure::faAssign, {ClassName(), destination ? destination->ClassName() : "nothing"}));
}

// ---------------------------------------------------------------------------------
// TAuTags

TAuTags::TAuTags() = default;
TAuTags::~TAuTags() = default;

const TAuTags::Entry* TAuTags::Find(const std::string& key) const {
  const auto it = std::lower_bound(
      keys_.begin(), keys_.end(), key,
      [](const Entry& entry, const std::string& k) { return CompareKeys(entry.key, k) < 0; });
  return (it != keys_.end() && CompareKeys(it->key, key) == 0) ? &*it : nullptr;
}

TAuTags::Entry* TAuTags::Find(const std::string& key) {
  return const_cast<Entry*>(std::as_const(*this).Find(key));
}

std::string TAuTags::KeyAt(std::int32_t index) const {
  if (index < 0 || index >= Count()) return {};
  return keys_[static_cast<std::size_t>(index)].key;
}

TTagValue TAuTags::GetValue(const std::string& key) const {
  const Entry* entry = Find(key);
  return entry ? entry->info.Value : TTagValue(TVarNull{});
}

void TAuTags::SetValue(const std::string& key, const TTagValue& value) {
  Entry* entry = Find(key);
  if (!entry) return;
  if (SameTagValue(entry->info.Value, value)) return;
  entry->info.Value = value;
  empty_ = false;
  changed_ = true;
}

std::u16string TAuTags::GetAsText(const std::string& key) const {
  const Entry* entry = Find(key);
  if (!entry) return {};
  return std::visit(
      [](const auto& v) -> std::u16string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::same_as<T, std::u16string>) {
          return v;
        } else if constexpr (std::same_as<T, std::string>) {
          return platform::AnsiToWide(v);
        } else if constexpr (Integer<T> && sizeof(T) <= 4) {
          // Every integer kind up to 32 bits renders as its own value; an unsigned
          // 32-bit value above the signed range keeps its true value.
          return Decimal(static_cast<std::int64_t>(v));
        } else {
          return {};
        }
      },
      entry->info.Value);
}

bool TAuTags::AddKey(const std::string& key, const TTagValue& initial) {
  if (key.empty()) return false;
  const auto it = std::lower_bound(
      keys_.begin(), keys_.end(), key,
      [](const Entry& entry, const std::string& k) { return CompareKeys(entry.key, k) < 0; });
  if (it == keys_.end() || CompareKeys(it->key, key) != 0)
    keys_.insert(it, Entry{key, TTagValueInfo{initial}});
  return true;
}

void TAuTags::Clear() {
  for (Entry& entry : keys_) entry.info.Value = TVarNull{};
  empty_ = true;
  changed_ = true;
}

void TAuTags::Assign(const TPersistent* source) {
  const auto* tags = dynamic_cast<const TAuTags*>(source);
  if (!tags) {
    TPersistent::Assign(source);
    return;
  }
  // Copying a store onto itself would clear it first and copy the cleared values
  // back, losing every tag: it is left as it is instead.
  if (tags == this) return;
  Clear();
  for (std::int32_t i = 0; i < tags->Count(); ++i) {
    const std::string key = tags->KeyAt(i);
    SetValue(key, tags->GetValue(key));
  }
}

void TAuTags::AssignTo(TPersistent* destination) const {
  auto* tags = dynamic_cast<TAuTags*>(destination);
  if (!tags) {
    TPersistent::AssignTo(destination);
    return;
  }
  tags->Assign(this);
}

// ---------------------------------------------------------------------------------
// The rest of the component interface: nothing in Vornek calls these.

bool TAuTags::HandleHookA(std::int32_t handle) { return handle != -1; }

bool TAuTags::HandleHookB(std::int32_t handle) {
  if (handle != -1) Clear();
  return handle != -1;
}

bool TAuTags::HandleHookC(std::int32_t handle) { return handle != -1; }

}  // namespace vornek
