#include "BaseSheet.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>
#include <stdexcept>

#include "SysTrace.h"

namespace verimek::ui {

TTabSheetEx::TTabSheetEx(QTabWidget* pageControl) : QWidget(pageControl), FPageControl(pageControl) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
}

void TTabSheetEx::SetFormClass(const TSheetFrmClass& AFormClass) {
  FForm = AFormClass(this);
  layout()->addWidget(FForm);
  FForm->show();
}

QString TTabSheetEx::Caption() const {
  const int i = FPageControl->indexOf(this);
  return i < 0 ? windowTitle() : FPageControl->tabText(i);
}

void TTabSheetEx::SetCaption(const QString& caption) {
  setWindowTitle(caption);
  const int i = FPageControl->indexOf(this);
  if (i >= 0) FPageControl->setTabText(i, caption);
}

void TTabSheetEx::SetImageIndex(int index) {
  if (index == FImageIndex) return;
  FImageIndex = index;
  const int i = FPageControl->indexOf(this);
  if (i >= 0) FPageControl->setTabIcon(i, SheetImage(index));
}

namespace {

const char* SenderOf(const QObject* sheet) { return sheet->metaObject()->className(); }

}  // namespace

TBaseSheetFrm::TBaseSheetFrm(TTabSheetEx* owner, TAppServices& app) : QWidget(owner), FTabSheet(owner), FApp(app) {
  if (!owner) throw std::logic_error("A sheet must be owned by a page");
  FFilename = Untitled();
  SetCaption(Untitled());
  common::Trace()->Write(SenderOf(this), "FormCreate()", common::ttInformation);
}

TBaseSheetFrm::~TBaseSheetFrm() { common::Trace()->Write(SenderOf(this), "FormDestroy()", common::ttInformation); }

const QString& TBaseSheetFrm::Untitled() {
  static const QString kUntitled = QStringLiteral("[Untitled]");
  return kUntitled;
}

QString TBaseSheetFrm::Caption() const { return FTabSheet->Caption(); }
void TBaseSheetFrm::SetCaption(const QString& caption) { FTabSheet->SetCaption(caption); }

void TBaseSheetFrm::TraceOp(const char* text) const {
  common::Trace()->Write(SenderOf(this), text, common::ttInformation);
}

QString TBaseSheetFrm::GetCaretPos() {
  TraceOp("GetCaretPos()");
  return {};
}

void TBaseSheetFrm::SetFilename(const QString& name) {
  common::Trace()->WriteFmt(SenderOf(this), common::ttInformation, "SetFilename(%s)", name.toStdString());
  FFilename = name;
}

bool TBaseSheetFrm::CanCopy() { return false; }
bool TBaseSheetFrm::CanCut() { return false; }
bool TBaseSheetFrm::CanDelete() { return false; }
bool TBaseSheetFrm::CanPaste() { return false; }
bool TBaseSheetFrm::CanSearch() { return false; }
bool TBaseSheetFrm::CanSearchNext() { return false; }
bool TBaseSheetFrm::CanSelectAll() { return false; }
bool TBaseSheetFrm::CanUndo() { return false; }
bool TBaseSheetFrm::CanClose() { return true; }
bool TBaseSheetFrm::CanFormatEdifact() { return false; }
bool TBaseSheetFrm::CanUnformatEdifact() { return false; }
bool TBaseSheetFrm::CanValidate() { return false; }
bool TBaseSheetFrm::CanSave() { return false; }
bool TBaseSheetFrm::CanSaveAs() { return false; }
bool TBaseSheetFrm::CanGotoSegment() { return false; }
void TBaseSheetFrm::Copy() { TraceOp("Copy()"); }
void TBaseSheetFrm::Cut() { TraceOp("Cut()"); }
void TBaseSheetFrm::Delete() { TraceOp("Delete()"); }
void TBaseSheetFrm::Paste() { TraceOp("Paste()"); }
void TBaseSheetFrm::Search() { TraceOp("Search()"); }
void TBaseSheetFrm::SearchNext() { TraceOp("SearchNext()"); }
void TBaseSheetFrm::SelectAll() { TraceOp("SelectAll()"); }
void TBaseSheetFrm::Undo() { TraceOp("Undo()"); }
void TBaseSheetFrm::FormatEdifact() { TraceOp("FormatEdifact()"); }
void TBaseSheetFrm::UnformatEdifact() { TraceOp("UnformatEdifact()"); }
void TBaseSheetFrm::Validate() { TraceOp("Validate()"); }

bool TBaseSheetFrm::Save() {
  TraceOp("Save()");
  return true;
}

bool TBaseSheetFrm::SaveAs() {
  TraceOp("SaveAs()");
  return true;
}

void TBaseSheetFrm::GotoSegment() { TraceOp("GotoSegment()"); }

void TBaseSheetFrm::ContextPopupMenu(const QString& Code, const QString& Data) {
  common::Trace()->WriteFmt(SenderOf(this), common::ttInformation, "ContextPopupMenu(\"%s\", \"%s\")",
                            Code.toStdString(), Data.toStdString());
}

QIcon SheetImage(int index) {
  // A page symbol; the modified one carries a red dot, as editors commonly mark unsaved text.
  QPixmap pix(16, 16);
  pix.fill(Qt::transparent);
  QPainter p(&pix);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(90, 90, 90));
  p.setBrush(Qt::white);
  p.drawRect(3, 1, 10, 14);
  p.setPen(QColor(150, 150, 150));
  for (int y = 4; y <= 12; y += 3) p.drawLine(5, y, 11, y);
  if (index == 1) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 30, 30));
    p.drawEllipse(QPoint(12, 12), 3, 3);
  }
  return QIcon(pix);
}

}  // namespace verimek::ui
