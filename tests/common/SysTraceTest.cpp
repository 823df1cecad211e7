// The trace front, its type sets, the event-log and debug-monitor sinks, the date patterns and
// the asynchronous writer.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "SysTrace.h"
#include "SysTraceFiles.h"
#include "TraceTestSupport.h"

using namespace common;
using tracetest::kBar;
using tracetest::TraceTest;

namespace {

struct TControlItem {
  virtual ~TControlItem() = default;
};

}  // namespace

TEST(TraceFormatTest, DateTimePatterns) {
  TLocalTime t{2012, 1, 10, 9, 5, 3, 7};
  struct Case {
    const char* Format;
    const char* Expected;
  } cases[] = {
      {"dd/mm/yyyy", "10/01/2012"},
      {"hh:mm:ss", "09:05:03"},
      {"d/m/yy", "10/1/12"},
      {"h:n:s", "9:5:3"},
      {"hh:nn:ss.zzz", "09:05:03.007"},
      {"ss.z", "03.7"},
      {"yyyymmdd", "20120110"},
      {"HH:MM", "09:05"},          // m after h is the minute, in any case
      {"hh 'mm' dd", "09 mm 10"},  // quoted text stays literal
      {"\"at\" hh", "at 09"},
      {"mm-dd", "01-10"},
      {"T#yyyy", "T#2012"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Format);
    EXPECT_EQ(FormatDateTime(c.Format, t), c.Expected);
  }
  for (const char* bad : {"yyy", "y", "ddd", "mmm", "hhh", "zz", "'open", "yyyyy"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(FormatDateTime(bad, t), std::runtime_error);
  }
}

TEST(TraceFormatTest, IsoWeekNumbers) {
  struct Case {
    int Y, M, D, Week;
  } cases[] = {
      {2012, 1, 10, 2}, {2021, 1, 1, 53}, {2020, 12, 31, 53}, {2024, 12, 30, 1},
      {2026, 1, 1, 1},  {2027, 1, 3, 53}, {2026, 12, 28, 53}, {2025, 6, 16, 25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Y << "-" << c.M << "-" << c.D);
    EXPECT_EQ(IsoWeekNumber(c.Y, c.M, c.D), c.Week);
  }
}

TEST(TraceFormatTest, TypeNamesAndSwitches) {
  EXPECT_EQ(TraceTypeFromName("information"), ttInformation);
  EXPECT_EQ(TraceTypeFromName("DEBUG"), ttDebug);
  EXPECT_EQ(TraceTypeFromName("Reporting"), ttReporting);
  EXPECT_EQ(TraceTypeFromName("Info"), ttUnknown);
  EXPECT_STREQ(TraceTypeName(ttUnknown), "");
  EXPECT_FALSE(TypePasses(0xFF, static_cast<TTraceType>(8)));
  for (const char* on : {"-trace", "/trace", "--trace", "-TRACE", "/Trace"}) EXPECT_TRUE(IsTraceSwitch(on)) << on;
  for (const char* off : {"trace", "---trace", "-traces", "-", "", "-keepdb"}) EXPECT_FALSE(IsTraceSwitch(off)) << off;
}

TEST_F(TraceTest, RecordsNoActiveSinkWantsStopAtTheFront) {
  TTrace trace;
  trace.DbMon()->SetTraceTypes(TraceTypeBit(ttError));
  trace.DbMon()->SetActive(true);
  EXPECT_FALSE(trace.Wants(ttDebug));
  trace.Write("dropped", ttDebug);
  trace.Write("kept", ttError);
  ASSERT_EQ(Debug().size(), 1u);
  EXPECT_NE(Debug()[0].find("kept"), std::string::npos);
  // A configured but inactive sink does not open the front either.
  trace.TextFile()->SetTraceTypes(kReportingToDebug);
  EXPECT_FALSE(trace.Wants(ttDebug));
}

TEST_F(TraceTest, TypeSetFollowsTheActiveSinks) {
  TTrace trace;
  EXPECT_EQ(trace.TraceTypes(), 0);
  trace.DbMon()->SetActive(true);  // empty set: its default applies
  EXPECT_EQ(trace.DbMon()->TraceTypes(), kReportingToDebug);
  EXPECT_EQ(trace.TraceTypes(), kReportingToDebug);
  trace.EventViewer()->SetActive(true);
  EXPECT_EQ(trace.EventViewer()->TraceTypes(), TraceTypeBit(ttWarning) | TraceTypeBit(ttError));
  trace.DbMon()->SetActive(false);
  EXPECT_EQ(trace.TraceTypes(), TraceTypeBit(ttWarning) | TraceTypeBit(ttError));
  trace.EventViewer()->SetTraceTypes(TraceTypeBit(ttError));  // narrowing an active sink narrows the front
  EXPECT_EQ(trace.TraceTypes(), TraceTypeBit(ttError));
  trace.EventViewer()->SetActive(false);
  EXPECT_EQ(trace.TraceTypes(), 0);
  // Default sets of the file sinks when switched on by code.
  trace.TextFile()->SetActive(true);
  EXPECT_EQ(trace.TextFile()->TraceTypes(), kInformationToDebug);
  trace.CsvFile()->SetActive(true);
  EXPECT_EQ(trace.CsvFile()->TraceTypes(), TraceTypeBit(ttReporting));
  EXPECT_EQ(trace.TraceTypes(), kReportingToDebug);
}

TEST_F(TraceTest, DebugMonitorLines) {
  TTrace trace;
  TDbMon* mon = trace.DbMon();
  mon->SetActive(true);
  TControlItem item;
  const TControlItem* none = nullptr;
  trace.Write(&item, "Validate()", ttInformation);
  trace.Write(none, "nil object", ttWarning);
  trace.Write("", "empty sender", ttError);
  trace.WriteFmt("TValidator", ttDebug, "Load(%s)", "x.mdb");
  auto lines = Debug();
  ASSERT_EQ(lines.size(), 4u);
  const std::string p = "10/01/2012" + kBar + "09:05:03" + kBar;
  EXPECT_EQ(lines[0], p + "TControlItem" + kBar + "Information" + kBar + "Validate()\n");
  EXPECT_EQ(lines[1], p + "None" + kBar + "Warning" + kBar + "nil object\n");
  EXPECT_EQ(lines[2], p + "None" + kBar + "Error" + kBar + "empty sender\n");
  EXPECT_EQ(lines[3], p + "TValidator" + kBar + "Debug" + kBar + "Load(x.mdb)\n");

  ClearLogs();
  mon->SetIncludeDate(false);
  mon->SetIncludeProcID(true);
  mon->SetSeperator(" | ");  // the whole final separator is dropped, not its last character
  trace.Write("s", "m", ttReporting);
  ASSERT_EQ(Debug().size(), 1u);
  EXPECT_EQ(Debug()[0], "09:05:03 | " + std::to_string(getpid()) + " | s | Reporting | m\n");
}

TEST_F(TraceTest, InvalidDateFormatGivesBracketedDefaultAndOneWarningPerRecord) {
  TTrace trace;
  trace.DbMon()->SetDateFormat("ddd/yyy");
  trace.DbMon()->SetActive(true);
  trace.Write("a", ttInformation);
  trace.Write("b", ttInformation);
  ASSERT_EQ(Debug().size(), 2u);
  EXPECT_EQ(Debug()[0].rfind("[10/01/2012]" + kBar + "09:05:03" + kBar, 0), 0u) << Debug()[0];
  auto ev = Events();
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ev[0].Type, etWarning);
  EXPECT_EQ(ev[0].Source, "SysTrace");
  EXPECT_EQ(ev[0].Text,
            "TDbMon.Write FormatDateTime failed (DateFormat=[ddd/yyy], Exception=[Invalid date/time format "
            "\"ddd/yyy\"])");
}

