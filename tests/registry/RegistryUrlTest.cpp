#include <gtest/gtest.h>

#include <utility>

#include "registry/Registro.h"

namespace korvane {
namespace {

TEST(RegistryUrl, ThePathEndsInASlashBeforeTheVatNumber) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://company.openapi.com/IT-start", "https://company.openapi.com/IT-start/"},
      {"https://host:8443/v1/IT-start/", "https://host:8443/v1/IT-start/"},
      {"https://host/v1/IT-advanced", "https://host/v1/IT-advanced/"},
      {"https://host", "https://host/"},
      {"https://host/base\\", "https://host/base\\"},
      {"https://host/base/?key=", "https://host/base/?key="},  // taken as written
      {"https://host/base?key=", "https://host/base?key="},
  };
  for (const auto& [configured, inForce] : cases) EXPECT_EQ(registry::RegistryUrl(configured), inForce) << configured;
}

}  // namespace
}  // namespace korvane
