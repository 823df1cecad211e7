#include "SheetFile.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHorizontalBarSeries>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QSaveFile>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "AppServices.h"
#include "ClassUtils.h"
#include "Dialogs.h"
#include "EdiEditor.h"
#include "SegmentSelect.h"
#include "Settings.h"
#include "SysTrace.h"
#include "UTelebib.h"
#include "evWorkers.h"

namespace verimek::ui {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A read-only, whole-row list with the given columns; the ones named in right are right-aligned.
QTreeWidget* MakeList(QWidget* parent, const char* name, const QStringList& columns, const QList<int>& right) {
  auto* l = new QTreeWidget(parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setRootIsDecorated(false);
  l->setUniformRowHeights(true);
  l->setSelectionBehavior(QAbstractItemView::SelectRows);
  l->setSelectionMode(QAbstractItemView::SingleSelection);
  l->setEditTriggers(QAbstractItemView::NoEditTriggers);
  l->setHeaderLabels(columns);
  l->header()->setStretchLastSection(false);
  for (int c : right) l->headerItem()->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
  return l;
}

void SetRow(QTreeWidgetItem* item, const QStringList& cells, const QList<int>& right) {
  for (int c = 0; c < cells.size(); ++c) {
    item->setText(c, cells[c]);
    if (right.contains(c)) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
  }
}

// Every column as wide as its header and its widest cell. Measured on the texts: asking the
// view for each row's size hint costs too much on lists of thousands of texts.
void FitColumns(QTreeWidget* list) {
  const QFontMetrics cells(list->font());
  const QFontMetrics header(list->header()->font());
  const int margin = 2 * list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 12;
  for (int c = 0; c < list->columnCount(); ++c) {
    int w = header.horizontalAdvance(list->headerItem()->text(c));
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      w = std::max(w, cells.horizontalAdvance(list->topLevelItem(i)->text(c)));
    list->setColumnWidth(c, w + margin);
  }
}

// The rows of a statistics list, read by the view as it paints: a run with thousands of texts
// costs no item per row.
class TStatModel final : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;
  struct TRow {
    QString Caption, Count, Percent;
  };
  void SetRows(std::vector<TRow> rows) {
    beginResetModel();
    FRows = std::move(rows);
    endResetModel();
  }
  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(FRows.size());
  }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 3; }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= static_cast<int>(FRows.size())) return {};
    const TRow& r = FRows[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) return index.column() == 0 ? r.Caption : index.column() == 1 ? r.Count : r.Percent;
    if (role == Qt::TextAlignmentRole && index.column() > 0) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
  }
  QVariant headerData(int section, Qt::Orientation o, int role) const override {
    if (o != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole)
      return section == 1 ? QStringLiteral("Count") : section == 2 ? QStringLiteral("%") : QString();
    if (role == Qt::TextAlignmentRole && section > 0) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
  }
  // Every column as wide as its header and its widest cell. Shaping a text is dear, so only
  // the longest texts of a column are measured: the widest is among them.
  void FitColumns(QTreeView* view) const {
    const QFontMetrics cells(view->font());
    const QFontMetrics header(view->header()->font());
    const int margin = 2 * view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 12;
    const QString heads[3] = {QString(), QStringLiteral("Count"), QStringLiteral("%")};
    int widths[3] = {0, 0, 0};
    for (int c = 0; c < 3; ++c) {
      std::vector<const QString*> texts;
      texts.reserve(FRows.size());
      for (const TRow& r : FRows) texts.push_back(c == 0 ? &r.Caption : c == 1 ? &r.Count : &r.Percent);
      const std::size_t n = std::min<std::size_t>(texts.size(), 16);
      std::partial_sort(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(n), texts.end(),
                        [](const QString* a, const QString* b) { return a->size() > b->size(); });
      int w = header.horizontalAdvance(heads[c]);
      for (std::size_t i = 0; i < n; ++i) w = std::max(w, cells.horizontalAdvance(*texts[i]));
      widths[c] = w + margin;
    }
    // Long code texts are elided rather than pushing the counts out of sight.
    const int avail = view->viewport()->width();
    if (avail > 0 && widths[0] + widths[1] + widths[2] > avail)
      widths[0] = std::max(avail - widths[1] - widths[2], std::min(widths[0], 120));
    for (int c = 0; c < 3; ++c) view->setColumnWidth(c, widths[c]);
  }

 private:
  std::vector<TRow> FRows;
};

TStatModel* StatModel(QTreeView* view) { return static_cast<TStatModel*>(view->model()); }

const QList<int> kStatRight{1, 2};
const QList<int> kDetailsRight{8, 9};

// Tabs of pc_Main.
enum { tabGlobal = 0, tabErrorMessage, tabErrorCode, tabWarningMessage, tabWarningCode, tabDetails };

