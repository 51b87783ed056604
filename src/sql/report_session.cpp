#include "sql/report_session.h"

#include "base/error.h"

namespace vantrelle {

void CloseAfterFailure(Recordset& records) {
  try {
    if (records.State() != 0) records.Close();
  } catch (const Error&) {
  }
}

std::string SessionRecords::FieldText(int field) {
  const Value& value = records_.FieldValue(field);
  return value.IsNull() ? std::string() : value.ToText();
}

}  // namespace vantrelle
