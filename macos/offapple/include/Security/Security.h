// The static-code-signature calls of the Security framework that the cleanup adapter uses,
// declared for the syntax check on machines without the macOS SDK. Never used on Apple
// platforms.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t OSStatus;
typedef uint32_t SecCSFlags;
typedef const struct QvOffAppleSecCode* SecStaticCodeRef;
typedef struct QvOffAppleSecRequirement* SecRequirementRef;

enum {
  kSecCSDefaultFlags = 0,
  kSecCSCheckAllArchitectures = 1u << 0,
  kSecCSSigningInformation = 1u << 1,
  kSecCSCheckNestedCode = 1u << 3,
  kSecCSStrictValidate = 1u << 4,
};

extern const CFStringRef kSecCodeInfoTeamIdentifier;

OSStatus SecStaticCodeCreateWithPath(CFURLRef path, SecCSFlags flags,
                                     SecStaticCodeRef* static_code);
OSStatus SecStaticCodeCheckValidity(SecStaticCodeRef static_code, SecCSFlags flags,
                                    SecRequirementRef requirement);
OSStatus SecCodeCopySigningInformation(SecStaticCodeRef code, SecCSFlags flags,
                                       CFDictionaryRef* information);

#ifdef __cplusplus
}
#endif
