#include "MruPopupMenu.h"

#include "SysTrace.h"

namespace verimek::ui {

TMruPopupMenu::TMruPopupMenu(QWidget* parent) : QMenu(parent) {
  setObjectName(QStringLiteral("MruPopupMenu"));
  connect(this, &QMenu::aboutToShow, this, &TMruPopupMenu::Rebuild);
}

TMruPopupMenu::~TMruPopupMenu() {
  try {
    FList.Save();
  } catch (const std::exception& e) {
    common::Trace()->Write("TMruPopupMenu", e.what(), common::ttError);
  }
}

void TMruPopupMenu::SetRegistryKey(const std::string& key) { FList.Load(key); }

void TMruPopupMenu::Rebuild() {
  clear();
  for (const std::string& item : FList.Items()) {
    const QString name = QString::fromStdString(item);
    // No accelerators: a "&" in a path is part of the name.
    QString caption = name;
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
    addAction(caption, this, [this, name] {
      if (OnOpen) OnOpen(name);
    });
  }
}

}  // namespace verimek::ui
