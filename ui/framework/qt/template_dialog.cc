#include "ui/framework/qt/template_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QStatusBar>
#include <utility>
#include <vector>

#include "ui/framework/qt/centering.h"
#include "ui/framework/qt/dialog_resizer.h"
#include "ui/framework/qt/menu_bar.h"
#include "ui/framework/qt/menu_mnemonics.h"

namespace portwick {

namespace {

bool TakesFocus(ControlKind kind) {
  switch (kind) {
    case ControlKind::kEdit:
    case ControlKind::kOutputPane:
    case ControlKind::kCheckBox:
    case ControlKind::kPushButton:
      return true;
    case ControlKind::kLabel:
    case ControlKind::kGroupBox:
    case ControlKind::kIcon:
      return false;
  }
  return false;
}

SizeType SizeTypeOf(Qt::WindowStates states) {
  if (states & Qt::WindowMinimized) return SizeType::kMinimized;
  if (states & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
    return SizeType::kMaximized;
  }
  return SizeType::kRestored;
}

}  // namespace

TemplateDialog::TemplateDialog(const DialogTemplate& dialog_template, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(dialog_template.caption));
  if (dialog_template.font_family != nullptr || dialog_template.font_point_size > 0) {
    QFont dialog_font = font();
    if (dialog_template.font_family != nullptr) {
      dialog_font.setFamily(QString::fromUtf8(dialog_template.font_family));
    }
    if (dialog_template.font_point_size > 0) {
      dialog_font.setPointSize(dialog_template.font_point_size);
    }
    setFont(dialog_font);
  }
  base_units_ = BaseUnitsOf(font());

  if (!dialog_template.menus.empty()) {
    menu_bar_ = BuildMenuBar(dialog_template.menus, this,
                             [this](int command_id) { RouteCommand(command_id); });
    new MenuMnemonics(this, menu_bar_);  // owned by menu_bar_ (Qt parent)
  }
  client_ = new QWidget(this);  // owned by this dialog
  const int menu_height = menu_bar_ ? menu_bar_->sizeHint().height() : 0;
  const int client_width = DialogUnitsToPixelsX(dialog_template.width, base_units_);
  const int client_height = DialogUnitsToPixelsY(dialog_template.height, base_units_);
  resize(client_width, menu_height + client_height);
  PlaceClient();
  if (dialog_template.overlapped) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  } else {
    setFixedSize(size());
  }

  CreateControls(dialog_template);
}

TemplateDialog::~TemplateDialog() = default;