// Horizontal bars, the codes read down the side in the list's order.
void FillChart(QChartView* view, const TFileResultsModel::TStatList& stats) {
  auto* chart = new QChart();
  auto* set = new QBarSet(QStringLiteral("Count"));
  QStringList codes;
  std::int64_t top = 0;
  for (auto r = stats.Rows.rbegin(); r != stats.Rows.rend(); ++r) {
    *set << static_cast<qreal>(r->Count);
    codes << Q(r->Key);
    top = std::max(top, r->Count);
  }
  set->setColor(QColor(70, 110, 170));
  auto* series = new QHorizontalBarSeries();
  series->append(set);
  series->setLabelsVisible(true);
  series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
  chart->addSeries(series);
  auto* y = new QBarCategoryAxis();
  y->append(codes);
  chart->addAxis(y, Qt::AlignLeft);
  series->attachAxis(y);
  auto* x = new QValueAxis();
  x->setRange(0, static_cast<qreal>(top > 0 ? top + top / 5 + 1 : 1));
  x->setLabelFormat(QStringLiteral("%d"));
  chart->addAxis(x, Qt::AlignBottom);
  series->attachAxis(x);
  chart->legend()->hide();
  chart->setMargins(QMargins(4, 4, 4, 4));
  QChart* old = view->chart();
  view->setChart(chart);
  delete old;
}

}  // namespace

