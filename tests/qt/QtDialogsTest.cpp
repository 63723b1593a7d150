// The Qt provider's Save and Open dialogs and the conversions behind them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QtTest/QTest>
#include <cstdlib>

#include "FileSystem.h"
#include "Paths.h"
#include "QtFileDialogs.h"
#include "QtTestSupport.h"
#include "TempDir.h"

namespace zw::test {
namespace {

// ---- conversions ------------------------------------------------------------

TEST(QtFilterText, OpenDialogFilterKeepsDescriptionsThatEndWithTheirPattern) {
  EXPECT_EQ(QtFilterText("Zip Files (*.zip)|*.zip|All Files (*.*)|*.*"),
            "Zip Files (*.zip);;All Files (*.*)");
}

TEST(QtFilterText, SaveDialogFilterGetsThePatternAddedWhereMissing) {
  EXPECT_EQ(QtFilterText("Zip Files (*.zip)|*.zip|All Files (All Files)|*.*"),
            "Zip Files (*.zip);;All Files (All Files) (*.*)");
}

TEST(QtFilterText, SeveralPatternsBecomeBlankSeparated) {
  EXPECT_EQ(QtFilterText("Archives|*.zip;*.exe"), "Archives (*.zip *.exe)");
  EXPECT_EQ(QtFilterText("Archives (*.zip *.exe)|*.zip;*.exe"), "Archives (*.zip *.exe)");
  EXPECT_EQ(QtFilterText("Archives (*.zip;*.exe)|*.zip;*.exe"),
            "Archives (*.zip;*.exe) (*.zip *.exe)");
}

TEST(QtFilterText, EmptyAndIncompleteEntries) {
  EXPECT_EQ(QtFilterText(""), "");
  EXPECT_EQ(QtFilterText("Odd|*.a|Dangling"), "Odd (*.a)");
  EXPECT_EQ(QtFilterText("No pattern||Text|*.txt"), "Text (*.txt)");
}

class DriveEnv {
 public:
  DriveEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~DriveEnv() {
    if (old_.empty())
      unsetenv(name_);
    else
      setenv(name_, old_.c_str(), 1);
  }

 private:
  const char* name_;
  std::string old_;
};

TEST(HostFolder, MapsDrivesRootedAndRelativeFolders) {
  TempDir dir;
  DriveEnv drive("ZW_DRIVE_C", dir.path());
  EXPECT_EQ(HostFolder("C:\\church\\data"), QString::fromStdString(dir.path() + "/church/data"));
  EXPECT_EQ(HostFolder("c:\\church\\data\\"), QString::fromStdString(dir.path() + "/church/data/"));
  EXPECT_EQ(HostFolder("\\srv\\x"), "/srv/x");
  EXPECT_EQ(HostFolder(""), std::nullopt);
  unsetenv("ZW_DRIVE_Q");
  EXPECT_EQ(HostFolder("Q:\\nowhere"), std::nullopt);

  FileSystem& fs = ActiveFileSystem();
  std::string before = fs.GetCurrentDir();
  ASSERT_TRUE(fs.SetCurrentDir(FromHostPath(dir.path())));
  EXPECT_EQ(HostFolder("church"), QString::fromStdString(dir.path() + "/church"));
  fs.SetCurrentDir(before);
}

// ---- the dialogs ------------------------------------------------------------

class QtFileDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_ = MakeGuiProvider();
    dir_.Write("church/data/old.zip", "x");
    dataHost_ = QString::fromStdString(dir_.path() + "/church/data");
  }
  void TearDown() override {
    EXPECT_EQ(driver_.Unexpected(), 0);
    EXPECT_EQ(driver_.Stuck(), 0);
  }

  static QFileDialog* AsFileDialog(QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    EXPECT_NE(dialog, nullptr) << "not a file dialog";
    return dialog;
  }
  static QLineEdit* NameEdit(QFileDialog* dialog) {
    return dialog->findChild<QLineEdit*>("fileNameEdit");
  }
  // Puts a file name into the name field and presses Enter. The name is set, not
  // typed: typing would open the completion list (once the folder has been read),
  // which then takes the Enter.
  static void Choose(QFileDialog* dialog, const QString& name) {
    QLineEdit* edit = NameEdit(dialog);
    ASSERT_NE(edit, nullptr);
    edit->setText(name);
    QTest::keyClick(edit, Qt::Key_Return);
  }
  std::string Rooted(const std::string& host) const { return FromHostPath(host); }

  TempDir dir_;
  DriveEnv drive_{"ZW_DRIVE_C", dir_.path()};
  QString dataHost_;
  std::unique_ptr<UserInterface> ui_;
  ModalDriver driver_;
};

FileDialogRequest SaveRequest() {
  return {"Zip Files (*.zip)|*.zip|All Files (All Files)|*.*", "C:\\church\\data", "Vess", "zip"};
}

FileDialogRequest OpenRequest() {
  return {"Zip Files (*.zip)|*.zip|All Files (*.*)|*.*", "C:\\church\\data", "Vess", ""};
}

