#include "db/IBError.h"

#include <algorithm>
#include <initializer_list>

#include "db/StatusCodes.h"

namespace korvane::db {

namespace {

bool RaisedByTheLibraryWithOneOf(const Exception& error, std::initializer_list<ISC_STATUS> codes) {
  const auto* database = dynamic_cast<const EIBInterBaseError*>(&error);
  return database != nullptr && std::ranges::find(codes, database->IBErrorCode()) != codes.end();
}

}  // namespace

bool KeyTaken(const Exception& error) {
  return RaisedByTheLibraryWithOneOf(
      error, {kUniqueKeyViolation, kDuplicateInIndex, kLockConflict, kDeadlock, kUpdateConflict});
}

bool LockHeldElsewhere(const Exception& error) {
  return RaisedByTheLibraryWithOneOf(error, {kLockConflict, kDeadlock, kUpdateConflict, kConcurrentTransaction});
}

bool ConnectionLost(const Exception& error) {
  const auto* database = dynamic_cast<const EIBError*>(&error);
  return database != nullptr && database->ConnectionLost();
}

bool NoAnswer(const Exception& error) {
  const auto* database = dynamic_cast<const EIBError*>(&error);
  return database != nullptr && database->NoAnswer();
}

}  // namespace korvane::db
