// Backends still being written: they fail with a clear reason meanwhile.
#include "db/DbInternal.h"

namespace common::db::detail {

std::unique_ptr<TDbConnection> OpenOdbc(const std::vector<TConnEntry>&) {
  throw EDbError("ODBC connections are not available in this build");
}

}  // namespace common::db::detail
