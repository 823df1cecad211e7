#include "EdiEditor.h"

#include <Qsci/qscilexercustom.h>

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QMimeData>
#include <QToolTip>
#include <algorithm>
#include <cctype>
#include <string>

namespace verimek::ui {

// Segment tags, the separators "+" ":", the segment end "'", and the release character with
// what it releases. Scintilla asks from the start of a line, where a tag begins (or the blanks
// of an indented line), so no state crosses lines.
class TEdiLexer final : public QsciLexerCustom {
 public:
  enum TStyle { stDefault = 0, stTag = 1, stSeparator = 2, stTerminator = 3, stRelease = 4 };

  explicit TEdiLexer(QObject* parent) : QsciLexerCustom(parent) {}

  const char* language() const override { return "EDIFACT"; }
  QString description(int style) const override {
    switch (style) {
      case stDefault:
        return QStringLiteral("Data");
      case stTag:
        return QStringLiteral("Segment tag");
      case stSeparator:
        return QStringLiteral("Separator");
      case stTerminator:
        return QStringLiteral("Segment end");
      case stRelease:
        return QStringLiteral("Released character");
      default:
        return {};
    }
  }
  QColor defaultColor(int style) const override {
    // Quiet colours: the data stays black, the structure recedes a little.
    switch (style) {
      case stTag:
        return {0x1F, 0x4E, 0x9A};
      case stSeparator:
        return {0x80, 0x80, 0x80};
      case stTerminator:
        return {0xA0, 0x60, 0x00};
      case stRelease:
        return {0x8A, 0x2B, 0x8A};
      default:
        return {0, 0, 0};
    }
  }
  QFont defaultFont(int style) const override {
    QFont f = QsciLexerCustom::defaultFont(style);
    if (style == stTag) f.setBold(true);
    return f;
  }

