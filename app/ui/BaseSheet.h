// The sheet contract: one sheet per page of the main window. The main window enables and runs
// its commands through these operations; the base answers false to every Can... except
// CanClose, and every action only writes its trace line.
#pragma once

#include <QIcon>
#include <QWidget>
#include <exception>
#include <functional>

class QTabWidget;

namespace verimek::ui {

class TAppServices;
class TBaseSheetFrm;
class TTabSheetEx;

// Ends a command silently (a sheet's CanClose when the user answers Cancel).
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

using TSheetFrmClass = std::function<TBaseSheetFrm*(TTabSheetEx* owner)>;

// A page of the page area, hosting one sheet.
class TTabSheetEx : public QWidget {
  Q_OBJECT

 public:
  explicit TTabSheetEx(QTabWidget* pageControl);
  TBaseSheetFrm* Form() const { return FForm; }
  // Creates the sheet with this page as owner and parent, filling it, and shows it.
  void SetFormClass(const TSheetFrmClass& AFormClass);
  QTabWidget* PageControl() const { return FPageControl; }

  QString Caption() const;
  void SetCaption(const QString& caption);
  // 0: normal, 1: the page's message is modified.
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int index);

 private:
  QTabWidget* FPageControl;
  TBaseSheetFrm* FForm = nullptr;
  int FImageIndex = 0;
};

class TBaseSheetFrm : public QWidget {
  Q_OBJECT

 public:
  // owner must be a page; the caption and FFilename start as "[Untitled]".
  TBaseSheetFrm(TTabSheetEx* owner, TAppServices& app);
  ~TBaseSheetFrm() override;

  static const QString& Untitled();

  QString Filename() const { return FFilename; }
  void SetFilenameProperty(const QString& name) { SetFilename(name); }
  QString Caption() const;
  void SetCaption(const QString& caption);
  TTabSheetEx* TabSheet() const { return FTabSheet; }
  QString CaretPos() { return GetCaretPos(); }
  TAppServices& App() const { return FApp; }

  virtual QString GetCaretPos();
  virtual void SetFilename(const QString& name);
  virtual bool CanCopy();
  virtual bool CanCut();
  virtual bool CanDelete();
  virtual bool CanPaste();
  virtual bool CanSearch();
  virtual bool CanSearchNext();
  virtual bool CanSelectAll();
  virtual bool CanUndo();
  // May raise EAbort to end the whole close command silently.
  virtual bool CanClose();
  virtual bool CanFormatEdifact();
  virtual bool CanUnformatEdifact();
  virtual bool CanValidate();
  virtual bool CanSave();
  virtual bool CanSaveAs();
  virtual bool CanGotoSegment();
  virtual void Copy();
  virtual void Cut();
  virtual void Delete();
  virtual void Paste();
  virtual void Search();
  virtual void SearchNext();
  virtual void SelectAll();
  virtual void Undo();
  virtual void FormatEdifact();
  virtual void UnformatEdifact();
  virtual void Validate();
  virtual bool Save();
  virtual bool SaveAs();
  virtual void GotoSegment();
  virtual void ContextPopupMenu(const QString& Code, const QString& Data);

 protected:
  // Trace line of an operation, at level information, sender the sheet's class.
  void TraceOp(const char* text) const;

  QString FFilename;

 private:
  TTabSheetEx* FTabSheet;
  TAppServices& FApp;
};

// The two tab images: 0 normal, 1 modified.
QIcon SheetImage(int index);

}  // namespace verimek::ui
