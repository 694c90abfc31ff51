// Save As (command scripts) and Browse (the log file name) through the
// window, with the file dialogs and message boxes scripted; the set-up of the
// desktop's own dialogs.
#include <gtest/gtest.h>

#include <QtWidgets/QCheckBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMessageBox>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "main_window_fixture.h"
#include "script_arguments.h"
#include "tests/app/child_process.h"
#include "tests/trafficlog/trafficlog_test_support.h"
#include "ui/framework/qt/file_dialogs.h"
#include "ui/framework/qt/template_dialog.h"
#include "ui/main_window_template.h"

namespace portwick {
namespace {

namespace fs = std::filesystem;
using std::chrono_literals::operator""s;

const std::vector<std::string> kScriptFilters = {"Shell Scripts (*.sh)", "Command Scripts (*.cmd)",
                                                 "All Files (*)"};

TEST_F(MainWindowTest, SaveAsWritesTheScriptOfWhatTheWindowShows) {
  logtesting::TempDir dir;
  TemplateDialog& d = Open(ProxySettings{});
  SetField(kFileNameField, "traffic.log");
  const std::string program = "'/opt/port wick/portwick'";  // quoted: it holds a space
  struct Case {
    bool write_to_file;
    std::string file;
    std::string expected;
  };
  const Case kCases[] = {
      {false, "plain.sh", program + " --source=1999 --destination=localhost:2007 "},
      {true, "with-log.cmd",
       program +
           " --source=1999 --destination=localhost:2007  --filename=\"traffic.log\" start \n"},
      // An existing file is replaced.
      {false, "plain.sh", program + " --source=1999 --destination=localhost:2007 "},
  };
  logtesting::WriteFile(dir.File("with-log.cmd"), std::string(500, 'x'));
  std::string previous_path;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.file);
    window_dialog().SetCheck(kWriteToFileBox, c.write_to_file ? 1 : 0);
    choosers_.answers = {dir.File(c.file)};
    Command(kSaveAsCommand);
    EXPECT_EQ(logtesting::ReadFile(dir.File(c.file)), c.expected);
    const SaveFileRequest& request = choosers_.requests.back();
    EXPECT_EQ(request.filters, kScriptFilters);
    EXPECT_EQ(request.default_suffix, "sh");
    EXPECT_TRUE(request.confirm_overwrite);
    EXPECT_EQ(request.initial_name, previous_path);
    EXPECT_EQ(choosers_.owners.back(), &d);
    previous_path = dir.File(c.file);
  }
  EXPECT_TRUE(choosers_.errors.empty());
}

TEST_F(MainWindowTest, SaveAsThatCannotCreateTheFileSaysSoAndStillRemembersThePath) {
  logtesting::TempDir dir;
  TemplateDialog& d = Open(ProxySettings{});
  const std::string path = dir.File("missing/restore.cmd");
  choosers_.answers = {path};
  Command(kSaveAsCommand);
  EXPECT_EQ(choosers_.errors, std::vector<std::string>{"Cannot create \"" + path + "\" file."});
  EXPECT_EQ(choosers_.owners.back(), &d);
  EXPECT_EQ(window_->command_script_path(), path);

  // Cancelled: nothing written, nothing said, the path stays.
  Command(kSaveAsCommand);
  EXPECT_EQ(choosers_.requests.back().initial_name, path);
  EXPECT_EQ(choosers_.errors.size(), 1u);
  EXPECT_EQ(window_->command_script_path(), path);
}

TEST_F(MainWindowTest, SaveAsThatCannotWriteTheWholeScriptSaysSo) {
  Open(ProxySettings{});
  // /dev/full opens for writing but every write fails with ENOSPC.
  choosers_.answers = {"/dev/full"};
  Command(kSaveAsCommand);
  EXPECT_EQ(choosers_.errors, std::vector<std::string>{"Cannot create \"/dev/full\" file."});
}

