#include "QtForm.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

#include "QtScreenshots.h"

namespace zw {

namespace {
// Platforms that never report activation (or window managers that refuse focus to
// a new window) must not leave the run waiting: nobody operates this window, so
// the run starts by itself after this delay at the latest.
constexpr int kActivationFallbackMs = 1000;
}  // namespace

QFont FontFromSpec(const FontSpec& spec) {
  QFont font;
  QString family = QString::fromStdString(spec.name);
  if (!family.isEmpty() && QFontDatabase::hasFamily(family)) {
    font.setFamily(family);
  } else {
    font.setFamily(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
  }
  if (spec.height != 0) font.setPixelSize(std::abs(spec.height));
  font.setBold(spec.bold);
  return font;
}

QtForm::QtForm(const WindowLayout& layout, Handlers handlers)
    : handlers_(std::move(handlers)), outerSize_(layout.width, layout.height) {
  setObjectName(QString::fromStdString(layout.name));
  setWindowTitle(QString::fromStdString(layout.caption));
  setFont(FontFromSpec(layout.font));
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  setAutoFillBackground(true);
  for (const auto& label : layout.labels) AddLabel(label);
  move(layout.left, layout.top);
  resize(outerSize_);
}

void QtForm::AddLabel(const LabelLayout& layout) {
  auto* label = new QLabel(this);
  label->setObjectName(QString::fromStdString(layout.name));
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setFont(FontFromSpec(layout.font));
  label->setText(QString::fromStdString(layout.caption));
  PlacedLabel placed{label, QRect(layout.left, layout.top, layout.width, layout.height)};
  labels_[layout.name] = placed;
  FitLabel(placed);
}

// The stored sizes were measured with the stored font; a wider fallback font would
// clip the text, so a label grows (never shrinks) to hold its text.
void QtForm::FitLabel(const PlacedLabel& placed) {
  QSize need = placed.label->sizeHint();
  placed.label->setGeometry(placed.stored.x(), placed.stored.y(),
                            std::max(placed.stored.width(), need.width()),
                            std::max(placed.stored.height(), need.height()));
}

// The stored size is the outer one; the frame is known only once the window is
// shown (and a window manager has framed it), so the inner size is set then.
void QtForm::FitOuterSize() {
  QSize frameExtra = frameGeometry().size() - geometry().size();
  resize(outerSize_ - frameExtra);
}

void QtForm::ShowAndActivate() {
  show();
  raise();
  activateWindow();
  QTimer::singleShot(kActivationFallbackMs, this, [this] { StartActivation(); });
}

bool QtForm::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) StartActivation();
  return QWidget::event(event);
}

// Queued, so the activation event is finished and the window painted before the
// whole run happens inside the handler.
void QtForm::StartActivation() {
  if (activationStarted_ || dismissed_) return;
  activationStarted_ = true;
  QTimer::singleShot(0, this, [this] {
    if (dismissed_) return;
    FitOuterSize();
    RepaintAndRecord();
    if (handlers_.firstActivation) handlers_.firstActivation();
  });
}

void QtForm::RepaintAndRecord() {
  repaint();
  SaveScreenshot(*this, "window");
}

void QtForm::SetCaption(const std::string& text) {
  setWindowTitle(QString::fromStdString(text));
  RepaintAndRecord();
}

bool QtForm::SetLabelCaption(const std::string& label, const std::string& text) {
  auto it = labels_.find(label);
  if (it == labels_.end()) return false;
  it->second.label->setText(QString::fromStdString(text));
  FitLabel(it->second);
  RepaintAndRecord();
  return true;
}

void QtForm::Dismiss() {
  dismissed_ = true;
  hide();
}

void QtForm::closeEvent(QCloseEvent* event) {
  event->accept();
  if (dismissed_) return;
  dismissed_ = true;
  if (handlers_.userClose) handlers_.userClose();
}

}  // namespace zw