TSheetFileFrm::TSheetFileFrm(TTabSheetEx* owner, TAppServices& app)
    : TSheetEditorOps(owner, app), FResults(QLocale().decimalPoint().at(0).toLatin1()) {
  setObjectName(QStringLiteral("SheetFileFrm"));
  auto* main = new QVBoxLayout(this);
  main->setContentsMargins(4, 4, 4, 4);

  // gb_Filename
  auto* gbFilename = new QGroupBox(this);
  gbFilename->setObjectName(QStringLiteral("gb_Filename"));
  auto* fl = new QHBoxLayout(gbFilename);
  fl->addWidget(new QLabel(QStringLiteral("Filename:"), gbFilename));
  cb_Filename = new QComboBox(gbFilename);
  cb_Filename->setObjectName(QStringLiteral("cb_Filename"));
  cb_Filename->setEditable(true);
  cb_Filename->setInsertPolicy(QComboBox::NoInsert);
  cb_Filename->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  fl->addWidget(cb_Filename, 1);
  sb_Browse = new QToolButton(gbFilename);
  sb_Browse->setObjectName(QStringLiteral("sb_Browse"));
  sb_Browse->setText(QStringLiteral("..."));
  fl->addWidget(sb_Browse);
  main->addWidget(gbFilename);

  // gb_Progress
  gb_Progress = new QGroupBox(this);
  gb_Progress->setObjectName(QStringLiteral("gb_Progress"));
  auto* pl = new QVBoxLayout(gb_Progress);
  st_ProgressMsg = new QLabel(gb_Progress);
  st_ProgressMsg->setObjectName(QStringLiteral("st_ProgressMsg"));
  st_ProgressMsg->setAlignment(Qt::AlignCenter);
  pl->addWidget(st_ProgressMsg);
  ProgressBar = new QProgressBar(gb_Progress);
  pl->addWidget(ProgressBar);
  gb_Progress->hide();
  main->addWidget(gb_Progress);

  // gb_Result
  gb_Result = new QGroupBox(this);
  gb_Result->setObjectName(QStringLiteral("gb_Result"));
  auto* rl = new QVBoxLayout(gb_Result);
  rl->setContentsMargins(2, 2, 2, 2);
  pc_Main = new QTabWidget(gb_Result);
  pc_Main->setObjectName(QStringLiteral("pc_Main"));
  rl->addWidget(pc_Main);
  main->addWidget(gb_Result, 1);
  main->addStretch(0);

  auto statList = [&](const char* name) {
    auto* l = new QTreeView(pc_Main);
    l->setObjectName(QString::fromLatin1(name));
    l->setModel(new TStatModel(l));
    l->setRootIsDecorated(false);
    l->setUniformRowHeights(true);
    l->setSelectionBehavior(QAbstractItemView::SelectRows);
    l->setSelectionMode(QAbstractItemView::SingleSelection);
    l->setEditTriggers(QAbstractItemView::NoEditTriggers);
    l->header()->setStretchLastSection(false);
    l->setColumnWidth(0, 200);
    return l;
  };
  auto withChart = [&](QTreeView* list, QChartView*& chart, const char* name) {
    auto* split = new QSplitter(Qt::Horizontal, pc_Main);
    split->addWidget(list);
    chart = new QChartView(split);
    chart->setObjectName(QString::fromLatin1(name));
    chart->setRenderHint(QPainter::Antialiasing);
    chart->setMinimumWidth(320);
    split->addWidget(chart);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    return split;
  };
  lv_GlobalResult = statList("lv_GlobalResult");
  lv_ErrorMessage = statList("lv_ErrorMessage");
  lv_ErrorCode = statList("lv_ErrorCode");
  lv_WarningMessage = statList("lv_WarningMessage");
  lv_WarningCode = statList("lv_WarningCode");
  pc_Main->addTab(lv_GlobalResult, QStringLiteral("Global Result"));
  pc_Main->addTab(lv_ErrorMessage, QStringLiteral("By Error Message"));
  pc_Main->addTab(withChart(lv_ErrorCode, ch_ErrorCode, "ch_ErrorCode"), QStringLiteral("By Error Code"));
  pc_Main->addTab(lv_WarningMessage, QStringLiteral("By Warning Message"));
  pc_Main->addTab(withChart(lv_WarningCode, ch_WarningCode, "ch_WarningCode"), QStringLiteral("By Warning Code"));

  // Details
  sp_Details = new QSplitter(Qt::Vertical, pc_Main);
  sp_Details->setObjectName(QStringLiteral("sp_Details"));
  auto* top = new QWidget(sp_Details);
  auto* tl = new QVBoxLayout(top);
  tl->setContentsMargins(0, 0, 0, 0);
  tl->setSpacing(0);
  lv_Details = MakeList(top, "lv_Details",
                        {QStringLiteral("ID"), QStringLiteral("XEH ID"), QStringLiteral("X921"), QStringLiteral("X923"),
                         QStringLiteral("X925"), QStringLiteral("X912"), QStringLiteral("X916"),
                         QStringLiteral("Message"), QStringLiteral("Errors"), QStringLiteral("Warnings")},
                        kDetailsRight);
  // The page is what fits: no scrolling inside it, the keys page instead.
  lv_Details->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  lv_Details->setContextMenuPolicy(Qt::CustomContextMenu);
  tl->addWidget(lv_Details, 1);
  sb_Records = new QStatusBar(top);
  sb_Records->setObjectName(QStringLiteral("sb_Records"));
  sb_Records->setSizeGripEnabled(false);
  tl->addWidget(sb_Records);
  sp_Details->addWidget(top);

  pn_Bottom = new QWidget(sp_Details);
  pn_Bottom->setObjectName(QStringLiteral("pn_Bottom"));
  auto* bl = new QHBoxLayout(pn_Bottom);
  bl->setContentsMargins(0, 0, 0, 0);
  sp_Bottom = new QSplitter(Qt::Horizontal, pn_Bottom);
  bl->addWidget(sp_Bottom);
  // Same font and word wrap as the message sheet's editor.
  Editor = new TEdiEditor(sp_Bottom);
  Editor->setObjectName(QStringLiteral("Editor"));
  Editor->setContextMenuPolicy(Qt::CustomContextMenu);
  sp_Bottom->addWidget(Editor);
  pc_ErrorWarning = new QTabWidget(sp_Bottom);
  pc_ErrorWarning->setObjectName(QStringLiteral("pc_ErrorWarning"));
  pc_ErrorWarning->setTabPosition(QTabWidget::South);
  lv_Errors = MakeList(pc_ErrorWarning, "lv_Errors",
                       {QStringLiteral("Sgmt Nr"), QStringLiteral("Sgmt Key"), QStringLiteral("Error Code"),
                        QStringLiteral("Error Message")},
                       {});
  lv_Warnings = MakeList(pc_ErrorWarning, "lv_Warnings",
                         {QStringLiteral("Sgmt Nr"), QStringLiteral("Sgmt Key"), QStringLiteral("Warning Code"),
                          QStringLiteral("Warning Message")},
                         {});
  for (QTreeWidget* l : {lv_Errors, lv_Warnings}) {
    l->header()->setStretchLastSection(true);
    l->setColumnWidth(1, 150);
    // 80 cuts the header "Warning Code" in most fonts.
    l->setColumnWidth(2, std::max(80, l->header()->sectionSizeHint(2)));
    l->setContextMenuPolicy(Qt::CustomContextMenu);
  }
  pc_ErrorWarning->addTab(lv_Errors, QStringLiteral("Errors"));
  pc_ErrorWarning->addTab(lv_Warnings, QStringLiteral("Warnings"));
  sp_Bottom->addWidget(pc_ErrorWarning);
  sp_Bottom->setStretchFactor(0, 0);
  sp_Bottom->setStretchFactor(1, 1);
  sp_Details->addWidget(pn_Bottom);
  sp_Details->setStretchFactor(0, 1);
  sp_Details->setStretchFactor(1, 0);
  pc_Main->addTab(sp_Details, QStringLiteral("Details"));
  gb_Result->hide();

  // Pop-up menus: the lower lists share one led by Goto segment; the editor's; the details row's.
  LvPopupMenu = new QMenu(this);
  if (QAction* go = App().Command(QStringLiteral("AcEdifactGotoSegment"))) {
    LvPopupMenu->addAction(go);
    LvPopupMenu->setDefaultAction(go);
  }
  EditorPopupMenu = new QMenu(this);
  const char* const editorCommands[] = {
      "AcFileSaveAs",    "-", "AcEditCut",       "AcEditCopy",       "AcEditPaste", "-",
      "AcEditSelectAll", "-", "AcEdifactIndent", "AcEdifactUnindent"};
  for (const char* c : editorCommands) {
    if (c[0] == '-') {
      EditorPopupMenu->addSeparator();
    } else if (QAction* a = App().Command(QString::fromLatin1(c))) {
      EditorPopupMenu->addAction(a);
    }
  }
  DetailsPopupMenu = new QMenu(this);
  QAction* open = DetailsPopupMenu->addAction(QStringLiteral("Open in message sheet"));
  open->setObjectName(QStringLiteral("AcOpenInMessageSheet"));
  DetailsPopupMenu->setDefaultAction(open);
  connect(open, &QAction::triggered, this, [this] { OpenSelectedInMessageSheet(); });
  connect(lv_Details, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
    if (lv_Details->itemAt(p)) DetailsPopupMenu->popup(lv_Details->viewport()->mapToGlobal(p));
  });
  connect(Editor, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { EditorPopupMenu->popup(Editor->mapToGlobal(p)); });
  for (QTreeWidget* l : {lv_Errors, lv_Warnings}) {
    connect(l, &QWidget::customContextMenuRequested, this,
            [this, l](const QPoint& p) { LvPopupMenu->popup(l->viewport()->mapToGlobal(p)); });
    connect(l, &QTreeWidget::itemDoubleClicked, this, [this, l] { SelectLowerSegment(l); });
  }

  connect(cb_Filename, &QComboBox::currentTextChanged, this, [this](const QString& t) { SetFilename(t); });
  connect(sb_Browse, &QToolButton::clicked, this, [this] { Browse(); });
  connect(pc_Main, &QTabWidget::currentChanged, this, [this](int i) { TabActivated(i); });
  connect(lv_Details, &QTreeWidget::itemSelectionChanged, this, [this] { DetailsSelectionChanged(); });
  lv_Details->installEventFilter(this);
  connect(sp_Details, &QSplitter::splitterMoved, this, [this] { FLayout.BottomHeight = pn_Bottom->height(); });
  connect(sp_Bottom, &QSplitter::splitterMoved, this, [this] { FLayout.EditorWidth = Editor->width(); });

  FProgressFlush = new QTimer(this);
  FProgressFlush->setInterval(50);
  connect(FProgressFlush, &QTimer::timeout, this, [this] {
    TProgressCoalescer::TReport r;
    if (FCoalescer.TakePending(r)) ShowProgressReport(r);
  });

  // Creation: the recent input files, the remembered one if it is still there, the layout.
  FResults.ResetPage();
  TSettings& settings = Settings();
  for (const std::string& f : FromCommaText(settings.ValidateFileHistory())) cb_Filename->addItem(Q(f));
  const QString remembered = Q(settings.ValidateFileText());
  cb_Filename->setCurrentIndex(-1);
  cb_Filename->setEditText(QString());
  if (!remembered.isEmpty() && QFileInfo(remembered).isFile()) cb_Filename->setEditText(remembered);
  FLayout = TSheetFileLayout::Load(settings);
  // A splitter scales sizes given before it has its own; they are applied at its first size.
  sp_Details->installEventFilter(this);
  sp_Bottom->installEventFilter(this);
  sp_Details->setChildrenCollapsible(false);
  sp_Bottom->setChildrenCollapsible(false);
  lv_Details->viewport()->installEventFilter(this);
}

