#include "utility_font.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

namespace orvo::viewer {

QFont UtilityFont(const QFont& base) {
    const QString hangul = QStringLiteral("NanumGothic");
    // The face the desktop's font resolves to: an alias ("Sans Serif") in a
    // family list is passed over, and the next family would draw everything.
    QString latin = QFontInfo(base).family();
    // A desktop font that draws Hangul itself may draw Latin like Nanum does.
    if (latin.isEmpty() || latin == hangul ||
        QFontDatabase::writingSystems(latin).contains(QFontDatabase::Korean)) {
        latin = QStringLiteral("DejaVu Sans");
    }
    QFont font = base;
    font.setFamilies({latin, hangul});
    return font;
}

}  // namespace orvo::viewer
