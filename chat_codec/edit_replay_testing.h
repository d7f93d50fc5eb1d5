// For tests and fuzzing of compute_edits: an applier that replays edits on a copy of the old
// tree, and equality with key order ignored (-0, NaN and undefined told apart), written
// independently of the comparison itself.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "chat_codec/edits.h"
#include "chat_codec/message_value.h"

namespace qv::chat::testing_support {

inline bool same(const MessageValue& a, const MessageValue& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Kind::Undefined:
    case Kind::Null:
      return true;
    case Kind::Boolean:
      return a.as_boolean() == b.as_boolean();
    case Kind::Number:
      if (std::isnan(a.as_number())) return std::isnan(b.as_number());
      return std::bit_cast<std::uint64_t>(a.as_number()) ==
             std::bit_cast<std::uint64_t>(b.as_number());
    case Kind::String:
      return a.as_string() == b.as_string();
    case Kind::Array: {
      const auto &x = a.as_array(), &y = b.as_array();
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (!same(x[i], y[i])) return false;
      }
      return true;
    }
    case Kind::Object: {
      const auto &x = a.as_object(), &y = b.as_object();
      if (x.size() != y.size()) return false;
      for (const auto& e : x) {
        bool found = false;
        for (const auto& f : y) {
          if (f.key == e.key) {
            if (!same(e.value, f.value)) return false;
            found = true;
          }
        }
        if (!found) return false;
      }
      return true;
    }
  }
  return false;
}

// Applies one edit; returns false when the edit does not fit the tree it is applied to.
inline bool apply(MessageValue& root, const Edit& edit) {
  MessageValue* at = &root;
  for (std::size_t i = 0; i < edit.path.size(); ++i) {
    const auto& seg = edit.path[i];
    bool last = i + 1 == edit.path.size();
    if (seg.is_key()) {
      if (at->kind() != Kind::Object) return false;
      auto& entries = at->as_object();
      MessageValue* next = nullptr;
      for (auto& e : entries) {
        if (e.key == seg.key()) next = &e.value;
      }
      if (next == nullptr) {
        if (!last || edit.kind != EditKind::Set) return false;
        entries.push_back(ObjectEntry{seg.key(), *edit.value});
        return true;
      }
      if (last && edit.kind == EditKind::Remove) {
        std::erase_if(entries, [&](const ObjectEntry& e) { return e.key == seg.key(); });
        return true;
      }
      at = next;
    } else {
      if (at->kind() != Kind::Array) return false;
      auto& items = at->as_array();
      if (seg.index() == items.size() && last && edit.kind == EditKind::Set) {
        items.push_back(*edit.value);
        return true;
      }
      if (seg.index() >= items.size()) return false;
      at = &items[seg.index()];
    }
  }
  switch (edit.kind) {
    case EditKind::Set:
      *at = *edit.value;
      return true;
    case EditKind::Remove:
      return false;  // removing the whole message or an array element is never produced
    case EditKind::Append:
      if (at->kind() != Kind::String || at->as_string().size() != edit.offset) return false;
      std::get<U16String>(at->payload).append(edit.text);
      return true;
  }
  return false;
}

// How many edits the rules need to turn `a` into `b` (same kinds compared member by member,
// arrays growing element by element, a shrinking array or any other change one edit).
inline std::size_t needed_edits(const MessageValue& a, const MessageValue& b) {
  if (a.kind() != b.kind()) return 1;
  switch (a.kind()) {
    case Kind::Array: {
      const auto &x = a.as_array(), &y = b.as_array();
      if (y.size() < x.size()) return 1;
      std::size_t n = y.size() - x.size();
      for (std::size_t i = 0; i < x.size(); ++i) n += needed_edits(x[i], y[i]);
      return n;
    }
    case Kind::Object: {
      const auto &x = a.as_object(), &y = b.as_object();
      std::size_t n = 0;
      for (const auto& e : x) {
        bool kept =
            std::any_of(y.begin(), y.end(), [&](const ObjectEntry& f) { return f.key == e.key; });
        n += kept ? 0 : 1;
      }
      for (const auto& f : y) {
        auto old =
            std::find_if(x.begin(), x.end(), [&](const ObjectEntry& e) { return e.key == f.key; });
        n += old == x.end() ? 1 : needed_edits(old->value, f.value);
      }
      return n;
    }
    default:
      return same(a, b) ? 0 : 1;
  }
}

}  // namespace qv::chat::testing_support