TSheetFileFrm::~TSheetFileFrm() {
  if (FValidateFileWorker) {
    // The run goes on without its sheet: it is told to stop at its next line error, and its
    // file is deleted when it ends, unless kept.
    const std::string db = FDbFilename.toStdString();
    const bool keep = App().KeepDb();
    FValidateFileWorker->OnProgress = nullptr;
    FValidateFileWorker->OnError = [](TWorker&, const std::string&, bool& cancel) { cancel = true; };
    FValidateFileWorker->OnTerminate = [db, keep](TWorker&) {
      if (!keep)
        for (const char* ext : {"", "-wal", "-shm"}) std::remove((db + ext).c_str());
    };
  }
  try {
    FLayout.Save(Settings());
  } catch (const std::exception& e) {
    common::Trace()->Write("TSheetFileFrm", e.what(), common::ttError);
  }
  FResults.Close();
  if (!FValidateFileWorker && !FDbFilename.isEmpty() && !App().KeepDb()) {
    const std::string db = FDbFilename.toStdString();
    for (const char* ext : {"", "-wal", "-shm"}) std::remove((db + ext).c_str());
  }
}

template <class F>
void TSheetFileFrm::Guarded(F step) {
  try {
    step();
  } catch (const std::exception& e) {
    ShowError(App().MainWindow(), Q(e.what()));
  }
}

QString TSheetFileFrm::GetCaretPos() { return Editor->CaretPosText(); }

void TSheetFileFrm::SetFilename(const QString& name) {
  TBaseSheetFrm::SetFilename(name);
  SetCaption(Q(FileCaption(name.toStdString())));
}

bool TSheetFileFrm::EditorActive() const { return Editor->hasFocus(); }

bool TSheetFileFrm::CanSaveAs() { return CanSearch(); }

namespace {
common::TStringList EditorLines(const TEdiEditor* e) {
  common::TStringList lines;
  const QString text = e->Text();
  if (text.isEmpty()) return lines;
  for (QString l : text.split(QLatin1Char('\n'))) {
    if (l.endsWith(QLatin1Char('\r'))) l.chop(1);
    lines.push_back(l.toStdString());
  }
  return lines;
}
void SetEditorLines(TEdiEditor* e, const common::TStringList& lines) {
  QStringList q;
  for (const std::string& l : lines) q << Q(l);
  e->SetText(q.join(QStringLiteral("\r\n")));
}
}  // namespace