void TemplateDialog::CreateControls(const DialogTemplate& dialog_template) {
  std::vector<QWidget*> created;
  std::vector<QLabel*> pending_buddies;  // labels waiting for the next control
  std::vector<QGroupBox*> group_boxes;
  for (const ControlTemplate& control : dialog_template.controls) {
    QWidget* widget = CreateControl(control);
    widget->setGeometry(
        DialogUnitsToPixels(control.x, control.y, control.width, control.height, base_units_));
    if (control.style & kStyleHidden) widget->setHidden(true);
    if (control.style & kStyleDisabled) widget->setEnabled(false);
    if (TakesFocus(control.kind)) {
      widget->setFocusPolicy((control.style & kStyleTabStop) ? Qt::StrongFocus : Qt::ClickFocus);
      for (QLabel* label : pending_buddies) label->setBuddy(widget);
      pending_buddies.clear();
    } else {
      widget->setFocusPolicy(Qt::NoFocus);
    }
    if (control.kind == ControlKind::kLabel && control.text != nullptr &&
        QString::fromUtf8(control.text).contains(QLatin1Char('&'))) {
      pending_buddies.push_back(static_cast<QLabel*>(widget));
    }
    if (control.kind == ControlKind::kGroupBox) {
      group_boxes.push_back(static_cast<QGroupBox*>(widget));
    }
    if (control.id != kNoControlId && controls_.count(control.id) == 0) {
      controls_[control.id] = widget;
    }
    created.push_back(widget);
  }
  // Tab order is template order.
  QWidget* previous = nullptr;
  for (QWidget* widget : created) {
    if (widget->focusPolicy() == Qt::NoFocus) continue;
    if (previous != nullptr) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
  // Frames stay behind the controls they surround.
  for (QGroupBox* group : group_boxes) group->lower();
}

QWidget* TemplateDialog::CreateControl(const ControlTemplate& control) {
  const QString text = control.text ? QString::fromUtf8(control.text) : QString();
  const int id = control.id;
  switch (control.kind) {
    case ControlKind::kLabel: {
      auto* label = new QLabel(text, client_);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setWordWrap(true);
      return label;
    }
    case ControlKind::kEdit: {
      auto* edit = new QLineEdit(text, client_);
      edit->setFrame(true);
      return edit;
    }
    case ControlKind::kOutputPane: {
      auto* pane = new QPlainTextEdit(text, client_);
      pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      pane->setLineWrapMode(QPlainTextEdit::NoWrap);
      pane->setReadOnly(false);
      pane->setTabChangesFocus(true);
      return pane;
    }
    case ControlKind::kCheckBox: {
      auto* box = new QCheckBox(text, client_);
      // A click leaves an indeterminate state written by the program; from
      // then on the box toggles between checked and unchecked.
      connect(box, &QCheckBox::clicked, box, [box]() { box->setTristate(false); });
      if (id != kNoControlId) {
        connect(box, &QCheckBox::clicked, this, [this, id]() { RouteCommand(id); });
      }
      return box;
    }
    case ControlKind::kPushButton: {
      auto* button = new QPushButton(text, client_);
      button->setDefault((control.style & kStyleDefaultButton) != 0);
      if (id != kNoControlId) {
        connect(button, &QPushButton::clicked, this, [this, id]() { RouteCommand(id); });
      }
      return button;
    }
    case ControlKind::kGroupBox: {
      auto* group = new QGroupBox(text, client_);
      group->setAttribute(Qt::WA_TransparentForMouseEvents);
      return group;
    }
    case ControlKind::kIcon: {
      auto* icon = new QLabel(client_);
      const QRect rect =
          DialogUnitsToPixels(control.x, control.y, control.width, control.height, base_units_);
      const int extent = std::min(rect.width(), rect.height());
      icon->setPixmap(QIcon(text).pixmap(QSize(extent, extent)));
      icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      return icon;
    }
  }
  return new QWidget(client_);
}

QWidget* TemplateDialog::Control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

QLabel* TemplateDialog::Label(int id) const { return qobject_cast<QLabel*>(Control(id)); }
QLineEdit* TemplateDialog::Edit(int id) const { return qobject_cast<QLineEdit*>(Control(id)); }
QPlainTextEdit* TemplateDialog::OutputPane(int id) const {
  return qobject_cast<QPlainTextEdit*>(Control(id));
}
QCheckBox* TemplateDialog::CheckBox(int id) const { return qobject_cast<QCheckBox*>(Control(id)); }
QPushButton* TemplateDialog::Button(int id) const {
  return qobject_cast<QPushButton*>(Control(id));
}
QGroupBox* TemplateDialog::GroupBox(int id) const { return qobject_cast<QGroupBox*>(Control(id)); }

QAction* TemplateDialog::MenuAction(int command_id) const {
  if (menu_bar_ == nullptr) return nullptr;
  for (QAction* action : menu_bar_->findChildren<QAction*>()) {
    if (action->data().isValid() && action->data().toInt() == command_id &&
        !action->isSeparator()) {
      return action;
    }
  }
  return nullptr;
}

void TemplateDialog::OnCommand(int command_id, CommandMap::Handler handler) {
  commands_.On(command_id, std::move(handler));
}

void TemplateDialog::SendCommand(int command_id) { RouteCommand(command_id); }

void TemplateDialog::RouteCommand(int command_id) {
  if (commands_.Dispatch(command_id)) return;  // `this` may be gone now
  if (command_id == kCommandOk || command_id == kCommandCancel) done(command_id);
}

QWidget* TemplateDialog::ReplaceControl(int id, std::unique_ptr<QWidget> widget) {
  QWidget* old = Control(id);
  if (old == nullptr || widget == nullptr) return nullptr;
  QWidget* replacement = widget.release();
  replacement->setParent(client_);  // now owned by client_
  replacement->setGeometry(old->geometry());
  replacement->setHidden(old->isHidden());
  replacement->setEnabled(!old->testAttribute(Qt::WA_ForceDisabled));
  replacement->stackUnder(old);
  if (replacement->focusPolicy() != Qt::NoFocus) QWidget::setTabOrder(old, replacement);
  // A label whose mnemonic led to the old control leads to the new one.
  for (QLabel* label : client_->findChildren<QLabel*>()) {
    if (label->buddy() == old) label->setBuddy(replacement);
  }
  controls_[id] = replacement;
  delete old;
  return replacement;
}

void TemplateDialog::EnableResizing(std::span<const ResizeEntry> table, bool with_grip) {
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  resizer_ = std::make_unique<DialogResizer>(
      this, client_, table, [this](int id) { return Control(id); }, with_grip);
}

void TemplateDialog::CenterOnScreen() { portwick::CenterOnScreen(this); }

void TemplateDialog::DestroyWindow() {
  window_destroyed_ = true;
  hide();
}

void TemplateDialog::reject() {
  if (window_destroyed_) return;
  RouteCommand(kCommandCancel);
}

void TemplateDialog::closeEvent(QCloseEvent* event) {
  if (window_destroyed_) {
    event->accept();
    return;
  }
  // The close box is the cancel command; the handler decides what closes.
  event->ignore();
  RouteCommand(kCommandCancel);
}

QStatusBar* TemplateDialog::AddStatusBar() {
  if (status_bar_ != nullptr) return status_bar_;
  status_bar_ = new QStatusBar(this);
  // The dialog's own size grip stays the one in the client area.
  status_bar_->setSizeGripEnabled(false);
  const QSize grown(width(), height() + status_bar_->sizeHint().height());
  if (minimumSize() == maximumSize()) setFixedSize(grown);
  resize(grown);
  PlaceClient();
  return status_bar_;
}

void TemplateDialog::PlaceClient() {
  const int menu_height = menu_bar_ ? menu_bar_->sizeHint().height() : 0;
  const int status_height = status_bar_ ? status_bar_->sizeHint().height() : 0;
  if (menu_bar_ != nullptr) menu_bar_->setGeometry(0, 0, width(), menu_height);
  client_->setGeometry(0, menu_height, width(), height() - menu_height - status_height);
  if (status_bar_ != nullptr) {
    status_bar_->setGeometry(0, height() - status_height, width(), status_height);
  }
}

void TemplateDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  PlaceClient();
  if (resizer_) {
    resizer_->OnSize(SizeTypeOf(windowState()), client_->width(), client_->height());
  }
}

void TemplateDialog::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && resizer_) {
    resizer_->OnSize(SizeTypeOf(windowState()), client_->width(), client_->height());
  }
}

}  // namespace portwick
