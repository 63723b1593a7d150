// The Qt provider's window, run loop and message boxes, driven on the offscreen
// platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>
#include <QtTest/QTest>
#include <cstdlib>
#include <optional>
#include <stdexcept>

#include "QtProvider.h"
#include "QtTestSupport.h"
#include "TempDir.h"

namespace zw::test {
namespace {

constexpr const char* kTitle = "Vessimbrant Backup";

class QtUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_ = MakeGuiProvider();
    ui_->SetApplicationTitle(kTitle);
  }
  void TearDown() override {
    EXPECT_EQ(driver_.Unexpected(), 0) << "boxes nobody expected";
    EXPECT_EQ(driver_.Stuck(), 0) << "boxes that did not close";
  }

  QLabel* Label(const char* name) {
    QWidget* form = FindTopLevel("BackupForm");
    return form ? form->findChild<QLabel*>(name) : nullptr;
  }

  std::unique_ptr<UserInterface> ui_;
  ModalDriver driver_;
};

// ---- selection ----------------------------------------------------------------

class EnvVar {
 public:
  explicit EnvVar(const char* name) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
  }
  ~EnvVar() { Set(old_ ? old_->c_str() : nullptr); }
  void Set(const char* value) {
    if (value) {
      setenv(name_, value, 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

bool IsQt(const std::unique_ptr<UserInterface>& ui) {
  return dynamic_cast<QtUserInterface*>(ui.get()) != nullptr;
}

TEST_F(QtUiTest, GuiIsChosenByNameOrByADisplay) {
  EnvVar display("DISPLAY"), wayland("WAYLAND_DISPLAY");
  EXPECT_TRUE(IsQt(CreateUserInterface("gui")));
  display.Set(":99");
  wayland.Set(nullptr);
  EXPECT_TRUE(IsQt(CreateUserInterface("")));
  display.Set(nullptr);
  wayland.Set("wayland-0");
  EXPECT_TRUE(IsQt(CreateUserInterface("")));
  wayland.Set(nullptr);
  EXPECT_FALSE(IsQt(CreateUserInterface("")));
  EXPECT_FALSE(IsQt(CreateUserInterface("console")));
}

// ---- the window -------------------------------------------------------------

TEST_F(QtUiTest, WindowShowsTheStoredLayout) {
  FakeWindow window(BackupWindowLayout());
  window.onActivate = [&] {
    ui_->EndApplication();  // first, so a failed assertion cannot leave the run open
    QWidget* form = FindTopLevel("BackupForm");
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->frameGeometry().size(), QSize(298, 134));
    EXPECT_EQ(form->frameGeometry().topLeft(), QPoint(18, 90));
    EXPECT_EQ(form->windowTitle(), "Vessimbrant Backup/Restore Form");
    EXPECT_EQ(form->font().pixelSize(), 11);
    EXPECT_FALSE(form->font().bold());
    EXPECT_TRUE(form->autoFillBackground());
    EXPECT_EQ(form->palette().color(QPalette::Window), form->palette().color(QPalette::Button));
    EXPECT_TRUE(form->findChildren<QPushButton*>().isEmpty()) << "the window has no controls";
  };
  EXPECT_EQ(ui_->Run(window), 0);
  EXPECT_EQ(window.activations, 1);
}

TEST_F(QtUiTest, LabelsSitAtTheirPlacesWithTheirFonts) {
  FakeWindow window(BackupWindowLayout());
  window.onActivate = [&] {
    ui_->EndApplication();
    QLabel* label1 = Label("Label1");
    QLabel* label2 = Label("Label2");
    ASSERT_TRUE(label1 && label2);
    EXPECT_EQ(label1->text(), "Creating Contri.zip File");
    EXPECT_EQ(label2->text(), "Processing - Please Wait");
    EXPECT_EQ(label1->pos(), QPoint(48, 20));
    EXPECT_EQ(label2->pos(), QPoint(40, 56));
    // Never smaller than stored; wider only when the fallback font needs the room.
    EXPECT_GE(label1->width(), 189);
    EXPECT_GE(label1->height(), 24);
    EXPECT_GE(label2->width(), 200);
    EXPECT_GE(label2->height(), 20);
    EXPECT_GE(label2->width(), label2->sizeHint().width()) << "text clipped";
    EXPECT_EQ(label1->font().pixelSize(), 21);
    EXPECT_FALSE(label1->font().bold());
    EXPECT_EQ(label2->font().pixelSize(), 16);
    EXPECT_TRUE(label2->font().bold());
    EXPECT_TRUE(QFontInfo(label2->font()).bold());
  };
  ui_->Run(window);
}

TEST_F(QtUiTest, MissingFontFamilyFallsBackToSansSerif) {
  if (QFontDatabase::hasFamily("MS Sans Serif")) GTEST_SKIP() << "the family is installed";
  FakeWindow window(BackupWindowLayout());
  window.onActivate = [&] {
    ui_->EndApplication();
    QLabel* label = Label("Label1");
    ASSERT_NE(label, nullptr);
    QFontInfo info(label->font());
    EXPECT_NE(info.family(), "MS Sans Serif");
    EXPECT_TRUE(QFontDatabase::hasFamily(info.family())) << info.family().toStdString();
    EXPECT_FALSE(info.fixedPitch());
    bool serifOnly = info.family().contains("Serif") && !info.family().contains("Sans");
    EXPECT_FALSE(serifOnly) << info.family().toStdString();
    EXPECT_EQ(info.pixelSize(), 21);
  };
  ui_->Run(window);
}

TEST_F(QtUiTest, ShortLabelKeepsItsStoredSize) {
  WindowLayout layout = BackupWindowLayout();
  layout.labels.push_back({"Label3", 10, 90, 120, 30, "ok", {"MS Sans Serif", 11, false}});
  FakeWindow window(layout);
  window.onActivate = [&] {
    ui_->EndApplication();
    QLabel* label = Label("Label3");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->geometry(), QRect(10, 90, 120, 30));
  };
  ui_->Run(window);
}

TEST_F(QtUiTest, FirstActivationComesWithoutWaitingForTheFallback) {
  FakeWindow window(BackupWindowLayout());
  window.onActivate = [&] { ui_->EndApplication(); };
  QElapsedTimer clock;
  clock.start();
  ui_->Run(window);
  EXPECT_EQ(window.activations, 1);
  EXPECT_LT(clock.elapsed(), 900) << "activation came only from the fallback timer";
}

// Records, in order, what the window shows: its caption changes and each label text
// as it is painted, so a change that is not painted at once shows up out of order.
class PaintLog : public QObject {
 public:
  std::vector<std::string> entries;
  void Mark(const std::string& text) { entries.push_back("mark " + text); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::WindowTitleChange)
      Add("caption " + static_cast<QWidget*>(watched)->windowTitle().toStdString());
    if (event->type() == QEvent::Paint) {
      if (auto* label = qobject_cast<QLabel*>(watched))
        Add("paint " + label->objectName().toStdString() + " " + label->text().toStdString());
    }
    return false;
  }

 private:
  void Add(const std::string& entry) {
    if (entries.empty() || entries.back() != entry) entries.push_back(entry);
  }
};

