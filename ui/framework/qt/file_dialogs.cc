// The desktop's Save dialog and error box (QFileDialog, QMessageBox).
#include "ui/framework/qt/file_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "ui/framework/desktop.h"

namespace portwick {

namespace {

class QtFileChoosers : public FileChoosers {
 public:
  std::optional<std::string> ChooseSaveFile(NativeWindow owner,
                                            const SaveFileRequest& request) override {
    std::unique_ptr<QFileDialog> dialog = MakeSaveFileDialog(static_cast<QWidget*>(owner), request);
    if (dialog->exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog->selectedFiles();
    if (files.isEmpty() || files.front().isEmpty()) return std::nullopt;
    return files.front().toStdString();
  }

  void ShowError(NativeWindow owner, const std::string& text) override {
    ShowErrorBox(owner, text);
  }
};

}  // namespace

void ShowErrorBox(NativeWindow owner, const std::string& text) {
  MakeErrorBox(static_cast<QWidget*>(owner), text)->exec();
}

FileChoosers& DesktopFileChoosers() {
  static QtFileChoosers choosers;
  return choosers;
}

std::unique_ptr<QFileDialog> MakeSaveFileDialog(QWidget* owner, const SaveFileRequest& request) {
  // No caption of its own: the dialog's default one shows.
  auto dialog = std::make_unique<QFileDialog>(owner);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setOption(QFileDialog::DontConfirmOverwrite, !request.confirm_overwrite);
  QStringList filters;
  for (const std::string& filter : request.filters) filters << QString::fromStdString(filter);
  dialog->setNameFilters(filters);
  if (!filters.isEmpty()) dialog->selectNameFilter(filters.front());
  dialog->setDefaultSuffix(QString::fromStdString(request.default_suffix));
  if (!request.initial_name.empty())
    dialog->selectFile(QString::fromStdString(request.initial_name));
  return dialog;
}

std::unique_ptr<QMessageBox> MakeErrorBox(QWidget* owner, const std::string& text) {
  // No caption of its own either: the platform's default title shows.
  auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, QString(),
                                           QString::fromStdString(text), QMessageBox::Ok, owner);
  // A path is shown as it is, never read as markup.
  box->setTextFormat(Qt::PlainText);
  return box;
}

}  // namespace portwick