bool TSheetFileFrm::CanFormatEdifact() {
  return CanSearch() && !common::TString::IsEdifactFormated(EditorLines(Editor));
}
bool TSheetFileFrm::CanUnformatEdifact() {
  return CanSearch() && common::TString::IsEdifactFormated(EditorLines(Editor));
}

bool TSheetFileFrm::CanValidate() { return !Running() && !FFilename.isEmpty() && QFileInfo(FFilename).isFile(); }

bool TSheetFileFrm::CanGotoSegment() {
  return lv_Errors->selectedItems().size() == 1 || lv_Warnings->selectedItems().size() == 1;
}

void TSheetFileFrm::FormatEdifact() {
  TBaseSheetFrm::FormatEdifact();
  common::TStringList lines = EditorLines(Editor);
  common::TString::FormatEdifact(lines);
  SetEditorLines(Editor, lines);
}

void TSheetFileFrm::UnformatEdifact() {
  TBaseSheetFrm::UnformatEdifact();
  common::TStringList lines = EditorLines(Editor);
  common::TString::UnformatEdifact(lines);
  SetEditorLines(Editor, lines);
}

bool TSheetFileFrm::SaveAs() {
  TBaseSheetFrm::SaveAs();
  const QString name = App().ExecuteSaveDialog(QString());
  if (name.isEmpty()) return false;
  QSaveFile f(name);
  QByteArray bytes;
  for (const std::string& l : EditorLines(Editor)) bytes += QByteArray::fromStdString(l) + "\r\n";
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
    ShowError(App().MainWindow(), QStringLiteral("Save \"%1\" failed (%2)").arg(name, f.errorString()));
    return false;
  }
  return true;
}

void TSheetFileFrm::GotoSegment() {
  TBaseSheetFrm::GotoSegment();
  SelectLowerSegment(pc_ErrorWarning->currentIndex() == 0 ? lv_Errors : lv_Warnings);
}

void TSheetFileFrm::SelectLowerSegment(QTreeWidget* list) {
  const QList<QTreeWidgetItem*> sel = list->selectedItems();
  if (sel.isEmpty()) return;
  bool ok = false;
  const int n = sel.front()->text(0).toInt(&ok);
  if (!ok || n < 1) return;
  const QString text = Editor->Text();
  const TSegmentRange r = FindSegment(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())), n);
  if (!r.Found) return;
  Editor->SelectCharRange(static_cast<int>(r.Start), static_cast<int>(r.Length));
  Editor->setFocus();
}

void TSheetFileFrm::Browse() {
  const QStringList files = App().ExecuteOpenDialog();
  if (!files.isEmpty()) cb_Filename->setEditText(files.front());
}

void TSheetFileFrm::ShowResultsOf(const QString& dbFile) {
  if (Running()) return;
  FResults.Close();
  FDbFilename = dbFile;
  FResults.SetFile(dbFile.toStdString());
  gb_Result->hide();
  PrepareAndShowResults();
}

void TSheetFileFrm::PrepareAndShowResults() {
  // The indexes the sheet reads by take seconds on a big run, and the counts of Global Result
  // a tenth of a second: both are made on a thread of their own while the window stays usable,
  // and the results are shown once they are there.
  FPreparing = true;
  st_ProgressMsg->setText(QStringLiteral("Preparing the results..."));
  ProgressBar->setRange(0, 0);
  gb_Progress->show();
  const std::string file = FDbFilename.toStdString();
  const char separator = FResults.DecimalSeparator();
  std::weak_ptr<bool> alive = FAlive;
  TWorkerHost& host = App().WorkerHost();
  host.StartThread([file, separator, alive, this, &host] {
    std::vector<TFileResultsModel::TGlobalRow> rows;
    try {
      TDatabase db(file, false);
      EnsureReadIndexes(db);
      rows = TFileSheetResults::ReadGlobalRows(db, separator);
    } catch (const std::exception&) {
      // Reported by the first query, on the user-interface thread.
    }
    host.RunOnUiThread([alive, this, file, rows = std::move(rows)]() mutable {
      if (alive.expired()) return;
      FPreparing = false;
      gb_Progress->hide();
      // A later run or file may have replaced this one in the meantime.
      if (FResults.File() == file) FResults.SetGlobalRows(std::move(rows));
      Guarded([this] { ShowResults(); });
    });
  });
}

void TSheetFileFrm::Validate() {
  TBaseSheetFrm::Validate();
  if (Running()) return;
  gb_Result->hide();
  FResults.Close();
  Guarded([this] { StartRun(); });
}

