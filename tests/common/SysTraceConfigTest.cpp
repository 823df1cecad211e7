// Trace configuration from an XML node, an INI file and the registry.
#include <INIReader.h>
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "SysTrace.h"
#include "SysTraceFiles.h"
#include "TraceTestSupport.h"

using namespace common;
using tracetest::kBar;
using tracetest::TraceTest;

namespace {

class TraceConfigTest : public TraceTest {
 protected:
  void WriteValue(TRootKey root, const std::string& key, const std::string& name, const std::string& value) {
    TRegistry reg(root);
    ASSERT_TRUE(reg.OpenKey(key, /*canCreate=*/true));
    reg.WriteString(name, value);
  }
  void WriteInt(TRootKey root, const std::string& key, const std::string& name, int value) {
    TRegistry reg(root);
    ASSERT_TRUE(reg.OpenKey(key, /*canCreate=*/true));
    reg.WriteInteger(name, value);
  }
};

}  // namespace

TEST_F(TraceConfigTest, XmlConfiguresEverySink) {
  std::string xml = R"(<Trace Async="false">
  <EventViewer Active="true" Source="RuvalaTest">
    <TraceTypes><TraceType>Error</TraceType></TraceTypes>
  </EventViewer>
  <TextFile Active="true">
    <TraceTypes><TraceType>warning</TraceType><TraceType>Debug</TraceType></TraceTypes>
    <Layout>
      <Seperator>|</Seperator>
      <Date Include="false"/>
      <Time Include="true" Format="hh:nn"/>
      <ThreadID Include="true"/>
    </Layout>
    <FileInfo>
      <OutputDir ForceDir="true">@DIR@logs/deep</OutputDir>
      <Extension>txt</Extension>
      <RefreshRate>Hourly</RefreshRate>
      <CleanUp Keep="3">false</CleanUp>
      <MutexAcquireTimeout>50</MutexAcquireTimeout>
      <NameFormat>DATE_NAME</NameFormat>
    </FileInfo>
  </TextFile>
  <CsvFile Active="true">
    <Layout>
      <Seperator>;</Seperator>
      <Time Include="false"/>
      <Header Include="true"/>
      <Columns><Column>Code</Column><column>Text</column><Other>skip</Other></Columns>
    </Layout>
  </CsvFile>
  <DbMon Active="false"/>
</Trace>)";
  xml.replace(xml.find("@DIR@"), 5, FDir);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(xml.c_str()));
  TTrace trace;
  trace.Initialize(doc.child("Trace"));
  EXPECT_TRUE(Events().empty()) << Events()[0].Text;

  TEventViewer* ev = trace.EventViewer();
  EXPECT_TRUE(ev->Active());
  EXPECT_EQ(ev->Source(), "RuvalaTest");
  EXPECT_EQ(ev->TraceTypes(), TraceTypeBit(ttError));

  TTextFile* f = trace.TextFile();
  EXPECT_TRUE(f->Active());
  EXPECT_EQ(f->TraceTypes(), TraceTypeBit(ttWarning) | TraceTypeBit(ttDebug));
  EXPECT_EQ(f->Seperator(), "|");
  EXPECT_FALSE(f->IncludeDate());
  EXPECT_EQ(f->TimeFormat(), "hh:nn");
  EXPECT_TRUE(f->IncludeThreadID());
  EXPECT_FALSE(f->IncludeProcID());
  EXPECT_EQ(f->OutputDir(), FDir + "logs/deep/");
  EXPECT_TRUE(DirectoryExists(FDir + "logs/deep/"));  // ForceDir
  EXPECT_EQ(f->Extension(), "txt");
  EXPECT_EQ(f->RefreshRate(), rrHourly);
  EXPECT_FALSE(f->CleanUp());
  EXPECT_EQ(f->Keep(), 3);
  EXPECT_EQ(f->MutexATO(), 50);
  EXPECT_EQ(f->NameFormat(), nfDateName);

  TCsvFile* csv = trace.CsvFile();
  EXPECT_TRUE(csv->Active());
  EXPECT_EQ(csv->TraceTypes(), TraceTypeBit(ttReporting));  // XML default
  EXPECT_EQ(csv->Header(), "Date;Code;Text");
  EXPECT_FALSE(trace.DbMon()->Active());
  EXPECT_EQ(trace.DbMon()->TraceTypes(), kReportingToDebug);
  // Only the active sinks open the front.
  EXPECT_EQ(trace.TraceTypes(),
            TraceTypeBit(ttError) | TraceTypeBit(ttWarning) | TraceTypeBit(ttDebug) | TraceTypeBit(ttReporting));
  ev->SetSource("SysTrace");
}

