// SPDX-License-Identifier: BSD-3-Clause
// The keyed tag store an output writes into the file it produces.
//
// A subclass declares its keys in its constructor (AddKey); afterwards values are read
// and replaced, but no key is added or removed. Keys are narrow text, kept sorted and
// looked up without regard to case. Values are variants; every key starts as null.
//
// Threads: the store has no lock. The host fills or clears it before the owning output
// runs; the output's worker only reads it during a run.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace vornek {

/// The "unassigned" kind: a value that was never given one.
struct TVarUnassigned {
  bool operator==(const TVarUnassigned&) const = default;
};
/// The "null" kind: the store's mark for a key without a value.
struct TVarNull {
  bool operator==(const TVarNull&) const = default;
};

/// A tag value. The store renders integers and texts; the floating-point, Boolean and
/// 64-bit kinds can be stored and copied but read as empty text.
using TTagValue = std::variant<TVarUnassigned, TVarNull, std::int8_t, std::int16_t, std::int32_t,
                               std::uint8_t, std::uint16_t, std::uint32_t, std::u16string,
                               std::string, std::int64_t, std::uint64_t, double, float, bool>;

/// The store's sameness rule: null is the same only as null, unassigned only as
/// unassigned; numbers compare by numeric value whatever their width; the two text
/// kinds compare case-sensitively by their UTF-16 form; Booleans only with Booleans.
/// Values of different families (a number and a text, say) are never the same.
bool SameTagValue(const TTagValue& a, const TTagValue& b);

/// Raised when Assign/AssignTo meet an object that cannot be copied from or into.
class EAssignError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The persistent-object base: two virtual copy operations. Neither knows how to copy
/// anything; a descendant overrides the one that knows its partner's type.
class TPersistent {
 public:
  TPersistent() = default;
  virtual ~TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;

  /// Copies `source` into this object. The base asks the source to copy itself
  /// (AssignTo) and fails with EAssignError when it cannot (a null source included).
  virtual void Assign(const TPersistent* source);
  /// Copies this object into `destination`; the base fails with EAssignError.
  virtual void AssignTo(TPersistent* destination) const;
  virtual const char* ClassName() const { return "TPersistent"; }
};

/// One key's value record, owned by its entry in the key list.
struct TTagValueInfo {
  TTagValue Value;
};

class TAuTags : public TPersistent {
 public:
  /// An empty key list; Empty is true, Changed false. Subclasses then call AddKey.
  TAuTags();
  ~TAuTags() override;

  void Assign(const TPersistent* source) override;
  void AssignTo(TPersistent* destination) const override;
  const char* ClassName() const override { return "TAuTags"; }

  /// The number of declared keys.
  std::int32_t Count() const { return static_cast<std::int32_t>(keys_.size()); }
  /// The key at `index` in sorted order; empty text when out of range.
  std::string KeyAt(std::int32_t index) const;

  /// A copy of the key's value; null when the key is not declared.
  TTagValue GetValue(const std::string& key) const;
  /// Replaces the value of a declared key (an undeclared key is ignored). A value the
  /// same as the stored one changes nothing; any other sets Empty false and Changed true.
  void SetValue(const std::string& key, const TTagValue& value);
  /// The value as UTF-16 text: integers in decimal, texts as they are, anything else
  /// (null included) and undeclared keys as empty text.
  std::u16string GetAsText(const std::string& key) const;

  /// Declares `key` with `initial` (kept as is if the key exists). False for an empty key.
  bool AddKey(const std::string& key, const TTagValue& initial);
  /// Resets every value to null; Empty and Changed become true. Keys stay.
  void Clear();

  bool Empty() const { return empty_; }
  bool Changed() const { return changed_; }

 private:
  struct Entry {
    std::string key;
    TTagValueInfo info;
  };
  /// The entry of `key`, or null.
  const Entry* Find(const std::string& key) const;
  Entry* Find(const std::string& key);

  std::vector<Entry> keys_;  // sorted by case-insensitive key
  bool empty_ = true;
  bool changed_ = false;

  // ---------------------------------------------------------------------------------
  // The rest of the component interface: nothing in Vornek calls these hooks, which
  // take a handle (-1: no handle). A and C answer whether there is a handle; B clears
  // the store first when there is one.
 public:
  virtual bool HandleHookA(std::int32_t handle);
  virtual bool HandleHookB(std::int32_t handle);
  virtual bool HandleHookC(std::int32_t handle);
};

}  // namespace vornek
