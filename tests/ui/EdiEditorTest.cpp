// The editor: character offsets over UTF-8 positions, caret text, colouring, finding marks.
#include <QtTest>

#include "EdiEditor.h"

using namespace verimek::ui;

class EdiEditorTest : public QObject {
  Q_OBJECT

 private slots:
  void SelectionIsByCharactersWhateverTheLetters() {
    TEdiEditor e;
    const QString text = QStringLiteral(u"XGH+1'NME+H\u00E9l\u00E8ne \U0001F600'ADR+1'");
    e.SetText(text);
    QVERIFY(!e.Modified());
    QCOMPARE(e.TextLength(), text.size());
    const int start = static_cast<int>(text.indexOf(QStringLiteral("ADR")));
    e.SelectCharRange(start, 5);
    QCOMPARE(e.selectedText(), QStringLiteral("ADR+1"));
    QCOMPARE(e.SelStart(), start);
    QCOMPARE(e.SelLength(), 5);
    // Beyond the end clamps to the end instead of jumping back to the start.
    e.SelectCharRange(start, 1000);
    QCOMPARE(e.selectedText(), QStringLiteral("ADR+1'"));
  }

  void CaretIsLineAndColumnFromOne() {
    TEdiEditor e;
    e.SetText(QStringLiteral(u"XGH+1'\r\n    XEH+\u00E9\u00E9'"));
    QCOMPARE(e.CaretPosText(), QStringLiteral("1:1"));
    e.setCursorPosition(1, 0);
    e.SendScintilla(QsciScintillaBase::SCI_LINEEND);
    QCOMPARE(e.CaretPosText(), QStringLiteral("2:12"));
    e.GotoLine(1);
    QCOMPARE(e.CaretPosText(), QStringLiteral("2:1"));
  }

  void ColoursTagsSeparatorsAndReleases() {
    TEdiEditor e;
    const QString text = QStringLiteral("XGH+1:2'FTX+L?'A'");
    e.SetText(text);
    e.SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
    auto styleAt = [&](int i) { return static_cast<int>(e.SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, e.BytePos(i))); };
    const struct {
      int Offset;
      int Style;
    } cases[] = {{0, 1}, {2, 1}, {3, 2}, {4, 0}, {5, 2}, {7, 3}, {8, 1}, {12, 0}, {13, 4}, {14, 4}, {15, 0}, {16, 3}};
    for (const auto& c : cases) QCOMPARE(styleAt(c.Offset), c.Style);
  }

  void MarksShowTheirFindingsAndGoWithAChange() {
    TEdiEditor e;
    e.SetText(QStringLiteral("XGH+1'ATT+A020+77'XGT+1'"));
    e.AddMark(6, 11, TEdiEditor::TMarkKind::mkWarning, QStringLiteral("W0001 obsolete"));
    e.AddMark(6, 11, TEdiEditor::TMarkKind::mkError, QStringLiteral("E0009 invalid"));
    QCOMPARE(e.MarkTipAt(8), QStringLiteral("E0009 invalid\nW0001 obsolete"));
    QCOMPARE(e.MarkTipAt(2), QString());
    QCOMPARE(e.MarkTipAt(17), QString());
    const long at = e.BytePos(8);
    QVERIFY(e.SendScintilla(QsciScintillaBase::SCI_INDICATORVALUEAT, static_cast<unsigned long>(TEdiEditor::kErrorIndicator), at) != 0);
    e.insert(QStringLiteral("X"));
    QCOMPARE(e.MarkCount(), 0);
    QCOMPARE(e.MarkTipAt(8), QString());
    QCOMPARE(e.SendScintilla(QsciScintillaBase::SCI_INDICATORVALUEAT, static_cast<unsigned long>(TEdiEditor::kErrorIndicator), at), 0L);
  }

  void ReplacingAllIsOneUndoableModification() {
    TEdiEditor e;
    e.SetText(QStringLiteral("XGH+1'XGT+1'"));
    QVERIFY(!e.CanUndo());
    e.ReplaceAllText(QStringLiteral("XGH+1'\r\nXGT+1'"));
    QVERIFY(e.Modified());
    e.Undo();
    QCOMPARE(e.Text(), QStringLiteral("XGH+1'XGT+1'"));
    QVERIFY(!e.Modified());
  }
};

QTEST_MAIN(EdiEditorTest)
#include "EdiEditorTest.moc"
