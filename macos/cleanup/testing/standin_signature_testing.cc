#include "macos/cleanup/testing/standin_signature_testing.h"

#include <openssl/evp.h>
#include <plist/plist.h>

#include <sys/stat.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "macos/cleanup/probes.h"

namespace qv::cleanup::testing {

std::optional<std::string> FileDigest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
  char chunk[65536];
  while (in) {
    in.read(chunk, sizeof chunk);
    if (in.gcount() > 0) EVP_DigestUpdate(ctx.get(), chunk, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) return std::nullopt;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return std::nullopt;
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    hex.append(two);
  }
  return hex;
}

std::optional<std::string> StandInSignaturePlatform::SigningTeam(const std::string& bundle) {
  const std::optional<PlistDictionary> seal =
      inner_->ReadPropertyList(ChildPath(bundle, kSealFile));
  if (!seal) return std::nullopt;
  const auto text = [&](const char* key) -> std::optional<std::string> {
    const auto it = seal->find(key);
    return it == seal->end() ? std::nullopt : it->second;
  };
  const std::optional<std::string> info = FileDigest(ChildPath(bundle, kInfoPlist));
  const std::optional<std::string> exe = FileDigest(ChildPath(bundle, kExecutable));
  if (!info || !exe || text("InfoDigest") != info || text("ExecutableDigest") != exe) {
    return std::nullopt;  // broken seal
  }
  return text("TeamIdentifier").value_or(std::string());
}

bool SealBundle(const std::string& bundle, const std::optional<std::string>& team) {
  const std::optional<std::string> info = FileDigest(ChildPath(bundle, kInfoPlist));
  const std::optional<std::string> exe = FileDigest(ChildPath(bundle, kExecutable));
  if (!info || !exe) return false;
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "InfoDigest", plist_new_string(info->c_str()));
  plist_dict_set_item(dict, "ExecutableDigest", plist_new_string(exe->c_str()));
  if (team) plist_dict_set_item(dict, "TeamIdentifier", plist_new_string(team->c_str()));
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(dict, &xml, &length);
  plist_free(dict);
  if (xml == nullptr) return false;
  const std::string folder = ChildPath(bundle, "Contents/_CodeSignature");
  ::mkdir(folder.c_str(), 0755);
  std::ofstream out(ChildPath(bundle, kSealFile), std::ios::binary | std::ios::trunc);
  out.write(xml, length);
  std::free(xml);
  return static_cast<bool>(out);
}

}  // namespace qv::cleanup::testing
