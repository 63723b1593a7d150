// Takes PNG screenshots of the backup window and of the abort question as the Qt
// provider shows them on a real display (run it under `xvfb-run -a`):
//   qt_screenshot_tool [output folder]
// writes form.png and question.png into the folder (default: screenshots/ in the
// build folder) and fails when either is missing or the window has the wrong size.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QWindow>
#include <QtTest/QTest>
#include <cstdio>

#include "QtTestSupport.h"

namespace {

using namespace zw;
using namespace zw::test;

// What the display shows of the widget; the widget's own rendering when the
// platform cannot read the screen back.
QPixmap Screenshot(QWidget* widget) {
  (void)QTest::qWaitForWindowExposed(widget);
  QCoreApplication::processEvents();
  QPixmap shot;
  if (QScreen* screen = widget->screen()) shot = screen->grabWindow(widget->winId());
  return shot.isNull() ? widget->grab() : shot;
}

bool Save(QWidget* widget, const QDir& dir, const char* name) {
  QPixmap shot = Screenshot(widget);
  bool saved = shot.save(dir.filePath(name), "PNG");
  std::printf("%s %s (%dx%d)\n", saved ? "saved" : "could not save", qPrintable(dir.filePath(name)),
              shot.width(), shot.height());
  return saved;
}

struct Outcome {
  bool form = false;
  bool question = false;
  QSize formSize;
  int answer = mrNone;
};

void RunForm(UserInterface& ui, const QDir& dir, Outcome& out) {
  FakeWindow window(BackupWindowLayout());
  ModalDriver driver;
  driver.Then([&](QWidget* box) {
    out.question = Save(box, dir, "question.png");
    ClickButton(box, "&No");
  });
  window.onActivate = [&] {
    ui.EndApplication();
    QWidget* form = FindTopLevel("BackupForm");
    if (!form) return;
    out.formSize = form->frameGeometry().size();
    out.form = Save(form, dir, "form.png");
    out.answer =
        ui.AskChoice("Do you want to abort the backup? ", TMsgDlgType::mtError, mbYes | mbNo);
  };
  ui.Run(window);
}

}  // namespace

int main(int argc, char** argv) {
  QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(ZW_SCREENSHOT_DIR));
  if (!dir.mkpath(".")) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(dir.path()));
    return 1;
  }
  // Made here so that the display decides the platform (the test support would
  // choose the offscreen one).
  QApplication app(argc, argv);
  auto ui = MakeGuiProvider();
  ui->SetApplicationTitle("Vessimbrant Backup");
  Outcome out;
  RunForm(*ui, dir, out);
  std::printf("platform %s, window %dx%d, answer %d\n", qPrintable(QGuiApplication::platformName()),
              out.formSize.width(), out.formSize.height(), out.answer);
  bool ok = out.form && out.question && out.formSize == QSize(298, 134) && out.answer == mrNo;
  return ok ? 0 : 1;
}