  void styleText(int start, int end) override {
    if (!editor() || end <= start) return;
    const QByteArray buf = editor()->bytes(start, end);
    const auto n = std::min(static_cast<std::size_t>(end - start), static_cast<std::size_t>(buf.size()));
    // One style byte per text byte, handed over in one call: a call per token is far too slow
    // on interchanges of megabytes.
    std::string styles(n, static_cast<char>(stDefault));
    bool atTag = true;  // a line starts at a tag, after its indentation
    std::size_t i = 0;
    auto run = [&](std::size_t len, int style) {
      std::fill_n(styles.begin() + static_cast<std::ptrdiff_t>(i), len, static_cast<char>(style));
      i += len;
    };
    while (i < n) {
      const char c = buf[i];
      if (atTag) {
        if (c == ' ' || c == '\r' || c == '\n' || c == '\t') {
          run(1, stDefault);
          continue;
        }
        std::size_t j = i;
        while (j < n && (std::isalnum(static_cast<unsigned char>(buf[j])) != 0)) ++j;
        atTag = false;
        if (j > i) {
          run(j - i, stTag);
          continue;
        }
      }
      if (c == '+' || c == ':') {
        run(1, stSeparator);
      } else if (c == '\'') {
        run(1, stTerminator);
        atTag = true;
      } else if (c == '?') {
        // The release and the whole character after it (a UTF-8 sequence is one character).
        std::size_t len = 1;
        if (i + 1 < n) {
          len = 2;
          while (i + len < n && (static_cast<unsigned char>(buf[i + len]) & 0xC0) == 0x80) ++len;
        }
        run(len, stRelease);
      } else {
        std::size_t j = i + 1;
        while (j < n && buf[j] != '+' && buf[j] != ':' && buf[j] != '\'' && buf[j] != '?') ++j;
        run(j - i, stDefault);
      }
    }
    startStyling(start);
    editor()->SendScintilla(QsciScintillaBase::SCI_SETSTYLINGEX, static_cast<unsigned long>(n), styles.data());
  }
};

namespace {

QFont EditorFont() {
  QFont f;
  if (QFontDatabase::hasFamily(QStringLiteral("Courier New"))) {
    f = QFont(QStringLiteral("Courier New"));
  } else {
    f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  }
  f.setPointSize(8);
  f.setStyleHint(QFont::Monospace);
  return f;
}

}  // namespace

TEdiEditor::TEdiEditor(QWidget* parent) : QsciScintilla(parent), FLexer(new TEdiLexer(this)) {
  const QFont font = EditorFont();
  FLexer->setDefaultFont(font);
  FLexer->setFont(font, -1);
  for (int s = TEdiLexer::stDefault; s <= TEdiLexer::stRelease; ++s) {
    QFont f = font;
    f.setBold(s == TEdiLexer::stTag);
    FLexer->setFont(f, s);
  }
  setUtf8(true);
  setLexer(FLexer);
  setFont(font);
  setWrapMode(WrapWord);
  setWrapVisualFlags(WrapFlagNone);
  setIndentationsUseTabs(false);
  setTabWidth(4);
  setAutoIndent(true);
  setEdgeMode(EdgeNone);
  setMarginWidth(0, 0);
  setMarginWidth(1, 0);
  setCaretLineVisible(false);
  // Offsets in UTF-16 units stay cheap on very long lines.
  SendScintilla(SCI_ALLOCATELINECHARACTERINDEX, static_cast<unsigned long>(SC_LINECHARACTERINDEX_UTF16));

  SendScintilla(SCI_INDICSETSTYLE, static_cast<unsigned long>(kErrorIndicator), static_cast<long>(INDIC_SQUIGGLE));
  SendScintilla(SCI_INDICSETFORE, static_cast<unsigned long>(kErrorIndicator), QColor(0xD0, 0x20, 0x20));
  SendScintilla(SCI_INDICSETSTYLE, static_cast<unsigned long>(kWarningIndicator), static_cast<long>(INDIC_SQUIGGLE));
  SendScintilla(SCI_INDICSETFORE, static_cast<unsigned long>(kWarningIndicator), QColor(0xE0, 0x90, 0x00));
  SendScintilla(SCI_SETMOUSEDWELLTIME, 400UL);
  connect(this, &QsciScintillaBase::SCN_DWELLSTART, this, &TEdiEditor::OnDwellStart);
  connect(this, &QsciScintillaBase::SCN_DWELLEND, this, [](int, int, int) { QToolTip::hideText(); });
  connect(this, &QsciScintilla::textChanged, this, &TEdiEditor::OnTextChanged);
}

TEdiEditor::~TEdiEditor() = default;

// Not setText: this one also starts the undo history anew and clears the modified mark.
// NOLINTNEXTLINE(bugprone-virtual-near-miss)
void TEdiEditor::SetText(const QString& text) { SetTextUtf8(text.toStdString()); }

void TEdiEditor::SetTextUtf8(const std::string& utf8) {
  // With wrapping on, setting a text lays all of it out at once (seconds for megabytes); set
  // afterwards, wrapping runs in idle time from the visible lines on.
  const WrapMode wrap = wrapMode();
  setWrapMode(WrapNone);
  // Change notifications would copy the whole text once more; listeners hear of it below.
  const long mask = SendScintilla(SCI_GETMODEVENTMASK);
  SendScintilla(SCI_SETMODEVENTMASK, 0UL);
  SendScintilla(SCI_SETTEXT, 0UL, utf8.c_str());
  SendScintilla(SCI_SETMODEVENTMASK, static_cast<unsigned long>(mask));
  setWrapMode(wrap);
  SendScintilla(SCI_EMPTYUNDOBUFFER);
  setModified(false);
  ClearMarks();
  emit textChanged();
}

void TEdiEditor::ReplaceAllText(const QString& text) {
  beginUndoAction();
  selectAll(true);
  const QByteArray bytes = text.toUtf8();
  SendScintilla(SCI_REPLACESEL, 0UL, bytes.constData());
  endUndoAction();
  setCursorPosition(0, 0);
}

int TEdiEditor::TextLength() const {
  return static_cast<int>(SendScintilla(SCI_COUNTCODEUNITS, 0UL, static_cast<long>(length())));
}

QString TEdiEditor::CaretPosText() const {
  const long pos = SendScintilla(SCI_GETCURRENTPOS);
  const long line = SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(pos));
  const long lineStart = SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
  const long col = SendScintilla(SCI_COUNTCHARACTERS, static_cast<unsigned long>(lineStart), pos);
  return QString::asprintf("%ld:%ld", line + 1, col + 1);
}

