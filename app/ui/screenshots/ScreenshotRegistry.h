// The scripted tour of tools/screenshots.sh: each *States.cpp in this folder registers its states
// with a static TRegisterStates; the driver runs them by name, headless, and each writes its PNGs.
#pragma once

#include <QString>
#include <functional>
#include <vector>

class QWidget;

namespace verimek::ui::shots {

// Renders one or more states into the folder; returns false when the state could not be shown.
using TStateFn = std::function<bool(const QString& outDir)>;

struct TState {
  QString Name;
  TStateFn Run;
};

std::vector<TState>& States();

struct TRegisterStates {
  TRegisterStates(const char* name, TStateFn run) { States().push_back({QString::fromUtf8(name), std::move(run)}); }
};

// Lets pending events (layouts, idle passes, worker callbacks) run, then writes the window to
// outDir/name.png; false when the file cannot be written.
bool SaveWindow(QWidget* window, const QString& outDir, const QString& name);
// Runs the event loop until pred holds or timeoutMs passes.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 10000);

}  // namespace verimek::ui::shots
