#include "ui/framework/data_exchange.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdint>
#include <utility>

#include "ui/framework/template_dialog.h"

namespace portwick {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::function<void()>& BeepHook() {
  static std::function<void()> hook;
  return hook;
}

void Beep() {
  if (BeepHook()) {
    BeepHook()();
  } else {
    QApplication::beep();
  }
}

// Reads the text of any control kind that carries one.
bool ControlText(QWidget* control, QString* text) {
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

bool SetControlText(QWidget* control, const QString& text) {
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

bool ExchangeOne(TemplateDialog& dialog, const ExchangePair& pair, ExchangeDirection direction) {
  const bool read = direction == ExchangeDirection::kRead;
  switch (pair.kind) {
    case FieldKind::kText:
      if (pair.text == nullptr) return false;
      return read ? ReadText(dialog, pair.control_id, pair.text)
                  : WriteText(dialog, pair.control_id, *pair.text);
    case FieldKind::kInt:
      if (pair.number == nullptr) return false;
      return read ? ReadInt(dialog, pair.control_id, pair.number)
                  : WriteInt(dialog, pair.control_id, *pair.number);
    case FieldKind::kCheck:
      if (pair.number == nullptr) return false;
      return read ? ReadCheck(dialog, pair.control_id, pair.number)
                  : WriteCheck(dialog, pair.control_id, pair.number);
  }
  return false;
}

}  // namespace

bool ParseSignedInt(std::string_view text, int32_t* value) {
  *value = 0;
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t digits_start = i;
  // Accumulate the magnitude; stop early once it can't fit any more.
  int64_t magnitude = 0;
  constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kLimit) return false;
    ++i;
  }
  if (i == digits_start) return false;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i != text.size()) return false;
  if (!negative && magnitude > INT32_MAX) return false;
  *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

bool ReadText(const TemplateDialog& dialog, int control_id, std::string* text) {
  QString value;
  if (!ControlText(dialog.Control(control_id), &value)) return false;
  *text = value.toStdString();
  return true;
}

bool WriteText(TemplateDialog& dialog, int control_id, const std::string& text) {
  return SetControlText(dialog.Control(control_id), QString::fromStdString(text));
}

bool ReadInt(const TemplateDialog& dialog, int control_id, int32_t* value) {
  QString text;
  if (!ControlText(dialog.Control(control_id), &text)) {
    *value = 0;
    return false;
  }
  return ParseSignedInt(text.toStdString(), value);
}

bool WriteInt(TemplateDialog& dialog, int control_id, int32_t value) {
  return SetControlText(dialog.Control(control_id), QString::number(value));
}

bool ReadCheck(const TemplateDialog& dialog, int control_id, int32_t* state) {
  QCheckBox* box = dialog.CheckBox(control_id);
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

bool WriteCheck(TemplateDialog& dialog, int control_id, int32_t* state) {
  if (*state < 0 || *state > 2) *state = 0;
  QCheckBox* box = dialog.CheckBox(control_id);
  if (box == nullptr) return false;
  // Only an indeterminate state needs a three-state box; the dialog drops
  // the third state again at the next click (TemplateDialog).
  box->setTristate(*state == 2);
  box->setCheckState(*state == 2   ? Qt::PartiallyChecked
                     : *state == 1 ? Qt::Checked
                                   : Qt::Unchecked);
  return true;
}

bool ExchangePairs(TemplateDialog& dialog, std::span<const ExchangePair> pairs,
                   ExchangeDirection direction, int only_control_id) {
  for (const ExchangePair& pair : pairs) {
    if (only_control_id != kExchangeAll && pair.control_id != only_control_id) {
      continue;
    }
    if (!ExchangeOne(dialog, pair, direction)) {
      ReportFieldFailure(dialog, pair.control_id);
      return false;
    }
  }
  return true;
}

void ReportFieldFailure(TemplateDialog& dialog, int control_id) {
  Beep();
  if (QWidget* control = dialog.Control(control_id)) control->setFocus(Qt::OtherFocusReason);
}

void SetExchangeBeep(std::function<void()> beep) { BeepHook() = std::move(beep); }

}  // namespace portwick
