#include "message_seam.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>

namespace orvo::viewer {

namespace {

MessageHandler& InstalledMessageHandler() {
    static MessageHandler handler;
    return handler;
}

SavePathHandler& InstalledSavePathHandler() {
    static SavePathHandler handler;
    return handler;
}

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Stop:
            return QMessageBox::Critical;
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::Information:
            return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

// "TIFF Image Files (*.tif)" -> "tif".
QString FilterExtension(const QString& filter) {
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
    const QRegularExpressionMatch match = pattern.match(filter);
    return match.hasMatch() ? match.captured(1) : QString();
}

}  // namespace

Answer ShowMessage(QWidget* parent, const Message& message) {
    if (const MessageHandler& handler = InstalledMessageHandler()) {
        return handler(parent, message);
    }
    QMessageBox box(BoxIcon(message.icon), message.caption, message.text,
                    message.buttons == MessageButtons::OkCancel
                        ? QMessageBox::Ok | QMessageBox::Cancel
                        : QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? Answer::Ok : Answer::Cancel;
}

MessageHandler SetMessageHandler(MessageHandler handler) {
    MessageHandler previous = std::move(InstalledMessageHandler());
    InstalledMessageHandler() = std::move(handler);
    return previous;
}

QString AskSavePath(QWidget* parent, const SaveRequest& request) {
    if (const SavePathHandler& handler = InstalledSavePathHandler()) {
        return handler(parent, request);
    }
    QFileDialog dialog(parent, request.title, request.directory);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(request.filters);
    if (!request.filters.isEmpty()) {
        dialog.selectNameFilter(request.filters.first());
        dialog.setDefaultSuffix(FilterExtension(request.filters.first()));
    }
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog,
        [&dialog](const QString& filter) { dialog.setDefaultSuffix(FilterExtension(filter)); });
    dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
}

SavePathHandler SetSavePathHandler(SavePathHandler handler) {
    SavePathHandler previous = std::move(InstalledSavePathHandler());
    InstalledSavePathHandler() = std::move(handler);
    return previous;
}

}  // namespace orvo::viewer
