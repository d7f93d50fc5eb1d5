// The few CoreFoundation types and calls the macOS adapters use, declared for the syntax check
// on machines without the macOS SDK. Never used on Apple platforms.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef const void* CFTypeRef;
typedef const struct QvOffAppleCFString* CFStringRef;
typedef const struct QvOffAppleCFURL* CFURLRef;
typedef const struct QvOffAppleCFDictionary* CFDictionaryRef;

void CFRelease(CFTypeRef object);

#ifdef __cplusplus
}
#endif
