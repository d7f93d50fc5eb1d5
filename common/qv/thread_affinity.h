// A thread rule that debug builds check: an object that must only be used on one thread holds a
// ThreadAffinity and asserts it wherever it is used. Release builds keep and check nothing.
#pragma once

#include <cassert>
#include <thread>

namespace qv {

class ThreadAffinity {
 public:
  // Bound to the thread that constructs it.
  ThreadAffinity() = default;

  // Aborts a debug build when called on any other thread.
  void assert_on_thread() const {
#ifndef NDEBUG
    assert(owner_ == std::this_thread::get_id() && "used on a thread it does not belong to");
#endif
  }

 private:
#ifndef NDEBUG
  std::thread::id owner_ = std::this_thread::get_id();
#endif
};

}  // namespace qv