TEST_F(TraceTest, EventViewerMapsTypesAndNeverLogsDebug) {
  TTrace trace;
  TEventViewer* ev = trace.EventViewer();
  ev->SetTraceTypes(0x3F);
  ev->SetActive(true);
  ev->SetSource("Ruvala");
  struct Case {
    TTraceType Type;
    bool Logged;
    TEventType Event;
  } cases[] = {{ttReporting, true, etInformation}, {ttInformation, true, etInformation},
               {ttWarning, true, etWarning},       {ttError, true, etError},
               {ttDebug, false, etError},          {ttUnknown, false, etError}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Type));
    ClearLogs();
    trace.Write("TDoc", "text", c.Type);
    auto events = Events();
    ASSERT_EQ(events.size(), c.Logged ? 1u : 0u);
    if (!c.Logged) continue;
    EXPECT_EQ(events[0].Source, "Ruvala");
    EXPECT_EQ(events[0].Type, c.Event);
    EXPECT_EQ(events[0].Text, "Sender=[TDoc], Msg=[text]");
  }
  // The trace system's own events follow the configured source.
  ClearLogs();
  trace.DbMon()->SetTimeFormat("'");
  trace.DbMon()->SetActive(true);
  trace.Write("x", ttDebug);
  ASSERT_EQ(Events().size(), 1u);
  EXPECT_EQ(Events()[0].Source, "Ruvala");
  ev->SetSource("SysTrace");
}

