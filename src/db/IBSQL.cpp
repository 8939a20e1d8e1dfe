#include "db/IBSQL.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "db/ClientLibrary.h"
#include "db/ParameterBlocks.h"
#include "platform/Convert.h"
#include "platform/Text.h"

namespace korvane {

using namespace db;

static_assert(sizeof(isc_stmt_handle) == sizeof(std::uint32_t));

namespace {

XSQLVAR* Var(void* var) { return static_cast<XSQLVAR*>(var); }

XSQLDA* AllocateDescriptor(std::vector<char>& storage, int count) {
  storage.assign(XSQLDA_LENGTH(std::max(count, 1)), 0);
  auto* descriptor = reinterpret_cast<XSQLDA*>(storage.data());
  descriptor->version = SQLDA_VERSION1;
  descriptor->sqln = static_cast<ISC_SHORT>(std::max(count, 1));
  return descriptor;
}

XSQLDA* Descriptor(std::vector<char>& storage) {
  return storage.empty() ? nullptr : reinterpret_cast<XSQLDA*>(storage.data());
}

std::string Normalize(std::string_view name) {
  return text::UpperCase(text::TrimControl(name));
}

// Names of a lookup: trimmed and upper case, except a quoted name in dialect 3.
std::string LookupName(std::string_view name, int dialect) {
  const std::string_view trimmed = text::TrimControl(name);
  if (dialect == 3 && trimmed.size() >= 2 && trimmed.front() == '"' && trimmed.back() == '"') {
    return std::string(trimmed.substr(1, trimmed.size() - 2));
  }
  return text::UpperCase(trimmed);
}

std::int64_t ReadInteger(const XSQLVAR* var) {
  switch (var->sqltype & ~1) {
    case SQL_SHORT: {
      std::int16_t v;
      std::memcpy(&v, var->sqldata, sizeof v);
      return v;
    }
    case SQL_LONG: {
      std::int32_t v;
      std::memcpy(&v, var->sqldata, sizeof v);
      return v;
    }
    default: {
      std::int64_t v;
      std::memcpy(&v, var->sqldata, sizeof v);
      return v;
    }
  }
}

double ReadFloat(const XSQLVAR* var) {
  if ((var->sqltype & ~1) == SQL_FLOAT) {
    float v;
    std::memcpy(&v, var->sqldata, sizeof v);
    return v;
  }
  double v;
  std::memcpy(&v, var->sqldata, sizeof v);
  return v;
}

// A scaled integer as exact decimal text, without trailing zeros after the point.
std::string ScaledText(std::int64_t value, int scale) {
  if (scale >= 0) {
    std::string digits = std::to_string(value);
    if (value != 0) digits.append(static_cast<std::size_t>(scale), '0');
    return digits;
  }
  const bool negative = value < 0;
  std::string digits = std::to_string(value);
  if (negative) digits.erase(0, 1);
  const std::size_t places = static_cast<std::size_t>(-scale);
  if (digits.size() <= places) digits.insert(0, places - digits.size() + 1, '0');
  std::string whole = digits.substr(0, digits.size() - places);
  std::string fraction = digits.substr(digits.size() - places);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  std::string out = (negative ? "-" : "") + whole;
  if (!fraction.empty()) out += "." + fraction;
  return out;
}

std::string FloatText(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

// Days since 17 November 1858, the server's day zero.
std::string DateText(ISC_DATE days) {
  // Civil-from-days on the proleptic Gregorian calendar.
  const std::int64_t z = static_cast<std::int64_t>(days) - 40587 + 719468;  // from 0000-03-01
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char buffer[80];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day));
  return buffer;
}

std::string TimeText(ISC_TIME fractions) {
  const unsigned seconds = fractions / 10000;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return buffer;
}

int BytesPerCharacter(int characterSet) {
  switch (characterSet) {
    case 3: return 3;   // UNICODE_FSS
    case 4: return 4;   // UTF8
    case 5: case 6: case 44: case 56: case 57: case 64: case 67: case 68: return 2;
    default: return 1;
  }
}

}  // namespace

