// Conversions between Foundation strings and the UTF-8 byte strings of the portable cores.
// Objective-C++ only.
#pragma once

#import <Foundation/Foundation.h>

#include <optional>
#include <string>
#include <string_view>

namespace qv::apple {

// The UTF-8 bytes of a string, embedded NULs kept; nothing for nil, for a value that is not a
// string, or for a string that has no UTF-8 form (a lone surrogate).
inline std::optional<std::string> Utf8(id value) {
  if (![value isKindOfClass:[NSString class]]) return std::nullopt;
  NSData* bytes = [static_cast<NSString*>(value) dataUsingEncoding:NSUTF8StringEncoding];
  if (bytes == nil) return std::nullopt;
  return std::string(static_cast<const char*>(bytes.bytes), bytes.length);
}

// A string from UTF-8 bytes; nil when they are not valid UTF-8.
inline NSString* StringFromUtf8(std::string_view text) {
  return [[NSString alloc] initWithBytes:text.data()
                                  length:text.size()
                                encoding:NSUTF8StringEncoding];
}

// A file URL for a file-system path in its byte form.
inline NSURL* FileURL(const std::string& path) {
  return [NSURL fileURLWithFileSystemRepresentation:path.c_str() isDirectory:NO relativeToURL:nil];
}

// The byte form of a file URL's path; the empty text when there is none.
inline std::string FileSystemPath(NSURL* url) {
  const char* path = url.fileSystemRepresentation;
  return path != nullptr ? std::string(path) : std::string();
}

}  // namespace qv::apple