TEST_F(QtUiTest, CaptionAndLabelChangesShowAtOnceInOrder) {
  FakeWindow window(BackupWindowLayout());
  PaintLog log;
  window.onActivate = [&] {
    ui_->EndApplication();
    QWidget* form = FindTopLevel("BackupForm");
    ASSERT_NE(form, nullptr);
    form->installEventFilter(&log);
    Label("Label2")->installEventFilter(&log);
    log.Mark("start");
    ui_->SetLabelCaption("Label2", "Specify a Location");
    log.Mark("asked");
    ui_->SetLabelCaption("Label2", "Processing - Please Wait");
    log.Mark("read");
    ui_->SetWindowCaption("Vessimbrant Backup");
    log.Mark("job");
    EXPECT_EQ(form->windowTitle(), "Vessimbrant Backup");
    EXPECT_EQ(Label("Label1")->text(), "Creating Contri.zip File");
  };
  ui_->Run(window);
  std::vector<std::string> expected = {"mark start",
                                       "paint Label2 Specify a Location",
                                       "mark asked",
                                       "paint Label2 Processing - Please Wait",
                                       "mark read",
                                       "caption Vessimbrant Backup",
                                       "paint Label2 Processing - Please Wait",
                                       "mark job"};
  EXPECT_EQ(log.entries, expected);
}

