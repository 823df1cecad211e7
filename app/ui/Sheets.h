// The program's two sheets, plugged into a main window.
#pragma once

namespace verimek::ui {

class TMainForm;

// New gives a message sheet, Validate File a file sheet; a message's text opened from a file
// sheet goes into a new message sheet.
void InstallSheets(TMainForm& form);

}  // namespace verimek::ui
