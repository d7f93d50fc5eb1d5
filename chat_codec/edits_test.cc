// compute_edits against hand-written expectations and against an independent applier that
// replays the edits on the old tree.
#include "chat_codec/edits.h"

#include "chat_codec/edit_replay_testing.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace qv::chat {
namespace {

using testing_support::apply;
using testing_support::same;

// ---- building trees ----
MessageValue U() {
  return MessageValue::undefined();
}
MessageValue N() {
  return MessageValue::null();
}
MessageValue B(bool b) {
  return MessageValue::boolean(b);
}
MessageValue D(double d) {
  return MessageValue::number(d);
}
MessageValue S(std::u16string s) {
  return MessageValue::string(std::move(s));
}
MessageValue A(std::vector<MessageValue> items) {
  return MessageValue::array(std::move(items));
}
MessageValue O(std::vector<std::pair<std::u16string, MessageValue>> members) {
  ObjectValue entries;
  for (auto& [k, v] : members) entries.push_back(ObjectEntry{k, std::move(v)});
  return MessageValue::object(std::move(entries));
}

// ---- rendering, for readable expectations ----
std::string narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += "\\u" + std::to_string(static_cast<unsigned>(c));
    }
  }
  return out;
}

std::string render(const MessageValue& v) {
  switch (v.kind()) {
    case Kind::Undefined:
      return "undefined";
    case Kind::Null:
      return "null";
    case Kind::Boolean:
      return v.as_boolean() ? "true" : "false";
    case Kind::Number: {
      double d = v.as_number();
      if (std::isnan(d)) return "NaN";
      if (d == 0 && std::signbit(d)) return "-0";
      std::string s = std::to_string(d);
      s.erase(s.find_last_not_of('0') + 1);
      if (s.back() == '.') s.pop_back();
      return s;
    }
    case Kind::String:
      return "\"" + narrow(v.as_string()) + "\"";
    case Kind::Array: {
      std::string s = "[";
      for (const auto& e : v.as_array()) s += (s.size() > 1 ? "," : "") + render(e);
      return s + "]";
    }
    case Kind::Object: {
      std::string s = "{";
      for (const auto& e : v.as_object()) {
        s += (s.size() > 1 ? "," : "") + narrow(e.key) + ":" + render(e.value);
      }
      return s + "}";
    }
  }
  return "?";
}

std::string render(const Edit& e) {
  std::string path = "/";
  for (std::size_t i = 0; i < e.path.size(); ++i) {
    if (i) path += "/";
    path += e.path[i].is_key() ? narrow(e.path[i].key()) : std::to_string(e.path[i].index());
  }
  switch (e.kind) {
    case EditKind::Set:
      return "set " + path + " " + render(*e.value);
    case EditKind::Remove:
      return "remove " + path;
    case EditKind::Append:
      return "append " + path + " @" + std::to_string(e.offset) + " \"" + narrow(e.text) + "\"";
  }
  return "?";
}

std::vector<std::string> render(const EditList& edits) {
  std::vector<std::string> out;
  for (const auto& e : edits) out.push_back(render(e));
  return out;
}

void expect_replays(const MessageValue& old_root, const MessageValue& new_root,
                    const EditList& edits) {
  MessageValue replayed = old_root;
  for (const auto& e : edits) ASSERT_TRUE(apply(replayed, e)) << render(e);
  EXPECT_TRUE(same(replayed, new_root)) << render(replayed) << " vs " << render(new_root);
}

struct Case {
  const char* name;
  MessageValue old_root;
  MessageValue new_root;
  std::vector<std::string> expected;
};

