#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The client addresses the service answers: networks written as CIDR ("192.168.1.0/24",
// "10.0.0.5", "fd00::/8"). An empty list lets every address in.
namespace korvane::server {

class AddressList {
 public:
  // Networks separated by commas or blanks. Raises, naming the entry, on one that is not an
  // address with an optional prefix length (host bits set are refused too: "10.0.0.5/24").
  static AddressList Parse(std::string_view text);

  // An IPv4 client seen as "::ffff:a.b.c.d" on a dual-stack socket matches its IPv4 networks.
  bool Allows(std::string_view address) const;
  bool Empty() const { return networks_.empty(); }

 private:
  struct Network {
    std::array<std::uint8_t, 16> bytes{};  // IPv4 as IPv4-mapped IPv6
    int prefix = 0;                        // counted over the 128 bits
  };
  std::vector<Network> networks_;
};

}  // namespace korvane::server
