// The Access reader program: found and started from a client whose address space is busy, and
// a clear error when it cannot be started.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "AddressSpacePressure.h"
#include "DbTestUtil.h"
#include "db/DbAccess.h"

using namespace common::db;
using namespace dbtest;

namespace {

#define REQUIRE_SHARED(file) \
  if (!fs::exists(Shared(file))) GTEST_SKIP() << Shared(file) << " is absent"

// Sets an environment variable for the life of the object.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, const std::string& value) : FName(name) {
    const char* old = std::getenv(name);
    FHadOld = old != nullptr;
    if (old) FOld = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~TScopedEnv() {
    if (FHadOld)
      ::setenv(FName, FOld.c_str(), 1);
    else
      ::unsetenv(FName);
  }

 private:
  const char* FName;
  std::string FOld;
  bool FHadOld = false;
};

std::vector<std::string> AllRows(TDbConnection& c) {
  std::vector<std::string> out;
  for (const char* t : {"AllTypes", "Ordered", "NoKey"}) {
    auto rows = Rows(*c.Query(std::string("select * from ") + t + " order by 1, 2"));
    out.insert(out.end(), rows.begin(), rows.end());
  }
  return out;
}

}  // namespace

// 8 GiB reserved and 300 idle threads: far beyond the reader's own data limit, which must not
// apply to what the client holds.
TEST(DbAccessReader, ReadsWhileTheClientHoldsMuchAddressSpace) {
  REQUIRE_SHARED("fixtures/access/types.mdb");
  std::string jet = JetText(Shared("fixtures/access/types.mdb"));
  std::vector<std::string> expected = AllRows(*OpenConnection(jet));
  ASSERT_FALSE(expected.empty());
  TAddressSpacePressure pressure(std::size_t(8) << 30, 300);
  ASSERT_TRUE(pressure.Held());
  std::vector<std::string> rows;
  EXPECT_EQ(ErrorOf([&] { rows = AllRows(*OpenConnection(jet)); }), "(no error)");
  EXPECT_EQ(rows, expected);
}

TEST(DbAccessReader, ReaderThatCannotStartIsNamed) {
  REQUIRE_SHARED("fixtures/access/types.mdb");
  TTempDir dir;
  std::string plain = dir.File("not-a-program");
  std::ofstream(plain) << "#!/bin/sh\n";
  chmod(plain.c_str(), 0644);
  struct Case {
    std::string reader, error;
  } cases[] = {
      {dir.File("missing"),
       "The Access reader \"" + dir.File("missing") + "\" cannot be started (No such file or directory)"},
      {plain, "The Access reader \"" + plain + "\" cannot be started (Permission denied)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reader);
    TScopedEnv env("VERIMEK_MDB_READER", c.reader);
    EXPECT_EQ(ErrorOf([] { OpenConnection(JetText(Shared("fixtures/access/types.mdb"))); }), c.error);
  }
}