// ---- TIBXSQLVAR ----

TIBXSQLVAR::TIBXSQLVAR(TIBSQL* owner, int index, void* xsqlvar)
    : owner_(owner), index_(index), var_(xsqlvar) {}

TIBXSQLVAR::~TIBXSQLVAR() = default;

bool TIBXSQLVAR::IsNull() const {
  return (Var(var_)->sqltype & 1) != 0 && nullIndicator_ == -1;
}

std::string TIBXSQLVAR::AsString() const {
  if (IsNull()) return {};
  const XSQLVAR* var = Var(var_);
  switch (var->sqltype & ~1) {
    case SQL_TEXT: {
      std::size_t length = static_cast<std::size_t>(var->sqllen);
      // For a table column the described length counts bytes of its character set.
      if (var->relname_length > 0) {
        length = length / static_cast<std::size_t>(BytesPerCharacter(var->sqlsubtype & 0xFF));
      }
      return text::Cp1252ToUtf8(std::string_view(var->sqldata, length));
    }
    case SQL_VARYING: {
      const auto length = static_cast<std::size_t>(Api().vax_integer(var->sqldata, 2));
      return text::Cp1252ToUtf8(std::string_view(var->sqldata + 2, length));
    }
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
      return ScaledText(ReadInteger(var), var->sqlscale);
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      return FloatText(ReadFloat(var));
    case SQL_TYPE_DATE: {
      ISC_DATE date;
      std::memcpy(&date, var->sqldata, sizeof date);
      return DateText(date);
    }
    case SQL_TYPE_TIME: {
      ISC_TIME time;
      std::memcpy(&time, var->sqldata, sizeof time);
      return TimeText(time);
    }
    case SQL_TIMESTAMP: {
      ISC_TIMESTAMP stamp;
      std::memcpy(&stamp, var->sqldata, sizeof stamp);
      return DateText(stamp.timestamp_date) + " " + TimeText(stamp.timestamp_time);
    }
    case SQL_BOOLEAN:
      return var->sqldata[0] != 0 ? "True" : "False";
    case SQL_ARRAY:
      return "(Array)";
    default:
      RaiseClientError(kInvalidDataConversion);
  }
}

std::int32_t TIBXSQLVAR::AsInteger() const {
  if (IsNull()) return 0;
  const XSQLVAR* var = Var(var_);
  constexpr double kMin = std::numeric_limits<std::int32_t>::min();
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  switch (var->sqltype & ~1) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64: {
      std::int64_t value = ReadInteger(var);
      if (var->sqlscale < 0) {
        for (int i = 0; i < -var->sqlscale; ++i) value /= 10;
      } else {
        for (int i = 0; i < var->sqlscale; ++i) {
          if (value > std::numeric_limits<std::int64_t>::max() / 10 ||
              value < std::numeric_limits<std::int64_t>::min() / 10) {
            RaiseClientError(kInvalidDataConversion);
          }
          value *= 10;
        }
      }
      // A value outside the 32-bit range is refused rather than wrapped.
      if (value < std::numeric_limits<std::int32_t>::min() ||
          value > std::numeric_limits<std::int32_t>::max()) {
        RaiseClientError(kInvalidDataConversion);
      }
      return static_cast<std::int32_t>(value);
    }
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT: {
      const double value = std::trunc(ReadFloat(var));
      if (!(value >= kMin && value <= kMax)) RaiseClientError(kInvalidDataConversion);
      return static_cast<std::int32_t>(value);
    }
    case SQL_TEXT:
    case SQL_VARYING: {
      const auto value = StrToInt32(AsString());
      if (!value) RaiseClientError(kInvalidDataConversion);
      return *value;
    }
    case SQL_BOOLEAN:
      return var->sqldata[0] != 0 ? 1 : 0;
    default:
      RaiseClientError(kInvalidDataConversion);
  }
}

