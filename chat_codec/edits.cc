#include "chat_codec/edits.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace qv::chat {
namespace {

// Pops the segment pushed at construction, on every way out of the scope.
class PathGuard {
 public:
  PathGuard(WorkingPath& path, WorkingPath::Step step) : path_(path) {
    path_.steps.push_back(step);
  }
  ~PathGuard() { path_.steps.pop_back(); }
  PathGuard(const PathGuard&) = delete;
  PathGuard& operator=(const PathGuard&) = delete;

 private:
  WorkingPath& path_;
};

Status<GiveUp> push_set(WorkingPath& path, const MessageValue& value, EditList& edits) {
  return push_edit(path, EditPayload{EditKind::Set, &value, 0, {}}, edits);
}

bool same_number(double a, double b) {
  // Bit identity keeps +0 and -0 apart; any two NaNs count as equal.
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Compares code units as bytes: char_traits<char16_t> compares one unit at a time, which
// dominates the cost of a long streamed text.
bool same_units(const char16_t* a, const char16_t* b, std::size_t count) {
  return count == 0 || std::memcmp(a, b, count * sizeof(char16_t)) == 0;
}

Status<GiveUp> diff_string(const U16String& old_s, const U16String& new_s,
                           const MessageValue& new_value, WorkingPath& path, EditList& edits) {
  if (new_s.size() == old_s.size() && same_units(old_s.data(), new_s.data(), old_s.size())) {
    return kOk;
  }
  if (new_s.size() > old_s.size() && same_units(old_s.data(), new_s.data(), old_s.size())) {
    std::u16string_view added = std::u16string_view(new_s).substr(old_s.size());
    return push_edit(path, EditPayload{EditKind::Append, nullptr, old_s.size(), added}, edits);
  }
  return push_set(path, new_value, edits);
}

Status<GiveUp> diff_array(const ArrayValue& old_a, const ArrayValue& new_a,
                          const MessageValue& new_value, WorkingPath& path, EditList& edits) {
  if (new_a.size() < old_a.size()) return push_set(path, new_value, edits);
  for (std::size_t i = 0; i < new_a.size(); ++i) {
    PathGuard guard(path, {nullptr, static_cast<std::uint32_t>(i)});
    auto step = i < old_a.size() ? diff_value(old_a[i], new_a[i], path, edits)
                                 : push_set(path, new_a[i], edits);
    if (!step) return step;
  }
  return kOk;
}

bool same_keys(const ObjectValue& old_o, const ObjectValue& new_o) {
  if (old_o.size() != new_o.size()) return false;
  for (std::size_t i = 0; i < old_o.size(); ++i) {
    if (old_o[i].key != new_o[i].key) return false;
  }
  return true;
}

Status<GiveUp> diff_object(const ObjectValue& old_o, const ObjectValue& new_o, WorkingPath& path,
                           EditList& edits) {
  if (same_keys(old_o, new_o)) {
    for (std::size_t i = 0; i < new_o.size(); ++i) {
      PathGuard guard(path, {&new_o[i].key, 0});
      if (auto step = diff_value(old_o[i].value, new_o[i].value, path, edits); !step) return step;
    }
    return kOk;
  }

  std::unordered_map<std::u16string_view, const MessageValue*> old_lookup;
  old_lookup.reserve(old_o.size());
  for (const auto& entry : old_o) old_lookup.emplace(entry.key, &entry.value);
  std::unordered_set<std::u16string_view> new_keys;
  new_keys.reserve(new_o.size());
  for (const auto& entry : new_o) new_keys.insert(entry.key);

  // All removals first, in the old order; then additions and changes in the new order.
  for (const auto& entry : old_o) {
    if (new_keys.contains(entry.key)) continue;
    PathGuard guard(path, {&entry.key, 0});
    if (auto step = push_edit(path, EditPayload{EditKind::Remove, nullptr, 0, {}}, edits); !step) {
      return step;
    }
  }
  for (const auto& entry : new_o) {
    PathGuard guard(path, {&entry.key, 0});
    auto found = old_lookup.find(entry.key);
    auto step = found != old_lookup.end() ? diff_value(*found->second, entry.value, path, edits)
                                          : push_set(path, entry.value, edits);
    if (!step) return step;
  }
  return kOk;
}

}  // namespace

Status<GiveUp> push_edit(WorkingPath& path, const EditPayload& payload, EditList& edits) {
  if (path.steps.size() > MAX_PATH_LENGTH || edits.size() >= MAX_EDITS) return Err{GiveUp{}};
  std::uint64_t key_bytes = 0;
  for (const auto& step : path.steps) {
    if (step.key != nullptr) key_bytes += 2 * static_cast<std::uint64_t>(step.key->size());
  }
  if (key_bytes > path.path_bytes_left) return Err{GiveUp{}};
  path.path_bytes_left -= key_bytes;
  Edit edit;
  edit.kind = payload.kind;
  edit.value = payload.value;
  edit.offset = payload.offset;
  edit.text = payload.text;
  edit.path.reserve(path.steps.size());
  for (const auto& step : path.steps) {
    if (step.key != nullptr) {
      edit.path.push_back(PathSegment::of_key(*step.key));
    } else {
      edit.path.push_back(PathSegment::of_index(step.index));
    }
  }
  edits.push_back(std::move(edit));
  return kOk;
}

Status<GiveUp> diff_value(const MessageValue& old_value, const MessageValue& new_value,
                          WorkingPath& path, EditList& edits) {
  if (path.steps.size() > MAX_PATH_LENGTH) return Err{GiveUp{}};
  if (old_value.kind() != new_value.kind()) return push_set(path, new_value, edits);
  switch (new_value.kind()) {
    case Kind::Undefined:
    case Kind::Null:
      return kOk;
    case Kind::Boolean:
      if (old_value.as_boolean() == new_value.as_boolean()) return kOk;
      return push_set(path, new_value, edits);
    case Kind::Number:
      if (same_number(old_value.as_number(), new_value.as_number())) return kOk;
      return push_set(path, new_value, edits);
    case Kind::String:
      return diff_string(old_value.as_string(), new_value.as_string(), new_value, path, edits);
    case Kind::Array:
      return diff_array(old_value.as_array(), new_value.as_array(), new_value, path, edits);
    case Kind::Object:
      return diff_object(old_value.as_object(), new_value.as_object(), path, edits);
  }
  return kOk;
}

Result<EditList, GiveUp> compute_edits(const MessageValue& old_root, const MessageValue& new_root,
                                       std::uint64_t path_bytes_limit) {
  WorkingPath path;
  path.path_bytes_left = path_bytes_limit;
  EditList edits;
  if (!diff_value(old_root, new_root, path, edits)) return Err{GiveUp{}};
  return edits;
}

}  // namespace qv::chat
