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

// Every edit copies its whole path, so the paths of one delta can repeat a long key once per
// edit: 256 edits below 31 nested keys of 130,000 code units would copy about 2 GB from a message
// of 8 MB. The copied key text is therefore bounded like the number of edits: measured as the
// capture charges a key (two bytes per code unit), it may be at most DELTA_PATH_FACTOR times what
// the new message's capture charged, plus DELTA_PATH_SLACK so that small messages with deep
// paths keep their deltas. Values and appended texts are disjoint parts of the new message, so a
// delta is then at most three times the complete message plus 64 KiB; beyond that, sending the
// complete message is cheaper anyway.
inline constexpr std::uint64_t DELTA_PATH_FACTOR = 2;
inline constexpr std::uint64_t DELTA_PATH_SLACK = 65'536;
inline constexpr std::uint64_t NO_PATH_LIMIT = UINT64_MAX;

// The path text allowed for a delta to a message whose capture charged `message_bytes`.
constexpr std::uint64_t delta_path_limit(std::uint64_t message_bytes) {
  // Captures are charged at most a few MiB, far from overflow; saturate all the same.
  if (message_bytes > (NO_PATH_LIMIT - DELTA_PATH_SLACK) / DELTA_PATH_FACTOR) return NO_PATH_LIMIT;
  return DELTA_PATH_FACTOR * message_bytes + DELTA_PATH_SLACK;
}

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
  // Key text the edits may still copy into their paths, in bytes (two per code unit).
  std::uint64_t path_bytes_left = NO_PATH_LIMIT;
};

// Payload of an edit to record at the current working path.
struct EditPayload {
  EditKind kind = EditKind::Set;
  const MessageValue* value = nullptr;
  std::uint64_t offset = 0;
  std::u16string_view text;
};

// Gives up when the path is too long, the list is full, or the path's key text is more than
// the path's allowance left (which it then takes).
Status<GiveUp> push_edit(WorkingPath& path, const EditPayload& payload, EditList& edits);
Status<GiveUp> diff_value(const MessageValue& old_value, const MessageValue& new_value,
                          WorkingPath& path, EditList& edits);
// Gives up, besides the limits above, when the edits' paths together would copy more than
// `path_bytes_limit` of key text (see delta_path_limit).
Result<EditList, GiveUp> compute_edits(const MessageValue& old_root, const MessageValue& new_root,
                                       std::uint64_t path_bytes_limit = NO_PATH_LIMIT);

}  // namespace qv::chat
