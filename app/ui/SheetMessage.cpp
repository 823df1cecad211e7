#include "SheetMessage.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <memory>
#include <string_view>

#include "AppServices.h"
#include "ClassUtils.h"
#include "Dialogs.h"
#include "EdiEditor.h"
#include "ProgressFrm.h"
#include "SegmentSelect.h"
#include "Settings.h"
#include "SysTrace.h"
#include "TextFile.h"
#include "evWorkers.h"

namespace verimek::ui {

namespace {

std::u16string_view View(const QString& s) {
  return {reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size())};
}

// The editor's lines as a string list sees them: a final line break starts no line.
common::TStringList Lines(const QString& text) {
  common::TStringList out;
  qsizetype start = 0;
  while (start < text.size()) {
    qsizetype nl = text.indexOf(QLatin1Char('\n'), start);
    if (nl < 0) nl = text.size();
    qsizetype end = nl;
    if (end > start && text[end - 1] == QLatin1Char('\r')) --end;
    out.push_back(text.mid(start, end - start).toStdString());
    start = nl + 1;
  }
  return out;
}

QTreeWidget* MakeList(QWidget* parent, const char* name, const QStringList& columns) {
  auto* list = new QTreeWidget(parent);
  list->setObjectName(QString::fromUtf8(name));
  list->setColumnCount(4);
  list->setHeaderLabels(columns);
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  list->setColumnWidth(0, 60);
  list->setColumnWidth(1, 150);
  // 80 cuts the header "Warning Code" in most fonts.
  list->setColumnWidth(2, std::max(80, list->header()->sectionSizeHint(2)));
  list->header()->setStretchLastSection(true);
  return list;
}

QWidget* WrapTab(QWidget* content, const char* name) {
  auto* tab = new QWidget;
  tab->setObjectName(QString::fromUtf8(name));
  auto* layout = new QVBoxLayout(tab);
  layout->setContentsMargins(0, 0, 0, 0);
  content->setParent(tab);
  layout->addWidget(content);
  return tab;
}

void AddRows(QTreeWidget* list, const std::vector<TFinding>& findings) {
  QList<QTreeWidgetItem*> rows;
  rows.reserve(static_cast<qsizetype>(findings.size()));
  for (const TFinding& f : findings) {
    rows << new QTreeWidgetItem(QStringList{QString::number(f.SegmentNo), QString::fromStdString(f.SegmentKey),
                                            QString::fromStdString(f.Code), QString::fromStdString(f.Message)});
  }
  list->addTopLevelItems(rows);
}

}  // namespace