long TEdiEditor::BytePos(int offset) const {
  if (offset <= 0) return 0;
  const long len = length();
  const long pos = SendScintilla(SCI_POSITIONRELATIVECODEUNITS, 0UL, static_cast<long>(offset));
  // Beyond the end Scintilla answers 0.
  return pos == 0 ? len : std::min(pos, len);
}

int TEdiEditor::CharOffset(long bytePos) const {
  return static_cast<int>(SendScintilla(SCI_COUNTCODEUNITS, 0UL, bytePos));
}

void TEdiEditor::SelectCharRange(int start, int len) {
  const long from = BytePos(start);
  const long to = len <= 0 ? from : BytePos(start + len);
  SendScintilla(SCI_SETSEL, static_cast<unsigned long>(from), to);
  SendScintilla(SCI_SCROLLCARET);
}

int TEdiEditor::SelStart() const { return CharOffset(SendScintilla(SCI_GETSELECTIONSTART)); }

int TEdiEditor::SelLength() const {
  const long from = SendScintilla(SCI_GETSELECTIONSTART);
  const long to = SendScintilla(SCI_GETSELECTIONEND);
  return static_cast<int>(SendScintilla(SCI_COUNTCODEUNITS, static_cast<unsigned long>(from), to));
}

void TEdiEditor::GotoLine(int line) {
  setCursorPosition(line, 0);
  ensureLineVisible(line);
  SendScintilla(SCI_SCROLLCARET);
}

bool TEdiEditor::CanPaste() const {
  if (isReadOnly()) return false;
  const QMimeData* mime = QApplication::clipboard()->mimeData();
  return mime != nullptr && mime->hasText();
}

void TEdiEditor::AddMark(int start, int len, TMarkKind kind, const QString& tip) {
  const long from = BytePos(start);
  const long to = BytePos(start + std::max(len, 1));
  if (to <= from) return;
  const int indicator = kind == TMarkKind::mkError ? kErrorIndicator : kWarningIndicator;
  SendScintilla(SCI_SETINDICATORCURRENT, static_cast<unsigned long>(indicator));
  SendScintilla(SCI_INDICATORFILLRANGE, static_cast<unsigned long>(from), to - from);
  FMarks.push_back({from, to, kind, tip});
}

void TEdiEditor::ClearMarks() {
  if (FMarks.empty()) return;
  FMarks.clear();
  const long len = length();
  for (int indicator : {kErrorIndicator, kWarningIndicator}) {
    SendScintilla(SCI_SETINDICATORCURRENT, static_cast<unsigned long>(indicator));
    SendScintilla(SCI_INDICATORCLEARRANGE, 0UL, len);
  }
}

QString TEdiEditor::MarkTipAt(int offset) const {
  const long pos = BytePos(offset);
  QStringList tips;
  for (TMarkKind kind : {TMarkKind::mkError, TMarkKind::mkWarning}) {
    for (const TMark& m : FMarks) {
      if (m.Kind == kind && pos >= m.Start && pos < m.End) tips << m.Tip;
    }
  }
  return tips.join(QLatin1Char('\n'));
}

void TEdiEditor::OnDwellStart(int position, int x, int y) {
  if (position < 0 || FMarks.empty()) return;
  const QString tip = MarkTipAt(CharOffset(position));
  if (!tip.isEmpty()) QToolTip::showText(viewport()->mapToGlobal(QPoint(x, y)), tip, viewport());
}

void TEdiEditor::OnTextChanged() { ClearMarks(); }

}  // namespace verimek::ui
