#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "db/IBDatabase.h"
#include "db/IBError.h"
#include "serverlogin/ServerLogin.h"
#include "support/FirebirdFixture.h"
#include "support/TempDir.h"

namespace korvane::testing {

inline std::string LayerScript() { return std::string(KORVANE_SOURCE_DIR) + "/tests/db/layer.sql"; }

// The tool's login and a connection string, as the configuration layer sets them; a name that
// goes through the local server gets that server's password instead of the built-in one.
inline void Prepare(TIBDatabase& database, const std::string& name) {
  database.SetLoginPrompt(false);
  database.ClearParams();
  database.SetParam("user_name", kUserName);
  database.SetParam("password", ThroughServer(name) ? serverlogin::Password() : std::string(kBuiltInPassword));
  database.SetDatabaseName(name);
}

// A fresh database from tests/db/layer.sql per test, opened through the embedded engine (which
// checks no password).
class LayerTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateDatabase(path_, LayerScript()); }

  std::string Path() const { return path_; }

  TempDir dir_;
  std::string path_ = dir_.File("layer.fdb");
};

struct RaisedError {
  std::string kind;  // "client", "interbase", "role", "other" or "none"
  std::string message;
  int sqlCode = 0;
  int ibErrorCode = 0;
};

// Runs `action` and describes the error it raises.
inline RaisedError Raised(const std::function<void()>& action) {
  try {
    action();
  } catch (const EIBClientError& e) {
    return {"client", e.Message(), e.SQLCode(), e.IBErrorCode()};
  } catch (const EIBInterBaseRoleError& e) {
    return {"role", e.Message(), e.SQLCode(), e.IBErrorCode()};
  } catch (const EIBInterBaseError& e) {
    return {"interbase", e.Message(), e.SQLCode(), e.IBErrorCode()};
  } catch (const Exception& e) {
    return {"other", e.Message(), 0, 0};
  }
  return {"none", "", 0, 0};
}

// The layer's own error: its message and entry number.
#define EXPECT_CLIENT_ERROR(action, entry, text)  \
  do {                                            \
    const auto raised_ = Raised([&] { action; }); \
    EXPECT_EQ(raised_.kind, "client");            \
    EXPECT_EQ(raised_.message, text);             \
    EXPECT_EQ(raised_.sqlCode, entry);            \
  } while (false)

}  // namespace korvane::testing