// Runs saved scripts with a real shell. The window's program path leads to a
// recorder that writes the argument vector it gets, NUL-separated, to a
// record file; values that reached the shell unquoted would create "pwned".
class SavedScriptTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    const fs::path folder = fs::path(dir_.File("it's a dir"));
    fs::create_directories(folder);
    program_path_ = (folder / "port wick").string();
    std::ofstream(program_path_) << "#!/bin/sh\n"
                                    "for a in \"$0\" \"$@\"; do printf '%s\\000' \"$a\"; done "
                                    "> \"$RECORD\"\n";
    fs::permissions(program_path_, fs::perms::owner_all);
  }

  // Saves the script of what the window shows, runs it and returns the
  // arguments the program received.
  std::vector<std::string> SaveAndRun() {
    const std::string script = dir_.File("restore.cmd");
    const std::string record = dir_.File("record");
    fs::remove(record);
    choosers_.answers = {script};
    Command(kSaveAsCommand);
    testing::ChildProcess::Options options;
    options.argv = {"/bin/sh", script};
    options.env = {"PATH=/usr/bin:/bin", "HOME=" + dir_.File("home"), "RECORD=" + record};
    options.working_directory = dir_.File("");
    EXPECT_TRUE(testing::RunToExit(options, 20s).has_value());
    std::vector<std::string> args;
    const std::string text = logtesting::ReadFile(record);
    for (size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos;
         start = end + 1) {
      args.push_back(text.substr(start, end - start));
    }
    return args;
  }

  logtesting::TempDir dir_;
};

TEST_F(SavedScriptTest, AwkwardValuesComeBackThroughTheCommandLine) {
  struct Case {
    int local_port;
    std::string host;
    int remote_port;
    bool write_to_file;
    std::string file;
  };
  std::vector<Case> cases = {
      {1999, "localhost", 2007, true, "traffic.log"},
      {1, "my host", 2, true, "my log.txt"},
      {3, "it's \"q\"", 4, true, "it's \"quoted\" $HOME.log"},
      {5, "a;b", 6, true, "x; touch pwned"},
      {7, "$(touch pwned)", 8, true, "`touch pwned`"},
      {65535, "", 0, true, ""},
      {9, "h", 9, false, "not written"},
  };
  for (int port = 0; port <= 9; ++port) cases.push_back({port, "h", 9 - port, false, ""});
  Open(ProxySettings{});
  for (const Case& c : cases) {
    SCOPED_TRACE("host [" + c.host + "] file [" + c.file + "] " + std::to_string(c.local_port));
    SetField(kLocalPortField, std::to_string(c.local_port));
    SetField(kRemoteHostField, c.host);
    SetField(kRemotePortField, std::to_string(c.remote_port));
    SetField(kFileNameField, c.file);
    window_dialog().SetCheck(kWriteToFileBox, c.write_to_file ? 1 : 0);
    const std::vector<std::string> args = SaveAndRun();
    ASSERT_FALSE(args.empty());
    EXPECT_EQ(args[0], program_path_);
    const std::optional<ProxySettings> settings = SettingsFromArguments(args);
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(settings->local_port, c.local_port);
    EXPECT_EQ(settings->remote_host, c.host);
    EXPECT_EQ(settings->remote_port, c.remote_port);
    EXPECT_EQ(settings->log_file_name, c.write_to_file ? c.file : "");
    EXPECT_EQ(settings->autostart, c.write_to_file);
    EXPECT_FALSE(fs::exists(dir_.File("pwned")));
  }
}

// Conditions and limits from the command line are kept by the script.
TEST_F(SavedScriptTest, ConditionsAndLimitsComeBackThroughTheCommandLine) {
  ProxySettings given;
  given.conditions = {*ParseCondition("down:delay=100ms,jitter=10ms", nullptr),
                      *ParseCondition("up:cut=4096,end=reset", nullptr)};
  given.limits.connect_timeout = std::chrono::seconds(5);
  given.limits.max_sessions = 3;
  Open(given);
  const std::optional<ProxySettings> settings = SettingsFromArguments(SaveAndRun());
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->conditions, given.conditions);
  EXPECT_EQ(settings->limits, given.limits);
}

