// The message sheet's states: findings listed and marked, warnings only, the syntax errors of a
// broken interchange, the search dialog. The engine and parser of the build are registered in
// temporary hives and read the sample referential.
#include <QCoreApplication>
#include <QFile>
#include <QMainWindow>
#include <QTreeWidget>
#include <QtGlobal>

#include "EdiEditor.h"
#include "ScreenshotRegistry.h"
#include "SearchTextDlg.h"
#include "Settings.h"
#include "SheetMessage.h"
#include "testsupport/SheetFixture.h"

namespace verimek::ui::shots {

namespace {

QStringList SampleLines(const char* name) {
  QFile f(QStringLiteral(EDI_SHARED_DIR "/samples/") + QString::fromUtf8(name));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Validates the text in the sheet and waits for the lists; false when the validation did not end.
bool Validate(TSheetMessageFrm* sheet, const QString& caption, const QString& text, bool indent = false) {
  sheet->LoadText(caption, text);
  if (indent) sheet->FormatEdifact();
  sheet->Validate();
  return WaitFor([sheet] { return !sheet->ValidateRunning(); }) &&
         WaitFor([sheet] { return !sheet->SyntaxCheckRunning(); });
}

bool Findings(const QString& outDir) {
  if (!testsupport::RegisterBuiltComponentsOnce()) return false;
  const QStringList lines = SampleLines("with-findings.txt");
  if (lines.size() < 13) return false;
  // A message with errors and warnings: the obsolete header qualifier of one line, the bad
  // values of another.
  QString text = lines[1];
  text.replace(QStringLiteral("XEH+90+1+0201+1++10'"), lines[12].section(QLatin1Char('\''), 1, 1) + QLatin1Char('\''));
  testsupport::TFakeApp app(QSize(1000, 620));
  auto* s = app.NewSheet<TSheetMessageFrm>();
  if (!Validate(s, QStringLiteral("with-findings.txt"), text)) return false;
  if (s->lv_Errors->topLevelItemCount() == 0) return false;
  s->lv_Errors->topLevelItem(0)->setSelected(true);
  s->lv_Errors->setCurrentItem(s->lv_Errors->topLevelItem(0));
  s->GotoSegment();
  return SaveWindow(&app.Window(), outDir, QStringLiteral("msgsheet-findings"));
}

bool WarningsOnly(const QString& outDir) {
  if (!testsupport::RegisterBuiltComponentsOnce()) return false;
  const QStringList lines = SampleLines("with-findings.txt");
  if (lines.isEmpty()) return false;
  testsupport::TFakeApp app(QSize(1000, 620));
  if (!Validate(app.NewSheet<TSheetMessageFrm>(), QStringLiteral("warnings"), lines[0], true)) return false;
  return SaveWindow(&app.Window(), outDir, QStringLiteral("msgsheet-warnings"));
}

bool SyntaxErrors(const QString& outDir) {
  if (!testsupport::RegisterBuiltComponentsOnce()) return false;
  const QStringList lines = SampleLines("syntax-errors.txt");
  if (lines.size() < 2) return false;
  testsupport::TFakeApp app(QSize(1000, 620));
  auto* s = app.NewSheet<TSheetMessageFrm>();
  if (!Validate(s, QStringLiteral("syntax-errors.txt"), lines[1])) return false;
  if (s->lv_Errors->topLevelItemCount() != 1) return false;
  s->ContextPopupMenu(QStringLiteral("E0005"), s->lv_Errors->topLevelItem(0)->text(3));
  if (!WaitFor([s] { return !s->SyntaxCheckRunning(); })) return false;
  return SaveWindow(&app.Window(), outDir, QStringLiteral("msgsheet-syntax-errors"));
}

bool SearchDialog(const QString& outDir) {
  TSearchTextDlg dlg;
  TSearchOptions o;
  o.Text = "ATT+A020";
  o.History = {"ATT+A020", "DTM+006", "XEH"};
  o.WholeWords = true;
  o.FromCaret = true;
  dlg.SetOptions(o);
  dlg.show();
  return SaveWindow(&dlg, outDir, QStringLiteral("msgsheet-search-dialog"));
}

const TRegisterStates kFindings("msgsheet-findings", Findings);
const TRegisterStates kWarnings("msgsheet-warnings", WarningsOnly);
const TRegisterStates kSyntax("msgsheet-syntax-errors", SyntaxErrors);
const TRegisterStates kSearch("msgsheet-search-dialog", SearchDialog);

}  // namespace

}  // namespace verimek::ui::shots
