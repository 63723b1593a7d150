#include "QtBoxes.h"

#include <QDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextLayout>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
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

// The message text of a box. Word wrapping alone would clip a long path, which has
// no blanks ("Skipping file C:\...\SECOND_LEVE"): a word wider than the box breaks
// where it must, after a path separator when one fits. text() stays as given.
class MessageText : public QLabel {
 public:
  MessageText(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
  }

  QSize sizeHint() const override {
    QSizeF size = Lay(nullptr, kMaxTextWidth);
    return {static_cast<int>(std::ceil(size.width())), static_cast<int>(std::ceil(size.height()))};
  }
  QSize minimumSizeHint() const override { return sizeHint(); }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override {
    return static_cast<int>(std::ceil(Lay(nullptr, width).height()));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    Lay(&painter, contentsRect().width());
  }

 private:
  // Lays the text out in lines of at most `width` pixels and returns the size it
  // takes (the widest line, the total height); draws it when a painter is given.
  QSizeF Lay(QPainter* painter, int width) const {
    QTextLayout layout(LayoutText(), font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0, widest = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(width);
      line.setPosition(QPointF(0, height));
      height += line.height();
      widest = std::max(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    if (painter) layout.draw(painter, contentsRect().topLeft());
    return {widest, height};
  }

  // Line feeds become line separators (the layout keeps "\n" on the line), and a
  // zero-width space after each path separator lets a path break there first.
  QString LayoutText() const {
    QString out;
    QString source = text();
    source.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (QChar c : source) {
      if (c == QLatin1Char('\n')) {
        out += QChar(QChar::LineSeparator);
        continue;
      }
      out += c;
      if (c == QLatin1Char('\\') || c == QLatin1Char('/')) out += QChar(0x200B);
    }
    return out;
  }
};

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
    layout->addStrut(CaptionWidth(request.caption));
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
    auto* text = new MessageText(request.text, this);
    text->setObjectName(QStringLiteral("boxText"));
    row->addWidget(text, 1);
    return row;
  }

  // A box as wide as its caption in the title bar, beside the frame's buttons, so
  // that a short text does not cut the caption off; never wider than the screen.
  int CaptionWidth(const QString& caption) const {
    int frameButtons = 3 * style()->pixelMetric(QStyle::PM_TitleBarHeight);
    int width = fontMetrics().horizontalAdvance(caption) + frameButtons;
    QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    return screen ? std::min(width, screen->availableGeometry().width() * 9 / 10) : width;
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
