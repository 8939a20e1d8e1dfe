#pragma once

#include <string>
#include <string_view>

// Windows' own cryptography (BCrypt): the digests and the random bytes of a request.
namespace korvane::winclient {

// Each raises ClientError when the system's provider fails.
std::string Sha256(std::string_view data);
std::string HmacSha256(std::string_view key, std::string_view data);
std::string RandomBytes(std::size_t count);

}  // namespace korvane::winclient