TEST_F(QtUiTest, EndApplicationEndsTheRunWithoutClose) {
  FakeWindow window(BackupWindowLayout());
  window.onActivate = [&] {
    ui_->EndApplication();
    // Ending is asked for, but the handler still runs and the window still shows.
    ASSERT_NE(FindTopLevel("BackupForm"), nullptr);
    ui_->SetLabelCaption("Label2", "still here");
    EXPECT_EQ(Label("Label2")->text(), "still here");
  };
  EXPECT_EQ(ui_->Run(window), 0);
  EXPECT_EQ(window.activations, 1);
  EXPECT_EQ(window.closes, 0);
  EXPECT_EQ(FindTopLevel("BackupForm"), nullptr);
}

TEST_F(QtUiTest, UserClosingALeftOpenWindowCallsClose) {
  FakeWindow window(BackupWindowLayout());
  window.onActivate = [&] {
    QTimer::singleShot(20, [] {
      if (QWidget* form = FindTopLevel("BackupForm")) form->close();
    });
  };
  window.onClose = [&] { EXPECT_EQ(window.activations, 1); };
  ui_->Run(window);
  EXPECT_EQ(window.closes, 1);
  EXPECT_EQ(FindTopLevel("BackupForm"), nullptr);
}

// ---- the error box of an escaped error --------------------------------------