TSheetMessageFrm::TSheetMessageFrm(TTabSheetEx* owner, TAppServices& app) : TSheetEditorOps(owner, app) {
  setObjectName(QStringLiteral("SheetMessageFrm"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  Splitter = new QSplitter(Qt::Vertical, this);
  Splitter->setObjectName(QStringLiteral("Splitter"));
  Splitter->setChildrenCollapsible(false);
  layout->addWidget(Splitter);

  Editor = new TEdiEditor(Splitter);
  Editor->setObjectName(QStringLiteral("Editor"));
  PageControl = new QTabWidget(Splitter);
  PageControl->setObjectName(QStringLiteral("PageControl"));
  PageControl->setTabPosition(QTabWidget::South);
  PageControl->setMinimumHeight(50);
  lv_Errors = MakeList(this, "lv_Errors",
                       {QStringLiteral("Sgmt Nr"), QStringLiteral("Sgmt Key"), QStringLiteral("Error Code"),
                        QStringLiteral("Error Message")});
  lv_Warnings = MakeList(this, "lv_Warnings",
                         {QStringLiteral("Sgmt Nr"), QStringLiteral("Sgmt Key"), QStringLiteral("Warning Code"),
                          QStringLiteral("Warning Message")});
  lb_SyntaxErrors = new QListWidget(this);
  lb_SyntaxErrors->setObjectName(QStringLiteral("lb_SyntaxErrors"));
  TabErrors = WrapTab(lv_Errors, "TabErrors");
  TabWarnings = WrapTab(lv_Warnings, "TabWarnings");
  TabSyntaxError = WrapTab(lb_SyntaxErrors, "TabSyntaxError");
  PageControl->addTab(TabErrors, QStringLiteral("Errors"));
  PageControl->addTab(TabWarnings, QStringLiteral("Warnings"));
  PageControl->addTab(TabSyntaxError, QStringLiteral("Syntax Errors"));
  PageControl->setTabVisible(PageControl->indexOf(TabSyntaxError), false);
  Splitter->addWidget(Editor);
  Splitter->addWidget(PageControl);
  Splitter->setStretchFactor(0, 1);
  Splitter->setStretchFactor(1, 0);
  Splitter->setSizes({400, 124});
  PageControl->hide();

  LvPopupMenu = new QMenu(this);
  LvPopupMenu->setObjectName(QStringLiteral("LvPopupMenu"));
  ProgressTimer = new QTimer(this);
  ProgressTimer->setObjectName(QStringLiteral("ProgressTimer"));
  ProgressTimer->setSingleShot(true);
  ProgressTimer->setInterval(500);

  connect(ProgressTimer, &QTimer::timeout, this, &TSheetMessageFrm::OnProgressTimer);
  connect(Editor, &QsciScintilla::textChanged, this, &TSheetMessageFrm::RefreshImage);
  connect(Editor, &QsciScintilla::modificationChanged, this, &TSheetMessageFrm::RefreshImage);
  for (QTreeWidget* list : {lv_Errors, lv_Warnings}) {
    connect(list, &QTreeWidget::itemDoubleClicked, this, [this, list] { GotoListSegment(list); });
    connect(list, &QWidget::customContextMenuRequested, this,
            [this, list](const QPoint& pos) { ShowLvPopupMenu(list, pos); });
  }
  connect(lb_SyntaxErrors, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { GotoSyntaxErrorLine(item->text()); });
}

TSheetMessageFrm::~TSheetMessageFrm() {
  // A worker still running outlives the sheet: its steps must not reach it. The handlers are
  // only read on this thread, so clearing them here is enough.
  if (FValidateMsgWorker) {
    FValidateMsgWorker->OnValidateDone = nullptr;
    FValidateMsgWorker->OnTerminate = nullptr;
  }
  if (FValidateSyntaxWorker) {
    FValidateSyntaxWorker->OnValidateDone = nullptr;
    FValidateSyntaxWorker->OnTerminate = nullptr;
  }
}

void TSheetMessageFrm::LoadText(const QString& caption, const QString& text) {
  Editor->SetText(text);
  SetCaption(caption);
  RefreshImage();
}

QString TSheetMessageFrm::GetCaretPos() { return Editor->CaretPosText(); }

void TSheetMessageFrm::SetFilename(const QString& name) {
  TBaseSheetFrm::SetFilename(name);
  try {
    TTextFile file = LoadTextFile(name.toStdString());
    FEncoding = file.Encoding;
    FBom = file.Bom;
    Editor->SetTextUtf8(Utf16ToUtf8(file.Text));
    Editor->SendScintilla(QsciScintillaBase::SCI_SETSCROLLWIDTH, static_cast<unsigned long>(file.Text.size()));
    Editor->setWrapMode(QsciScintilla::WrapWord);
    SetCaption(QFileInfo(name).fileName());
  } catch (const std::exception& e) {
    // Left untitled, so that no save can overwrite the file that was refused.
    FFilename = Untitled();
    SetCaption(Untitled());
    ShowError(App().MainWindow(), QString::fromStdString(e.what()));
  }
  RefreshImage();
}

bool TSheetMessageFrm::CanSaveAs() { return !Editor->IsEmpty(); }
bool TSheetMessageFrm::CanSave() { return Editor->Modified(); }

// Asked at every idle moment, on texts of megabytes: whether the form is indented depends only
// on the number of lines and how the first five begin, so each line stands for its first byte.
static common::TStringList FirstLines(TEdiEditor& editor) {
  common::TStringList out;
  const int n = std::min(editor.lines(), 5);
  for (int i = 0; i < n; ++i) {
    const auto line = static_cast<unsigned long>(i);
    const long start = editor.SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE, line);
    const long end = editor.SendScintilla(QsciScintillaBase::SCI_GETLINEENDPOSITION, line);
    const auto first =
        static_cast<char>(editor.SendScintilla(QsciScintillaBase::SCI_GETCHARAT, static_cast<unsigned long>(start)));
    out.push_back(end > start ? std::string(1, first) : std::string());
  }
  return out;
}

bool TSheetMessageFrm::CanFormatEdifact() { return !common::TString::IsEdifactFormated(FirstLines(*Editor)); }
bool TSheetMessageFrm::CanUnformatEdifact() { return common::TString::IsEdifactFormated(FirstLines(*Editor)); }
bool TSheetMessageFrm::CanValidate() { return FValidateMsgWorker == nullptr && !Editor->IsEmpty(); }

bool TSheetMessageFrm::CanGotoSegment() {
  return lv_Errors->selectedItems().size() == 1 || lv_Warnings->selectedItems().size() == 1;
}

bool TSheetMessageFrm::CanClose() {
  if (!Editor->Modified()) return true;
  switch (Dialogs().MessageBox(App().MainWindow(), QStringLiteral("Data as changed\n\nSave changes ?"),
                               TMsgDlgType::mtConfirmation, mbYes | mbNo | mbCancel)) {
    case TModalResult::mrYes:
      return Save();
    case TModalResult::mrNo:
      return true;
    default:
      throw EAbort();
  }
}

void TSheetMessageFrm::Undo() {
  TSheetEditorOps::Undo();
  RefreshImage();
}

void TSheetMessageFrm::FormatEdifact() {
  TBaseSheetFrm::FormatEdifact();
  const std::string text = Editor->Text().toStdString();
  Editor->ReplaceAllText(QString::fromStdString(common::TString::FormatEdifact(text)));
  RefreshImage();
}

void TSheetMessageFrm::UnformatEdifact() {
  TBaseSheetFrm::UnformatEdifact();
  common::TStringList lines = Lines(Editor->Text());
  common::TString::UnformatEdifact(lines);
  Editor->ReplaceAllText(lines.empty() ? QString() : QString::fromStdString(lines.front()));
  RefreshImage();
}

bool TSheetMessageFrm::Save() {
  if (FFilename == Untitled()) return SaveAs();
  TraceOp("Save()");
  try {
    const QString text = Editor->Text();
    SaveTextFile(FFilename.toStdString(), View(text), FEncoding, FBom);
  } catch (const std::exception& e) {
    ShowError(App().MainWindow(), QString::fromStdString(e.what()));
    return false;
  }
  Editor->SetModified(false);
  RefreshImage();
  return true;
}

bool TSheetMessageFrm::SaveAs() {
  TraceOp("SaveAs()");
  const QString name = App().ExecuteSaveDialog(FFilename == Untitled() ? QString() : FFilename);
  if (name.isEmpty()) return false;
  const QString previous = FFilename;
  FFilename = name;
  if (!Save()) {
    // A name that could not be written would make the next Save fail the same way.
    FFilename = previous;
    return false;
  }
  SetCaption(QFileInfo(name).fileName());
  return true;
}

void TSheetMessageFrm::RefreshImage() { TabSheet()->SetImageIndex(Editor->Modified() ? 1 : 0); }

// ---- Validation

void TSheetMessageFrm::Validate() {
  TBaseSheetFrm::Validate();
  if (FValidateMsgWorker) return;
  ProgressTimer->start();
  lv_Errors->clear();
  lv_Warnings->clear();
  PageControl->setTabText(PageControl->indexOf(TabErrors), QStringLiteral("Errors"));
  PageControl->setTabText(PageControl->indexOf(TabWarnings), QStringLiteral("Warnings"));
  PageControl->setTabVisible(PageControl->indexOf(TabSyntaxError), false);
  std::unique_ptr<TValidateMsgWorker> worker;
  try {
    worker = std::make_unique<TValidateMsgWorker>(App().WorkerHost(), App().ComponentFactory(),
                                                  Editor->Text().toStdString());
  } catch (const std::exception& e) {
    ProgressTimer->stop();
    ShowError(App().MainWindow(), QString::fromStdString(e.what()));
    return;
  }
  worker->FreeOnTerminate = true;
  worker->OnTerminate = [this](TWorker& w) { OnValidateMsgWorkerDone(w); };
  worker->OnValidateDone = [this](TWorker& w) { OnValidateMsgDone(w); };
  FValidateMsgWorker = worker.release();
  FValidateMsgWorker->Start();
}

void TSheetMessageFrm::OnProgressTimer() {
  ProgressTimer->stop();
  ShowProgress(App().MainWindow(), TProgressBarStyle::pbstMarquee, QStringLiteral("Validation in progress..."), 100, 0);
}

void TSheetMessageFrm::OnValidateMsgDone(TWorker& worker) {
  TraceOp("OnValidateMsgDone()");
  ProgressTimer->stop();
  HideProgress();
  lv_Errors->clear();
  lv_Warnings->clear();
  const TMessageFindings f = ReadFindings(worker.EdiDocument());
  const int e = f.ErrorCount;
  const int w = f.WarningCount;
  const bool any = e + w != 0;
  PageControl->setVisible(any);
  if (any) {
    PageControl->setCurrentWidget(e < 1 ? TabWarnings : TabErrors);
    PageControl->setTabText(PageControl->indexOf(TabErrors), QString::asprintf("Errors (%d)", e));
    AddRows(lv_Errors, f.Errors);
    PageControl->setTabText(PageControl->indexOf(TabWarnings), QString::asprintf("Warnings (%d)", w));
    AddRows(lv_Warnings, f.Warnings);
    MarkFindings();
  } else {
    ShowInformation(App().MainWindow(), QStringLiteral("Message is valid"));
  }
}

void TSheetMessageFrm::OnValidateMsgWorkerDone(TWorker& worker) {
  TraceOp("OnValidateMsgWorkerDone()");
  ProgressTimer->stop();
  HideProgress();
  if (!worker.LastError().empty()) ShowError(App().MainWindow(), QString::fromStdString(worker.LastError()));
  FValidateMsgWorker = nullptr;
}

void TSheetMessageFrm::MarkFindings() {
  Editor->ClearMarks();
  const QString text = Editor->Text();
  std::map<int, TSegmentRange> ranges;
  for (auto [list, kind] : {std::pair{lv_Errors, TEdiEditor::TMarkKind::mkError},
                            std::pair{lv_Warnings, TEdiEditor::TMarkKind::mkWarning}}) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* row = list->topLevelItem(i);
      const int n = row->text(0).toInt();
      if (n < 1) continue;
      auto it = ranges.find(n);
      if (it == ranges.end()) it = ranges.emplace(n, FindSegment(View(text), n)).first;
      if (!it->second.Found) continue;
      Editor->AddMark(static_cast<int>(it->second.Start), static_cast<int>(it->second.Length), kind,
                      row->text(2) + QStringLiteral(" ") + row->text(3));
    }
  }
}

