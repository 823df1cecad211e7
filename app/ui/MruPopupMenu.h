// The recent-files drop-down of the Open button: rebuilt from the list each time it opens,
// loaded when it is given its registry key and saved when it is destroyed.
#pragma once

#include <QMenu>
#include <functional>

#include "MruList.h"

namespace verimek::ui {

class TMruPopupMenu : public QMenu {
  Q_OBJECT

 public:
  explicit TMruPopupMenu(QWidget* parent = nullptr);
  // Saves the list when it was loaded; a failure is traced, never raised from here.
  ~TMruPopupMenu() override;

  // Loads the list from the user hive key; raises "Registry open key failed (%s)".
  void SetRegistryKey(const std::string& key);
  TMruList& List() { return FList; }
  void Add(const QString& name) { FList.Add(name.toStdString()); }
  // One entry per name, in list order.
  void Rebuild();

  // Runs when an entry is chosen, with its name.
  std::function<void(const QString&)> OnOpen;

 private:
  TMruList FList;
};

}  // namespace verimek::ui