struct ErrorCase {
  const char* name;
  const char* message;
  const char* shown;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class QtErrorBoxTest : public QtUiTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(QtErrorBoxTest, EscapedErrorIsBoxedAndTheWindowStaysOpenUntilClosed) {
  FakeWindow window(BackupWindowLayout());
  window.onActivate = [&] {
    ui_->SetLabelCaption("Label2", "Specify a Location");
    throw std::runtime_error(GetParam().message);
  };
  bool boxSeen = false;
  driver_.Then([&](QWidget* box) {
    boxSeen = true;
    EXPECT_EQ(box->windowTitle(), kTitle);
    EXPECT_EQ(BoxText(box), GetParam().shown);
    EXPECT_EQ(ButtonCaptions(box), QStringList{"OK"});
    EXPECT_TRUE(BoxHasIcon(box));
    EXPECT_EQ(box->parentWidget(), FindTopLevel("BackupForm")) << "modal over the window";
    EXPECT_TRUE(ClickButton(box, "OK"));
    // After the box: the window is still there with its texts, until the user closes it.
    QTimer::singleShot(50, [&] {
      QWidget* form = FindTopLevel("BackupForm");
      ASSERT_NE(form, nullptr);
      EXPECT_EQ(Label("Label2")->text(), "Specify a Location");
      EXPECT_EQ(window.closes, 0);
      form->close();
    });
  });
  ui_->Run(window);
  EXPECT_TRUE(boxSeen);
  EXPECT_EQ(window.closes, 1);
}

INSTANTIATE_TEST_SUITE_P(
    DotRule, QtErrorBoxTest,
    ::testing::Values(ErrorCase{"Letter", "'' is not a valid integer value",
                                "'' is not a valid integer value."},
                      ErrorCase{"Digit", "code 00042", "code 00042."},
                      ErrorCase{"Dot", "ends with a dot.", "ends with a dot."},
                      ErrorCase{"Blank", "ends with a dash - ", "ends with a dash - "},
                      ErrorCase{"Dash", "ends with a dash -", "ends with a dash -"},
                      ErrorCase{"Comma", "comma,", "comma,"},
                      ErrorCase{"Slash", "path C:/", "path C:/."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QtUiTest, AnExceptionOfNoKnownTypeIsBoxedToo) {
  FakeWindow window(BackupWindowLayout());
  window.onActivate = [] { throw 42; };
  driver_.Then([](QWidget* box) {
    EXPECT_EQ(BoxText(box), "Unknown error.");
    EXPECT_TRUE(ClickButton(box, "OK"));
    QTimer::singleShot(20, [] {
      if (QWidget* form = FindTopLevel("BackupForm")) form->close();
    });
  });
  ui_->Run(window);
  EXPECT_EQ(window.closes, 1);
}

TEST_F(QtUiTest, ErrorBoxShowsTheTextAsGiven) {
  driver_.Then([](QWidget* box) {
    EXPECT_EQ(box->windowTitle(), kTitle);
    EXPECT_EQ(BoxText(box), "as given");
    EXPECT_TRUE(ClickButton(box, "OK"));
  });
  ui_->ShowErrorBox("as given");
  EXPECT_TRUE(driver_.Finished());
}

// ---- notices and questions --------------------------------------------------

TEST_F(QtUiTest, NoticeHasTheTitleAndOneOkButton) {
  driver_.Then([](QWidget* box) {
    EXPECT_EQ(box->windowTitle(), kTitle);
    EXPECT_EQ(BoxText(box), "Backup Complete");
    EXPECT_EQ(ButtonCaptions(box), QStringList{"OK"});
    EXPECT_TRUE(box->isModal());
    // Wide enough for its caption beside a close box, though the text is shorter.
    EXPECT_GE(box->width(), box->fontMetrics().horizontalAdvance(kTitle) +
                                box->style()->pixelMetric(QStyle::PM_TitleBarHeight));
    EXPECT_TRUE(ClickButton(box, "OK"));
  });
  ui_->ShowNotice("Backup Complete");
  EXPECT_TRUE(driver_.Finished());
}

TEST_F(QtUiTest, NoticeTextKeepsTrailingBlanksAndAmpersands) {
  const char* text = "Skipping file C:\\DATA\\FI0020.DAT & more as it cannot be backed up - ";
  driver_.Then([&](QWidget* box) {
    EXPECT_EQ(BoxText(box), text);
    QTest::keyClick(box, Qt::Key_Escape);
  });
  ui_->ShowNotice(text);
  EXPECT_TRUE(driver_.Finished());
}

TEST_F(QtUiTest, KindsBearTheirCaptions) {
  const std::pair<TMsgDlgType, const char*> kinds[] = {{TMsgDlgType::mtWarning, "Warning"},
                                                       {TMsgDlgType::mtError, "Error"},
                                                       {TMsgDlgType::mtInformation, "Information"},
                                                       {TMsgDlgType::mtConfirmation, "Confirm"}};
  for (const auto& [kind, caption] : kinds) {
    driver_.Then([caption = caption](QWidget* box) {
      EXPECT_EQ(box->windowTitle(), caption);
      EXPECT_TRUE(BoxHasIcon(box));
      EXPECT_TRUE(ClickButton(box, "OK"));
    });
    EXPECT_EQ(ui_->AskChoice("text", kind, mbOK), mrOk) << caption;
  }
}

struct ButtonSetCase {
  const char* name;
  TMsgDlgType kind;
  TMsgDlgButtons buttons;
  QStringList captions;
  std::vector<int> results;
  int escapeResult;
};

void PrintTo(const ButtonSetCase& c, std::ostream* os) { *os << c.name; }

class QtChoiceTest : public QtUiTest, public ::testing::WithParamInterface<ButtonSetCase> {};

TEST_P(QtChoiceTest, EachButtonGivesItsResult) {
  const ButtonSetCase& c = GetParam();
  for (size_t i = 0; i < c.results.size(); ++i) {
    driver_.Then([&, i](QWidget* box) {
      EXPECT_EQ(box->windowTitle(), KindCaption(c.kind));
      EXPECT_EQ(BoxText(box), "Do you want to abort the backup? ");
      EXPECT_EQ(ButtonCaptions(box), c.captions);
      EXPECT_TRUE(ClickButton(box, c.captions[static_cast<int>(i)]));
    });
    EXPECT_EQ(ui_->AskChoice("Do you want to abort the backup? ", c.kind, c.buttons), c.results[i])
        << c.captions[static_cast<int>(i)].toStdString();
  }
}

TEST_P(QtChoiceTest, EscapeAndCloseGiveCancelOrTheDefaultAnswer) {
  const ButtonSetCase& c = GetParam();
  driver_.Then([](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
  EXPECT_EQ(ui_->AskChoice("q", c.kind, c.buttons), c.escapeResult);
  driver_.Then([](QWidget* box) { box->close(); });
  EXPECT_EQ(ui_->AskChoice("q", c.kind, c.buttons), c.escapeResult);
}

TEST_P(QtChoiceTest, BareAcceleratorLetterPressesItsButton) {
  const ButtonSetCase& c = GetParam();
  QString used;  // a letter two buttons share is left out: which one wins is not fixed
  for (const QString& caption : c.captions) {
    if (int amp = caption.indexOf('&'); amp >= 0) used += caption.at(amp + 1).toLower();
  }
  for (int i = 0; i < c.captions.size(); ++i) {
    int amp = c.captions[i].indexOf('&');
    if (amp < 0) continue;
    QChar letter = c.captions[i].at(amp + 1).toLower();
    if (used.count(letter) > 1) continue;
    driver_.Then([letter](QWidget* box) { QTest::keyClicks(box, QString(letter)); });
    EXPECT_EQ(ui_->AskChoice("q", c.kind, c.buttons), c.results[static_cast<size_t>(i)])
        << c.captions[i].toStdString();
  }
}

TEST_P(QtChoiceTest, EnterPressesTheFirstButton) {
  const ButtonSetCase& c = GetParam();
  driver_.Then([](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); });
  EXPECT_EQ(ui_->AskChoice("q", c.kind, c.buttons), c.results.front());
}

INSTANTIATE_TEST_SUITE_P(
    ButtonSetsInUse, QtChoiceTest,
    ::testing::Values(
        ButtonSetCase{
            "YesNo", TMsgDlgType::mtError, mbYes | mbNo, {"&Yes", "&No"}, {mrYes, mrNo}, mrNo},
        ButtonSetCase{"OkCancel",
                      TMsgDlgType::mtConfirmation,
                      mbOK | mbCancel,
                      {"OK", "Cancel"},
                      {mrOk, mrCancel},
                      mrCancel},
        ButtonSetCase{"AbortRetryIgnore",
                      TMsgDlgType::mtConfirmation,
                      mbAbort | mbRetry | mbIgnore,
                      {"&Abort", "&Retry", "&Ignore"},
                      {mrAbort, mrRetry, mrIgnore},
                      mrAbort},
        // Asked for in any bit order, shown in the fixed order.
        ButtonSetCase{"Overwrite",
                      TMsgDlgType::mtConfirmation,
                      mbYesToAll | mbNoToAll | mbNo | mbYes,
                      {"&Yes", "&No", "N&o to All", "Yes to &All"},
                      {mrYes, mrNo, mrNoToAll, mrYesToAll},
                      mrNo},
        ButtonSetCase{
            "Everything",
            TMsgDlgType::mtWarning,
            0x3FF,
            {"&Yes", "&No", "OK", "Cancel", "&Abort", "&Retry", "&Ignore", "&All", "N&o to All",
             "Yes to &All"},
            {mrYes, mrNo, mrOk, mrCancel, mrAbort, mrRetry, mrIgnore, mrAll, mrNoToAll, mrYesToAll},
            mrCancel}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QtUiTest, BoxesDuringTheRunAreModalOverTheWindow) {
  FakeWindow window(BackupWindowLayout());
  int answer = 0;
  window.onActivate = [&] {
    answer =
        ui_->AskChoice("Do you want to abort the backup? ", TMsgDlgType::mtError, mbYes | mbNo);
    ui_->EndApplication();
  };
  driver_.Then([](QWidget* box) {
    EXPECT_EQ(box->parentWidget(), FindTopLevel("BackupForm"));
    EXPECT_EQ(QApplication::activeModalWidget(), box);
    EXPECT_TRUE(ClickButton(box, "&No"));
  });
  ui_->Run(window);
  EXPECT_EQ(answer, mrNo);
  EXPECT_EQ(window.closes, 0);
}

TEST_F(QtUiTest, LongTextWrapsWithoutClipping) {
  std::string text(60, 'x');
  for (int i = 0; i < 8; ++i) text += " a rather long sentence to wrap";
  driver_.Then([](QWidget* box) {
    auto* label = box->findChild<QLabel*>("boxText");
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->wordWrap());
    EXPECT_GE(label->height(), label->heightForWidth(label->width()));
    EXPECT_TRUE(ClickButton(box, "OK"));
  });
  ui_->ShowNotice(text);
}

// A path has no blanks to wrap at; it used to be cut off ("C:\...\SECOND_LEVE").
TEST_F(QtUiTest, LongPathWrapsAndKeepsItsFileName) {
  // One folder name is wider than the box by itself, so it has to break inside.
  std::string path = "C:\\CHURCH\\DATA\\" + std::string(161, 'N') + "\\SECOND_LEVEL\\FI0020.DAT";
  ASSERT_EQ(path.size(), 200u);
  std::string text = "Skipping file " + path + " as it cannot be backed up - ";
  driver_.Then([&](QWidget* box) {
    auto* label = box->findChild<QLabel*>("boxText");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text().toStdString(), text);
    QRect screen = box->screen()->availableGeometry();
    EXPECT_LE(box->frameGeometry().width(), screen.width());
    EXPECT_LE(label->geometry().right(), box->width());
    // Every character needs room: at least as many lines as the text is wide.
    QFontMetrics metrics = label->fontMetrics();
    int lines = (metrics.horizontalAdvance(label->text()) + label->width() - 1) / label->width();
    EXPECT_GE(lines, 3);
    EXPECT_GE(label->height(), lines * metrics.height());
    // Drawn down to its last line, where the file name is.
    QImage image = label->grab().toImage();
    int lastInk = -1;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (qGray(image.pixel(x, y)) < 100) lastInk = y;
    EXPECT_GT(lastInk / image.devicePixelRatio(), label->height() - 1.5 * metrics.height());
    EXPECT_TRUE(ClickButton(box, "OK"));
  });
  ui_->ShowNotice(text);
  EXPECT_TRUE(driver_.Finished());
}

// ---- the text prompt --------------------------------------------------------

QLineEdit* PromptEdit(QWidget* dialog) { return dialog->findChild<QLineEdit*>(); }

TEST_F(QtUiTest, AskTextAcceptedGivesTheEditedValue) {
  driver_.Then([](QWidget* dialog) {
    EXPECT_EQ(dialog->windowTitle(), "Password");
    auto* input = qobject_cast<QInputDialog*>(dialog);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->labelText(), "Enter password for a.txt");
    QLineEdit* edit = PromptEdit(dialog);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), "old");
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    edit->clear();
    QTest::keyClicks(edit, "s3cret");
    QTest::keyClick(edit, Qt::Key_Return);
  });
  std::string value = "old";
  EXPECT_TRUE(ui_->AskText("Password", "Enter password for a.txt", value));
  EXPECT_EQ(value, "s3cret");
}