TEST(ComputeEdits, EditOrderAndRules) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<Case> cases;
  cases.push_back(
      {"identical", O({{u"a", A({D(1), S(u"x")})}}), O({{u"a", A({D(1), S(u"x")})}}), {}});
  cases.push_back({"root kind change", O({{u"a", D(1)}}), S(u"a"), {"set / \"a\""}});
  cases.push_back({"root primitive change", D(1), D(2), {"set / 2"}});
  cases.push_back({"root string append", S(u"ab"), S(u"abc"), {"append / @2 \"c\""}});
  cases.push_back({"string shrink", S(u"abc"), S(u"ab"), {"set / \"ab\""}});
  cases.push_back({"string same length", S(u"abc"), S(u"abd"), {"set / \"abd\""}});
  cases.push_back({"string other prefix", S(u"abc"), S(u"xbcd"), {"set / \"xbcd\""}});
  cases.push_back({"empty to x", S(u""), S(u"x"), {"append / @0 \"x\""}});
  cases.push_back(
      {"astral counts two", S(u"a\U0001F600"), S(u"a\U0001F600b"), {"append / @3 \"b\""}});
  cases.push_back(
      {"array grows", A({D(1), D(2)}), A({D(1), D(2), D(3), D(4)}), {"set /2 3", "set /3 4"}});
  cases.push_back({"array shrinks",
                   O({{u"l", A({D(1), D(2), D(3)})}}),
                   O({{u"l", A({D(1), D(2)})}}),
                   {"set /l [1,2]"}});
  cases.push_back({"array element", A({D(1), D(2)}), A({D(1), D(5)}), {"set /1 5"}});
  cases.push_back({"empty arrays", A({}), A({}), {}});
  cases.push_back({"same shape",
                   O({{u"a", D(1)}, {u"b", D(2)}}),
                   O({{u"a", D(1)}, {u"b", D(3)}}),
                   {"set /b 3"}});
  cases.push_back({"removal then addition",
                   O({{u"a", D(1)}, {u"b", D(2)}}),
                   O({{u"b", D(2)}, {u"c", D(3)}}),
                   {"remove /a", "set /c 3"}});
  cases.push_back(
      {"reorder only", O({{u"a", D(1)}, {u"b", D(2)}}), O({{u"b", D(2)}, {u"a", D(1)}}), {}});
  cases.push_back({"to empty object", O({{u"a", D(1)}}), O({}), {"remove /a"}});
  cases.push_back({"removals in old order, rest in new order",
                   O({{u"x", D(1)}, {u"a", D(1)}, {u"y", D(1)}, {u"b", S(u"p")}}),
                   O({{u"n", D(9)}, {u"b", S(u"pq")}, {u"a", D(2)}}),
                   {"remove /x", "remove /y", "set /n 9", "append /b @1 \"q\"", "set /a 2"}});
  cases.push_back({"zero to negative zero", D(0), D(-0.0), {"set / -0"}});
  cases.push_back({"NaN to NaN", A({D(nan)}), A({D(nan)}), {}});
  cases.push_back({"undefined vs null", O({{u"a", U()}}), O({{u"a", N()}}), {"set /a null"}});
  cases.push_back({"undefined member added", O({}), O({{u"a", U()}}), {"set /a undefined"}});
  cases.push_back({"boolean", B(true), B(false), {"set / false"}});
  cases.push_back({"nested path",
                   O({{u"items", A({D(0), D(1), D(2), O({{u"title", S(u"a")}})})}}),
                   O({{u"items", A({D(0), D(1), D(2), O({{u"title", S(u"b")}})})}}),
                   {"set /items/3/title \"b\""}});
  cases.push_back({"depth first",
                   O({{u"a", A({S(u"x"), S(u"y")})}, {u"b", D(1)}}),
                   O({{u"a", A({S(u"xx"), S(u"z"), D(7)})}, {u"b", D(2)}}),
                   {"append /a/0 @1 \"x\"", "set /a/1 \"z\"", "set /a/2 7", "set /b 2"}});

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto edits = compute_edits(c.old_root, c.new_root);
    ASSERT_TRUE(edits.ok());
    EXPECT_EQ(render(*edits), c.expected);
    expect_replays(c.old_root, c.new_root, *edits);
  }
}

