#ifndef PORTWICK_UI_QT_SESSIONS_WINDOW_H_
#define PORTWICK_UI_QT_SESSIONS_WINDOW_H_

#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "capture/capture_store.h"
#include "ui/qt/conversation_model.h"
#include "ui/sessions/export_command.h"
#include "ui/sessions/view_rules.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QTableView;
class QTimer;

namespace portwick {

class FileChoosers;
class SessionListModel;
class SessionListProxy;

// The Sessions window drawn with Qt Widgets: a live, sortable and filterable list of the sessions
// a capture store holds and, below it, the selected session's conversation
// as text or hex, with Find (Ctrl+F, F3, Shift+F3; text with the trace's
// escapes, or hex bytes), Follow (keeps the newest chunk in view until the
// user scrolls up, again once they scroll back to the end), Copy (Ctrl+C as
// text, Ctrl+Shift+C as hex) and Export (either direction's bytes, the
// transcript, pcapng of the session or of all). A line at the bottom says
// what the last command did, or why it failed.
//
// Shown with no session selected, it selects the newest. Find highlights the
// matched characters and names the chunk as its header shows it.
//
// Modeless and resizable; closing hides it (Esc: a fresh press, not the
// repeats of one that closed a popup), and it keeps its geometry and
// the splitter's sizes across runs of the program (QSettings). While shown it
// reads the store at most ten times a second. The store is shared with the
// run that writes it; the window keeps the last one it was given after the
// run has ended, so its sessions can still be read and exported.
//
// What is not drawing (texts, find, export, follow, paging, which session
// to select) is the shared logic of ui/sessions/; this class lays out the
// widgets and wires them to it.
//
// GUI thread only. `choosers` (Save dialogs, error boxes) is borrowed and
// must outlive the window.
class SessionsWindow : public QWidget {
 public:
  static constexpr int kRefreshMs = static_cast<int>(kRefreshInterval.count());

  explicit SessionsWindow(FileChoosers* choosers, QWidget* parent = nullptr);
  ~SessionsWindow() override;
  SessionsWindow(const SessionsWindow&) = delete;
  SessionsWindow& operator=(const SessionsWindow&) = delete;

  void SetStore(std::shared_ptr<const CaptureStore> store);
  const CaptureStore* store() const { return store_.get(); }

  // Reads the store now (the timer does this while the window is shown).
  void Refresh();

  // The commands, as the window's buttons and keys run them.
  void SelectSession(SessionId id);
  SessionId selected_session() const;
  void SetHexMode(bool hex);
  void SetFilter(const QString& text);
  // Finds the find box's text (as hex bytes when the find kind says so);
  // false when nothing matches.
  bool FindNext(bool forward);
  void CopySelection(bool hex);
  using ExportKind = SessionExportKind;
  void Export(ExportKind kind);

  SessionListModel* session_model() const { return sessions_; }
  SessionListProxy* session_proxy() const { return proxy_; }
  ConversationModel* conversation_model() const { return conversation_; }
  QTableView* session_view() const { return session_view_; }
  QTableView* conversation_view() const { return conversation_view_; }
  QLineEdit* filter_box() const { return filter_box_; }
  QLineEdit* find_box() const { return find_box_; }
  QComboBox* find_kind() const { return find_kind_; }
  QCheckBox* follow_box() const { return follow_box_; }
  QCheckBox* hex_box() const { return hex_box_; }
  QLabel* message_line() const { return message_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void BuildWidgets();
  void BuildShortcuts();
  void OnCurrentSessionChanged();
  void SaveGeometry() const;
  void RestoreGeometry();
  void Say(const std::string& text);

  FileChoosers* const choosers_;
  std::shared_ptr<const CaptureStore> store_;
  SessionListModel* sessions_;          // owned by this widget (Qt parent)
  SessionListProxy* proxy_;             // owned by this widget
  ConversationModel* conversation_;     // owned by this widget
  QTableView* session_view_ = nullptr;  // the widgets: owned through Qt parents
  QTableView* conversation_view_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QLineEdit* filter_box_ = nullptr;
  QLineEdit* find_box_ = nullptr;
  QComboBox* find_kind_ = nullptr;
  QCheckBox* follow_box_ = nullptr;
  QCheckBox* hex_box_ = nullptr;
  QPushButton* export_button_ = nullptr;
  QLabel* message_ = nullptr;
  QTimer* refresh_timer_ = nullptr;
  FollowRule follow_;
  std::optional<ConversationModel::Match> match_;
};

}  // namespace portwick

#endif  // PORTWICK_UI_QT_SESSIONS_WINDOW_H_
