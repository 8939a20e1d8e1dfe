// Arbitrary bytes as a server's answer: the reader must end with a text or an Exception,
// never crash, hang or grow without bound.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/Exception.h"
#include "platform/SocketErrors.h"
#include "registry/HttpResponse.h"

namespace {

class FuzzSource : public korvane::registry::ByteSource {
 public:
  FuzzSource(const std::uint8_t* data, std::size_t size, std::size_t piece, bool stallAtEnd)
      : data_(data), size_(size), piece_(piece), stallAtEnd_(stallAtEnd) {}

  std::size_t Read(char* buffer, std::size_t size) override {
    if (pos_ == size_) {
      if (stallAtEnd_) throw korvane::platform::SocketError(korvane::platform::kWsaTimedOut);
      return 0;
    }
    const std::size_t count = std::min({size, piece_, size_ - pos_});
    std::memcpy(buffer, data_ + pos_, count);
    pos_ += count;
    return count;
  }
  bool WaitForData(int) override { return pos_ < size_ || !stallAtEnd_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t piece_;
  bool stallAtEnd_;
  std::size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte shapes the delivery: piece size and whether the source ends in a time-out.
  const std::size_t piece = (data[0] & 0x7F) + 1;
  FuzzSource source(data + 1, size - 1, piece, (data[0] & 0x80) != 0);
  korvane::registry::ResponseLimits limits;
  limits.maxBodyBytes = 1 << 20;
  korvane::registry::HttpAnswerReader reader(source, limits);
  try {
    reader.ReadAnswer();
  } catch (const korvane::Exception&) {
  }
  return 0;
}
