// Services of the platform the updater runs on, one implementation per platform (apple/ on
// macOS, linux/ elsewhere): creating the framework updater, the application's configured feed,
// URL parsing and the main-thread test. Nothing here depends on the JavaScript runtime: what the
// framework needs of the JavaScript thread it is given as a MainQueue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "macos/updater/framework.h"

namespace qv::updater {

// The parts of a URL that the archive rule compares, as the platform's URL parser gives them.
// Absent components are nullopt.
struct UrlParts {
  std::optional<std::string> scheme;
  std::optional<std::string> host;
  std::optional<std::string> port;
  std::optional<std::string> user;
  std::optional<std::string> password;
  std::optional<std::string> query;
  std::optional<std::string> fragment;
  std::string path;
};

// The main thread's queue as the module offers it to a framework that has no main queue of its
// own: tasks posted from any thread run on the main thread, and the process is kept running only
// while something holds it.
class MainQueue {
 public:
  virtual ~MainQueue() = default;

  // Any thread: runs task on the main thread in a later turn. Dropped once the queue is closed.
  virtual void post(std::function<void()> task) = 0;
  // Main thread: keeps the process running until the matching release.
  virtual void hold() = 0;
  virtual void release() = 0;
  // Main thread: closes the queue; later posts are dropped. Closing twice does nothing.
  virtual void close() = 0;
  // Main thread: runs handler once when the environment the queue serves ends, before the queue
  // is closed then. A later handler replaces an earlier one; an empty one removes it.
  virtual void setTeardown(std::function<void()> handler) = 0;
};

// Makes the main queue; a platform whose framework has one of its own never calls it.
using MainQueueFactory = std::function<std::unique_ptr<MainQueue>()>;

namespace platform {

// Whether the caller runs on the process's main thread.
bool IsMainThread();
// The application's configured feed (Info.plist "SUFeedURL"), if any.
std::optional<std::string> ConfiguredFeedURL();
// Parses an absolute URL; nullopt when the text is not one.
std::optional<UrlParts> ParseUrl(std::string_view text);
// Creates the framework updater over client (its user driver and delegate), on the main thread.
std::unique_ptr<FrameworkUpdater> CreateFrameworkUpdater(UpdaterClient& client,
                                                         const MainQueueFactory& makeMainQueue);

}  // namespace platform

}  // namespace qv::updater