TEST_F(TraceConfigTest, XmlFailuresBecomeEvents) {
  TTrace trace;
  trace.Initialize(pugi::xml_node());
  ASSERT_EQ(EventTexts(), std::vector<std::string>{"TTrace.Initialize failed. TraceNode is nil."});
  ClearLogs();

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(R"(<Trace Async="sometimes">
    <DbMon Active="yes-ish"><TraceTypes><TraceType></TraceType><TraceType>Nonsense</TraceType></TraceTypes></DbMon>
    <TextFile><FileInfo><OutputDir>@</OutputDir><CleanUp Keep="many">true</CleanUp>
      <MutexAcquireTimeout>soon</MutexAcquireTimeout></FileInfo></TextFile>
    <CsvFile Active="false"><Layout><Seperator>;</Seperator></Layout></CsvFile>
  </Trace>)"));
  std::string dir = FDir;
  doc.child("Trace").child("TextFile").child("FileInfo").child("OutputDir").text().set(dir.c_str());
  trace.Initialize(doc.child("Trace"));
  auto texts = EventTexts();
  std::vector<std::string> want = {
      "TTraceSystem.GetAttrValue failed (NodeName=[Trace], Attr=[Async], Exception=['sometimes' is not a valid "
      "boolean value])",
      "TTraceSystem.GetAttrValue failed (NodeName=[CleanUp], Attr=[Keep], Exception=['many' is not a valid integer "
      "value])",
      "TTraceSystem.GetNodeValue failed (NodeName=[MutexAcquireTimeout], Exception=['soon' is not a valid integer "
      "value])",
      "TTraceSystem.LoadTraceTypes error (Empty trace type name)",
      "TTraceSystem.GetAttrValue failed (NodeName=[DbMon], Attr=[Active], Exception=['yes-ish' is not a valid "
      "boolean value])",
  };
  EXPECT_EQ(texts, want);
  EXPECT_FALSE(trace.Async());
  EXPECT_EQ(trace.TextFile()->Keep(), 28);
  EXPECT_EQ(trace.TextFile()->MutexATO(), 5);
  EXPECT_EQ(trace.DbMon()->TraceTypes(), TraceTypeBit(ttUnknown));  // an unknown name reads as ttUnknown
  // An inactive CSV sink from XML reads no layout.
  EXPECT_EQ(trace.CsvFile()->Seperator(), kBar);
}

TEST_F(TraceConfigTest, IniFileByNameAndDefaults) {
  TTrace trace;
  trace.Initialize(FDir + "absent.ini");
  ASSERT_EQ(EventTexts(),
            std::vector<std::string>{"TTrace.Initialize failed. IniFile (" + FDir + "absent.ini) not found."});
  ClearLogs();

  std::string ini =
      "[Trace]\nAsync=0\n[EventViewer]\nActive=1\nSource=IniSource\n"
      "[TextFile]\nActive=true\nOutputDir=" +
      FDir +
      "\nExtension=.trc\nRefreshRate=weekly\n"
      "CleanUpActive=false\nCleanUpKeep=4\nMutexAcquireTimeout=9\nNameFormat=date_name\n"
      "IncludeProcessID=1\nDateFormat=yyyy-mm-dd\nSeperator=\xA6\xA6\n"
      "[CsvFile]\nActive=1\nTraceTypes=Reporting;Error\nColumns=One; Two\nIncludeDate=false\n"
      "Seperator=,\nOutputDir=" +
      FDir + "\n";
  WriteFile(FDir + "trace.ini", ini);
  trace.Initialize(FDir + "trace.ini");
  EXPECT_TRUE(Events().empty()) << Events()[0].Text;
  EXPECT_TRUE(trace.EventViewer()->Active());
  EXPECT_EQ(trace.EventViewer()->Source(), "IniSource");
  TTextFile* f = trace.TextFile();
  EXPECT_TRUE(f->Active());
  EXPECT_EQ(f->TraceTypes(), kReportingToDebug);  // INI default of the text file
  EXPECT_EQ(f->OutputDir(), FDir);
  EXPECT_EQ(f->Extension(), ".trc");
  EXPECT_EQ(f->RefreshRate(), rrWeekly);
  EXPECT_FALSE(f->CleanUp());
  EXPECT_EQ(f->Keep(), 4);
  EXPECT_EQ(f->MutexATO(), 9);
  EXPECT_EQ(f->NameFormat(), nfDateName);
  EXPECT_TRUE(f->IncludeProcID());
  EXPECT_EQ(f->DateFormat(), "yyyy-mm-dd");
  EXPECT_EQ(f->Seperator(), kBar + kBar);  // code-page text read as UTF-8
  TCsvFile* csv = trace.CsvFile();
  EXPECT_EQ(csv->TraceTypes(), TraceTypeBit(ttReporting) | TraceTypeBit(ttError));
  EXPECT_EQ(csv->Header(), "Time,One,Two");
  EXPECT_FALSE(trace.DbMon()->Active());
  EXPECT_EQ(trace.DbMon()->Seperator(), kBar);

  // The same file as an open INI object; a missing [Trace] section leaves Async off.
  INIReader reader(FDir + "trace.ini");
  TTrace other;
  other.Initialize(reader);
  EXPECT_EQ(other.TextFile()->Keep(), 4);
  trace.EventViewer()->SetSource("SysTrace");
}

