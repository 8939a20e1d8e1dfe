#include "Crypto.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <memory>

#include "winclient/ClientError.h"

namespace korvane::winclient {

namespace {

[[noreturn]] void RaiseCryptoFailure(const char* call) {
  throw ClientError(std::string("Errore interno di korvane.exe (") + call + "): nessuna importazione eseguita");
}

struct AlgorithmCloser {
  void operator()(void* algorithm) const { BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct HashDestroyer {
  void operator()(void* hash) const { BCryptDestroyHash(hash); }
};

// SHA-256 of `data`, keyed (HMAC) when `key` is given.
std::string Digest(const std::string_view* key, std::string_view data) {
  BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                  key != nullptr ? BCRYPT_ALG_HANDLE_HMAC_FLAG : 0))) {
    RaiseCryptoFailure("BCryptOpenAlgorithmProvider");
  }
  const std::unique_ptr<void, AlgorithmCloser> algorithm(rawAlgorithm);
  BCRYPT_HASH_HANDLE rawHash = nullptr;
  auto* secret = key != nullptr ? reinterpret_cast<PUCHAR>(const_cast<char*>(key->data())) : nullptr;
  const ULONG secretLength = key != nullptr ? static_cast<ULONG>(key->size()) : 0;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(rawAlgorithm, &rawHash, nullptr, 0, secret, secretLength, 0))) {
    RaiseCryptoFailure("BCryptCreateHash");
  }
  const std::unique_ptr<void, HashDestroyer> hash(rawHash);
  if (!BCRYPT_SUCCESS(BCryptHashData(rawHash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                     static_cast<ULONG>(data.size()), 0))) {
    RaiseCryptoFailure("BCryptHashData");
  }
  std::string digest(32, '\0');
  if (!BCRYPT_SUCCESS(
          BCryptFinishHash(rawHash, reinterpret_cast<PUCHAR>(digest.data()), static_cast<ULONG>(digest.size()), 0))) {
    RaiseCryptoFailure("BCryptFinishHash");
  }
  return digest;
}

}  // namespace

std::string Sha256(std::string_view data) { return Digest(nullptr, data); }

std::string HmacSha256(std::string_view key, std::string_view data) { return Digest(&key, data); }

std::string RandomBytes(std::size_t count) {
  std::string bytes(count, '\0');
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(count),
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    RaiseCryptoFailure("BCryptGenRandom");
  }
  return bytes;
}

}  // namespace korvane::winclient