void TIBXSQLVAR::SetAsString(std::string_view utf8) {
  const bool isParam = std::any_of(owner_->params_.begin(), owner_->params_.end(),
                                   [this](const auto& p) { return p.get() == this; });
  if (!isParam) {
    SetOne(utf8);
    return;
  }
  // Every marker of the same name takes the value.
  for (const auto& param : owner_->params_) {
    if (param->name_ == name_) param->SetOne(utf8);
  }
}

void TIBXSQLVAR::SetNull() {
  nullIndicator_ = -1;
  modified_ = true;
}

void TIBXSQLVAR::SetOne(std::string_view utf8) {
  XSQLVAR* var = Var(var_);
  const bool isText = describedType_ == SQL_TEXT || describedType_ == SQL_VARYING;
  if (!isText && utf8.empty()) {
    SetNull();
    return;
  }
  const std::string bytes = text::Utf8ToCp1252(utf8);
  if (isText && describedLength_ > 0 && bytes.size() > static_cast<std::size_t>(describedLength_)) {
    RaiseClientError(kStringTooLarge, static_cast<long long>(bytes.size()), describedLength_);
  }
  // Other kinds travel as text too, for the server to convert; their length must fit.
  constexpr std::size_t kMaxText = 32767;
  if (bytes.size() > kMaxText) {
    RaiseClientError(kStringTooLarge, static_cast<long long>(bytes.size()),
                     static_cast<long long>(kMaxText));
  }
  data_.assign(bytes.begin(), bytes.end());
  data_.push_back('\0');  // never sent: keeps sqldata valid for an empty text
  var->sqltype = static_cast<ISC_SHORT>(SQL_TEXT | (var->sqltype & 1));
  var->sqllen = static_cast<ISC_SHORT>(bytes.size());
  var->sqlsubtype = 0;
  var->sqlscale = 0;
  var->sqldata = data_.data();
  nullIndicator_ = 0;
  modified_ = true;
}

// ---- TIBSQL ----

TIBSQL::TIBSQL(TIBDatabase* database) {
  if (database != nullptr) SetDatabase(database);
}

TIBSQL::~TIBSQL() {
  CloseQuietly();
  FreeHandle();
  if (database_ != nullptr) database_->RemoveStatement(this);
  if (transaction_ != nullptr) transaction_->RemoveStatement(this);
  database_ = nullptr;
  transaction_ = nullptr;
  ownedTransaction_.reset();
}

void TIBSQL::SetDatabase(TIBDatabase* database) {
  if (database == database_) return;
  Unprepare();
  if (database_ != nullptr) database_->RemoveStatement(this);
  database_ = database;
  if (database_ != nullptr) database_->AddStatement(this);
}

void TIBSQL::SetTransaction(TIBTransaction* transaction) {
  if (transaction == transaction_) return;
  Unprepare();
  if (transaction_ != nullptr) transaction_->RemoveStatement(this);
  transaction_ = transaction;
  if (transaction_ != nullptr) transaction_->AddStatement(this);
}

TIBTransaction& TIBSQL::OwnTransaction(std::unique_ptr<TIBTransaction> transaction) {
  SetTransaction(transaction.get());
  ownedTransaction_ = std::move(transaction);
  return *ownedTransaction_;
}

void TIBSQL::AddLine(std::string_view line) {
  Unprepare();
  sql_.emplace_back(line);
}

void TIBSQL::ClearSQL() {
  Unprepare();
  sql_.clear();
}

void TIBSQL::SetSQLText(std::string_view text) {
  Unprepare();
  sql_ = SplitLines(text);
}

void TIBSQL::CheckReady() const {
  if (database_ == nullptr) RaiseClientError(kDatabaseNotAssigned);
  if (!database_->Connected()) RaiseClientError(kDatabaseClosed);
  if (transaction_ == nullptr) RaiseClientError(kTransactionNotAssigned);
  if (!transaction_->InTransaction()) RaiseClientError(kNotInTransaction);
}

