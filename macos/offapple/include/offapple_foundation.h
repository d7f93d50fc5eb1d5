// Foundation methods that macOS has and GNUstep's Foundation lacks, declared so that the
// adapters can be syntax-checked against GNUstep. Force-included by the check; never used on
// Apple platforms.
#pragma once

#import <Foundation/Foundation.h>

// GNUstep defines it empty; as in Apple's SDK, a declaration marked with it cannot be called.
#undef NS_UNAVAILABLE
#define NS_UNAVAILABLE __attribute__((unavailable))

@interface NSFileManager (QuorvelOffApple)
- (BOOL)trashItemAtURL:(NSURL*)url resultingItemURL:(NSURL**)resultingURL error:(NSError**)error;
@end

@interface NSURL (QuorvelOffApple)
@property(readonly) const char* fileSystemRepresentation;
@end

@interface NSObject (QuorvelOffApple)
- (void)removeObserver:(NSObject*)observer forKeyPath:(NSString*)keyPath context:(void*)context;
@end

@interface NSURL (QuorvelOffAppleConstruction)
+ (NSURL*)fileURLWithFileSystemRepresentation:(const char*)path
                                  isDirectory:(BOOL)isDirectory
                                relativeToURL:(NSURL*)baseURL;
@end

@interface NSURL (QuorvelOffAppleStrictParsing)
+ (instancetype)URLWithString:(NSString*)URLString encodingInvalidCharacters:(BOOL)encode;
@end