TEST_F(QtUiTest, AskTextCancelledKeepsTheValue) {
  driver_.Then([](QWidget* dialog) {
    QTest::keyClicks(PromptEdit(dialog), "typed");
    auto* box = dialog->findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box->button(QDialogButtonBox::Cancel), Qt::LeftButton);
  });
  std::string value = "old";
  EXPECT_FALSE(ui_->AskText("Password", "p", value));
  EXPECT_EQ(value, "old");
}

// ---- screenshots for unattended runs -----------------------------------------

TEST_F(QtUiTest, ScreenshotDirectoryCollectsWindowAndBoxes) {
  TempDir dir;
  setenv("ZW_QT_SCREENSHOT_DIR", dir.path().c_str(), 1);
  FakeWindow window(BackupWindowLayout());
  QSize inner;
  window.onActivate = [&] {
    if (QWidget* form = FindTopLevel("BackupForm")) inner = form->size();
    ui_->ShowNotice("Backup Complete");
    ui_->EndApplication();
  };
  driver_.Then([](QWidget* box) { EXPECT_TRUE(ClickButton(box, "OK")); });
  ui_->Run(window);
  unsetenv("ZW_QT_SCREENSHOT_DIR");
  QStringList files = QDir(QString::fromStdString(dir.path())).entryList({"*.png"}, QDir::Files);
  ASSERT_EQ(files.size(), 2) << files.join(' ').toStdString();
  EXPECT_TRUE(files[0].endsWith("-window.png"));
  EXPECT_TRUE(files[1].endsWith("-notice.png"));
  QImage shot(QString::fromStdString(dir.path()) + "/" + files[0]);
  // The window's inside, without a frame, under a title bar drawn with its caption.
  EXPECT_EQ(shot.width(), inner.width());
  EXPECT_GT(shot.height(), inner.height());
}

}  // namespace
}  // namespace zw::test
