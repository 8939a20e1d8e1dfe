#pragma once

#include <openssl/ssl.h>

#include <memory>

namespace korvane::registry {

// The library's handles, each freed by its owner.
template <typename T, void (*Free)(T*)>
struct TFreeWith {
  void operator()(T* handle) const noexcept { Free(handle); }
};

using TSslContext = std::unique_ptr<SSL_CTX, TFreeWith<SSL_CTX, SSL_CTX_free>>;
using TSslSession = std::unique_ptr<SSL, TFreeWith<SSL, SSL_free>>;

}  // namespace korvane::registry
