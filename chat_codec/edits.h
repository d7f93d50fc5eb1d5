// Comparison of two captured messages into an ordered list of "set", "remove" and "append" edits.
// Pure native logic: no JavaScript engine is involved, and neither tree is modified.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "chat_codec/message_value.h"
#include "qv/result.h"

namespace qv::chat {

inline constexpr std::size_t MAX_PATH_LENGTH = 32;
inline constexpr std::size_t MAX_EDITS = 256;

// One step from a container to a child: an object key (owned copy) or an array index.
struct PathSegment {
  static PathSegment of_key(U16String key) { return PathSegment{true, std::move(key), 0}; }
  static PathSegment of_index(std::uint32_t index) { return PathSegment{false, {}, index}; }

  bool is_key() const { return key_step; }
  const U16String& key() const { return key_text; }
  std::uint32_t index() const { return array_index; }

  bool key_step = false;
  U16String key_text;
  std::uint32_t array_index = 0;
};

using Path = std::vector<PathSegment>;

enum class EditKind : std::uint8_t { Set, Remove, Append };

// One change. `value` and `text` point into the new tree, which must outlive the edit.
struct Edit {
  EditKind kind = EditKind::Set;
  Path path;
  const MessageValue* value = nullptr;  // Set
  std::uint64_t offset = 0;             // Append: old length in code units
  std::u16string_view text;             // Append: the code units added at the end
};

using EditList = std::vector<Edit>;

// Not an error: the change is too large to express, so the complete message is to be sent.
struct GiveUp {};

// Working path while descending; pushed and popped by diff_value.
struct WorkingPath {
  // Views into the two trees; copied into an Edit only when one is recorded.
  struct Step {
    const U16String* key = nullptr;
    std::uint32_t index = 0;
  };
  std::vector<Step> steps;
};

// Payload of an edit to record at the current working path.
struct EditPayload {
  EditKind kind = EditKind::Set;
  const MessageValue* value = nullptr;
  std::uint64_t offset = 0;
  std::u16string_view text;
};

Status<GiveUp> push_edit(const WorkingPath& path, const EditPayload& payload, EditList& edits);
Status<GiveUp> diff_value(const MessageValue& old_value, const MessageValue& new_value,
                          WorkingPath& path, EditList& edits);
Result<EditList, GiveUp> compute_edits(const MessageValue& old_root, const MessageValue& new_root);

}  // namespace qv::chat