void TSheetFileFrm::StartRun() {
  TSettings& settings = Settings();
  std::vector<std::string> history;
  history.reserve(static_cast<std::size_t>(cb_Filename->count()) + 1);
  for (int i = 0; i < cb_Filename->count(); ++i) history.push_back(cb_Filename->itemText(i).toStdString());
  const QString current = cb_Filename->currentText();
  if (AddToHistory(history, FFilename.toStdString())) {
    const QSignalBlocker block(cb_Filename);
    cb_Filename->clear();
    for (const std::string& h : history) cb_Filename->addItem(Q(h));
    cb_Filename->setCurrentIndex(-1);
    cb_Filename->setEditText(current);
    settings.SetValidateFileHistory(ToCommaText(history));
  }
  settings.SetValidateFileText(current.toStdString());

  // A results folder that cannot take the file fails the run as creating the schema would.
  std::string dbName;
  try {
    dbName = NewTempDbFileName();
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("CreateDB failed (") + e.what() + ")");
  }
  // The previous run's file goes with the new run, unless kept: only the last one is shown.
  if (!FDbFilename.isEmpty() && !App().KeepDb()) {
    const std::string old = FDbFilename.toStdString();
    for (const char* ext : {"", "-wal", "-shm"}) std::remove((old + ext).c_str());
  }
  FDbFilename = Q(dbName);
  FResults.SetFile(FDbFilename.toStdString());
  FCoalescer.Reset();

  auto* worker = new TValidateFileWorker(App().WorkerHost(), App().ComponentFactory(), FFilename.toStdString(),
                                         FDbFilename.toStdString());
  if (MessageDate != 0) worker->Settings.MessageDate = MessageDate;
  // The screen shows no more than this; a blocking report per line halved the run.
  worker->ProgressInterval = std::chrono::milliseconds(20);
  worker->FreeOnTerminate = true;
  worker->OnTerminate = [this](TWorker& w) { OnValidateFileWorkerDone(w); };
  worker->OnProgress = [this](TWorker&, const std::string& msg, int mn, int mx, int pos) {
    OnValidateFileProgress(msg, mn, mx, pos);
  };
  worker->OnError = [this](TWorker&, const std::string& msg, bool& cancel) { OnValidateFileError(msg, cancel); };
  FValidateFileWorker = worker;
  worker->Start();
}

void TSheetFileFrm::OnValidateFileProgress(const std::string& msg, int min, int max, int pos) {
  const TProgressCoalescer::TReport r{msg, min, max, pos};
  if (FCoalescer.Offer(r)) {
    ShowProgressReport(r);
  } else if (!FProgressFlush->isActive()) {
    FProgressFlush->start();
  }
}

void TSheetFileFrm::ShowProgressReport(const TProgressCoalescer::TReport& r) {
  st_ProgressMsg->setText(Q(r.Msg));
  ProgressBar->setRange(r.Min, r.Max);
  ProgressBar->setValue(r.Pos);
  gb_Progress->show();
}

void TSheetFileFrm::OnValidateFileError(const std::string& msg, bool& cancel) {
  const TModalResult answer = Dialogs().MessageBox(
      App().MainWindow(), Q(msg) + QStringLiteral("\n\nContinue validation ?"), TMsgDlgType::mtError, mbYes | mbNo);
  cancel = answer == TModalResult::mrNo;
}

void TSheetFileFrm::OnValidateFileWorkerDone(TWorker& worker) {
  FProgressFlush->stop();
  gb_Progress->hide();
  FValidateFileWorker = nullptr;
  if (!worker.LastError().empty()) {
    ShowError(App().MainWindow(), Q(worker.LastError()));
    return;
  }
  PrepareAndShowResults();
}

void TSheetFileFrm::ShowResults() {
  FResults.Model();  // a file that is gone is reported before anything is shown
  gb_Result->show();
  for (bool& f : FStatsFilled) f = false;
  for (QTreeView* l : {lv_GlobalResult, lv_ErrorMessage, lv_ErrorCode, lv_WarningMessage, lv_WarningCode})
    StatModel(l)->SetRows({});
  for (QChartView* c : {ch_ErrorCode, ch_WarningCode}) FillChart(c, {});
  {
    const QSignalBlocker block(lv_Details);
    lv_Details->clear();
  }
  DetailsSelectionChanged();
  sb_Records->clearMessage();
  FResults.ResetPage();
  {
    const QSignalBlocker block(pc_Main);
    pc_Main->setCurrentIndex(tabGlobal);
  }
  FillGlobalResult();
}

void TSheetFileFrm::FillGlobalResult() {
  std::vector<TStatModel::TRow> rows;
  for (const auto& r : FResults.GlobalRows()) rows.push_back({Q(r.Caption), QString::number(r.Count), Q(r.Percent)});
  StatModel(lv_GlobalResult)->SetRows(std::move(rows));
  StatModel(lv_GlobalResult)->FitColumns(lv_GlobalResult);
  lv_GlobalResult->setColumnWidth(0, std::max(lv_GlobalResult->columnWidth(0), 200));
  FStatsFilled[0] = true;
}

void TSheetFileFrm::LoadCodeTexts() {
  if (FCodeTextsLoaded) return;
  FCodeTextsLoaded = true;
  TFileResultsModel::TCodeTexts errors, warnings;
  try {
    edicom::ScopedApartment apartment;
    auto doc = App().ComponentFactory().CreateDocument();
    edicom::BStr e, w;
    if (doc && edicom::SUCCEEDED(doc->get_ErrorCodeList(e.Put()))) errors = ParseCodeList(e.Utf8());
    if (doc && edicom::SUCCEEDED(doc->get_WarningCodeList(w.Put()))) warnings = ParseCodeList(w.Utf8());
  } catch (const std::exception& ex) {
    // Without the engine's texts the codes are still shown, with empty texts.
    common::Trace()->Write("TSheetFileFrm", ex.what(), common::ttWarning);
  }
  FResults.SetCodeTexts(std::move(errors), std::move(warnings));
}

