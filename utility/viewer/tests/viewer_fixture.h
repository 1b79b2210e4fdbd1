// What the window tests share: a private system directory and temporary
// directory for the real driver on the virtual scanner, the message seam
// answered and recorded, the save-as dialog answered, the driver's End
// counted, and the window's controls found by id.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <string>

#include "controls.h"
#include "harness.h"
#include "main_dialog.h"
#include "message_seam.h"
#include "orvo/scanrun/exported_driver.h"
#include "orvo/sim/scanner.h"
#include "orvo/widgets/page_list.h"
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
T* ById(const QWidget* dialog, int control) {
    return qobject_cast<T*>(orvo::viewer::FindControl(dialog, control));
}

// Clicks a button; a check box on its indicator (a box stretched by its
// layout takes no click beyond its text).
inline void Click(const QWidget* dialog, int control) {
    auto* button = ById<QAbstractButton>(dialog, control);
    QVERIFY2(button != nullptr, qPrintable(QStringLiteral("no button %1").arg(control)));
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
    Click(dialog, orvo::viewer::id::kSave);
    orvo::viewer::SetSavePathHandler({});
}

// SCAN clicked; returns once the batch has ended and its message boxes are
// answered (the batch runs while the event loop goes on).
inline void ScanAndWait(MainDialog* dialog) {
    Click(dialog, orvo::viewer::id::kScan);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->scanning(), 60000);
}

// A test's window: a new, active one on `ini` with profile Check and SAVE
// answered with A.tif in a new output directory `out_`.
class Window {
  protected:
    CountingDriver driver_;
    std::unique_ptr<MainDialog> dialog_;
    QString out_;

    MainDialog* Dialog() const { return dialog_.get(); }
    orvo::widgets::PageList* List() const {
        return ById<orvo::widgets::PageList>(Dialog(), orvo::viewer::id::kPageList);
    }
    QString Status() const { return ById<QLabel>(Dialog(), orvo::viewer::id::kStatusText)->text(); }
    void Open(const std::string& ini = e2e::ChequeIni("Check", 1, 0, 0)) {
        e2e::WriteSettings(ini);
        out_ = OutputDir();
        dialog_ = std::make_unique<MainDialog>(driver_);
        dialog_->InitDialog();
        dialog_->show();
        dialog_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Dialog()));
        ById<QComboBox>(Dialog(), orvo::viewer::id::kProfile)->setEditText("Check");
        SaveAs(Dialog(), out_ + "A.tif");
    }
};

inline QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The names of the files in a directory, sorted.
inline QStringList Files(const QString& dir) {
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

// Answers every message box that appears, in turn with Return, a click on
// its OK button and Escape (a box with Cancel always with Return, its default
// OK), and records its text. A box still open after 200 looks did not take
// the key or click: it is noted and closed by the program so the test goes on.
class BoxCloser : public QObject {
  public:
    QStringList texts;
    QStringList stuck;
    bool cancel = false;  // a box with Cancel gets Escape instead

    BoxCloser() {
        timer_.setInterval(1);
        connect(&timer_, &QTimer::timeout, this, &BoxCloser::Look);
        timer_.start();
    }

    // The text of the one box shown (waited for a bounded time), or how many
    // there were.
    QString One() {
        if (QTest::qWaitFor([this] { return texts.size() == 1; })) return texts[0];
        return QStringLiteral("%1 boxes: %2").arg(texts.size()).arg(texts.join('|'));
    }

  private:
    void Look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        if (box == open_) {
            if (++looks_ > 200) {
                stuck << box->text();
                box->done(QMessageBox::Ok);
            }
            return;
        }
        open_ = box;
        looks_ = 0;
        texts << box->text();
        if (cancel && box->button(QMessageBox::Cancel)) {
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        const int way = box->button(QMessageBox::Cancel) ? 0 : texts.size() % 3;
        if (way == 0) {
            QTest::keyClick(box, Qt::Key_Return);
        } else if (way == 1) {
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        } else {
            QTest::keyClick(box, Qt::Key_Escape);
        }
    }

    QTimer timer_;
    QPointer<QMessageBox> open_;
    int looks_ = 0;
};

}  // namespace fixture
