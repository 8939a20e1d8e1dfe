#pragma once

#include <openssl/ssl.h>

namespace korvane::registry {

// Makes the context find trusted certificates when the handshake needs an issuer, instead of
// parsing the whole system bundle first: the hashed directory (SSL_CERT_DIR, else the library's
// default directory) is looked up by subject and reads only the files it needs; the CA file
// (SSL_CERT_FILE, else the library's default file) is read, once, only when the directory holds
// no issuer for a certificate whose issuer the server did not send either.
void UseTrustStoreOnDemand(SSL_CTX* context);

// Refuses, before the library opens any of them, a CA file (SSL_CERT_FILE, else the library's
// default) that exists and is not a regular file, and a CA folder (each of SSL_CERT_DIR's
// colon-separated folders, else the library's default) that exists and is not a folder: a FIFO
// there would hold the opening for ever, a device would feed it without end. Raises
// "Error connecting with SSL." CR LF and "<SSL_CERT_FILE or CA file> <path> is not a regular
// file" (or "<SSL_CERT_DIR or CA folder> <path> is not a folder"). Missing paths are left to the
// library, which reads nothing from them. Traces the store in use: each path, where it came from
// (the variable, or the library's default) and whether it is missing.
void CheckTrustStorePaths();

}  // namespace korvane::registry
