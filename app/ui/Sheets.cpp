#include "Sheets.h"

#include "Mainfrm.h"
#include "SheetFile.h"
#include "SheetMessage.h"

namespace verimek::ui {

void InstallSheets(TMainForm& form) {
  form.SetSheetFactories(
      [](TTabSheetEx* owner, TAppServices& app) -> TBaseSheetFrm* { return new TSheetMessageFrm(owner, app); },
      [](TTabSheetEx* owner, TAppServices& app) -> TBaseSheetFrm* { return new TSheetFileFrm(owner, app); });
  form.SetMessageTextLoader([](TBaseSheetFrm* sheet, const QString& caption, const QString& text) {
    if (auto* message = dynamic_cast<TSheetMessageFrm*>(sheet)) message->LoadText(caption, text);
  });
}

}  // namespace verimek::ui
