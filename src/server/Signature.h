#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The request's signature: lowercase hex of HMAC-SHA256 of protocol::SignedText, with the 32 bytes
// of the desktop's key. The key itself never travels.
namespace korvane::server {

using KeyBytes = std::array<unsigned char, 32>;

std::string Sha256Hex(std::string_view bytes);

// The text that is signed, for the body itself.
std::string SignedText(std::string_view method, std::string_view target, std::string_view time, std::string_view nonce,
                       std::string_view body);

std::string Signature(const KeyBytes& key, std::string_view signedText);

// The 32 bytes of a key written as 64 hex digits (either case); nothing for any other text.
std::optional<KeyBytes> KeyFromHex(std::string_view hex);
std::string Hex(const unsigned char* bytes, std::size_t size);

// Equal texts, compared in a time that does not depend on where they differ.
bool SameSecret(std::string_view a, std::string_view b);

// `size` bytes from the system's random source; raises when it fails.
std::string RandomBytes(std::size_t size);

}  // namespace korvane::server
