// Every message box and the save-as file dialog of the utility go through
// these functions. The program shows real Qt dialogs; tests install handlers
// that read the texts and answer, so that nothing blocks.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace orvo::viewer {

// Caption of the utility's message boxes: the program's file name.
inline const QString kMessageCaption = QStringLiteral("orvo_viewer");

enum class MessageIcon { Stop, Exclamation, Question, Information };
enum class MessageButtons { Ok, OkCancel };
enum class Answer { Ok, Cancel };

struct Message {
    MessageIcon icon = MessageIcon::Stop;
    MessageButtons buttons = MessageButtons::Ok;
    QString caption = kMessageCaption;
    QString text;
};

using MessageHandler = std::function<Answer(QWidget* parent, const Message& message)>;

// Shows a modal message box (or hands it to the installed handler) and
// returns the operator's answer; Ok for a box with only OK.
Answer ShowMessage(QWidget* parent, const Message& message);
// Installs a handler instead of the message boxes; an empty handler brings
// the boxes back. Returns the handler that was installed before.
MessageHandler SetMessageHandler(MessageHandler handler);

struct SaveRequest {
    QString title;
    QString initialName;
    QString directory;
    // "TIFF Image Files (*.tif)", ...: the first one is selected; a name
    // typed without an extension gets the selected filter's extension.
    QStringList filters;
};

using SavePathHandler = std::function<QString(QWidget* parent, const SaveRequest& request)>;

// The chosen absolute path, or an empty text when the operator cancelled.
QString AskSavePath(QWidget* parent, const SaveRequest& request);
SavePathHandler SetSavePathHandler(SavePathHandler handler);

}  // namespace orvo::viewer