void TIBSQL::FreeHandle() noexcept {
  if (handle_ != 0 && database_ != nullptr && database_->Connected() && ClientLibraryLoaded()) {
    ISC_STATUS_ARRAY status{};
    Api().dsql_free_statement(status, &handle_, DSQL_drop);
  }
  handle_ = 0;
  prepared_ = false;
  open_ = false;
  eof_ = false;
  recordCount_ = 0;
  sqlType_ = TIBSQLTypes::SQLUnknown;
  processedSQL_.clear();
  params_.clear();
  fields_.clear();
  inDescriptor_.clear();
  outDescriptor_.clear();
}

void TIBSQL::Unprepare() noexcept {
  CloseQuietly();
  FreeHandle();
}

void TIBSQL::CloseQuietly() noexcept {
  try {
    Close();
  } catch (...) {
  }
  open_ = false;
  eof_ = false;
  recordCount_ = 0;
}

void TIBSQL::DatabaseClosing() noexcept { Unprepare(); }

void TIBSQL::DatabaseGone() noexcept {
  Unprepare();
  database_ = nullptr;
}

void TIBSQL::TransactionGone() noexcept {
  CloseQuietly();
  transaction_ = nullptr;
}

void TIBSQL::Prepare() {
  if (open_) RaiseClientError(kSQLOpen);
  CheckReady();
  if (prepared_) return;
  std::string text = JoinLines(sql_);
  if (text.empty()) RaiseClientError(kEmptyQuery);
  std::vector<std::string> names;
  if (paramCheck_) text = ConvertParamMarkers(text, names);
  if (text.empty()) RaiseClientError(kEmptyQuery);

  const ClientApi& api = Api();
  ISC_STATUS_ARRAY status{};
  // Any failure from here drops the statement; a lost connection also closes the connection.
  auto fail = [&]() {
    const bool lost = StatusHolds(status, kConnectionLost);
    try {
      RaiseDatabaseError(status);
    } catch (...) {
      FreeHandle();
      if (lost && database_ != nullptr) database_->ForceClose();
      throw;
    }
  };
  api.dsql_alloc_statement2(status, database_->HandleAddress(), &handle_);
  if (StatusFailed(status)) fail();
  const std::string bytes = text::Utf8ToCp1252(text);
  api.dsql_prepare(status, transaction_->HandleAddress(), &handle_, 0, bytes.c_str(),
                   static_cast<unsigned short>(database_->SQLDialect()), nullptr);
  if (StatusFailed(status)) fail();

  const ISC_SCHAR item = isc_info_sql_stmt_type;
  ISC_SCHAR answer[8] = {};
  api.dsql_sql_info(status, &handle_, 1, &item, sizeof answer, answer);
  if (StatusFailed(status)) fail();
  if (answer[0] != isc_info_sql_stmt_type) {
    FreeHandle();
    RaiseClientError(kUnknownError);
  }
  const short length = static_cast<short>(api.vax_integer(answer + 1, 2));
  sqlType_ = static_cast<TIBSQLTypes>(api.vax_integer(answer + 3, length));
  if (sqlType_ == TIBSQLTypes::SQLGetSegment || sqlType_ == TIBSQLTypes::SQLPutSegment ||
      sqlType_ == TIBSQLTypes::SQLStartTransaction) {
    FreeHandle();
    RaiseClientError(kNotPermitted);
  }
  try {
    DescribeParams(names);
    if (sqlType_ == TIBSQLTypes::SQLSelect || sqlType_ == TIBSQLTypes::SQLExecProcedure ||
        sqlType_ == TIBSQLTypes::SQLSelectForUpdate) {
      DescribeFields();
    }
  } catch (...) {
    FreeHandle();
    throw;
  }
  processedSQL_ = text;
  prepared_ = true;
}

