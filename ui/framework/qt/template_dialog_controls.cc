// TemplateDialog as a Dialog: controls by id, the status line, timers, and
// CreateDialog() for this toolkit.
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <utility>

#include "resources/app_icon.h"
#include "ui/framework/qt/centering.h"
#include "ui/framework/qt/hyper_link_static.h"
#include "ui/framework/qt/output_pane_widget.h"
#include "ui/framework/qt/template_dialog.h"

namespace portwick {

namespace {

// Reads the text of any control kind that carries one.
bool TextOfControl(QWidget* control, QString* text) {
  if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    *text = edit->text();
  } else if (auto* pane = qobject_cast<QPlainTextEdit*>(control)) {
    *text = pane->toPlainText();
  } else if (auto* label = qobject_cast<QLabel*>(control)) {
    *text = label->text();
  } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    *text = button->text();
  } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
    *text = group->title();
  } else {
    return false;
  }
  return true;
}

bool SetTextOfControl(QWidget* control, const QString& text) {
  if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    edit->setText(text);
  } else if (auto* pane = qobject_cast<QPlainTextEdit*>(control)) {
    pane->setPlainText(text);
  } else if (auto* label = qobject_cast<QLabel*>(control)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    button->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
    group->setTitle(text);
  } else {
    return false;
  }
  return true;
}

}  // namespace

void TemplateDialog::Show() { show(); }

void TemplateDialog::SetTitle(const std::string& title) {
  setWindowTitle(QString::fromStdString(title));
}

std::string TemplateDialog::Title() const { return windowTitle().toStdString(); }

void TemplateDialog::SetProgramIcon() { setWindowIcon(ApplicationIcon()); }

void TemplateDialog::CenterOver(NativeWindow owner) {
  const QWidget* over = static_cast<const QWidget*>(owner);
  if (over == nullptr) {
    CenterOnScreen();
    return;
  }
  QPoint position = CenteredPosition(over->frameGeometry(), size());
  if (const QScreen* screen = over->screen()) {
    const QRect area = screen->availableGeometry();
    const QPoint inside = CenteredPosition(area, size());
    // Only pull the box back where it would leave the screen.
    if (position.x() < area.left() || position.x() + width() > area.x() + area.width())
      position.setX(inside.x());
    if (position.y() < area.top() || position.y() + height() > area.y() + area.height())
      position.setY(inside.y());
  }
  move(position);
}

int TemplateDialog::RunModal() { return exec(); }

NativeWindow TemplateDialog::native_window() const {
  return const_cast<QWidget*>(static_cast<const QWidget*>(this));
}

bool TemplateDialog::HasControl(int id) const { return Control(id) != nullptr; }

bool TemplateDialog::GetControlText(int id, std::string* text) const {
  QString value;
  if (!TextOfControl(Control(id), &value)) return false;
  *text = value.toStdString();
  return true;
}

bool TemplateDialog::SetControlText(int id, const std::string& text) {
  return SetTextOfControl(Control(id), QString::fromStdString(text));
}

bool TemplateDialog::GetCheck(int id, int32_t* state) const {
  QCheckBox* box = CheckBox(id);
  if (box == nullptr) return false;
  switch (box->checkState()) {
    case Qt::Unchecked:
      *state = 0;
      break;
    case Qt::Checked:
      *state = 1;
      break;
    case Qt::PartiallyChecked:
      *state = 2;
      break;
  }
  return true;
}

bool TemplateDialog::SetCheck(int id, int32_t state) {
  QCheckBox* box = CheckBox(id);
  if (box == nullptr) return false;
  // Only an indeterminate state needs a three-state box; the dialog drops
  // the third state again at the next click.
  box->setTristate(state == 2);
  box->setCheckState(state == 2 ? Qt::PartiallyChecked : state == 1 ? Qt::Checked : Qt::Unchecked);
  return true;
}

bool TemplateDialog::EnableControl(int id, bool enabled) {
  QWidget* control = Control(id);
  if (control == nullptr) return false;
  control->setEnabled(enabled);
  return true;
}

