#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <memory>

#include "dialog_driver.h"

namespace dialogs_test {

void LinkCompanions(const std::string& systemDir) {
    for (const char* name : {"libK4TRRsrc.so", "libK4TRQa.so"}) {
        const std::string target = std::string(ORVO_BUILD_SYSTEM_DIR) + "/" + name;
        const std::string link = systemDir + name;
        unlink(link.c_str());
        ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
    }
}

void UnlinkCompanion(const std::string& systemDir, const std::string& name) {
    unlink((systemDir + name).c_str());
}

void OnDialog(std::function<void(QDialog&)> act) {
    // Polls for the dialog on the event loop, bounded to about 10 s.
    auto tries = std::make_shared<int>(0);
    auto step = std::make_shared<std::function<void()>>();
    *step = [act = std::move(act), tries, step]() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            if (++*tries > 1000) {
                ADD_FAILURE() << "no dialog was shown";
                *step = nullptr;
                return;
            }
            QTimer::singleShot(10, *step);
            return;
        }
        act(*dialog);
        if (dialog->isVisible()) QTest::keyClick(dialog, Qt::Key_Escape);
        *step = nullptr;  // ends the cycle of the function holding itself
    };
    QTimer::singleShot(0, *step);
}

void Type(QDialog& dialog, int id, const QString& text) {
    if (auto* edit = Control<QLineEdit>(dialog, id)) {
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
}

void Click(QDialog& dialog, int id) {
    auto* button = Control<QAbstractButton>(dialog, id);
    if (!button) return;
    // A radio button takes clicks on its indicator and label only, which
    // start at its left edge.
    const QPoint at = qobject_cast<QRadioButton*>(button)
                          ? QPoint(button->height() / 2, button->height() / 2)
                          : button->rect().center();
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, at);
}

void Drag(QDialog& dialog, int id, int value) {
    if (auto* slider = Control<QAbstractSlider>(dialog, id)) {
        slider->setSliderDown(true);
        slider->setSliderPosition(value);
        slider->setSliderDown(false);
    }
}

QString Text(QDialog& dialog, int id) {
    QWidget* w = orvo::dialogs::FindControl(&dialog, id);
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
    ADD_FAILURE() << "no text control " << id;
    return {};
}

}  // namespace dialogs_test
