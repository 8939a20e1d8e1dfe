#pragma once

#include <openssl/ssl.h>

#include <memory>

namespace korvane::registry {

// The library's handles, each freed by its owner.
template <typename T, void (*Free)(T*)>
struct FreeWith {
  void operator()(T* handle) const noexcept { Free(handle); }
};

using SslContext = std::unique_ptr<SSL_CTX, FreeWith<SSL_CTX, SSL_CTX_free>>;
using SslSession = std::unique_ptr<SSL, FreeWith<SSL, SSL_free>>;

}  // namespace korvane::registry
