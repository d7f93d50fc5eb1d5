#include "macos/cleanup/result_json.h"

#include <cstdio>

#include "macos/cleanup/utf8.h"

namespace qv::cleanup {
namespace {

void AppendString(std::string& out, std::string_view raw) {
  const std::string text = RepairUtf8(raw);
  out.push_back('"');
  for (const char c : text) {
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out.append(escaped);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
}

std::string_view StatusText(CleanupStatus status) {
  switch (status) {
    case CleanupStatus::kNotInstalled:
      return "not-installed";
    case CleanupStatus::kComplete:
      return "complete";
    case CleanupStatus::kUnverified:
      break;
  }
  return "unverified";
}

void AppendCount(std::string& out, std::string_view key, std::uint64_t value) {
  out.append(",\"").append(key).append("\":").append(std::to_string(value));
}

}  // namespace

std::string ResultJson(const CleanupResult& result) {
  std::string out = "{\"status\":";
  AppendString(out, StatusText(result.status));
  out.append(",\"removed\":[");
  bool first = true;
  for (const RemovedCopy& copy : result.removed) {
    if (!first) out.push_back(',');
    first = false;
    out.append("{\"name\":");
    AppendString(out, copy.name);
    out.append(",\"path\":");
    AppendString(out, copy.path);
    out.push_back('}');
  }
  out.push_back(']');
  if (result.status == CleanupStatus::kComplete) {
    AppendCount(out, "busy", result.counts.busy);
    AppendCount(out, "newer", result.counts.newer);
    AppendCount(out, "unverified", result.counts.unverified);
    AppendCount(out, "inaccessible", result.counts.inaccessible);
  }
  out.push_back('}');
  return out;
}

}  // namespace qv::cleanup