TEST(ComputeEdits, EditsReferToTheNewTree) {
  MessageValue old_root = O({{u"t", S(u"hel")}, {u"v", D(1)}});
  MessageValue new_root = O({{u"t", S(u"hello")}, {u"v", D(2)}});
  auto edits = compute_edits(old_root, new_root);
  ASSERT_TRUE(edits.ok());
  ASSERT_EQ(edits->size(), 2u);
  const auto& text = new_root.as_object()[0].value.as_string();
  EXPECT_EQ((*edits)[0].text.data(), text.data() + 3);
  EXPECT_EQ((*edits)[1].value, &new_root.as_object()[1].value);
}

// An array growing from 0 to n elements needs exactly n edits.
TEST(ComputeEdits, GivesUpBeyond256Edits) {
  struct Limit {
    std::size_t added;
    bool gives_up;
  };
  for (Limit limit : {Limit{255, false}, Limit{256, false}, Limit{257, true}, Limit{1000, true}}) {
    SCOPED_TRACE(limit.added);
    std::vector<MessageValue> items;
    for (std::size_t i = 0; i < limit.added; ++i) items.push_back(D(static_cast<double>(i)));
    MessageValue old_root = O({{u"a", A({})}});
    MessageValue new_root = O({{u"a", A(std::move(items))}});
    auto edits = compute_edits(old_root, new_root);
    EXPECT_EQ(!edits.ok(), limit.gives_up);
    if (edits.ok()) {
      EXPECT_EQ(edits->size(), limit.added);
      expect_replays(old_root, new_root, *edits);
    }
  }
  // Removals count too: 200 removed keys and 57 added ones are 257 edits.
  std::vector<std::pair<std::u16string, MessageValue>> before, after;
  for (int i = 0; i < 200; ++i)
    before.emplace_back(u"o" + std::u16string(1, u'a' + i % 26) + std::u16string(1, u'a' + i / 26),
                        D(i));
  for (int i = 0; i < 57; ++i)
    after.emplace_back(u"n" + std::u16string(1, u'a' + i % 26) + std::u16string(1, u'a' + i / 26),
                       D(i));
  EXPECT_FALSE(compute_edits(O(before), O(after)).ok());
  after.pop_back();
  auto edits = compute_edits(O(before), O(after));
  ASSERT_TRUE(edits.ok());
  EXPECT_EQ(edits->size(), 256u);
}

MessageValue nest(std::size_t depth, MessageValue leaf) {
  MessageValue v = std::move(leaf);
  for (std::size_t i = 0; i < depth; ++i) v = A({std::move(v)});
  return v;
}

// A change at path length p: p = 32 is delivered, anything longer gives up.
TEST(ComputeEdits, GivesUpOnPathsLongerThan32) {
  for (std::size_t depth : {std::size_t{31}, std::size_t{32}, std::size_t{33}, std::size_t{40}}) {
    SCOPED_TRACE(depth);
    auto edits = compute_edits(nest(depth, D(1)), nest(depth, D(2)));
    EXPECT_EQ(edits.ok(), depth <= MAX_PATH_LENGTH);
    if (edits.ok()) {
      ASSERT_EQ(edits->size(), 1u);
      EXPECT_EQ((*edits)[0].path.size(), depth);
    }
  }
  // Equal deep trees need no edit, but the walk still refuses to descend past 32 segments.
  EXPECT_TRUE(compute_edits(nest(32, D(1)), nest(32, D(1))).ok());
  EXPECT_FALSE(compute_edits(nest(34, D(1)), nest(34, D(1))).ok());
}

TEST(PushEdit, CopiesThePathAndRefusesThe257th) {
  U16String key = u"k";
  WorkingPath path;
  path.steps.push_back({&key, 0});
  path.steps.push_back({nullptr, 7});
  EditList edits;
  MessageValue v = D(1);
  for (std::size_t i = 0; i < MAX_EDITS; ++i) {
    ASSERT_TRUE(push_edit(path, EditPayload{EditKind::Set, &v, 0, {}}, edits).ok());
  }
  key = u"changed";
  EXPECT_EQ(render(edits.front()), "set /k/7 1");
  EXPECT_FALSE(push_edit(path, EditPayload{EditKind::Remove, nullptr, 0, {}}, edits).ok());
  EXPECT_EQ(edits.size(), MAX_EDITS);
}

