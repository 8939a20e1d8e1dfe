#include "registry/TrustStore.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/Exception.h"
#include "platform/MessageText.h"
#include "platform/Trace.h"

namespace korvane::registry {

namespace {

// Marks, on a store, that its CA file has been read (the value is only tested for null).
int FileReadIndex() {
  static const int index = X509_STORE_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// Reads the CA file into the store the first time it is asked. A store shared by connections of
// several threads is read into by one of them; the others wait until it has been read.
void ReadCaFileOnce(X509_STORE* store) {
  static std::mutex reading;
  const std::lock_guard<std::mutex> guard(reading);
  if (X509_STORE_get_ex_data(store, FileReadIndex()) != nullptr) return;
  X509_STORE_set_ex_data(store, FileReadIndex(), store);
  // A missing or unreadable file is no failure of its own: verification then reports the
  // missing issuer, and the file's errors must not stand in front of that in the error queue.
  ERR_set_mark();
  if (X509_LOOKUP* lookup = X509_STORE_add_lookup(store, X509_LOOKUP_file()); lookup != nullptr) {
    X509_LOOKUP_load_file(lookup, nullptr, X509_FILETYPE_DEFAULT);
  }
  ERR_pop_to_mark();
}

// True when the server sent, besides `subject` itself, a certificate that issued it: the chain
// goes on through that one, and the store is asked again for its issuer.
bool PeerSentIssuer(X509_STORE_CTX* verification, X509* subject) {
  const STACK_OF(X509)* sent = X509_STORE_CTX_get0_untrusted(verification);
  for (int i = 0; i < sk_X509_num(sent); ++i) {
    X509* candidate = sk_X509_value(sent, i);
    if (X509_cmp(candidate, subject) != 0 && X509_check_issued(candidate, subject) == X509_V_OK) return true;
  }
  return false;
}

// The store's issuer lookup: the directory (and whatever was read before) first, the CA file
// only when the chain cannot go on without it.
int FindTrustedIssuer(X509** issuer, X509_STORE_CTX* verification, X509* subject) {
  const int found = X509_STORE_CTX_get1_issuer(issuer, verification, subject);
  if (found != 0 || PeerSentIssuer(verification, subject)) return found;
  // Asked again also when the file was read before: another connection may have read it since.
  ReadCaFileOnce(X509_STORE_CTX_get0_store(verification));
  return X509_STORE_CTX_get1_issuer(issuer, verification, subject);
}

// The type of what `path` names, following symbolic links; 0 when it cannot be told (missing,
// unreadable folder on the way), which the library then meets as it always has.
mode_t TypeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

// "<path> (<where it came from>)", and ", missing" for a path that names nothing: the library
// then reads nothing there, and verification fails unless the other part of the store knows the
// issuer.
std::string TracedPath(const std::string& path, const char* variable, mode_t type) {
  return path + " (" + (variable != nullptr ? variable : "default") + (type == 0 ? ", missing)" : ")");
}

[[noreturn]] void RefusePath(std::string_view source, const std::string& path, std::string_view what) {
  throw Exception("Error connecting with SSL.\r\n" + std::string(source) + " " + platform::OutsideTextForMessage(path) +
                  " is not " + std::string(what));
}

}  // namespace

void CheckTrustStorePaths() {
  const char* fileVariable = X509_get_default_cert_file_env();
  const char* file = std::getenv(fileVariable);
  const std::string filePath = file != nullptr ? file : X509_get_default_cert_file();
  const mode_t fileType = TypeOf(filePath);
  if (fileType != 0 && fileType != S_IFREG) {
    RefusePath(file != nullptr ? fileVariable : "CA file", filePath, "a regular file");
  }
  // The trust store in use, for whoever reads why a certificate was not trusted.
  const bool tracing = platform::trace::On();
  std::string traced;
  if (tracing)
    traced = "trust store: CA file " + TracedPath(filePath, file != nullptr ? fileVariable : nullptr, fileType);
  const char* folderVariable = X509_get_default_cert_dir_env();
  const char* folders = std::getenv(folderVariable);
  const std::string folderList = folders != nullptr ? folders : X509_get_default_cert_dir();
  std::string_view rest = folderList;
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string folder(rest.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (folder.empty()) continue;
    const mode_t type = TypeOf(folder);
    if (type != 0 && type != S_IFDIR) RefusePath(folders != nullptr ? folderVariable : "CA folder", folder, "a folder");
    if (tracing) traced += ", CA folder " + TracedPath(folder, folders != nullptr ? folderVariable : nullptr, type);
  }
  if (tracing) platform::trace::Step(traced);
}

void UseTrustStoreOnDemand(SSL_CTX* context) {
  X509_STORE* store = SSL_CTX_get_cert_store(context);
  ERR_set_mark();
  if (X509_LOOKUP* lookup = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir()); lookup != nullptr) {
    X509_LOOKUP_add_dir(lookup, nullptr, X509_FILETYPE_DEFAULT);
  }
  ERR_pop_to_mark();
  X509_STORE_set_get_issuer(store, FindTrustedIssuer);
}

}  // namespace korvane::registry
