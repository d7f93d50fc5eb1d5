// Preloaded into the host by a test: every lock the reader thread releases is followed by a
// pause, so anything that thread does after releasing the shared state's lock happens well
// after the main thread could have taken it.
#include <dlfcn.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

extern "C" int pthread_mutex_unlock(pthread_mutex_t* mutex) {
  using Unlock = int (*)(pthread_mutex_t*);
  static const auto real = reinterpret_cast<Unlock>(::dlsym(RTLD_NEXT, "pthread_mutex_unlock"));
  const int rc = real(mutex);
  if (::gettid() != ::getpid()) {
    timespec pause{0, 50'000'000};
    ::nanosleep(&pause, nullptr);
  }
  return rc;
}
