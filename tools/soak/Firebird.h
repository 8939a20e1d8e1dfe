#pragma once

// The soak's own way into the databases: the client library's C interface, straight, so that
// what it reads of the archives owes nothing to the program it checks.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvane::soak {

// A column of a result row: its text, or nothing for NULL. Integers come as decimal text.
using Value = std::optional<std::string>;
using Row = std::vector<Value>;

class FirebirdError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One attachment, "localhost:/path" through the server or a plain path through the embedded
// engine, with the test server's login (serverlogin/ServerLogin.h). Failures raise FirebirdError with the engine's
// text.
class Attachment {
 public:
  // Creates a new database (character set NONE, dialect 3) and stays attached to it.
  static Attachment Create(const std::string& name);
  explicit Attachment(const std::string& name);
  ~Attachment();
  Attachment(Attachment&& other) noexcept;
  Attachment& operator=(Attachment&& other) noexcept;
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;

  // Runs the statements in one transaction and commits it.
  void Execute(const std::vector<std::string>& statements);
  // The rows of a SELECT, read in a read-committed transaction of its own (so the monitoring
  // tables are seen afresh each time). Columns must be text or integers.
  std::vector<Row> Query(const std::string& select);
  void Detach();

 private:
  Attachment() = default;

  std::uint32_t handle_ = 0;
};

}  // namespace korvane::soak
