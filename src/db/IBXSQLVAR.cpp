#include "db/IBXSQLVAR.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "db/ClientLibrary.h"
#include "db/DatabaseText.h"
#include "db/IBSQL.h"
#include "db/ValueText.h"
#include "platform/Convert.h"

namespace korvane {

using namespace db;

namespace {

XSQLVAR* Var(void* var) { return static_cast<XSQLVAR*>(var); }

template <typename T>
T Read(const XSQLVAR* var) {
  T value;
  std::memcpy(&value, var->sqldata, sizeof value);
  return value;
}

std::int64_t ReadInteger(const XSQLVAR* var) {
  switch (var->sqltype & ~1) {
    case SQL_SHORT: return Read<std::int16_t>(var);
    case SQL_LONG: return Read<std::int32_t>(var);
    default: return Read<std::int64_t>(var);
  }
}

double ReadFloat(const XSQLVAR* var) { return (var->sqltype & ~1) == SQL_FLOAT ? Read<float>(var) : Read<double>(var); }

}  // namespace

std::unique_ptr<TIBXSQLVAR> TIBXSQLVAR::Bind(TIBSQL* owner, void* xsqlvar, std::string name) {
  std::unique_ptr<TIBXSQLVAR> value(new TIBXSQLVAR(owner, xsqlvar, std::move(name)));
  XSQLVAR* var = Var(xsqlvar);
  value->describedType_ = static_cast<short>(var->sqltype & ~1);
  value->describedLength_ = var->sqllen;
  // A VARCHAR travels with its 2-byte length in front.
  const std::size_t size = static_cast<std::size_t>(var->sqllen) + (value->describedType_ == SQL_VARYING ? 2 : 0);
  value->data_.assign(std::max<std::size_t>(size, 1), 0);
  var->sqldata = value->data_.data();
  var->sqlind = &value->nullIndicator_;
  return value;
}

TIBXSQLVAR::TIBXSQLVAR(TIBSQL* owner, void* xsqlvar, std::string name)
    : owner_(owner), var_(xsqlvar), name_(std::move(name)) {}

TIBXSQLVAR::~TIBXSQLVAR() = default;

bool TIBXSQLVAR::IsNull() const { return (Var(var_)->sqltype & 1) != 0 && nullIndicator_ == -1; }

std::string TIBXSQLVAR::AsString() const {
  if (IsNull()) return {};
  const XSQLVAR* var = Var(var_);
  switch (var->sqltype & ~1) {
    case SQL_TEXT: {
      std::size_t length = static_cast<std::size_t>(var->sqllen);
      // For a table column the described length counts bytes of its character set, whose
      // number is the low byte of the subtype.
      if (var->relname_length > 0) {
        length = length / static_cast<std::size_t>(BytesPerCharacter(var->sqlsubtype & 0xFF));
      }
      return FromDatabase(std::string_view(var->sqldata, length));
    }
    case SQL_VARYING: {
      const auto length = static_cast<std::size_t>(Api().vax_integer(var->sqldata, 2));
      return FromDatabase(std::string_view(var->sqldata + 2, length));
    }
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64: return ScaledText(ReadInteger(var), var->sqlscale);
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return FloatText(ReadFloat(var));
    case SQL_TYPE_DATE: return DateText(Read<ISC_DATE>(var));
    case SQL_TYPE_TIME: return TimeText(Read<ISC_TIME>(var));
    case SQL_TIMESTAMP: {
      const auto stamp = Read<ISC_TIMESTAMP>(var);
      return DateText(stamp.timestamp_date) + " " + TimeText(stamp.timestamp_time);
    }
    case SQL_BOOLEAN: return var->sqldata[0] != 0 ? "True" : "False";
    case SQL_ARRAY: return "(Array)";
    default: RaiseClientError(kInvalidDataConversion);
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
      if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
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
      const auto value = platform::StrToInt32(AsString());
      if (!value) RaiseClientError(kInvalidDataConversion);
      return *value;
    }
    case SQL_BOOLEAN: return var->sqldata[0] != 0 ? 1 : 0;
    default: RaiseClientError(kInvalidDataConversion);
  }
}

void TIBXSQLVAR::SetAsString(std::string_view utf8) {
  const bool isParam =
      std::any_of(owner_->params_.begin(), owner_->params_.end(), [this](const auto& p) { return p.get() == this; });
  if (!isParam) {
    SetOne(utf8);
    return;
  }
  // Every marker of the same name takes the value.
  for (const auto& param : owner_->params_) {
    if (param->name_ == name_) param->SetOne(utf8);
  }
}

void TIBXSQLVAR::SetOne(std::string_view utf8) {
  XSQLVAR* var = Var(var_);
  const bool isText = describedType_ == SQL_TEXT || describedType_ == SQL_VARYING;
  if (!isText && utf8.empty()) {
    nullIndicator_ = -1;
    return;
  }
  const std::string bytes = ToDatabase(utf8);
  if (isText && describedLength_ > 0 && bytes.size() > static_cast<std::size_t>(describedLength_)) {
    RaiseTextTooLong(static_cast<std::int64_t>(bytes.size()), describedLength_);
  }
  // Other kinds travel as text too, for the server to convert; their length must fit.
  constexpr std::size_t kMaxText = 32767;
  if (bytes.size() > kMaxText) {
    RaiseTextTooLong(static_cast<std::int64_t>(bytes.size()), static_cast<std::int64_t>(kMaxText));
  }
  data_.assign(bytes.begin(), bytes.end());
  data_.push_back('\0');  // never sent: keeps sqldata valid for an empty text
  var->sqltype = static_cast<ISC_SHORT>(SQL_TEXT | (var->sqltype & 1));
  var->sqllen = static_cast<ISC_SHORT>(bytes.size());
  var->sqlsubtype = 0;
  var->sqlscale = 0;
  var->sqldata = data_.data();
  nullIndicator_ = 0;
}

std::int64_t db::ParameterTextLength(std::string_view utf8) {
  return static_cast<std::int64_t>(ToDatabase(utf8).size());
}

void db::RaiseTextTooLong(std::int64_t length, std::int64_t capacity) {
  RaiseClientError(kStringTooLarge, static_cast<long long>(length), static_cast<long long>(capacity));
}

}  // namespace korvane