TEST_F(TraceTest, AsynchronousRecordsKeepTheirSenderAndAreWrittenOnSwitchOff) {
  TTrace trace;
  trace.DbMon()->SetActive(true);
  trace.SetAsync(true);
  trace.SetAsync(true);  // same value: nothing happens
  const TControlItem* none = nullptr;
  trace.Write(none, "one", ttInformation);
  trace.Write(std::string_view(), "two", ttInformation);
  trace.Write("TDoc", "three", ttInformation);
  trace.Write("dropped", ttUnknown);  // no sink wants it: never queued
  trace.SetAsync(false);
  auto lines = Debug();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find(kBar + "None" + kBar + "Information" + kBar + "one"), std::string::npos);
  EXPECT_NE(lines[1].find(kBar + "None" + kBar + "Information" + kBar + "two"), std::string::npos);
  EXPECT_NE(lines[2].find(kBar + "TDoc" + kBar + "Information" + kBar + "three"), std::string::npos);
}

TEST_F(TraceTest, AsynchronousWriterThreadWritesByItself) {
  TTrace trace;
  trace.DbMon()->SetActive(true);
  trace.SetAsync(true);
  trace.Write("queued", ttInformation);
  for (int i = 0; i < 200 && Debug().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(Debug().size(), 1u);
  EXPECT_NE(Debug()[0].find("queued"), std::string::npos);
  trace.SetAsync(false);
  EXPECT_EQ(Debug().size(), 1u);
}

TEST_F(TraceTest, ProcessWideObjectAndProgramStart) {
  TTrace* t = Trace();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t, Trace());
  const char* argv[] = {"prog", "input.txt", "/TRACE"};
  InitProgramTrace(3, argv, "1.2.3");
  EXPECT_TRUE(t->DbMon()->Active());
  EXPECT_TRUE(t->TextFile()->Active());
  EXPECT_EQ(t->TextFile()->OutputDir(), ExtractFilePath(ProgramFileName()));
  auto lines = Debug();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(kBar + "None" + kBar + "Information" + kBar + "Trace system initialized.\n"),
            std::string::npos);
  EXPECT_NE(lines[1].find(kBar + "Information" + kBar + ExtractFileName(ProgramFileName()) + " v1.2.3\n"),
            std::string::npos);
  std::string file = t->TextFile()->NewFileName();
  EXPECT_TRUE(tracetest::TraceTest::Exists(file)) << file;
  t->DbMon()->SetActive(false);
  t->TextFile()->SetActive(false);
  std::remove(file.c_str());
}