void TSheetFileFrm::TabActivated(int index) {
  if (!gb_Result->isVisible() && !gb_Result->isVisibleTo(this)) return;
  Guarded([&] {
    if (index == tabDetails)
      LoadPage(0);
    else
      FillStatistics(index);
  });
}

void TSheetFileFrm::FillStatistics(int index) {
  if (index < tabErrorMessage || index > tabWarningCode || FStatsFilled[index]) return;
  const bool byCode = index == tabErrorCode || index == tabWarningCode;
  if (byCode) LoadCodeTexts();
  TFileResultsModel& m = FResults.Model();
  TFileResultsModel::TStatList stats;
  QTreeView* list = nullptr;
  switch (index) {
    case tabErrorMessage:
      stats = m.ErrorsByText();
      list = lv_ErrorMessage;
      break;
    case tabErrorCode:
      stats = m.ErrorsByCode();
      list = lv_ErrorCode;
      break;
    case tabWarningMessage:
      stats = m.WarningsByText();
      list = lv_WarningMessage;
      break;
    default:
      stats = m.WarningsByCode();
      list = lv_WarningCode;
      break;
  }
  std::vector<TStatModel::TRow> rows;
  rows.reserve(stats.Rows.size());
  for (const auto& r : stats.Rows) rows.push_back({Q(r.Caption), QString::number(r.Count), Q(r.Percent)});
  StatModel(list)->SetRows(std::move(rows));
  StatModel(list)->FitColumns(list);
  if (index == tabErrorCode) FillChart(ch_ErrorCode, stats);
  if (index == tabWarningCode) FillChart(ch_WarningCode, stats);
  FStatsFilled[index] = true;
}

std::int64_t TSheetFileFrm::RowsThatFit() const {
  int rowHeight = 0;
  if (lv_Details->topLevelItemCount() > 0) {
    rowHeight = lv_Details->visualItemRect(lv_Details->topLevelItem(0)).height();
  } else {
    // An empty list: measure a row of its own, so the query and the keys count the same rows.
    auto* probe = new QTreeWidgetItem(lv_Details, QStringList{QStringLiteral("0")});
    rowHeight = lv_Details->visualItemRect(probe).height();
    delete probe;
  }
  return verimek::RowsThatFit(lv_Details->viewport()->height(), rowHeight);
}

namespace {

// The details cells ask the names module of the main window.
class TTelebibNames final : public TReferentialNames {
 public:
  explicit TTelebibNames(TTelebibDataModule* module) : FModule(module) {}
  std::string X912ToStr(std::int64_t X912) override {
    if (X912 < std::numeric_limits<int>::min() || X912 > std::numeric_limits<int>::max())
      throw std::runtime_error("X912ToStr(" + std::to_string(X912) + ") failed (not found)");
    return FModule->X912ToStr(static_cast<int>(X912));
  }
  std::string X916ToStr(const std::string& X916) override { return FModule->X916ToStr(X916); }

 private:
  TTelebibDataModule* FModule;
};

}  // namespace

void TSheetFileFrm::LoadPage(std::int64_t offset) {
  if (!FResults.LoadPage(offset, RowsThatFit())) return;
  const QSignalBlocker block(lv_Details);
  lv_Details->setUpdatesEnabled(false);
  lv_Details->clear();
  std::string note;
  TTelebibNames telebib(App().Telebib());
  TReferentialNames* names = App().Telebib() ? &telebib : nullptr;
  QList<QTreeWidgetItem*> items;
  for (const TMessageRow& row : FResults.Page()) {
    auto* item = new QTreeWidgetItem();
    QStringList cells;
    for (const std::string& c : DetailsCells(row, names, note)) cells << Q(c);
    SetRow(item, cells, kDetailsRight);
    item->setData(0, Qt::UserRole, QVariant::fromValue<qlonglong>(row.Id));
    items << item;
  }
  lv_Details->addTopLevelItems(items);
  FitColumns(lv_Details);
  lv_Details->setUpdatesEnabled(true);
  DetailsSelectionChanged();
  if (!App().Telebib()) {
    const QString why = App().TelebibUnavailableReason();
    sb_Records->showMessage(QStringLiteral("Raw X912 and X916 codes: referential names not available") +
                            (why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why)));
  } else if (!note.empty()) {
    sb_Records->showMessage(Q(note));
  }
}

