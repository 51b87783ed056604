#include "sql/report_session.h"

#include "run/error.h"

namespace vantrelle {

void CloseAfterFailure(Recordset& records) {
  try {
    if (records.State() != 0) records.Close();
  } catch (const Error&) {
  }
}

}  // namespace vantrelle