bool TemplateDialog::IsControlEnabled(int id) const {
  const QWidget* control = Control(id);
  return control != nullptr && control->isEnabled();
}

bool TemplateDialog::ShowControl(int id, bool shown) {
  QWidget* control = Control(id);
  if (control == nullptr) return false;
  control->setVisible(shown);
  return true;
}

bool TemplateDialog::FocusControl(int id) {
  QWidget* control = Control(id);
  if (control == nullptr) return false;
  control->setFocus(Qt::OtherFocusReason);
  return true;
}

int TemplateDialog::FocusedControl() const {
  const QWidget* focused = focusWidget();
  for (const auto& [id, control] : controls_) {
    if (control == focused) return id;
  }
  return kNoControlId;
}

bool TemplateDialog::SetCueBanner(int id, const std::string& text) {
  QLineEdit* edit = Edit(id);
  if (edit == nullptr) return false;
  edit->setPlaceholderText(QString::fromStdString(text));
  return true;
}

bool TemplateDialog::SetControlTip(int id, const std::string& text) {
  QWidget* control = Control(id);
  if (control == nullptr) return false;
  control->setToolTip(QString::fromStdString(text));
  return true;
}

PaneControl* TemplateDialog::AttachOutputPane(int id) {
  if (OutputPane(id) == nullptr) return nullptr;
  return static_cast<OutputPaneWidget*>(ReplaceControl(id, std::make_unique<OutputPaneWidget>()));
}

bool TemplateDialog::MakeLink(int id, const std::string& address, UrlOpener open) {
  OpenUrlFunction open_url;  // empty: the link's own default
  if (open) {
    open_url = [open = std::move(open)](const QUrl& url) {
      return open(url.toString().toStdString());
    };
  }
  return HyperLinkStatic::FromLabel(*this, id, QUrl(QString::fromStdString(address)),
                                    std::move(open_url)) != nullptr;
}

void TemplateDialog::AddStatusLine() {
  if (status_line_ != nullptr) return;
  QStatusBar* bar = AddStatusBar();
  status_line_ = new QLabel(bar);  // owned by the bar (Qt parent)
  status_line_->setObjectName("status_line");
  status_line_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  bar->addWidget(status_line_, 1);
}

void TemplateDialog::SetStatusText(const std::string& text) {
  if (status_line_ != nullptr) status_line_->setText(QString::fromStdString(text));
}

std::string TemplateDialog::StatusText() const {
  return status_line_ != nullptr ? status_line_->text().toStdString() : std::string();
}

void TemplateDialog::SetStatusTip(const std::string& text) {
  if (status_line_ != nullptr) status_line_->setToolTip(QString::fromStdString(text));
}

void TemplateDialog::SetTimer(int timer_id, std::chrono::milliseconds interval,
                              std::function<void()> tick) {
  KillTimer(timer_id);
  auto* timer = new QTimer(this);  // owned by this dialog (Qt parent)
  timer->setInterval(interval);
  connect(timer, &QTimer::timeout, this, std::move(tick));
  timers_[timer_id] = timer;
  timer->start();
}

void TemplateDialog::KillTimer(int timer_id) {
  auto it = timers_.find(timer_id);
  if (it == timers_.end()) return;
  delete it->second;
  timers_.erase(it);
}

TemplateDialog* QtDialogOf(Dialog* dialog) { return static_cast<TemplateDialog*>(dialog); }

TemplateDialog& QtDialogOf(Dialog& dialog) { return static_cast<TemplateDialog&>(dialog); }

std::unique_ptr<Dialog> CreateDialog(const DialogTemplate& dialog_template, DialogFrame frame,
                                     NativeWindow owner) {
  ApplicationIcon();  // makes the icon's image available to the template
  auto dialog = std::make_unique<TemplateDialog>(dialog_template, static_cast<QWidget*>(owner));
  if (frame == DialogFrame::kOverlapped) {
    dialog->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  } else {
    dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint);
    dialog->setFixedSize(dialog->size());
    dialog->setModal(true);
  }
  return dialog;
}

}  // namespace portwick
