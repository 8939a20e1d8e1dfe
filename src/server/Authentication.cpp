#include "server/Authentication.h"

#include <algorithm>
#include <charconv>

#include "server/DesktopKeys.h"
#include "server/Refusal.h"
#include "server/Signature.h"

namespace korvane::server {

namespace {

bool IsLowerHex(std::string_view text, std::size_t size) {
  return text.size() == size &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::optional<std::int64_t> UnixSeconds(std::string_view text) {
  if (text.empty() || text.size() > 18 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  std::int64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

std::string Authenticate(const std::string& keysFile, SeenNonces& nonces, std::string_view method,
                         std::string_view target, const SignedHeaders& headers, std::string_view body,
                         std::int64_t now) {
  if (headers.keyName.empty()) throw Refusal::BadKey("no key name");
  if (!IsKeyName(headers.keyName)) throw Refusal::BadKey("malformed key name");
  const std::optional<std::int64_t> time = UnixSeconds(headers.time);
  if (!time) throw Refusal::BadKey("missing or malformed time");
  if (!IsLowerHex(headers.nonce, 32)) throw Refusal::BadKey("missing or malformed nonce");
  if (!IsLowerHex(headers.signature, 64)) throw Refusal::BadKey("missing or malformed signature");
  const std::int64_t skew = *time > now ? *time - now : now - *time;
  if (skew > kClockSkewSeconds) throw Refusal::BadKey("time " + std::to_string(*time - now) + " s from this clock");

  DesktopKeys keys;
  try {
    keys = DesktopKeys::Load(keysFile);
  } catch (const Exception& error) {
    throw Refusal::Internal(error.Message());
  }
  const DesktopKey* key = keys.FindInUse(headers.keyName);
  if (key == nullptr) throw Refusal::BadKey("unknown or revoked key");
  const std::string expected = Signature(*key->key, SignedText(method, target, headers.time, headers.nonce, body));
  if (!SameSecret(expected, headers.signature)) throw Refusal::BadKey("wrong signature");
  bool first = false;
  try {
    first = nonces.First(headers.nonce, now);
  } catch (const Exception& error) {
    throw Refusal::Internal(error.Message());
  }
  if (!first) throw Refusal::BadKey("nonce seen before");
  return key->name;
}

}  // namespace korvane::server