bool TSheetFileFrm::DetailsKey(int key, Qt::KeyboardModifiers modifiers) {
  TPagingKey k = TPagingKey::Other;
  switch (key) {
    case Qt::Key_PageUp:
      k = TPagingKey::PageUp;
      break;
    case Qt::Key_PageDown:
      k = TPagingKey::PageDown;
      break;
    case Qt::Key_End:
      k = TPagingKey::End;
      break;
    case Qt::Key_Home:
      k = TPagingKey::Home;
      break;
    case Qt::Key_Up:
      k = TPagingKey::Up;
      break;
    case Qt::Key_Down:
      k = TPagingKey::Down;
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      OpenSelectedInMessageSheet();
      return true;
    default:
      return false;
  }
  bool consumed = false;
  Guarded([&] {
    TPagingView v;
    v.Offset = FResults.Offset();
    v.Rows = RowsThatFit();
    v.Total = FResults.Total();
    v.ItemCount = lv_Details->topLevelItemCount();
    QTreeWidgetItem* cur = lv_Details->selectedItems().isEmpty() ? nullptr : lv_Details->selectedItems().front();
    v.Selected = cur ? lv_Details->indexOfTopLevelItem(cur) : -1;
    v.SelectedId = cur ? cur->data(0, Qt::UserRole).toLongLong() : 0;
    const TPagingAction a = PagingKey(k, modifiers.testFlag(Qt::ControlModifier), v);
    consumed = a.Consumed;
    if (!a.Load) return;
    LoadPage(a.Offset);
    const int n = lv_Details->topLevelItemCount();
    int select = -1;
    if (a.Select == TPagingAction::selFirst) select = 0;
    if (a.Select == TPagingAction::selLast) select = n - 1;
    // A key that goes on to the list moves from where the selection was.
    if (a.Select == TPagingAction::selNone && v.Selected >= 0) select = std::min(v.Selected, n - 1);
    if (select >= 0 && n > 0) {
      QTreeWidgetItem* item = lv_Details->topLevelItem(select);
      lv_Details->setCurrentItem(item);
      item->setSelected(true);
      lv_Details->setFocus();
    }
  });
  return consumed;
}

bool TSheetFileFrm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize) {
    if (watched == lv_Details->viewport() && FResults.Offset() >= 0) {
      // Another number of rows fits: the same page, as many rows as fit now.
      QTreeWidgetItem* cur = lv_Details->currentItem();
      const qlonglong id = cur ? cur->data(0, Qt::UserRole).toLongLong() : 0;
      Guarded([&] { LoadPage(FResults.Offset()); });
      for (int i = 0; id && i < lv_Details->topLevelItemCount(); ++i)
        if (lv_Details->topLevelItem(i)->data(0, Qt::UserRole).toLongLong() == id)
          lv_Details->setCurrentItem(lv_Details->topLevelItem(i));
    }
    if (watched == sp_Details && !FBottomApplied && sp_Details->height() > FLayout.BottomHeight + 40) {
      FBottomApplied = true;
      const int h = sp_Details->height() - sp_Details->handleWidth();
      sp_Details->setSizes({std::max(h - FLayout.BottomHeight, 0), FLayout.BottomHeight});
    } else if (watched == sp_Bottom && !FEditorApplied && sp_Bottom->width() > FLayout.EditorWidth + 40) {
      FEditorApplied = true;
      const int w = sp_Bottom->width() - sp_Bottom->handleWidth();
      sp_Bottom->setSizes({FLayout.EditorWidth, std::max(w - FLayout.EditorWidth, 0)});
    }
  }
  if (watched == lv_Details && event->type() == QEvent::KeyPress && lv_Details->hasFocus()) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (DetailsKey(key->key(), key->modifiers())) return true;
  }
  return TBaseSheetFrm::eventFilter(watched, event);
}

void TSheetFileFrm::DetailsSelectionChanged() {
  Editor->SetText(QString());
  lv_Errors->clear();
  lv_Warnings->clear();
  pc_ErrorWarning->setTabText(0, QStringLiteral("Errors"));
  pc_ErrorWarning->setTabText(1, QStringLiteral("Warnings"));
  const QList<QTreeWidgetItem*> sel = lv_Details->selectedItems();
  if (sel.isEmpty()) return;
  QTreeWidgetItem* item = sel.front();
  Guarded([&] {
    const std::int64_t id = item->data(0, Qt::UserRole).toLongLong();
    const std::int64_t xeh = item->text(1).toLongLong();
    sb_Records->showMessage(Q(RecordText(id, FResults.Total())));
    const TFileResultsModel::TMessage m = FResults.Model().Message(id, xeh);
    Editor->SetText(Q(m.Text));
    auto fill = [](QTreeWidget* list, const std::vector<TStoredFinding>& findings) {
      for (const TStoredFinding& f : findings) {
        auto* row = new QTreeWidgetItem(list);
        SetRow(row, {QString::number(f.SegmentNo), Q(f.SegmentKey), Q(f.Code), Q(f.Message)}, {});
      }
    };
    pc_ErrorWarning->setTabText(0, QStringLiteral("Errors (%1)").arg(m.Errors.size()));
    fill(lv_Errors, m.Errors);
    pc_ErrorWarning->setTabText(1, QStringLiteral("Warnings (%1)").arg(m.Warnings.size()));
    fill(lv_Warnings, m.Warnings);
  });
}

void TSheetFileFrm::OpenSelectedInMessageSheet() {
  const QList<QTreeWidgetItem*> sel = lv_Details->selectedItems();
  if (sel.isEmpty()) return;
  QTreeWidgetItem* item = sel.front();
  Guarded([&] {
    const std::int64_t id = item->data(0, Qt::UserRole).toLongLong();
    const std::int64_t xeh = item->text(1).toLongLong();
    const std::string text = FResults.Model().Message(id, xeh).Text;
    App().OpenMessageText(QStringLiteral("Message %1").arg(id), Q(text));
  });
}

}  // namespace verimek::ui
