// The few CoreFoundation types and calls the macOS adapters use, declared for the syntax check
// on machines without the macOS SDK. Never used on Apple platforms.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef const void* CFTypeRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFURL* CFURLRef;
typedef const struct __CFDictionary* CFDictionaryRef;

void CFRelease(CFTypeRef object);

#ifdef __cplusplus
}
#endif
