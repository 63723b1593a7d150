#include "QtAutoAnswer.h"

#include <cstdlib>

namespace zw {

QString AutoAnswerSetting() {
  const char* value = std::getenv("ZW_QT_AUTO_ANSWER");
  return value ? QString::fromLocal8Bit(value).trimmed() : QString();
}

int AutoAnswerIndex(const QString& answers, const QStringList& offered, int defaultIndex) {
  for (const QString& raw : answers.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    QString wanted = raw.trimmed();
    if (wanted.compare(QLatin1String("default"), Qt::CaseInsensitive) == 0) {
      if (defaultIndex >= 0 && defaultIndex < offered.size()) return defaultIndex;
      continue;
    }
    for (qsizetype i = 0; i < offered.size(); ++i)
      if (offered[i].compare(wanted, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace zw