// ---- Syntax errors

void TSheetMessageFrm::ContextPopupMenu(const QString& Code, const QString& Data) {
  TBaseSheetFrm::ContextPopupMenu(Code, Data);
  if (Code != QStringLiteral("E0005") || FValidateSyntaxWorker) return;
  ProgressTimer->start();
  std::unique_ptr<TValidateSyntaxWorker> worker;
  try {
    worker = std::make_unique<TValidateSyntaxWorker>(App().WorkerHost(), App().ComponentFactory(),
                                                     Editor->Text().toStdString());
  } catch (const std::exception& e) {
    ProgressTimer->stop();
    ShowError(App().MainWindow(), QString::fromStdString(e.what()));
    return;
  }
  worker->FreeOnTerminate = true;
  worker->OnTerminate = [this](TWorker& w) { OnValidateSyntaxWorkerDone(w); };
  worker->OnValidateDone = [this](TWorker& w) { OnValidateSyntaxDone(w); };
  FValidateSyntaxWorker = worker.release();
  FValidateSyntaxWorker->Start();
}

void TSheetMessageFrm::OnValidateSyntaxDone(TWorker& worker) {
  TraceOp("OnValidateSyntaxDone()");
  lb_SyntaxErrors->clear();
  kalvix::IEdiMessage* message = worker.EdiMessage();
  if (!message) throw std::runtime_error("No EdiMessage");
  std::int32_t count = 0;
  CheckHr(message->get_ErrorCount(&count), "ErrorCount");
  QStringList lines;
  for (std::int32_t i = 0; i < count; ++i) {
    edicom::BStr line;
    CheckHr(message->get_Error(i, line.Put()), "Error");
    // Some texts end with a line feed, which a list row would show as an empty second line.
    QString text = QString::fromStdString(line.Utf8());
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r'))) text.chop(1);
    lines << text;
  }
  lb_SyntaxErrors->addItems(lines);
  PageControl->setTabVisible(PageControl->indexOf(TabSyntaxError), true);
  PageControl->show();
  PageControl->setCurrentWidget(TabSyntaxError);
}