TEST_F(TraceConfigTest, RegistryFallsBackFromCurrentUserToLocalMachine) {
  const std::string key = "Software\\Tarnholt\\Ruvala";
  WriteValue(HKEY_LOCAL_MACHINE, key, "Async", "0");
  WriteValue(HKEY_LOCAL_MACHINE, key + "\\DbMon", "Active", "1");
  WriteValue(HKEY_LOCAL_MACHINE, key + "\\DbMon\\TraceTypes", "Error", "1");
  WriteValue(HKEY_LOCAL_MACHINE, key + "\\DbMon\\TraceTypes", "Debug", "0");
  WriteValue(HKEY_LOCAL_MACHINE, key + "\\DbMon\\TraceTypes", "Warning", "maybe");
  WriteValue(HKEY_LOCAL_MACHINE, key + "\\DbMon\\Layout", "IncludeDate", "false");
  WriteValue(HKEY_LOCAL_MACHINE, key + "\\DbMon\\Layout", "Seperator", "#");
  WriteValue(HKEY_LOCAL_MACHINE, key + "\\TextFile\\FileInfo", "OutputDir", FDir);
  WriteInt(HKEY_LOCAL_MACHINE, key + "\\TextFile\\FileInfo", "CleanUpKeep", 6);
  WriteValue(HKEY_LOCAL_MACHINE, key + "\\TextFile\\FileInfo", "RefreshRate", "Monthly");
  WriteValue(HKEY_LOCAL_MACHINE, key + "\\CsvFile\\Layout", "IncludeHeader", "1");
  WriteInt(HKEY_LOCAL_MACHINE, key + "\\CsvFile\\Layout\\Columns", "Count", 2);
  WriteValue(HKEY_LOCAL_MACHINE, key + "\\CsvFile\\Layout\\Columns", "1", "Code");
  WriteValue(HKEY_LOCAL_MACHINE, key + "\\CsvFile\\Layout\\Columns", "2", "Text");

  TTrace trace;
  trace.Initialize(key, HKEY_CURRENT_USER);
  ASSERT_EQ(EventTexts(), std::vector<std::string>{"TTraceSystem.LoadTraceTypes error (Invalid data type for "
                                                   "'Warning')"});
  TDbMon* mon = trace.DbMon();
  EXPECT_TRUE(mon->Active());
  EXPECT_EQ(mon->TraceTypes(), TraceTypeBit(ttError));
  EXPECT_FALSE(mon->IncludeDate());
  EXPECT_EQ(mon->Seperator(), "#");
  EXPECT_TRUE(mon->IncludeTime());
  TTextFile* f = trace.TextFile();
  EXPECT_FALSE(f->Active());  // no "Active" value: unchanged
  EXPECT_EQ(f->TraceTypes(), kReportingToDebug);
  EXPECT_EQ(f->OutputDir(), FDir);
  EXPECT_EQ(f->Keep(), 6);
  EXPECT_EQ(f->RefreshRate(), rrUnknown);
  EXPECT_EQ(f->GetFileName(), FDir + TraceFileBaseName(f->ModuleName()) + "_20120110.log");
  EXPECT_EQ(trace.CsvFile()->Header(), "Date" + kBar + "Time" + kBar + "Code" + kBar + "Text");
  EXPECT_EQ(trace.TraceTypes(), TraceTypeBit(ttError));
  trace.Write("TDoc", "from the registry", ttError);
  ASSERT_EQ(Debug().size(), 1u);
  EXPECT_EQ(Debug()[0], "09:05:03#TDoc#Error#from the registry\n");

  // The current user's key wins when it exists.
  WriteValue(HKEY_CURRENT_USER, key + "\\DbMon", "Active", "0");
  TTrace user;
  user.Initialize(key, HKEY_CURRENT_USER);
  EXPECT_FALSE(user.DbMon()->Active());
  EXPECT_EQ(user.DbMon()->Seperator(), kBar);
  // Neither root has the key: nothing configured, no sink created.
  TTrace none;
  none.Initialize("Software\\Nobody", HKEY_CURRENT_USER);
  EXPECT_EQ(none.TraceTypes(), 0);
}

TEST_F(TraceConfigTest, LibraryStartReadsTheMachineKey) {
  const std::string key = "Software\\Tarnholt\\Ruvala";
  WriteValue(HKEY_LOCAL_MACHINE, key + "\\TextFile", "Active", "1");
  WriteValue(HKEY_LOCAL_MACHINE, key + "\\TextFile\\FileInfo", "OutputDir", FDir);
  WriteValue(HKEY_LOCAL_MACHINE, key + "\\DbMon", "Active", "1");  // overridden: no debugger here
  InitLibraryTrace();
  TTrace* t = Trace();
  EXPECT_TRUE(t->TextFile()->Active());
  EXPECT_EQ(t->DbMon()->Active(), IsDebuggerPresent());
  std::string text = ReadFile(t->TextFile()->NewFileName());
  EXPECT_NE(text.find("None\xA6Trace system initialized.\r\n"), std::string::npos) << text;
  t->TextFile()->SetActive(false);
  t->DbMon()->SetActive(false);
}
