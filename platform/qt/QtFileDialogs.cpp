#include "QtFileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

#include "FileSystem.h"
#include "Paths.h"
#include "QtScreenshots.h"

namespace zw {

namespace {

QString QtPattern(const QString& pattern) {
  QStringList parts = pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts);
  for (auto& part : parts) part = part.trimmed();
  return parts.join(QLatin1Char(' '));
}

// Qt takes the patterns from the last parentheses of an entry, blank-separated, so
// a description ending in "(*.a;*.b)" still gets "(*.a *.b)" added.
QString QtFilterEntry(const QString& description, const QString& pattern) {
  QString qtPattern = QStringLiteral("(") + QtPattern(pattern) + QLatin1Char(')');
  if (description.endsWith(qtPattern)) return description;
  return description + QLatin1Char(' ') + qtPattern;
}

QString DefaultSuffix(const std::string& defaultExt) {
  QString suffix = QString::fromStdString(defaultExt);
  while (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
  return suffix;
}

void ConfigureDialog(QFileDialog& dialog, bool save, const FileDialogRequest& request) {
  // Qt's own dialog behaves alike on every platform and can be driven by tests.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // Like the system dialogs with their default options: the Save dialog does not ask
  // about an existing file and the Open dialog accepts a name that is not there.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setFileMode(QFileDialog::AnyFile);
  QString filter = QtFilterText(request.filter);
  if (!filter.isEmpty()) dialog.setNameFilter(filter);
  if (auto folder = HostFolder(request.initialDir)) dialog.setDirectory(*folder);
  dialog.setDefaultSuffix(DefaultSuffix(request.defaultExt));
  if (!request.fileName.empty()) dialog.selectFile(QString::fromStdString(request.fileName));
}

}  // namespace

QString QtFilterText(const std::string& filter) {
  QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i + 1].isEmpty()) continue;
    entries << QtFilterEntry(parts[i], parts[i + 1]);
  }
  return entries.join(QStringLiteral(";;"));
}

std::optional<QString> HostFolder(const std::string& folder) {
  if (folder.empty()) return std::nullopt;
  auto host =
      HostPathWithDrives(ExpandFileName(ActiveFileSystem(), folder), DriveFolderFromEnvironment);
  if (!host) return std::nullopt;
  return QString::fromStdString(*host);
}

bool RunFileDialog(QWidget* parent, bool save, const FileDialogRequest& request,
                   std::string& path) {
  QFileDialog dialog(parent);
  ConfigureDialog(dialog, save, request);
  ScreenshotWhenShown(dialog, save ? "save" : "open");
  if (dialog.exec() != QDialog::Accepted) return false;
  QStringList files = dialog.selectedFiles();
  if (files.isEmpty() || files.first().isEmpty()) return false;
  QString chosen = QDir::cleanPath(QFileInfo(files.first()).absoluteFilePath());
  path = FromHostPath(chosen.toStdString());
  return true;
}

}  // namespace zw
