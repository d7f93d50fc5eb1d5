#include "macos/cleanup/result_json.h"

#include "qv/json_string.h"

namespace qv::cleanup {
namespace {

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
  append_json_string(out, StatusText(result.status));
  out.append(",\"removed\":[");
  bool first = true;
  for (const RemovedCopy& copy : result.removed) {
    if (!first) out.push_back(',');
    first = false;
    out.append("{\"name\":");
    append_json_string(out, copy.name);
    out.append(",\"path\":");
    append_json_string(out, copy.path);
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
