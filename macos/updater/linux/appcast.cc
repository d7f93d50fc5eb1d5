#include "macos/updater/linux/appcast.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <uriparser/Uri.h>

#include <cctype>
#include <limits>
#include <memory>
#include <vector>

namespace qv::updater::standin {

namespace {

// --- versions ---

enum class PartKind { kNumber, kLetters, kSeparator };

struct VersionPart {
  PartKind kind;
  std::string_view text;
};

std::vector<VersionPart> SplitVersion(std::string_view v) {
  std::vector<VersionPart> parts;
  size_t i = 0;
  while (i < v.size()) {
    const auto kindOf = [](char c) {
      if (std::isdigit(static_cast<unsigned char>(c))) return PartKind::kNumber;
      if (std::isalpha(static_cast<unsigned char>(c))) return PartKind::kLetters;
      return PartKind::kSeparator;
    };
    const PartKind kind = kindOf(v[i]);
    size_t j = i + 1;
    if (kind != PartKind::kSeparator) {
      while (j < v.size() && kindOf(v[j]) == kind) ++j;
    }
    parts.push_back({kind, v.substr(i, j - i)});
    i = j;
  }
  return parts;
}

int CompareNumbers(std::string_view a, std::string_view b) {
  while (a.size() > 1 && a.front() == '0') a.remove_prefix(1);
  while (b.size() > 1 && b.front() == '0') b.remove_prefix(1);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const int c = a.compare(b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int Rank(PartKind k) {
  switch (k) {
    case PartKind::kLetters:
      return 0;
    case PartKind::kSeparator:
      return 1;
    case PartKind::kNumber:
      return 2;
  }
  return 0;
}

// --- XML ---

using XmlDoc = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

std::string Text(const xmlChar* s) {
  return s ? reinterpret_cast<const char*>(s) : "";
}

bool Named(const xmlNode* n, const char* name) {
  return n->type == XML_ELEMENT_NODE && Text(n->name) == name;
}
bool InSparkle(const xmlNs* ns) {
  return ns && Text(ns->href) == kSparkleNamespace;
}
bool SparkleNamed(const xmlNode* n, const char* name) {
  return Named(n, name) && InSparkle(n->ns);
}

std::string Trimmed(std::string s) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  size_t b = 0;
  size_t e = s.size();
  while (b < e && space(s[b])) ++b;
  while (e > b && space(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string Content(const xmlNode* n) {
  xmlChar* c = xmlNodeGetContent(n);
  std::string s = Text(c);
  xmlFree(c);
  return Trimmed(std::move(s));
}

std::optional<std::string> Attribute(const xmlNode* n, const char* name, bool sparkle) {
  for (const xmlAttr* a = n->properties; a != nullptr; a = a->next) {
    if (Text(a->name) != name || InSparkle(a->ns) != sparkle) continue;
    xmlChar* v = xmlNodeListGetString(n->doc, a->children, 1);
    std::string s = Text(v);
    xmlFree(v);
    return s;
  }
  return std::nullopt;
}

std::string KeyOf(const xmlNode* n) {
  if (InSparkle(n->ns)) return "sparkle:" + Text(n->name);
  if (n->ns && n->ns->prefix) return Text(n->ns->prefix) + ":" + Text(n->name);
  return Text(n->name);
}

bool HasElementChildren(const xmlNode* n) {
  for (const xmlNode* c = n->children; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE) return true;
  }
  return false;
}

// What a feed may not hold. Feeds never need declarations of their own: an internal subset can
// define entities whose references multiply a small feed into a huge text, so any declaration,
// and any entity reference left in the tree (the five predefined ones and character references
// are replaced while parsing and never appear), refuses the feed.
//
// CheckedTextLength gives the length of the text of the sibling list starting at n (what
// Content() would take of its parent), or nullopt once an element or attribute below passes
// kMaxElementTextBytes or an entity reference is found.
std::optional<size_t> CheckedTextLength(const xmlNode* n) {
  size_t total = 0;
  for (const xmlNode* c = n; c != nullptr; c = c->next) {
    if (c->type == XML_ENTITY_REF_NODE) return std::nullopt;
    for (const xmlAttr* a = c->type == XML_ELEMENT_NODE ? c->properties : nullptr; a != nullptr;
         a = a->next) {
      const std::optional<size_t> attribute = CheckedTextLength(a->children);
      if (!attribute || *attribute > kMaxElementTextBytes) return std::nullopt;
    }
    size_t own = 0;
    if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
      own = c->content ? xmlStrlen(c->content) : 0;
    } else if (c->type == XML_ELEMENT_NODE) {
      const std::optional<size_t> inner = CheckedTextLength(c->children);
      if (!inner) return std::nullopt;
      own = *inner;
    }
    if (own > kMaxElementTextBytes) return std::nullopt;
    total += own;
  }
  return total;
}

std::string RangeText(const UriTextRangeA& range) {
  return range.first ? std::string(range.first, range.afterLast) : std::string();
}

// A URL as the feed reader hands it over. An absolute reference is kept exactly as written; a
// relative one is resolved against the feed URL, with the host spelled as the text it comes from
// spells it. The archive rule compares hosts as text, and the URL writer would otherwise spell
// an address literal its own way (an IPv6 address written out in full), so that a feed on
// [::1] could never match its own archives while a feed spelling the address out would match
// archives on [::1].
std::optional<std::string> Resolve(const std::string& reference, const std::string& base) {
  UriUriA ref{};
  UriUriA baseUri{};
  UriUriA resolved{};
  std::optional<std::string> out;
  const char* error = nullptr;
  if (uriParseSingleUriA(&ref, reference.c_str(), &error) != URI_SUCCESS) return std::nullopt;
  if (ref.scheme.first != nullptr) {
    uriFreeUriMembersA(&ref);
    return reference;
  }
  if (uriParseSingleUriA(&baseUri, base.c_str(), &error) == URI_SUCCESS) {
    if (uriAddBaseUriA(&resolved, &ref, &baseUri) == URI_SUCCESS) {
      int chars = 0;
      if (uriToStringCharsRequiredA(&resolved, &chars) == URI_SUCCESS) {
        std::string text(static_cast<size_t>(chars) + 1, '\0');
        if (uriToStringA(text.data(), &resolved, chars + 1, nullptr) == URI_SUCCESS) {
          text.resize(static_cast<size_t>(chars));
          out = std::move(text);
        }
      }
      // The host as written where the resolved URL took it from: the reference's own
      // authority, else the feed URL's.
      const std::string written =
          RangeText(ref.hostText.first != nullptr ? ref.hostText : baseUri.hostText);
      UriUriA again{};
      if (out && uriParseSingleUriA(&again, out->c_str(), &error) == URI_SUCCESS) {
        // An empty host may point at a constant of the parser rather than into the text.
        if (again.hostText.first != again.hostText.afterLast) {
          const auto at = static_cast<size_t>(again.hostText.first - out->c_str());
          const auto length = static_cast<size_t>(again.hostText.afterLast - again.hostText.first);
          std::string spelled = *out;
          spelled.replace(at, length, written);
          out = std::move(spelled);
        }
        uriFreeUriMembersA(&again);
      } else {
        out.reset();
      }
      uriFreeUriMembersA(&resolved);
    }
    uriFreeUriMembersA(&baseUri);
  }
  uriFreeUriMembersA(&ref);
  return out;
}

void ApplyEnclosure(const xmlNode* enclosure, const std::string& feedURL, AppcastItem& item) {
  if (std::optional<std::string> url = Attribute(enclosure, "url", false)) {
    item.fileURL = Resolve(Trimmed(*url), feedURL);
  }
  if (std::optional<std::string> length = Attribute(enclosure, "length", false)) {
    item.contentLength = std::strtoull(length->c_str(), nullptr, 10);
  }
  if (std::optional<std::string> v = Attribute(enclosure, "version", true)) item.versionString = *v;
  if (std::optional<std::string> v = Attribute(enclosure, "shortVersionString", true)) {
    item.displayVersionString = *v;
  }
  if (Attribute(enclosure, "deltaFrom", true)) item.isDeltaUpdate = true;
}

bool AppliesTo(const xmlNode* informational, const std::string& hostVersion) {
  bool any = false;
  for (const xmlNode* c = informational->children; c != nullptr; c = c->next) {
    if (SparkleNamed(c, "version")) {
      any = true;
      if (CompareVersions(Content(c), hostVersion) == 0) return true;
    } else if (SparkleNamed(c, "belowVersion")) {
      any = true;
      if (CompareVersions(hostVersion, Content(c)) < 0) return true;
    }
  }
  return !any;
}

std::optional<AppcastItem> ReadItem(const xmlNode* node, const std::string& feedURL,
                                    const std::string& hostVersion) {
  AppcastItem item;
  const xmlNode* enclosure = nullptr;
  const xmlNode* deltas = nullptr;
  bool link = false;
  bool informational = false;
  std::optional<std::string> shortVersion;
  for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    // Elements with structure (children, or only attributes) are not texts.
    const bool structured = HasElementChildren(c) || (c->properties && Content(c).empty());
    item.propertiesDictionary[KeyOf(c)] =
        structured ? PropertyValue(NonTextProperty{}) : PropertyValue(Content(c));
    if (Named(c, "enclosure") && !c->ns) {
      enclosure = c;
    } else if (Named(c, "description") && !c->ns) {
      xmlChar* text = xmlNodeGetContent(c);
      item.itemDescription = Text(text);
      xmlFree(text);
    } else if (Named(c, "link") && !c->ns) {
      link = true;
    } else if (SparkleNamed(c, "version")) {
      item.versionString = Content(c);
    } else if (SparkleNamed(c, "shortVersionString")) {
      shortVersion = Content(c);
    } else if (SparkleNamed(c, "minimumSystemVersion")) {
      item.minimumSystemVersion = Content(c);
    } else if (SparkleNamed(c, "maximumSystemVersion")) {
      item.propertiesDictionary["sparkle:maximumSystemVersion"] = Content(c);
    } else if (SparkleNamed(c, "criticalUpdate")) {
      const std::optional<std::string> below = Attribute(c, "version", true);
      item.isCriticalUpdate = !below || CompareVersions(hostVersion, *below) < 0;
    } else if (SparkleNamed(c, "informationalUpdate")) {
      informational = AppliesTo(c, hostVersion);
    } else if (SparkleNamed(c, "deltas")) {
      deltas = c;
    }
  }
  if (enclosure) ApplyEnclosure(enclosure, feedURL, item);
  if (!item.versionString) return std::nullopt;
  // The enclosure's attribute, set above, comes first.
  if (!item.displayVersionString) item.displayVersionString = shortVersion;
  if (!item.displayVersionString) item.displayVersionString = item.versionString;
  item.isInformationOnlyUpdate = (link && !enclosure) || informational;
  if (deltas) {
    for (const xmlNode* d = deltas->children; d != nullptr; d = d->next) {
      if (!Named(d, "enclosure")) continue;
      const std::optional<std::string> from = Attribute(d, "deltaFrom", true);
      if (!from) continue;
      auto delta = std::make_shared<AppcastItem>(item);
      delta->deltaUpdates.clear();
      delta->fileURL.reset();
      delta->contentLength = 0;
      ApplyEnclosure(d, feedURL, *delta);
      item.deltaUpdates[*from] = std::move(delta);
    }
  }
  return item;
}

}  // namespace

int CompareVersions(std::string_view a, std::string_view b) {
  const std::vector<VersionPart> pa = SplitVersion(a);
  const std::vector<VersionPart> pb = SplitVersion(b);
  const size_t common = std::min(pa.size(), pb.size());
  for (size_t k = 0; k < common; ++k) {
    const VersionPart& x = pa[k];
    const VersionPart& y = pb[k];
    if (x.kind != y.kind) return Rank(x.kind) < Rank(y.kind) ? -1 : 1;
    int c = 0;
    if (x.kind == PartKind::kNumber) {
      c = CompareNumbers(x.text, y.text);
    } else if (x.kind == PartKind::kLetters) {
      const int t = x.text.compare(y.text);
      c = t < 0 ? -1 : t > 0 ? 1 : 0;
    }
    if (c != 0) return c;
  }
  if (pa.size() == pb.size()) return 0;
  // The longer version is older when it continues with letters (a pre-release), else newer.
  const bool aLonger = pa.size() > pb.size();
  const VersionPart& next = aLonger ? pa[common] : pb[common];
  const int longer = next.kind == PartKind::kLetters ? -1 : 1;
  return aLonger ? longer : -longer;
}

qv::Result<Appcast, std::string> ParseAppcast(std::string_view xml, const std::string& feedURL,
                                              const std::string& hostVersion) {
  if (xml.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
    return qv::Err{std::string("the feed is too large")};
  }
  // No network access and no entity substitution while parsing a downloaded document.
  XmlDoc doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), feedURL.c_str(), nullptr,
                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
             &xmlFreeDoc);
  if (!doc) return qv::Err{std::string("the feed is not well-formed XML")};
  const xmlDtd* subset = doc->intSubset;
  if (subset != nullptr && subset->children != nullptr) {
    return qv::Err{std::string("the feed declares entities or other markup")};
  }
  const xmlNode* rss = xmlDocGetRootElement(doc.get());
  if (!rss || !Named(rss, "rss")) return qv::Err{std::string("the feed is not an RSS document")};
  // Texts of sibling elements add up, so the bound is applied to each element on its own.
  if (!CheckedTextLength(rss->children)) {
    return qv::Err{std::string("the feed holds an entity reference or an overlong text")};
  }
  Appcast appcast;
  for (const xmlNode* channel = rss->children; channel != nullptr; channel = channel->next) {
    if (!Named(channel, "channel")) continue;
    for (const xmlNode* n = channel->children; n != nullptr; n = n->next) {
      if (!Named(n, "item")) continue;
      if (std::optional<AppcastItem> item = ReadItem(n, feedURL, hostVersion)) {
        appcast.items.push_back(std::move(*item));
      }
    }
  }
  return appcast;
}

}  // namespace qv::updater::standin