TEST_F(QtFileDialogTest, SaveDialogShowsTheRequest) {
  driver_.Then([&](QWidget* w) {
    QFileDialog* dialog = AsFileDialog(w);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->nameFilters(),
              (QStringList{"Zip Files (*.zip)", "All Files (All Files) (*.*)"}));
    EXPECT_EQ(dialog->selectedNameFilter(), "Zip Files (*.zip)");
    EXPECT_EQ(dialog->directory().absolutePath(), dataHost_);
    EXPECT_EQ(dialog->defaultSuffix(), "zip");
    ASSERT_NE(NameEdit(dialog), nullptr);
    EXPECT_EQ(NameEdit(dialog)->text(), "Vess");
    Choose(dialog, "week1");
  });
  std::string path;
  ASSERT_TRUE(ui_->ChooseFileToSave(SaveRequest(), path));
  EXPECT_EQ(path, Rooted(dir_.path() + "/church/data/week1.zip"));
  EXPECT_TRUE(IsAbsolutePath(path));
}

TEST_F(QtFileDialogTest, SaveDialogTakesTheProposedNameAsIs) {
  driver_.Then([](QWidget* w) { QTest::keyClick(NameEdit(AsFileDialog(w)), Qt::Key_Return); });
  std::string path;
  ASSERT_TRUE(ui_->ChooseFileToSave(SaveRequest(), path));
  EXPECT_EQ(path, Rooted(dir_.path() + "/church/data/Vess.zip"));
}

TEST_F(QtFileDialogTest, SaveDialogDoesNotAskAboutAnExistingFile) {
  driver_.Then([](QWidget* w) { Choose(AsFileDialog(w), "old.zip"); });
  std::string path;
  ASSERT_TRUE(ui_->ChooseFileToSave(SaveRequest(), path));
  EXPECT_EQ(path, Rooted(dir_.path() + "/church/data/old.zip"));
}

TEST_F(QtFileDialogTest, EmptyDefaultExtensionAppendsNothing) {
  FileDialogRequest request = SaveRequest();
  request.defaultExt.clear();
  request.fileName = "";
  driver_.Then([](QWidget* w) {
    QFileDialog* dialog = AsFileDialog(w);
    EXPECT_EQ(dialog->defaultSuffix(), "");
    EXPECT_EQ(NameEdit(dialog)->text(), "");
    Choose(dialog, "notes");
  });
  std::string path;
  ASSERT_TRUE(ui_->ChooseFileToSave(request, path));
  EXPECT_EQ(path, Rooted(dir_.path() + "/church/data/notes"));
}

TEST_F(QtFileDialogTest, OtherExtensionStays) {
  driver_.Then([](QWidget* w) { Choose(AsFileDialog(w), "notes.bak"); });
  std::string path;
  ASSERT_TRUE(ui_->ChooseFileToSave(SaveRequest(), path));
  EXPECT_EQ(path, Rooted(dir_.path() + "/church/data/notes.bak"));
}

TEST_F(QtFileDialogTest, CancelledSaveGivesFalse) {
  driver_.Then([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
  std::string path = "unchanged";
  EXPECT_FALSE(ui_->ChooseFileToSave(SaveRequest(), path));
  EXPECT_EQ(path, "unchanged");
}

TEST_F(QtFileDialogTest, OpenDialogShowsTheRequestAndReturnsTheChosenFile) {
  driver_.Then([&](QWidget* w) {
    QFileDialog* dialog = AsFileDialog(w);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog->nameFilters(), (QStringList{"Zip Files (*.zip)", "All Files (*.*)"}));
    EXPECT_EQ(dialog->directory().absolutePath(), dataHost_);
    EXPECT_EQ(dialog->defaultSuffix(), "");
    EXPECT_EQ(NameEdit(dialog)->text(), "Vess");
    Choose(dialog, "old.zip");
  });
  std::string path;
  ASSERT_TRUE(ui_->ChooseFileToOpen(OpenRequest(), path));
  EXPECT_EQ(path, Rooted(dir_.path() + "/church/data/old.zip"));
}

TEST_F(QtFileDialogTest, CancelledOpenGivesFalse) {
  driver_.Then([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
  std::string path;
  EXPECT_FALSE(ui_->ChooseFileToOpen(OpenRequest(), path));
}

TEST_F(QtFileDialogTest, RootedInitialFolder) {
  FileDialogRequest request = OpenRequest();
  request.initialDir = Rooted(dir_.path() + "/church");
  driver_.Then([&](QWidget* w) {
    QFileDialog* dialog = AsFileDialog(w);
    EXPECT_EQ(dialog->directory().absolutePath(), QString::fromStdString(dir_.path() + "/church"));
    Choose(dialog, "data/old.zip");
  });
  std::string path;
  ASSERT_TRUE(ui_->ChooseFileToOpen(request, path));
  EXPECT_EQ(path, Rooted(dir_.path() + "/church/data/old.zip"));
}

}  // namespace
}  // namespace zw::test
