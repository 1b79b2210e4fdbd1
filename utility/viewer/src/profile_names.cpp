#include "profile_names.h"

#include <QStringDecoder>

#include "orvo/platform/profile.h"

namespace orvo::viewer {

namespace {
constexpr char kMiscSection[] = "Misc";
constexpr char kPreviousKey[] = "PrevDocu";
// Large enough for any name a settings file holds in practice; the value is
// read into a buffer of this size.
constexpr std::size_t kNameBuffer = 64 * 1024;
}  // namespace

QString ProfileDisplayName(const std::string& bytes) {
    const QByteArray raw = QByteArray::fromStdString(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(raw);
    if (!utf8.hasError()) return text;
    QStringDecoder cp949("CP949");
    if (cp949.isValid()) {
        const QString korean = cp949.decode(raw);
        if (!cp949.hasError()) return korean;
    }
    return QString::fromLatin1(raw);
}

std::string ReadPreviousProfile(const std::string& settingsFile) {
    return platform::ProfileString(kMiscSection, kPreviousKey, "", kNameBuffer, settingsFile);
}

bool WritePreviousProfile(const std::string& settingsFile, const std::string& profile) {
    return platform::WriteProfileString(kMiscSection, kPreviousKey, profile, settingsFile);
}

}  // namespace orvo::viewer
