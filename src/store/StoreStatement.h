#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace korvane::store {

// One prepared SQL statement of the store, finalized when it goes. Values are bound by position
// (from 1) and read by column (from 0); a failure raises the store's error with the engine's text.
class StoreStatement {
 public:
  StoreStatement(sqlite3* database, std::string_view sql);
  ~StoreStatement();
  StoreStatement(const StoreStatement&) = delete;
  StoreStatement& operator=(const StoreStatement&) = delete;

  StoreStatement& Bind(int position, std::string_view text);
  StoreStatement& Bind(int position, std::int64_t number);
  StoreStatement& BindBlob(int position, std::string_view bytes);
  StoreStatement& BindNull(int position);
  StoreStatement& Bind(int position, const std::optional<std::int64_t>& number);
  StoreStatement& BindOptional(int position, const std::optional<std::string>& text);

  // Runs the statement to its next row: true while there is one, false when it is done.
  bool Step();
  // Runs a statement that returns no rows.
  void Run();

  std::string Text(int column) const;
  std::int64_t Number(int column) const;
  std::optional<std::int64_t> OptionalNumber(int column) const;
  std::optional<std::string> OptionalText(int column) const;

 private:
  sqlite3* database_;
  sqlite3_stmt* statement_ = nullptr;
};

// Raises the store's error for the last failure on `database`, naming what was being done.
[[noreturn]] void RaiseStoreError(sqlite3* database, std::string_view doing);

}  // namespace korvane::store
