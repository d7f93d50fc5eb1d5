// QuorvelUpdater on macOS: the update framework's user driver and delegate. It holds the
// framework updater and the portable core it reports to, and forwards every callback to the
// core with its arguments converted; the core decides everything. Main thread only.
#pragma once

#import <Foundation/Foundation.h>
#import <Sparkle/Sparkle.h>

#include "updater/framework.h"

@interface QuorvelUpdater : NSObject <SPUUserDriver, SPUUpdaterDelegate>

// client must outlive the object; the core lives for the rest of the process.
- (instancetype)initWithClient:(qv::updater::UpdaterClient*)client;

// The framework updater this object is user driver and delegate of.
@property(nonatomic, strong) SPUUpdater* updater;

// Starts and stops forwarding changes of the updater's "sessionInProgress" to the client.
- (void)observeSessionInProgress;
- (void)stopObservingSessionInProgress;

@end