TEST_F(SavedScriptTest, EndpointFormsComeBackThroughTheCommandLine) {
  struct Case {
    std::string local_host;
    std::string remote_host;
  };
  const Case kCases[] = {
      {"", "::1"},
      {"127.0.0.1", "[::1]"},
      {"::", "fe80::1%lo"},
      {"[::1]", "[fe80::1%lo]"},
      {"fe80::1%lo", "2001:db8::1"},
      {"0.0.0.0", ""},
      {"", "a:b"},
  };
  Open(ProxySettings{});
  for (const Case& c : kCases) {
    SCOPED_TRACE("[" + c.local_host + "] [" + c.remote_host + "]");
    SetField(kLocalHostField, c.local_host);
    SetField(kRemoteHostField, c.remote_host);
    const std::vector<std::string> args = SaveAndRun();
    const std::optional<ProxySettings> settings = SettingsFromArguments(args);
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(settings->bind_address, c.local_host);
    EXPECT_EQ(settings->remote_host, c.remote_host);
    EXPECT_EQ(settings->local_port, 1999);
    EXPECT_EQ(settings->remote_port, 2007);
  }
}

// The Browse dialog's limit counts UTF-16 code units, as the field holds
// them; a character cut in half reads back as '?'.
TEST_F(MainWindowTest, BrowseCutsALongNameInUtf16Units) {
  Open(ProxySettings{});
  const std::string n257(257, 'n');
  const std::string n258(258, 'n');
  const std::string e_acute = "\xC3\xA9";
  const std::string smile = "\xF0\x9F\x98\x80";  // two UTF-16 units
  const struct {
    std::string name;
    std::string offered;
  } kCases[] = {
      {n258 + e_acute + e_acute, n258 + e_acute},
      {n257 + smile + "x", n257 + smile},
      {n258 + smile, n258 + "?"},
  };
  for (const auto& c : kCases) {
    SetField(kFileNameField, c.name);
    Command(kBrowseButton);  // cancelled
    ASSERT_FALSE(choosers_.requests.empty());
    EXPECT_EQ(choosers_.requests.back().initial_name, c.offered) << c.name.size();
  }
}

TEST_F(MainWindowTest, BrowseFillsTheFileNameFieldWithThePathChosen) {
  TemplateDialog& d = Open(ProxySettings{});
  const std::string long_name(300, 'n');
  SetField(kFileNameField, long_name);
  Command(kBrowseButton);  // cancelled
  ASSERT_EQ(choosers_.requests.size(), 1u);
  const SaveFileRequest& request = choosers_.requests[0];
  EXPECT_EQ(request.initial_name, std::string(259, 'n'));
  EXPECT_EQ(request.filters, (std::vector<std::string>{"Log Files (*.log)", "All Files (*.*)"}));
  EXPECT_EQ(request.default_suffix, "log");
  EXPECT_FALSE(request.confirm_overwrite) << "logging appends; nothing is replaced";
  EXPECT_EQ(choosers_.owners[0], &d);
  EXPECT_EQ(TextOf(window_dialog(), kFileNameField), long_name);

  choosers_.answers = {"/var/tmp/chosen.log"};
  Command(kBrowseButton);
  EXPECT_EQ(TextOf(window_dialog(), kFileNameField), "/var/tmp/chosen.log");
  EXPECT_FALSE(IsChecked(window_dialog(), kWriteToFileBox)) << "choosing a name ticks nothing";
}

TEST(FileChoosersTest, DesktopDialogsAreSetUpAsAsked) {
  QWidget owner;
  SaveFileRequest request;
  request.filters = {"Log Files (*.log)", "All Files (*.*)"};
  request.default_suffix = "log";
  request.initial_name = "/tmp/name.log";
  for (const bool confirm : {false, true}) {
    request.confirm_overwrite = confirm;
    const std::unique_ptr<QFileDialog> dialog = MakeSaveFileDialog(&owner, request);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->nameFilters(), (QStringList{"Log Files (*.log)", "All Files (*.*)"}));
    EXPECT_EQ(dialog->selectedNameFilter(), "Log Files (*.log)");
    EXPECT_EQ(dialog->defaultSuffix(), "log");
    EXPECT_EQ(dialog->testOption(QFileDialog::DontConfirmOverwrite), !confirm);
    EXPECT_EQ(dialog->parentWidget(), &owner);
  }
  const std::unique_ptr<QMessageBox> box = MakeErrorBox(&owner, "Cannot create \"<b>\" file.");
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_EQ(box->text(), "Cannot create \"<b>\" file.");
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
  EXPECT_EQ(box->parentWidget(), &owner);
}

}  // namespace
}  // namespace portwick
