#include "app/list/RunProgress.h"

#include <unistd.h>

#include <cstdio>

namespace korvane {

RunProgress::RunProgress(std::size_t total, std::string unit)
    : total_(total), unit_(std::move(unit)), shown_(::isatty(STDERR_FILENO) == 1) {}

void RunProgress::Show(std::size_t done, std::int64_t paid) const {
  if (!shown_) return;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  const double left = rate > 0 ? static_cast<double>(total_ - done) / rate : 0;
  std::fprintf(stderr, "\r%zu/%zu %s, %lld pagate, %.1f %s/s, %.0f s alla fine   ", done, total_, unit_.c_str(),
               static_cast<long long>(paid), rate, unit_.c_str(), left);
  if (done == total_) std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace korvane
