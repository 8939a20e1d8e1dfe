#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane {

// The progress of a run over many subjects, on standard error, in place, only when it is a
// terminal: how many of the total are done (named by `unit`, "righe" or "soggetti"), how many
// requests were paid, the pace and the time left. A line end once the last is done.
class RunProgress {
 public:
  RunProgress(std::size_t total, std::string unit);
  void Show(std::size_t done, std::int64_t paid) const;

 private:
  std::size_t total_;
  std::string unit_;
  bool shown_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace korvane
