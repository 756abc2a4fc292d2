// The system's folder picker: proposed name and default folder in, the chosen folder out.
// After a confirmed choice FileName() is the chosen folder's full path, without a trailing
// "/" except for the file system's root.
#pragma once

#include <QString>

class QWidget;

class FolderPicker {
 public:
  virtual ~FolderPicker() = default;

  virtual void SetFileName(const QString& name) { FFileName = name; }
  virtual QString FileName() const { return FFileName; }
  virtual void SetDefaultFolder(const QString& folder) { FDefaultFolder = folder; }
  virtual QString DefaultFolder() const { return FDefaultFolder; }

  // Shows the picker modally over `owner`; true when the user confirmed a folder.
  virtual bool Execute(QWidget* owner) = 0;

 protected:
  QString FFileName;
  QString FDefaultFolder;
};

// The toolkit's folder dialog; drawn in the platform's look while system-dialog restyling is off.
class SystemFolderPicker final : public FolderPicker {
 public:
  bool Execute(QWidget* owner) override;
};
