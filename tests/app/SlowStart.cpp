// Preloaded into the built program by a test: the first prctl() call, one of main's first steps,
// takes 300 ms, which holds open the moment at the start of main when a stop signal could find
// the process without its watcher.
#include <dlfcn.h>
#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <thread>

extern "C" int prctl(int option, ...) {
  static std::atomic<bool> slowed{false};
  va_list arguments;
  va_start(arguments, option);
  const unsigned long a2 = va_arg(arguments, unsigned long);
  const unsigned long a3 = va_arg(arguments, unsigned long);
  const unsigned long a4 = va_arg(arguments, unsigned long);
  const unsigned long a5 = va_arg(arguments, unsigned long);
  va_end(arguments);
  if (!slowed.exchange(true)) std::this_thread::sleep_for(std::chrono::milliseconds(300));
  using Prctl = int (*)(int, ...);
  const auto real = reinterpret_cast<Prctl>(dlsym(RTLD_NEXT, "prctl"));
  return real(option, a2, a3, a4, a5);
}