// Random pairs of related trees: the edit list always replays the old tree into the new one.
class RandomTrees {
 public:
  explicit RandomTrees(unsigned seed) : rng_(seed) {}

  MessageValue value(int depth) {
    switch (pick(depth > 3 ? 5 : 7)) {
      case 0:
        return U();
      case 1:
        return N();
      case 2:
        return B(pick(2) == 1);
      case 3:
        return D(pick(4) == 0 ? -0.0 : static_cast<double>(pick(5)));
      case 4:
        return S(text());
      case 5: {
        std::vector<MessageValue> items;
        for (int i = pick(4); i > 0; --i) items.push_back(value(depth + 1));
        return A(std::move(items));
      }
      default: {
        std::vector<std::pair<std::u16string, MessageValue>> members;
        for (int i = pick(5); i > 0; --i) {
          std::u16string k(1, static_cast<char16_t>(u'a' + pick(6)));
          bool dup = false;
          for (auto& m : members) dup = dup || m.first == k;
          if (!dup) members.emplace_back(k, value(depth + 1));
        }
        return O(std::move(members));
      }
    }
  }

  // A variant of v: some parts kept, some grown, reordered, removed or replaced.
  MessageValue mutate(const MessageValue& v, int depth) {
    int roll = pick(10);
    if (roll == 0) return value(depth);
    switch (v.kind()) {
      case Kind::String:
        return roll < 5 ? S(v.as_string() + text()) : v;
      case Kind::Array: {
        std::vector<MessageValue> items;
        for (const auto& e : v.as_array()) items.push_back(mutate(e, depth + 1));
        if (roll == 1 && !items.empty()) items.pop_back();
        if (roll == 2) items.push_back(value(depth + 1));
        return A(std::move(items));
      }
      case Kind::Object: {
        std::vector<std::pair<std::u16string, MessageValue>> members;
        for (const auto& e : v.as_object()) {
          if (roll == 1 && pick(3) == 0) continue;
          members.emplace_back(e.key, mutate(e.value, depth + 1));
        }
        if (roll == 2 && !members.empty()) std::swap(members.front(), members.back());
        if (roll == 3) {
          std::u16string k(1, static_cast<char16_t>(u'p' + pick(4)));
          bool dup = false;
          for (auto& m : members) dup = dup || m.first == k;
          if (!dup) members.emplace_back(k, value(depth + 1));
        }
        return O(std::move(members));
      }
      default:
        return roll < 3 ? value(depth) : v;
    }
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  std::u16string text() {
    static const char16_t kUnits[] = {u'a', u'b', u' ', 0xD83D, 0xDE00, 0xDC00, 0xE9};
    std::u16string s;
    for (int i = pick(4); i > 0; --i) s += kUnits[pick(7)];
    return s;
  }
  std::mt19937 rng_;
};

TEST(ComputeEdits, RandomChangesReplay) {
  RandomTrees trees(20260);
  int with_edits = 0;
  for (int i = 0; i < 3000; ++i) {
    MessageValue before = trees.value(0);
    MessageValue after = trees.mutate(before, 0);
    auto edits = compute_edits(before, after);
    ASSERT_TRUE(edits.ok());  // these trees are far too small to need 257 edits
    expect_replays(before, after, *edits);
    if (HasFatalFailure()) return;
    with_edits += edits->empty() ? 0 : 1;
    if (edits->empty()) {
      EXPECT_TRUE(same(before, after)) << render(before);
    }
  }
  EXPECT_GT(with_edits, 1000);
}

}  // namespace
}  // namespace qv::chat
