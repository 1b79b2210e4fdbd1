#include "host_dialog.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <cstring>

#include "orvo/dialogs/control_id.h"

namespace orvo::dialogs {

namespace {

constexpr int kOk = 1;
constexpr int kCancel = 2;

HostDialog* Self(void* dialog) {
    return static_cast<HostDialog*>(dialog);
}

OrvoDialogControls MakeServices(HostDialog* dialog) {
    OrvoDialogControls s{};
    s.dialog = dialog;
    s.setText = [](void* d, int id, const char* text) { Self(d)->SetText(id, text); };
    s.getText = [](void* d, int id, char* buffer, size_t size) {
        return Self(d)->GetText(id, buffer, size);
    };
    s.setChecked = [](void* d, int id, int checked) { Self(d)->SetChecked(id, checked != 0); };
    s.isChecked = [](void* d, int id) { return Self(d)->IsChecked(id) ? 1 : 0; };
    s.setEnabled = [](void* d, int id, int enabled) {
        Self(d)->SetControlEnabled(id, enabled != 0);
    };
    s.setSliderRange = [](void* d, int id, int min, int max) {
        Self(d)->SetSliderRange(id, min, max);
    };
    s.setSliderPos = [](void* d, int id, int pos) { Self(d)->SetSliderPos(id, pos); };
    s.sliderPos = [](void* d, int id) { return Self(d)->SliderPos(id); };
    s.getCaption = [](void* d, char* buffer, size_t size) {
        return Self(d)->GetCaption(buffer, size);
    };
    s.setCaption = [](void* d, const char* text) { Self(d)->SetCaption(text); };
    s.endDialog = [](void* d, int result) { Self(d)->EndDialog(result); };
    return s;
}

}  // namespace

std::size_t CopyText(const QString& text, char* buffer, std::size_t size) {
    if (!buffer || size == 0) return 0;
    const QByteArray utf8 = text.toUtf8();
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(utf8.size()), size - 1);
    if (n < static_cast<std::size_t>(utf8.size())) {
        // The first byte left out must start a character.
        while (n > 0 &&
               (static_cast<unsigned char>(utf8[static_cast<qsizetype>(n)]) & 0xC0) == 0x80) {
            --n;
        }
    }
    std::memcpy(buffer, utf8.constData(), n);
    buffer[n] = '\0';
    return n;
}

HostDialog::HostDialog(QWidget* owner, const OrvoDialogProcedure* procedure)
    : QDialog(owner), procedure_(procedure), services_(MakeServices(this)) {}

void HostDialog::Bind() {
    controls_ = ControlsById(this);
    for (auto it = controls_.cbegin(); it != controls_.cend(); ++it) {
        const int id = it.key();
        if (auto* button = qobject_cast<QAbstractButton*>(it.value())) {
            connect(button, &QAbstractButton::clicked, this, [this, id] { Command(id); });
        } else if (auto* slider = qobject_cast<QAbstractSlider*>(it.value())) {
            // A drag ends when the slider is released; keys, the wheel and
            // clicks beside the handle end a movement at once.
            connect(slider, &QAbstractSlider::sliderReleased, this, [this, id] { SliderEnd(id); });
            connect(slider, &QAbstractSlider::valueChanged, this, [this, id, slider] {
                if (!slider->isSliderDown()) SliderEnd(id);
            });
        }
    }
}

int HostDialog::Show() {
    procedure_->onInit(procedure_->self, &services_);
    if (ended_) return result_;
    exec();
    return result_;
}

void HostDialog::accept() {
    Command(kOk);
}

void HostDialog::reject() {
    Command(kCancel);
}

void HostDialog::Command(int id) {
    if (ended_) return;
    procedure_->onCommand(procedure_->self, &services_, id);
}

void HostDialog::SliderEnd(int id) {
    if (ended_) return;
    procedure_->onSliderEnd(procedure_->self, &services_, id);
}

void HostDialog::SetText(int id, const char* text) {
    const QString value = QString::fromUtf8(text ? text : "");
    QWidget* w = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(value);
    }
}

std::size_t HostDialog::GetText(int id, char* buffer, std::size_t size) const {
    QWidget* w = Control(id);
    QString text;
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        text = edit->text();
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        text = label->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        text = button->text();
    }
    return CopyText(text, buffer, size);
}

void HostDialog::SetChecked(int id, bool checked) {
    auto* button = qobject_cast<QAbstractButton*>(Control(id));
    if (!button || !button->isCheckable()) return;
    if (!checked && button->isChecked() && button->autoExclusive()) {
        // A radio button of a group cannot be cleared while exclusive.
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
    } else {
        button->setChecked(checked);
    }
}

bool HostDialog::IsChecked(int id) const {
    auto* button = qobject_cast<QAbstractButton*>(Control(id));
    return button && button->isChecked();
}

void HostDialog::SetControlEnabled(int id, bool enabled) {
    if (QWidget* w = Control(id)) w->setEnabled(enabled);
}

void HostDialog::SetSliderRange(int id, int min, int max) {
    if (auto* slider = qobject_cast<QAbstractSlider*>(Control(id))) {
        const QSignalBlocker quiet(slider);
        slider->setRange(min, max);
    }
}

void HostDialog::SetSliderPos(int id, int pos) {
    if (auto* slider = qobject_cast<QAbstractSlider*>(Control(id))) {
        const QSignalBlocker quiet(slider);
        slider->setValue(pos);
    }
}

int HostDialog::SliderPos(int id) const {
    auto* slider = qobject_cast<QAbstractSlider*>(Control(id));
    return slider ? slider->value() : 0;
}

std::size_t HostDialog::GetCaption(char* buffer, std::size_t size) const {
    return CopyText(windowTitle(), buffer, size);
}

void HostDialog::SetCaption(const char* text) {
    setWindowTitle(QString::fromUtf8(text ? text : ""));
}

void HostDialog::EndDialog(int result) {
    if (ended_) return;
    ended_ = true;
    result_ = result;
    done(result);
}

}  // namespace orvo::dialogs