void TIBSQL::DescribeParams(const std::vector<std::string>& names) {
  const ClientApi& api = Api();
  ISC_STATUS_ARRAY status{};
  const unsigned short dialect = static_cast<unsigned short>(database_->SQLDialect());
  XSQLDA* descriptor = AllocateDescriptor(inDescriptor_, static_cast<int>(names.size()));
  api.dsql_describe_bind(status, &handle_, dialect, descriptor);
  if (StatusFailed(status)) RaiseDatabaseError(status);
  if (descriptor->sqld != descriptor->sqln && descriptor->sqld > 0) {
    descriptor = AllocateDescriptor(inDescriptor_, descriptor->sqld);
    api.dsql_describe_bind(status, &handle_, dialect, descriptor);
    if (StatusFailed(status)) RaiseDatabaseError(status);
  }
  params_.clear();
  if (descriptor->sqld == 0) {
    inDescriptor_.clear();
    return;
  }
  for (int i = 0; i < descriptor->sqld; ++i) {
    XSQLVAR* var = &descriptor->sqlvar[i];
    std::unique_ptr<TIBXSQLVAR> param(new TIBXSQLVAR(this, i, var));
    param->name_ = i < static_cast<int>(names.size()) ? Normalize(names[i]) : std::string();
    param->describedType_ = static_cast<short>(var->sqltype & ~1);
    param->describedLength_ = var->sqllen;
    param->describedSubType_ = var->sqlsubtype;
    param->describedScale_ = var->sqlscale;
    var->sqltype = static_cast<ISC_SHORT>(var->sqltype | 1);  // every parameter may be NULL
    const std::size_t size = static_cast<std::size_t>(var->sqllen) +
                             ((var->sqltype & ~1) == SQL_VARYING ? 2 : 0);
    param->data_.assign(std::max<std::size_t>(size, 1), 0);
    var->sqldata = param->data_.data();
    param->nullIndicator_ = -1;
    var->sqlind = &param->nullIndicator_;
    params_.push_back(std::move(param));
  }
}

void TIBSQL::DescribeFields() {
  const ClientApi& api = Api();
  ISC_STATUS_ARRAY status{};
  const unsigned short dialect = static_cast<unsigned short>(database_->SQLDialect());
  XSQLDA* descriptor = AllocateDescriptor(outDescriptor_, 1);
  api.dsql_describe(status, &handle_, dialect, descriptor);
  if (StatusFailed(status)) RaiseDatabaseError(status);
  if (descriptor->sqld > descriptor->sqln) {
    descriptor = AllocateDescriptor(outDescriptor_, descriptor->sqld);
    api.dsql_describe(status, &handle_, dialect, descriptor);
    if (StatusFailed(status)) RaiseDatabaseError(status);
  }
  fields_.clear();
  for (int i = 0; i < descriptor->sqld; ++i) {
    XSQLVAR* var = &descriptor->sqlvar[i];
    std::unique_ptr<TIBXSQLVAR> field(new TIBXSQLVAR(this, i, var));
    // An empty alias becomes F_1; a repeated name gets the next free number appended.
    std::string base = Normalize(std::string_view(var->aliasname,
                                                  static_cast<std::size_t>(var->aliasname_length)));
    int number = 0;
    if (base.empty()) {
      base = "F_";
      number = 1;
    }
    auto taken = [&](const std::string& candidate) {
      return std::any_of(fields_.begin(), fields_.end(),
                         [&](const auto& f) { return f->name_ == candidate; });
    };
    std::string name = number == 0 ? base : base + std::to_string(number);
    while (taken(name)) name = base + std::to_string(++number);
    field->name_ = name;
    field->describedType_ = static_cast<short>(var->sqltype & ~1);
    field->describedLength_ = var->sqllen;
    field->describedSubType_ = var->sqlsubtype;
    field->describedScale_ = var->sqlscale;
    const std::size_t size = static_cast<std::size_t>(var->sqllen) +
                             ((var->sqltype & ~1) == SQL_VARYING ? 2 : 0);
    field->data_.assign(std::max<std::size_t>(size, 1), 0);
    var->sqldata = field->data_.data();
    field->nullIndicator_ = -1;
    var->sqlind = &field->nullIndicator_;
    fields_.push_back(std::move(field));
  }
  if (fields_.empty()) outDescriptor_.clear();
}

