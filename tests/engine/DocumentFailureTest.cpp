// The document while its configuration or its parser is missing: configuration boxes go to the
// host, failures of the preparation reach the caller with error information and leave the
// findings of the previous validation, and a validation that cannot parse gives E0003. The
// referential is process-wide, so these steps run in their own program, in this order.
#include <edicom/EdiComCpp.h>
#include <gtest/gtest.h>
#include <ruvala/Ruvala.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "Registry.h"

using namespace edicom;

namespace {

std::vector<std::string> gBoxes;
void KeepBox(const char* text, void*) { gBoxes.emplace_back(text); }

struct Item {
  int no;
  std::string key, code, message;
};

std::vector<Item> Errors(ruvala::IEdiDocument* doc) {
  std::vector<Item> out;
  std::int32_t n = 0;
  EXPECT_EQ(doc->get_ErrorCount(&n), S_OK);
  for (std::int32_t i = 0; i < n; ++i) {
    ComPtr<ruvala::IEdiError> e;
    EXPECT_EQ(doc->get_Errors(i, e.Put()), S_OK);
    Item it;
    BStr key, code, msg;
    e->get_SegmentNo(&it.no);
    e->get_SegmentKey(key.Put());
    e->get_ErrorCode(code.Put());
    e->get_ErrorMessage(msg.Put());
    out.push_back({it.no, key.Utf8(), code.Utf8(), msg.Utf8()});
  }
  return out;
}

void SetReferential(const std::string& path) {
  common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("SOFTWARE\\tarnholt\\services\\Database", true));
  reg.WriteString("Referential", path);
}

}  // namespace

TEST(DocumentFailureTest, MissingConfigurationParserAndFile) {
  if (!common::FileExists(enginetest::SampleSqlite())) GTEST_SKIP() << "no sample referential";
  enginetest::TempMachineHive hive("document-failure");
  std::string userHive = hive.Path() + ".user";
  ::setenv("TARNHOLT_USER_HIVE", userHive.c_str(), 1);
  ASSERT_TRUE(enginetest::RegisterComponentLibrary("libruvala.so"));
  EdiSetErrorBoxHandler(KeepBox, nullptr);
  ScopedApartment apartment;
  ComPtr<ruvala::IEdiDocument> doc;
  ASSERT_EQ(CreateInstance(ruvala::CLSID_EdiDocument, ruvala::IID_IEdiDocument, doc), S_OK);
  doc->put_InterApplication(VARIANT_FALSE);
  const std::string message = "XGH+1+0039+104512+002'XEH+90+1+0201+1++10'ATT+A020+1'XET+90'XGT+1'";
  BStr text(message);
  VARIANT_BOOL valid = VARIANT_TRUE;

  // 1. No registry key: a box for the host from the engine database and one from the
  // referential, and the call itself succeeds. A blank text needs no parser.
  BStr blank(" \t");
  ASSERT_EQ(doc->Validate(blank.Get(), &valid), S_OK);
  EXPECT_EQ(valid, VARIANT_FALSE);
  ASSERT_EQ(gBoxes.size(), 2u);
  for (const std::string& box : gBoxes)
    EXPECT_EQ(box, "Unable to open registry key \"SOFTWARE\\tarnholt\\services\\Database\"");
  auto errors = Errors(doc.Get());
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].code, "E0002");

  // 2. No parser component: the whole validation fails, one E0003 about the message.
  ASSERT_EQ(doc->Validate(text.Get(), &valid), S_OK);
  errors = Errors(doc.Get());
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].no, 0);
  EXPECT_EQ(errors[0].key, "");
  EXPECT_EQ(errors[0].code, "E0003");
  EXPECT_EQ(errors[0].message.rfind("Validate segments failed (Unable to create EdiMessage", 0), 0u)
      << errors[0].message;

  // 3. With the parser but no referential: every segment is an error item of its own.
  ASSERT_TRUE(enginetest::RegisterComponentLibrary("libkalvix.so"));
  ASSERT_EQ(doc->Validate(text.Get(), &valid), S_OK);
  errors = Errors(doc.Get());
  ASSERT_EQ(errors.size(), 5u);
  const char* tags[] = {"XGH", "XEH", "ATT", "XET", "XGT"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(errors[static_cast<std::size_t>(i)].no, i + 1);
    EXPECT_EQ(errors[static_cast<std::size_t>(i)].code, "E0001");
    EXPECT_EQ(errors[static_cast<std::size_t>(i)].message,
              std::string("Exception Segment \"") + tags[i] + "\" not found");
  }
  EXPECT_EQ(gBoxes.size(), 6u);  // each validation tries the registry again

  // 4. A referential whose folder holds no engine database fails the call: E_UNEXPECTED, error
  // information from the document's ProgID, and the findings of step 3 stay. So does a
  // referential file that cannot be opened.
  SetReferential("/nonexistent/referential.db");
  ClearErrorInfo();
  EXPECT_EQ(doc->Validate(text.Get(), &valid), E_UNEXPECTED);
  std::string description, source;
  ASSERT_TRUE(TakeErrorInfo(description, source));
  EXPECT_EQ(source, "Verimek.EdiDocument");
  EXPECT_EQ(description, "DB Not found (/nonexistent/Ruvala.mdb)");
  std::string brokenDir = common::TempFolder() + "document-failure-" + std::to_string(::getpid()) + "/";
  ASSERT_TRUE(common::ForceDirectories(brokenDir));
  {
    std::ifstream src(enginetest::SampleEngineSqlite(), std::ios::binary);
    std::ofstream dst(brokenDir + "Ruvala.db", std::ios::binary);
    dst << src.rdbuf();
  }
  SetReferential(brokenDir + "referential.db");
  ClearErrorInfo();
  EXPECT_EQ(doc->Validate(text.Get(), &valid), E_UNEXPECTED);
  ASSERT_TRUE(TakeErrorInfo(description, source));
  EXPECT_EQ(source, "Verimek.EdiDocument");
  EXPECT_EQ(description.rfind("Open DB \"" + brokenDir + "referential.db\" failed (", 0), 0u) << description;
  EXPECT_EQ(Errors(doc.Get()).size(), 5u);
  BStr version;
  EXPECT_EQ(doc->get_ReferentialVersion(version.Put()), E_UNEXPECTED);

  // 5. Once the file is there the same document validates.
  SetReferential(enginetest::SampleSqlite());
  ASSERT_EQ(doc->Validate(text.Get(), &valid), S_OK);
  EXPECT_EQ(valid, VARIANT_TRUE);
  EXPECT_TRUE(Errors(doc.Get()).empty());
  EXPECT_EQ(gBoxes.size(), 6u);
  std::filesystem::remove_all(brokenDir);

  EdiSetErrorBoxHandler(nullptr, nullptr);
  doc.Reset();
  std::remove(userHive.c_str());
  ::unsetenv("TARNHOLT_USER_HIVE");
}