void TSheetMessageFrm::OnValidateSyntaxWorkerDone(TWorker& worker) {
  TraceOp("OnValidateSyntaxWorkerDone()");
  ProgressTimer->stop();
  HideProgress();
  if (!worker.LastError().empty()) ShowError(App().MainWindow(), QString::fromStdString(worker.LastError()));
  FValidateSyntaxWorker = nullptr;
}

bool TSheetMessageFrm::SyntaxTabVisible() const {
  return PageControl->isTabVisible(PageControl->indexOf(TabSyntaxError));
}

void TSheetMessageFrm::GotoSyntaxErrorLine(const QString& line) {
  const int n = NearLineNumber(View(line));
  if (n <= 0) return;
  Editor->GotoLine(n - 1);
  Editor->setFocus();
}

// ---- Segments and the lists' menu

QTreeWidget* TSheetMessageFrm::ActiveList() const {
  return PageControl->currentWidget() == TabWarnings ? lv_Warnings : lv_Errors;
}

void TSheetMessageFrm::GotoSegment() {
  TBaseSheetFrm::GotoSegment();
  GotoListSegment(PageControl->currentWidget() == TabErrors ? lv_Errors : lv_Warnings);
}

void TSheetMessageFrm::GotoListSegment(QTreeWidget* list) {
  const QList<QTreeWidgetItem*> selected = list->selectedItems();
  QTreeWidgetItem* row = selected.isEmpty() ? nullptr : selected.front();
  if (!row) return;
  bool ok = false;
  const int n = row->text(0).toInt(&ok);
  if (!ok) {
    ShowError(App().MainWindow(), QStringLiteral("'%1' is not a valid integer value").arg(row->text(0)));
    return;
  }
  if (n != 0) SelectSegment(n);
}

