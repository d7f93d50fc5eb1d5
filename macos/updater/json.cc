#include "macos/updater/json.h"

#include "qv/escape.h"
#include "qv/json_string.h"
#include "qv/utf8.h"

namespace qv::updater {

const Json* Json::find(std::string_view key) const {
  if (const Object* o = object()) {
    for (const auto& [k, v] : *o) {
      if (k == key) return &v;
    }
  }
  return nullptr;
}

Json& Json::set(std::string key, Json value) {
  if (!isObject()) v_ = Object{};
  Object& o = std::get<Object>(v_);
  for (auto& [k, v] : o) {
    if (k == key) {
      v = std::move(value);
      return *this;
    }
  }
  o.emplace_back(std::move(key), std::move(value));
  return *this;
}

Json& Json::push(Json value) {
  if (!isArray()) v_ = Array{};
  std::get<Array>(v_).push_back(std::move(value));
  return *this;
}

namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  std::optional<Json> document() {
    skipSpace();
    if (i_ >= s_.size() || (s_[i_] != '{' && s_[i_] != '[')) return std::nullopt;
    std::optional<Json> v = value(0);
    if (!v) return std::nullopt;
    skipSpace();
    if (i_ != s_.size()) return std::nullopt;
    return v;
  }

 private:
  void skipSpace() {
    while (i_ < s_.size() &&
           (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) {
      ++i_;
    }
  }
  bool literal(std::string_view word) {
    if (s_.substr(i_, word.size()) != word) return false;
    i_ += word.size();
    return true;
  }

  std::optional<Json> value(int depth) {
    if (depth >= kMaxJsonDepth) return std::nullopt;
    skipSpace();
    if (i_ >= s_.size()) return std::nullopt;
    switch (s_[i_]) {
      case '{':
        return object(depth);
      case '[':
        return array(depth);
      case '"': {
        std::optional<std::string> str = string();
        if (!str) return std::nullopt;
        return Json::Str(std::move(*str));
      }
      case 't':
        if (literal("true")) return Json::Bool(true);
        return std::nullopt;
      case 'f':
        if (literal("false")) return Json::Bool(false);
        return std::nullopt;
      case 'n':
        if (literal("null")) return Json();
        return std::nullopt;
      default:
        return number();
    }
  }

  std::optional<Json> object(int depth) {
    ++i_;  // '{'
    Json result = Json::MakeObject();
    skipSpace();
    if (i_ < s_.size() && s_[i_] == '}') {
      ++i_;
      return result;
    }
    for (;;) {
      skipSpace();
      if (i_ >= s_.size() || s_[i_] != '"') return std::nullopt;
      std::optional<std::string> key = string();
      if (!key) return std::nullopt;
      skipSpace();
      if (i_ >= s_.size() || s_[i_] != ':') return std::nullopt;
      ++i_;
      std::optional<Json> member = value(depth + 1);
      if (!member) return std::nullopt;
      result.set(std::move(*key), std::move(*member));
      skipSpace();
      if (i_ >= s_.size()) return std::nullopt;
      if (s_[i_] == ',') {
        ++i_;
        continue;
      }
      if (s_[i_] == '}') {
        ++i_;
        return result;
      }
      return std::nullopt;
    }
  }

  std::optional<Json> array(int depth) {
    ++i_;  // '['
    Json result = Json::MakeArray();
    skipSpace();
    if (i_ < s_.size() && s_[i_] == ']') {
      ++i_;
      return result;
    }
    for (;;) {
      std::optional<Json> element = value(depth + 1);
      if (!element) return std::nullopt;
      result.push(std::move(*element));
      skipSpace();
      if (i_ >= s_.size()) return std::nullopt;
      if (s_[i_] == ',') {
        ++i_;
        continue;
      }
      if (s_[i_] == ']') {
        ++i_;
        return result;
      }
      return std::nullopt;
    }
  }

  std::optional<std::string> string() {
    ++i_;  // '"'
    std::string out;
    while (i_ < s_.size()) {
      const unsigned char c = static_cast<unsigned char>(s_[i_]);
      if (c == '"') {
        ++i_;
        return out;
      }
      if (c < 0x20) return std::nullopt;
      if (c != '\\') {
        out += s_[i_++];  // ParseJson has found the whole text to be valid UTF-8
        continue;
      }
      if (++i_ >= s_.size()) return std::nullopt;
      const char e = s_[i_++];
      if (const std::optional<char> plain = short_escape(e)) {
        out += *plain;
        continue;
      }
      if (e != 'u') return std::nullopt;
      // The escape starts at its backslash, two bytes back.
      std::string_view rest = s_.substr(i_ - 2);
      const std::optional<char32_t> cp = decode_u_escape(rest, LoneSurrogate::kRefuse);
      if (!cp) return std::nullopt;
      i_ = s_.size() - rest.size();
      append_utf8(out, *cp);
    }
    return std::nullopt;
  }

  std::optional<Json> number() {
    const size_t start = i_;
    const auto digit = [&] { return i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9'; };
    if (i_ < s_.size() && s_[i_] == '-') ++i_;
    if (!digit()) return std::nullopt;
    if (s_[i_] == '0') {
      ++i_;
    } else {
      while (digit()) ++i_;
    }
    if (i_ < s_.size() && s_[i_] == '.') {
      ++i_;
      if (!digit()) return std::nullopt;
      while (digit()) ++i_;
    }
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      ++i_;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
      if (!digit()) return std::nullopt;
      while (digit()) ++i_;
    }
    return Json::NumberText(std::string(s_.substr(start, i_ - start)));
  }

  std::string_view s_;
  size_t i_ = 0;
};

void Write(std::string& out, const Json& v) {
  if (v.isNull()) {
    out += "null";
  } else if (const bool* b = v.boolean()) {
    out += *b ? "true" : "false";
  } else if (const Json::Number* n = v.number()) {
    out += n->text;
  } else if (const std::string* s = v.string()) {
    append_json_string(out, *s);
  } else if (const Json::Array* a = v.array()) {
    out += '[';
    for (size_t k = 0; k < a->size(); ++k) {
      if (k) out += ',';
      Write(out, (*a)[k]);
    }
    out += ']';
  } else if (const Json::Object* o = v.object()) {
    out += '{';
    bool first = true;
    for (const auto& [key, member] : *o) {
      if (!first) out += ',';
      first = false;
      append_json_string(out, key);
      out += ':';
      Write(out, member);
    }
    out += '}';
  }
}

}  // namespace

std::optional<Json> ParseJson(std::string_view text) {
  if (!is_valid_utf8(text)) return std::nullopt;
  return Parser(text).document();
}

std::string WriteJson(const Json& value) {
  std::string out;
  Write(out, value);
  return out;
}

}  // namespace qv::updater
