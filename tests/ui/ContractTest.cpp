// The sheet contract, the progress overlay and the worker host, with a sheet of its own.
#include <QLabel>
#include <QProgressBar>
#include <QTabWidget>
#include <QtTest>
#include <atomic>
#include <thread>

#include "BaseSheet.h"
#include "ProgressFrm.h"
#include "QtWorkerHost.h"
#include "TestApp.h"
#include "TestDialogs.h"

using namespace verimek::ui;

namespace {

class TTestSheet final : public TBaseSheetFrm {
 public:
  using TBaseSheetFrm::TBaseSheetFrm;
};

}  // namespace

class ContractTest : public QObject {
  Q_OBJECT

 private slots:
  void NewSheetIsUntitledAndAnswersTheBaseRules() {
    test::TTestApp app;
    TTestSheet* sheet = app.AddSheet([&](TTabSheetEx* t) { return new TTestSheet(t, app); });
    QCOMPARE(sheet->Filename(), QStringLiteral("[Untitled]"));
    QCOMPARE(app.Pages()->tabText(0), QStringLiteral("[Untitled]"));
    QCOMPARE(sheet->TabSheet()->Form(), sheet);
    QVERIFY(sheet->CanClose());
    const bool answers[] = {sheet->CanCopy(),          sheet->CanCut(),
                            sheet->CanDelete(),        sheet->CanPaste(),
                            sheet->CanSearch(),        sheet->CanSearchNext(),
                            sheet->CanSelectAll(),     sheet->CanUndo(),
                            sheet->CanFormatEdifact(), sheet->CanUnformatEdifact(),
                            sheet->CanValidate(),      sheet->CanSave(),
                            sheet->CanSaveAs(),        sheet->CanGotoSegment()};
    for (bool a : answers) QVERIFY(!a);
    QVERIFY(sheet->Save());
    QVERIFY(sheet->SaveAs());
    sheet->SetFilename(QStringLiteral("/tmp/x.edi"));
    QCOMPARE(sheet->Filename(), QStringLiteral("/tmp/x.edi"));
    sheet->SetCaption(QStringLiteral("x.edi"));
    QCOMPARE(app.Pages()->tabText(0), QStringLiteral("x.edi"));
  }

  void ASheetWithoutAPageIsRefused() {
    test::TTestApp app;
    bool raised = false;
    try {
      TTestSheet sheet(nullptr, app);
    } catch (const std::logic_error&) {
      raised = true;
    }
    QVERIFY(raised);
  }

  void TheImageFollowsTheIndex() {
    test::TTestApp app;
    TTestSheet* sheet = app.AddSheet([&](TTabSheetEx* t) { return new TTestSheet(t, app); });
    QCOMPARE(sheet->TabSheet()->ImageIndex(), 0);
    sheet->TabSheet()->SetImageIndex(1);
    QCOMPARE(sheet->TabSheet()->ImageIndex(), 1);
    QVERIFY(!app.Pages()->tabIcon(0).isNull());
  }

  void ProgressIsOneBoxReusedWithItsLastText() {
    QWidget owner;
    owner.resize(400, 300);
    QVERIFY(ProgressFrm() == nullptr);
    ShowProgress(&owner, TProgressBarStyle::pbstMarquee, QStringLiteral("Loading Telebib..."), 100, 0);
    TProgressFrm* first = ProgressFrm();
    QVERIFY(first && first->isVisible());
    QCOMPARE(first->StatusLine()->text(), QStringLiteral("Loading Telebib..."));
    QCOMPARE(first->ProgressBar()->maximum(), 0);  // running bar
    ShowProgress(&owner, TProgressBarStyle::pbstNormal, QString(), 50, 10);
    QCOMPARE(ProgressFrm(), first);
    QCOMPARE(first->StatusLine()->text(), QStringLiteral("Loading Telebib..."));
    QCOMPARE(first->ProgressBar()->minimum(), 10);
    QCOMPARE(first->ProgressBar()->maximum(), 50);
    HideProgress();
    QVERIFY(!first->isVisible());
    FreeProgressFrm();
  }

  void StepsRunOnTheUiThreadWhileTheJobWaits() {
    TQtWorkerHost host;
    const auto ui = std::this_thread::get_id();
    std::atomic<bool> stepOnUi{false}, afterStep{false};
    int order = 0, stepAt = 0, afterAt = 0;
    host.StartThread([&] {
      host.RunOnUiThread([&] {
        stepOnUi = std::this_thread::get_id() == ui;
        stepAt = ++order;
      });
      afterAt = ++order;
      afterStep = true;
    });
    QTRY_VERIFY(afterStep.load());
    QVERIFY(stepOnUi.load());
    QCOMPARE(stepAt, 1);
    QCOMPARE(afterAt, 2);
  }

  void AFailingStepRaisesInTheJob() {
    TQtWorkerHost host;
    std::atomic<bool> caught{false};
    host.StartThread([&] {
      try {
        host.RunOnUiThread([] { throw std::runtime_error("no"); });
      } catch (const std::runtime_error&) {
        caught = true;
      }
    });
    QTRY_VERIFY(caught.load());
  }

  void TheHostWaitsForItsJobsWhenDestroyed() {
    std::atomic<bool> ran{false};
    {
      TQtWorkerHost host;
      host.StartThread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        host.RunOnUiThread([&] { ran = true; });
      });
    }
    QVERIFY(ran.load());
  }

  void TheSeamAnswersAndRecords() {
    test::TScriptedDialogs dialogs;
    dialogs.Answers.push_back(TModalResult::mrYes);
    QCOMPARE(Dialogs().MessageBox(nullptr, QStringLiteral("Save ?"), TMsgDlgType::mtConfirmation, mbYes | mbNo),
             TModalResult::mrYes);
    ShowError(nullptr, QStringLiteral("bad"));
    QCOMPARE(
        Dialogs().MessageBox(nullptr, QStringLiteral("again ?"), TMsgDlgType::mtConfirmation, mbYes | mbNo | mbCancel),
        TModalResult::mrCancel);
    QCOMPARE(dialogs.Texts(), (QStringList{"Save ?", "bad", "again ?"}));
    QCOMPARE(dialogs.Unanswered, 1);
    QCOMPARE(QtFilter(QStringLiteral("Text files|*.txt|All files|*.*")),
             QStringLiteral("Text files (*.txt);;All files (*.*)"));
  }
};

QTEST_MAIN(ContractTest)
#include "ContractTest.moc"
