#pragma once

#include <openssl/ssl.h>

namespace korvane::registry {

// Makes the context find trusted certificates when the handshake needs an issuer, instead of
// parsing the whole system bundle first: the hashed directory (SSL_CERT_DIR, else the library's
// default directory) is looked up by subject and reads only the files it needs; the CA file
// (SSL_CERT_FILE, else the library's default file) is read, once, only when the directory holds
// no issuer for a certificate whose issuer the server did not send either.
void UseTrustStoreOnDemand(SSL_CTX* context);

}  // namespace korvane::registry
