#include "server/AddressList.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstring>
#include <optional>

#include "platform/Exception.h"

namespace korvane::server {

namespace {

struct Address {
  std::array<std::uint8_t, 16> bytes{};
  bool ipv4 = false;
};

std::optional<Address> ParseAddress(std::string_view text) {
  const std::string copy(text);
  Address address;
  in_addr v4{};
  if (inet_pton(AF_INET, copy.c_str(), &v4) == 1) {
    address.bytes[10] = 0xFF;
    address.bytes[11] = 0xFF;
    std::memcpy(address.bytes.data() + 12, &v4, 4);
    address.ipv4 = true;
    return address;
  }
  in6_addr v6{};
  if (inet_pton(AF_INET6, copy.c_str(), &v6) != 1) return std::nullopt;
  std::memcpy(address.bytes.data(), &v6, 16);
  return address;
}

// The address with every bit after the first `prefix` cleared.
std::array<std::uint8_t, 16> Masked(std::array<std::uint8_t, 16> bytes, int prefix) {
  for (int bit = prefix; bit < 128; ++bit) bytes[bit / 8] &= static_cast<std::uint8_t>(~(0x80 >> (bit % 8)));
  return bytes;
}

}  // namespace

AddressList AddressList::Parse(std::string_view text) {
  AddressList list;
  std::size_t start = 0;
  while (start < text.size()) {
    start = text.find_first_not_of(" \t,", start);
    if (start == std::string_view::npos) break;
    std::size_t end = text.find_first_of(" \t,", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view entry = text.substr(start, end - start);
    start = end;

    const std::size_t slash = entry.find('/');
    const std::optional<Address> address = ParseAddress(entry.substr(0, slash));
    const int width = address && address->ipv4 ? 32 : 128;
    int length = width;
    bool ok = address.has_value();
    if (ok && slash != std::string_view::npos) {
      const std::string_view digits = entry.substr(slash + 1);
      const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), length);
      ok = !digits.empty() && parsed.ec == std::errc() && parsed.ptr == digits.data() + digits.size() && length >= 0 &&
           length <= width;
    }
    Network network;
    if (ok) {
      network.bytes = address->bytes;
      network.prefix = length + (128 - width);
      // Bits past the prefix must be zero: "10.0.0.5/24" is more likely a slip than a network.
      ok = network.bytes == Masked(network.bytes, network.prefix);
    }
    if (!ok) throw Exception("Indirizzo o rete non valida: " + std::string(entry));
    list.networks_.push_back(network);
  }
  return list;
}

bool AddressList::Allows(std::string_view address) const {
  if (networks_.empty()) return true;
  const std::optional<Address> client = ParseAddress(address);
  if (!client) return false;
  for (const Network& network : networks_) {
    if (Masked(client->bytes, network.prefix) == network.bytes) return true;
  }
  return false;
}

}  // namespace korvane::server
