#include "db/ClientLibrary.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <list>
#include <mutex>
#include <vector>

#include "db/DatabaseText.h"
#include "platform/MessageText.h"
#include "platform/Utf8.h"

namespace korvane::db {

namespace {

ClientApi gApi{};
bool gLoaded = false;

template <typename Fn>
void Resolve(void* library, const char* name, Fn& target) {
  dlerror();
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) {
    const char* error = dlerror();
    throw Exception(error != nullptr ? error : std::string("undefined symbol: ") + name);
  }
  target = reinterpret_cast<Fn>(symbol);
}

const char* EntryText(ClientEntry entry) {
  switch (entry) {
    case kUnknownError: return "Unknown error";
    case kLibraryNotFound:
      return "InterBase library %s not found in the path. Please install InterBase to use this "
             "functionality";
    case kNotPermitted: return "Not permitted";
    case kDatabaseClosed: return "Cannot perform operation -- DB is not open";
    case kDatabaseOpen: return "Cannot perform operation -- DB is currently open";
    case kDatabaseNameMissing: return "Database name is missing";
    case kNotInTransaction: return "Transaction is not active";
    case kInTransaction: return "Transaction is active";
    case kNoDatabasesInTransaction: return "No databases are listed in transaction component";
    case kDatabaseNotAssigned: return "Database not assigned";
    case kTransactionNotAssigned: return "Transaction not assigned";
    case kSQLOpen: return "IBSQL Open";
    case kSQLClosed: return "IBSQL Closed";
    case kInvalidDataConversion: return "Invalid data conversion";
    case kEmptyQuery: return "Empty query";
    case kFieldNotFound: return "Field \"%s\" not found";
    case kSQLParseError: return "SQL Parse Error:\r\n\r\n%s";
    case kDPBConstantUnknown: return "DPB Constant (%s) is unknown";
    case kTPBConstantUnknown: return "TPB Constant (%s) is unknown";
    case kStringTooLarge: return "Trying to store a string of length %d into a field that can only contain %d";
  }
  return "Unknown error";
}

}  // namespace

const ClientApi& LoadClientLibrary() {
  // One thread uses the layer, but loading is cheap to guard and happens once.
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  if (gLoaded) return gApi;
  void* library = dlopen(kClientLibraryName, RTLD_NOW | RTLD_GLOBAL);
  if (library == nullptr) library = dlopen("libfbclient.so", RTLD_NOW | RTLD_GLOBAL);
  if (library == nullptr) RaiseClientError(kLibraryNotFound, kClientLibraryName);
  ClientApi resolved{};
  Resolve(library, "isc_attach_database", resolved.attach_database);
  Resolve(library, "isc_database_info", resolved.database_info);
  Resolve(library, "isc_detach_database", resolved.detach_database);
  Resolve(library, "isc_start_multiple", resolved.start_multiple);
  Resolve(library, "isc_commit_transaction", resolved.commit_transaction);
  Resolve(library, "isc_rollback_transaction", resolved.rollback_transaction);
  Resolve(library, "isc_transaction_info", resolved.transaction_info);
  Resolve(library, "isc_dsql_allocate_statement", resolved.dsql_allocate_statement);
  Resolve(library, "isc_dsql_prepare", resolved.dsql_prepare);
  Resolve(library, "isc_dsql_sql_info", resolved.dsql_sql_info);
  Resolve(library, "isc_dsql_describe_bind", resolved.dsql_describe_bind);
  Resolve(library, "isc_dsql_describe", resolved.dsql_describe);
  Resolve(library, "isc_dsql_execute", resolved.dsql_execute);
  Resolve(library, "isc_dsql_execute2", resolved.dsql_execute2);
  Resolve(library, "isc_dsql_fetch", resolved.dsql_fetch);
  Resolve(library, "isc_dsql_free_statement", resolved.dsql_free_statement);
  Resolve(library, "isc_sqlcode", resolved.sqlcode);
  Resolve(library, "fb_interpret", resolved.interpret);
  Resolve(library, "isc_vax_integer", resolved.vax_integer);
  Resolve(library, "isc_portable_integer", resolved.portable_integer);
  Resolve(library, "fb_cancel_operation", resolved.cancel_operation);
  gApi = resolved;
  gLoaded = true;
  return gApi;
}

const ClientApi& Api() { return gApi; }
bool ClientLibraryLoaded() { return gLoaded; }

