#include "row_file.h"

#include <QFile>

namespace orvo::viewer {

namespace {

constexpr int kTailLength = 7;  // "000012R"

}  // namespace

QString PageTail(const QString& cellText) {
    if (cellText.size() < kTailLength) return QString();
    const QString tail = cellText.right(kTailLength);
    for (int i = 0; i < kTailLength - 1; ++i) {
        if (tail[i] < QLatin1Char('0') || tail[i] > QLatin1Char('9')) return QString();
    }
    const QChar side = tail[kTailLength - 1];
    if (side != QLatin1Char('F') && side != QLatin1Char('R')) return QString();
    return tail;
}

std::optional<RowFile> RowFileOf(const QString& cellText, const scanrun::OutputLocation& location) {
    const QString tail = PageTail(cellText);
    if (tail.isEmpty()) return std::nullopt;
    RowFile file;
    file.path = location.prefixPath + tail.toStdString() + '.' + location.extension;
    file.displayName = QFile::decodeName(QByteArray::fromStdString(location.fileTitle)) + tail;
    file.front = tail.endsWith(QLatin1Char('F'));
    return file;
}

}  // namespace orvo::viewer