void TSheetMessageFrm::SelectSegment(int N) {
  const QString text = Editor->Text();
  const TSegmentRange r = FindSegment(View(text), N);
  if (!r.Found) return;
  Editor->SelectCharRange(static_cast<int>(r.Start), static_cast<int>(r.Length));
}

void TSheetMessageFrm::PrepareLvPopupMenu() {
  LvPopupMenu->clear();
  if (QAction* gotoSegment = App().Command(QStringLiteral("AcEdifactGotoSegment"))) {
    LvPopupMenu->addAction(gotoSegment);
    LvPopupMenu->setDefaultAction(gotoSegment);
  }
  LvPopupMenu->addSeparator();
  const QList<QTreeWidgetItem*> selected = ActiveList()->selectedItems();
  if (selected.size() == 1) AddContextItems(selected.front()->text(2), selected.front()->text(3));
}

void TSheetMessageFrm::AddContextItems(const QString& code, const QString& text) {
  if (code != QStringLiteral("E0005")) return;
  auto* entry = LvPopupMenu->addAction(QStringLiteral("Show syntax errors"));
  entry->setObjectName(QStringLiteral("AcContext_E0005"));
  entry->setData(text);
  connect(entry, &QAction::triggered, this,
          [this, entry] { ContextPopupMenu(QStringLiteral("E0005"), entry->data().toString()); });
}

void TSheetMessageFrm::ShowLvPopupMenu(QTreeWidget* list, const QPoint& pos) {
  PrepareLvPopupMenu();
  LvPopupMenu->popup(list->viewport()->mapToGlobal(pos));
}

}  // namespace verimek::ui