void TIBSQL::ExecQuery() {
  if (open_) RaiseClientError(kSQLOpen);
  if (!prepared_) {
    Prepare();
  } else {
    CheckReady();
  }
  const ClientApi& api = Api();
  ISC_STATUS_ARRAY status{};
  const unsigned short dialect = static_cast<unsigned short>(database_->SQLDialect());
  XSQLDA* in = Descriptor(inDescriptor_);
  if (sqlType_ == TIBSQLTypes::SQLSelect || sqlType_ == TIBSQLTypes::SQLSelectForUpdate) {
    api.dsql_execute2(status, transaction_->HandleAddress(), &handle_, dialect, in, nullptr);
    if (StatusFailed(status)) RaiseDatabaseError(status);
    open_ = true;
    eof_ = false;
    recordCount_ = 0;
    if (goToFirstRecord_) Next();
  } else if (sqlType_ == TIBSQLTypes::SQLExecProcedure) {
    api.dsql_execute2(status, transaction_->HandleAddress(), &handle_, dialect, in,
                      Descriptor(outDescriptor_));
    if (StatusFailed(status)) RaiseDatabaseError(status);
  } else {
    api.dsql_execute(status, transaction_->HandleAddress(), &handle_, dialect, in);
    if (StatusFailed(status)) RaiseDatabaseError(status);
  }
}

void TIBSQL::Next() {
  if (eof_) return;
  if (!open_) RaiseClientError(kSQLClosed);
  ISC_STATUS_ARRAY status{};
  const ISC_STATUS result =
      Api().dsql_fetch(status, &handle_, static_cast<unsigned short>(database_->SQLDialect()),
                       Descriptor(outDescriptor_));
  if (result == 100) {
    eof_ = true;
    return;
  }
  if (StatusFailed(status)) {
    if (StatusHolds(status, kNoCursor)) {
      eof_ = true;
      return;
    }
    try {
      RaiseDatabaseError(status);
    } catch (...) {
      CloseQuietly();
      throw;
    }
  }
  // A column that cannot be NULL leaves the indicator alone.
  for (const auto& field : fields_) {
    if ((Var(field->var_)->sqltype & 1) == 0) field->nullIndicator_ = 0;
  }
  ++recordCount_;
}

void TIBSQL::Close() {
  const bool wasOpen = open_;
  open_ = false;
  eof_ = false;
  recordCount_ = 0;
  if (!wasOpen || handle_ == 0 || database_ == nullptr || !database_->Connected()) return;
  ISC_STATUS_ARRAY status{};
  Api().dsql_free_statement(status, &handle_, DSQL_close);
  if (StatusFailed(status) && !StatusHolds(status, kBadStatementHandle) &&
      !StatusHolds(status, kCursorAlreadyClosed)) {
    RaiseDatabaseError(status);
  }
}

TIBXSQLVAR* TIBSQL::FindByName(std::vector<std::unique_ptr<TIBXSQLVAR>>& list,
                               std::string_view name) {
  const int dialect = database_ != nullptr ? database_->SQLDialect() : 3;
  const std::string wanted = LookupName(name, dialect);
  for (const auto& var : list) {
    if (var->name_ == wanted) return var.get();
  }
  return nullptr;
}

TIBXSQLVAR& TIBSQL::ParamByName(std::string_view name) {
  if (!prepared_) Prepare();
  TIBXSQLVAR* param = FindByName(params_, name);
  if (param == nullptr) RaiseClientError(kFieldNotFound, std::string(name));
  return *param;
}

TIBXSQLVAR& TIBSQL::FieldByName(std::string_view name) {
  TIBXSQLVAR* field = FindByName(fields_, name);
  if (field == nullptr) RaiseClientError(kFieldNotFound, std::string(name));
  return *field;
}

TIBXSQLVAR& TIBSQL::Fields(int index) {
  if (index < 0 || index >= static_cast<int>(fields_.size())) {
    RaiseClientError(kFieldNotFound, std::to_string(index));
  }
  return *fields_[static_cast<std::size_t>(index)];
}

}  // namespace korvane