namespace {

// A copy of a status vector whose text arguments (a file name, a value stored in the database,
// a name from the caller) have their control characters shown as "?": what the library formats
// from its own message texts keeps its line breaks, what it places into them cannot add lines or
// reach the terminal. Valid while the object lives.
class ArgumentsShown {
 public:
  explicit ArgumentsShown(const ISC_STATUS* status) {
    // Each cluster is a tag and one argument (two for a counted string); the copy ends, zeroed
    // (isc_arg_end), before a cluster that would not fit whole.
    for (int i = 0; status[i] != isc_arg_end;) {
      const ISC_STATUS tag = status[i];
      const int size = tag == isc_arg_cstring ? 3 : 2;
      if (i + size >= ISC_STATUS_LENGTH) break;
      copy_[i] = tag;
      if (tag == isc_arg_cstring) {
        const auto length = static_cast<std::size_t>(status[i + 1]);
        const std::string& text = Keep(std::string_view(reinterpret_cast<const char*>(status[i + 2]), length));
        copy_[i + 1] = static_cast<ISC_STATUS>(text.size());
        copy_[i + 2] = reinterpret_cast<ISC_STATUS>(text.c_str());
      } else if (tag == isc_arg_string || tag == isc_arg_interpreted || tag == isc_arg_sql_state) {
        const char* text = reinterpret_cast<const char*>(status[i + 1]);
        copy_[i + 1] = reinterpret_cast<ISC_STATUS>(Keep(text != nullptr ? text : "").c_str());
      } else {
        copy_[i + 1] = status[i + 1];
      }
      i += size;
    }
  }
  const ISC_STATUS* Vector() const { return copy_.data(); }

 private:
  const std::string& Keep(std::string_view bytes) {
    std::string shown(bytes);
    for (char& c : shown) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return texts_.emplace_back(std::move(shown));
  }

  std::array<ISC_STATUS, ISC_STATUS_LENGTH> copy_{};
  std::list<std::string> texts_;  // stable addresses
};

// One line of the library, read: its own line breaks (from its message texts) become CR LF, every
// other control character "?".
std::string LineForMessage(std::string_view line) {
  std::string shown;
  std::size_t start = 0;
  while (true) {
    const std::size_t lf = line.find('\n', start);
    std::string_view piece = line.substr(start, lf == std::string_view::npos ? std::string_view::npos : lf - start);
    if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
    shown += platform::TextForMessage(piece);
    if (lf == std::string_view::npos) return shown;
    shown += "\r\n";
    start = lf + 1;
  }
}

}  // namespace

std::string StatusText(const ISC_STATUS* status, StatusLines lines) {
  constexpr std::size_t kBufferSize = 20480;
  std::vector<char> buffer(kBufferSize);
  std::string text;
  const ArgumentsShown shown(status);
  const ISC_STATUS* cursor = shown.Vector();
  while (true) {
    buffer[0] = '\0';
    if (gApi.interpret(buffer.data(), kBufferSize, &cursor) <= 0) break;
    buffer[kBufferSize - 1] = '\0';
    const std::string_view bytes(buffer.data());
    const std::string line =
        lines == StatusLines::AttachNames && platform::IsValidUtf8(bytes) ? std::string(bytes) : FromDatabase(bytes);
    if (!text.empty() && text.back() != '\n') text += "\r\n";
    text += LineForMessage(line);
  }
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

DatabaseError DatabaseErrorOf(const ISC_STATUS* status, StatusLines lines) {
  DatabaseError error;
  error.message_ = StatusText(status, lines);
  error.sqlCode_ = static_cast<int>(gApi.sqlcode(status));
  error.firstCode_ = status[1];
  // Each cluster of the vector is a tag and one argument (two for isc_arg_cstring), ended by
  // isc_arg_end.
  for (int i = 0; i < ISC_STATUS_LENGTH && status[i] != isc_arg_end;) {
    const ISC_STATUS tag = status[i];
    if (tag == isc_arg_gds && i + 1 < ISC_STATUS_LENGTH) error.codes_.push_back(status[i + 1]);
    i += (tag == isc_arg_cstring) ? 3 : 2;
  }
  error.lostConnection_ = std::ranges::any_of(kLostConnectionCodes, [&](ISC_STATUS code) { return error.Holds(code); });
  return error;
}

bool DatabaseError::Holds(ISC_STATUS code) const {
  return std::find(codes_.begin(), codes_.end(), code) != codes_.end();
}

void DatabaseError::GiveUp(std::string message, bool connectionClosed) {
  message_ = std::move(message);
  noAnswer_ = true;
  lostConnection_ = lostConnection_ || connectionClosed;
}

void DatabaseError::Raise() const {
  const int errorCode = static_cast<int>(firstCode_);
  if (sqlCode_ == -551) throw EIBInterBaseRoleError(message_, sqlCode_, errorCode, lostConnection_, noAnswer_);
  throw EIBInterBaseError(message_, sqlCode_, errorCode, lostConnection_, noAnswer_);
}

void RaiseClientError(ClientEntry entry) { throw EIBClientError(entry, EntryText(entry)); }

void RaiseClientError(ClientEntry entry, const std::string& argument) {
  throw EIBClientError(entry, platform::Format(EntryText(entry), {argument}));
}

void RaiseClientError(ClientEntry entry, long long a, long long b) {
  throw EIBClientError(entry, platform::Format(EntryText(entry), {std::to_string(a), std::to_string(b)}));
}

}  // namespace korvane::db
