// Fuzzes compute_edits with pairs of related trees built from the input: every edit list must
// replay the old tree into the new one and have exactly the number of edits the rules need, and
// a give-up must mean more than 256 edits or a path deeper than 32. Under a limit on the paths'
// key text the same list must come back exactly when its key text fits the limit.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "chat_codec/edit_replay_testing.h"
#include "chat_codec/edits.h"

namespace {

using qv::chat::ArrayValue;
using qv::chat::Kind;
using qv::chat::MessageValue;
using qv::chat::ObjectEntry;
using qv::chat::ObjectValue;
using qv::chat::U16String;

constexpr int kMaxDepth = 36;  // beyond the 32 segments a path may have

U16String text(FuzzedDataProvider& in) {
  static const char16_t kUnits[] = {u'a', u'b', u' ', 0xD83D, 0xDE00, 0xDC00, 0xE9, u'0'};
  U16String s;
  for (int n = in.ConsumeIntegralInRange(0, 5); n > 0; --n)
    s += kUnits[in.ConsumeIntegral<std::uint8_t>() % 8];
  return s;
}

MessageValue value(FuzzedDataProvider& in, int depth) {
  const int kinds = depth >= kMaxDepth ? 5 : 7;
  switch (in.ConsumeIntegralInRange(0, kinds - 1)) {
    case 0:
      return MessageValue::undefined();
    case 1:
      return MessageValue::null();
    case 2:
      return MessageValue::boolean(in.ConsumeBool());
    case 3: {
      static const double kNumbers[] = {0.0, -0.0, 1.0, 2.5, __builtin_nan(""), -1e300};
      return MessageValue::number(kNumbers[in.ConsumeIntegral<std::uint8_t>() % 6]);
    }
    case 4:
      return MessageValue::string(text(in));
    case 5: {
      ArrayValue items;
      for (int n = in.ConsumeIntegralInRange(0, 300) % (depth < 2 ? 300 : 4); n > 0; --n) {
        items.push_back(value(in, depth + 1));
      }
      return MessageValue::array(std::move(items));
    }
    default: {
      ObjectValue entries;
      for (int n = in.ConsumeIntegralInRange(0, 5); n > 0; --n) {
        U16String key(1, static_cast<char16_t>(u'a' + in.ConsumeIntegralInRange(0, 7)));
        bool duplicate = false;
        for (const auto& e : entries) duplicate = duplicate || e.key == key;
        if (!duplicate) entries.push_back(ObjectEntry{key, value(in, depth + 1)});
      }
      return MessageValue::object(std::move(entries));
    }
  }
}

MessageValue mutate(FuzzedDataProvider& in, const MessageValue& v, int depth) {
  const int roll = in.ConsumeIntegralInRange(0, 9);
  if (roll == 0) return value(in, depth);
  switch (v.kind()) {
    case Kind::String:
      return roll < 5 ? MessageValue::string(v.as_string() + text(in)) : v;
    case Kind::Array: {
      ArrayValue items;
      for (const auto& e : v.as_array()) items.push_back(mutate(in, e, depth + 1));
      if (roll == 1 && !items.empty()) items.pop_back();
      if (roll == 2) {
        for (int n = in.ConsumeIntegralInRange(1, 300); n > 0; --n)
          items.push_back(MessageValue::number(n));
      }
      return MessageValue::array(std::move(items));
    }
    case Kind::Object: {
      ObjectValue entries;
      for (const auto& e : v.as_object()) {
        if (roll == 1 && in.ConsumeBool()) continue;
        entries.push_back(ObjectEntry{e.key, mutate(in, e.value, depth + 1)});
      }
      if (roll == 2 && entries.size() > 1) std::swap(entries.front(), entries.back());
      if (roll == 3) {
        U16String key(1, static_cast<char16_t>(u'p' + in.ConsumeIntegralInRange(0, 3)));
        bool duplicate = false;
        for (const auto& e : entries) duplicate = duplicate || e.key == key;
        if (!duplicate) entries.push_back(ObjectEntry{key, value(in, depth + 1)});
      }
      return MessageValue::object(std::move(entries));
    }
    default:
      return roll < 3 ? value(in, depth) : v;
  }
}

std::size_t depth_of(const MessageValue& v) {
  std::size_t deepest = 0;
  if (v.kind() == Kind::Array) {
    for (const auto& e : v.as_array()) deepest = std::max(deepest, 1 + depth_of(e));
  } else if (v.kind() == Kind::Object) {
    for (const auto& e : v.as_object()) deepest = std::max(deepest, 1 + depth_of(e.value));
  }
  return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const MessageValue before = value(in, 0);
  const MessageValue after = mutate(in, before, 0);
  const auto edits = qv::chat::compute_edits(before, after);
  const std::size_t needed = qv::chat::testing_support::needed_edits(before, after);
  if (!edits.ok()) {
    // Deep trees may give up early on a long path even when few edits are needed.
    const bool deep =
        depth_of(before) > qv::chat::MAX_PATH_LENGTH || depth_of(after) > qv::chat::MAX_PATH_LENGTH;
    if (needed <= qv::chat::MAX_EDITS && !deep) std::abort();
    return 0;
  }
  if (edits->size() != needed || edits->size() > qv::chat::MAX_EDITS) std::abort();
  MessageValue replayed = before;
  for (const auto& e : *edits) {
    if (e.path.size() > qv::chat::MAX_PATH_LENGTH) std::abort();
    if (!qv::chat::testing_support::apply(replayed, e)) std::abort();
  }
  if (!qv::chat::testing_support::same(replayed, after)) std::abort();

  std::uint64_t key_bytes = 0;
  for (const auto& e : *edits) {
    for (const auto& segment : e.path) {
      if (segment.is_key()) key_bytes += 2 * segment.key().size();
    }
  }
  const auto limit = in.ConsumeIntegralInRange<std::uint64_t>(0, 2 * key_bytes + 1);
  const auto limited = qv::chat::compute_edits(before, after, limit);
  if (limited.ok() != (key_bytes <= limit)) std::abort();
  if (limited.ok() && limited->size() != edits->size()) std::abort();
  return 0;
}
