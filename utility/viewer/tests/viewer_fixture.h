// What the window tests share: a private system directory and temporary
// directory for the real driver on the virtual scanner, the message seam
// answered and recorded, the save-as dialog answered, the driver's End
// counted, and the window's controls found by id.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QList>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <string>

#include "controls.h"
#include "harness.h"
#include "main_dialog.h"
#include "message_seam.h"
#include "orvo/scanrun/exported_driver.h"
#include "orvo/sim/scanner.h"
#include "orvoscan.h"

namespace fixture {

using orvo::viewer::Answer;
using orvo::viewer::MainDialog;
using orvo::viewer::Message;

// The real driver, its End calls counted in g_endCalls.
inline int g_endCalls = 0;
class CountingDriver : public orvo::scanrun::ExportedDriver {
  public:
    int End() override {
        ++g_endCalls;
        return ExportedDriver::End();
    }
};

// Every message box is recorded and answered from `answers` (OK when empty).
struct Messages {
    QList<Message> shown;
    QList<Answer> answers;

    void Install() {
        orvo::viewer::SetMessageHandler([this](QWidget*, const Message& m) {
            shown << m;
            return answers.isEmpty() ? Answer::Ok : answers.takeFirst();
        });
    }
    void Clear() {
        shown.clear();
        answers.clear();
    }
    QStringList Texts() const {
        QStringList texts;
        for (const Message& m : shown) texts << m.text;
        return texts;
    }
};

// The process's driver goes to a private system directory with `ini`, the
// virtual scanner, and a private temporary directory (page files of other
// test programs are never touched). Call once, before the first driver call.
inline std::string UseVirtualScanner(const std::string& ini) {
    const std::string tmp = e2e::MakeTempDir("orvo-viewer-tmp");
    setenv("TMPDIR", tmp.c_str(), 1);
    return e2e::UseVirtualScanner(ini, 10.0);
}

// A new output directory for one test.
inline QString OutputDir() {
    return QString::fromStdString(e2e::MakeTempDir("orvo-viewer-out"));
}

template <class T = QWidget>
T* ById(const QWidget* dialog, int id) {
    return qobject_cast<T*>(orvo::viewer::FindControl(dialog, id));
}

// Clicks a button; a check box on its indicator (a box stretched by its
// layout takes no click beyond its text).
inline void Click(const QWidget* dialog, int id) {
    auto* button = ById<QAbstractButton>(dialog, id);
    QVERIFY2(button != nullptr, qPrintable(QStringLiteral("no button %1").arg(id)));
    QPoint at = button->rect().center();
    if (auto* box = qobject_cast<QCheckBox*>(button)) {
        QStyleOptionButton option;
        option.initFrom(box);
        at = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).center();
    }
    QTest::mouseClick(button, Qt::LeftButton, {}, at);
}

// SAVE clicked and answered with `path`.
inline void SaveAs(const QWidget* dialog, const QString& path) {
    orvo::viewer::SetSavePathHandler([path](QWidget*, const auto&) { return path; });
    Click(dialog, 1035);
    orvo::viewer::SetSavePathHandler({});
}

// SCAN clicked; returns once the batch has ended and its message boxes are
// answered (the batch runs while the event loop goes on).
inline void ScanAndWait(MainDialog* dialog) {
    Click(dialog, 1038);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->scanning(), 60000);
}

inline QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The names of the files in a directory, sorted.
inline QStringList Files(const QString& dir) {
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

}  // namespace fixture
