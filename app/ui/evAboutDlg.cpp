#include "evAboutDlg.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "UModuleInfo.h"

namespace verimek::ui {

QIcon ProgramIcon() {
  // The same drawing as the installed verimek.svg: a page with a check mark.
  QIcon icon;
  for (int size : {16, 32, 48, 64}) {
    QPixmap pix(size, size);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(QPen(QColor(0x1f, 0x4e, 0x79), 3));
    p.setBrush(QColor(0xf4, 0xf7, 0xfb));
    p.drawRoundedRect(QRectF(10, 4, 44, 56), 4, 4);
    p.setPen(QPen(QColor(0x8a, 0x9b, 0xb0), 2));
    for (int y = 16; y <= 32; y += 8) p.drawLine(18, y, 46, y);
    p.setPen(QPen(QColor(0x2e, 0x8b, 0x57), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(20, 44), QPointF(29, 53), QPointF(46, 36)}));
    p.end();
    icon.addPixmap(pix);
  }
  return icon;
}

TAboutBox::TAboutBox(const TComponentFactory& factory, QWidget* parent, std::string programFile)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      FFactory(factory),
      FProgramFile(programFile.empty() ? TModuleInfo::ProgramFileName() : std::move(programFile)) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("About"));
  setModal(true);
  resize(560, 300);

  auto* icon = new QLabel(this);
  icon->setPixmap(ProgramIcon().pixmap(48, 48));
  icon->setAlignment(Qt::AlignCenter);
  FProductName = new QLabel(QStringLiteral("Verimek"), this);
  FProductName->setObjectName(QStringLiteral("ProductName"));
  QFont bold = FProductName->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.4);
  FProductName->setFont(bold);
  FProductName->setAlignment(Qt::AlignCenter);
  FVersion = new QLabel(this);
  FVersion->setObjectName(QStringLiteral("st_Version"));
  FVersion->setAlignment(Qt::AlignCenter);
  FVersion->installEventFilter(this);

  auto* modulesLabel = new QLabel(QStringLiteral("Modules :"), this);
  FModules = new QTreeWidget(this);
  FModules->setObjectName(QStringLiteral("lv_Modules"));
  FModules->setRootIsDecorated(false);
  FModules->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FModules->setSelectionMode(QAbstractItemView::SingleSelection);
  FModules->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Path"), QStringLiteral("Version")});
  QHeaderView* header = FModules->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::Interactive);
  header->setSectionResizeMode(1, QHeaderView::Stretch);
  header->setSectionResizeMode(2, QHeaderView::Interactive);
  // The design's 80 pixels hold "libruvala.so" only at small fonts: at least that, at most
  // what the names need.
  FModules->setColumnWidth(0, std::max(80, fontMetrics().horizontalAdvance(QStringLiteral("libsqlite3.so.0")) + 16));
  FModules->setColumnWidth(2, 80);

  FOk = new QPushButton(QStringLiteral("OK"), this);
  FOk->setDefault(true);
  connect(FOk, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(icon);
  layout->addWidget(FProductName);
  layout->addWidget(FVersion);
  layout->addWidget(modulesLabel);
  layout->addWidget(FModules, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(FOk);
  buttons->addStretch();
  layout->addLayout(buttons);
}

void TAboutBox::Fill() {
  if (FFilled) return;
  FFilled = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  FVersion->setText(QString::fromStdString(ProgramVersionText(FProgramFile)));
  FModules->clear();
  for (const TModuleRow& row : ModuleRows(FFactory.CreateDocument)) {
    auto* item = new QTreeWidgetItem(FModules, {QString::fromStdString(row.Name), QString::fromStdString(row.Path),
                                                QString::fromStdString(row.Version)});
    // A long failure text is cut in its column: the whole text shows as a tooltip.
    for (int c = 0; c < 3; ++c) item->setToolTip(c, item->text(c));
  }
  QApplication::restoreOverrideCursor();
}

void TAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (parentWidget()) move(parentWidget()->window()->geometry().center() - rect().center());
  if (!FFilled) QTimer::singleShot(0, this, &TAboutBox::Fill);
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FVersion && event->type() == QEvent::MouseButtonDblClick) {
    FVersion->setText(QString::fromStdString(ProgramCommentsText(FProgramFile)));
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace verimek::ui
