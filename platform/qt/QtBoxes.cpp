#include "QtBoxes.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <utility>

#include "QtAutoAnswer.h"
#include "QtScreenshots.h"

namespace zw {

namespace {

constexpr int kMaxTextWidth = 480;  // wider texts wrap, like a system message box
constexpr int kButtonMinWidth = 75;
constexpr int kIconSize = 32;

QStyle::StandardPixmap IconPixmap(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::kWarning:
      return QStyle::SP_MessageBoxWarning;
    case BoxIcon::kError:
      return QStyle::SP_MessageBoxCritical;
    case BoxIcon::kInformation:
      return QStyle::SP_MessageBoxInformation;
    case BoxIcon::kQuestion:
    case BoxIcon::kNone:
      break;
  }
  return QStyle::SP_MessageBoxQuestion;
}

// The letter after "&" in lower case, or a null character.
QChar AcceleratorOf(const QString& caption) {
  int amp = caption.indexOf(QLatin1Char('&'));
  return amp >= 0 && amp + 1 < caption.size() ? caption.at(amp + 1).toLower() : QChar();
}

// QMessageBox orders its buttons by role according to the platform's layout, which
// would break the fixed order; this box lays them out exactly as given.
class MessageBox : public QDialog {
 public:
  MessageBox(QWidget* parent, const BoxRequest& request)
      : QDialog(parent), escapeResult_(request.escapeResult) {
    setWindowTitle(request.caption);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addLayout(MakeMessageRow(request));
    layout->addLayout(MakeButtonRow(request.buttons));
  }

 protected:
  void reject() override { done(escapeResult_); }

  // Like a system message box, the bare accelerator letter presses its button.
  void keyPressEvent(QKeyEvent* event) override {
    if (event->modifiers() == Qt::NoModifier && event->text().size() == 1) {
      QChar key = event->text().at(0).toLower();
      for (const auto& [letter, button] : accelerators_) {
        if (letter == key) {
          button->click();
          return;
        }
      }
    }
    QDialog::keyPressEvent(event);
  }

  void showEvent(QShowEvent* event) override {
    QDialog::showEvent(event);
    ArmAutoAnswer();
  }

 private:
  QHBoxLayout* MakeMessageRow(const BoxRequest& request) {
    auto* row = new QHBoxLayout;
    if (request.icon != BoxIcon::kNone) {
      auto* icon = new QLabel(this);
      icon->setObjectName(QStringLiteral("boxIcon"));
      icon->setPixmap(style()->standardIcon(IconPixmap(request.icon)).pixmap(kIconSize));
      icon->setAlignment(Qt::AlignTop);
      row->addWidget(icon);
    }
    auto* text = new QLabel(request.text, this);
    text->setObjectName(QStringLiteral("boxText"));
    text->setTextFormat(Qt::PlainText);
    if (text->sizeHint().width() > kMaxTextWidth) {
      text->setWordWrap(true);
      text->setFixedWidth(kMaxTextWidth);
    }
    row->addWidget(text, 1);
    return row;
  }

  QHBoxLayout* MakeButtonRow(const std::vector<BoxButton>& buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    for (const auto& spec : buttons) {
      auto* button = new QPushButton(spec.caption, this);
      button->setMinimumWidth(kButtonMinWidth);
      int result = spec.result;
      connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
      buttons_.push_back(button);
      buttonNames_ << spec.name;
      if (QChar letter = AcceleratorOf(spec.caption); !letter.isNull())
        accelerators_.emplace_back(letter, button);
      row->addWidget(button);
    }
    row->addStretch(1);
    if (row->count() > 2) FocusFirstButton(row);
    return row;
  }

  // The first button starts as the default one (Enter) with the focus; as the focus
  // moves, Enter follows it (the buttons are auto-default).
  static void FocusFirstButton(QHBoxLayout* row) {
    auto* first = static_cast<QPushButton*>(row->itemAt(1)->widget());
    first->setDefault(true);
    first->setFocus();
  }

  // The test hook of QtAutoAnswer.h; the first button is the default one. The timer
  // belongs to the button, so it dies with the box.
  void ArmAutoAnswer() {
    if (autoAnswerArmed_) return;
    autoAnswerArmed_ = true;
    QString answers = AutoAnswerSetting();
    if (answers.isEmpty()) return;
    int index = AutoAnswerIndex(answers, buttonNames_, 0);
    if (index < 0) return;
    QPushButton* button = buttons_[static_cast<size_t>(index)];
    QTimer::singleShot(kAutoAnswerDelayMs, button, [button] { button->click(); });
  }

  int escapeResult_;
  std::vector<std::pair<QChar, QPushButton*>> accelerators_;
  std::vector<QPushButton*> buttons_;  // left to right
  QStringList buttonNames_;
  bool autoAnswerArmed_ = false;
};

}  // namespace

int ShowBox(QWidget* parent, const BoxRequest& request) {
  MessageBox box(parent, request);
  ScreenshotWhenShown(box, request.screenshotName);
  return box.exec();
}

bool AskTextBox(QWidget* parent, const QString& caption, const QString& prompt,
                std::string& value) {
  QInputDialog dialog(parent);
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setWindowTitle(caption);
  dialog.setLabelText(prompt);
  dialog.setTextEchoMode(QLineEdit::Password);  // the prompt asks for passwords
  dialog.setTextValue(QString::fromStdString(value));
  ScreenshotWhenShown(dialog, "text");
  if (dialog.exec() != QDialog::Accepted) return false;
  value = dialog.textValue().toStdString();
  return true;
}

}  // namespace zw
