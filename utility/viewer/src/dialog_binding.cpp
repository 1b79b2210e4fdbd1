#include "dialog_binding.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <limits>

#include "controls.h"
#include "message_seam.h"

namespace orvo::viewer {

namespace {

using V = DialogValues;

QString ControlText(QWidget* control) {
    if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text();
    if (auto* combo = qobject_cast<QComboBox*>(control)) return combo->currentText();
    return QString();
}

void SetControlText(QWidget* control, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        if (edit->text() != text) edit->setText(text);
    }
}

// The edit field shows exactly the profile text; a listed profile of that
// name (in any case) becomes the selected item.
void SetComboText(QComboBox* combo, const QString& text) {
    const int index = combo->findText(text, Qt::MatchFixedString);
    if (index >= 0 && combo->itemText(index) == text) {
        combo->setCurrentIndex(index);
    } else if (combo->isEditable()) {
        combo->setEditText(text);
    }
}

}  // namespace

const std::vector<Binding>& DialogBindings() {
    static const std::vector<Binding> table = {
        {id::kProfile, BindingKind::Control, {}},
        {id::kStartNumber, BindingKind::Control, {}},
        {id::kExit, BindingKind::Control, {}},
        {id::kSlideShow, BindingKind::Control, {}},
        {id::kQa, BindingKind::Control, {}},
        {id::kSetting, BindingKind::Control, {}},
        {id::kSave, BindingKind::Control, {}},
        {id::kScan, BindingKind::Control, {}},
        {id::kFrontView, BindingKind::Control, {}},
        {id::kPixelToPixel, BindingKind::Check, &V::pixelToPixel},
        {id::kFitWidth, BindingKind::Check, &V::fitWidth},
        {id::kFitHeight, BindingKind::Check, &V::fitHeight},
        {id::kBestFit, BindingKind::Check, &V::bestFit},
        {id::kFormatText, BindingKind::Text, &V::formatText},
        {id::kSizeText, BindingKind::Text, &V::sizeText},
        {id::kHeightText, BindingKind::Text, &V::heightText},
        {id::kWidthText, BindingKind::Text, &V::widthText},
        {id::kZoomText, BindingKind::Text, &V::zoomText},
        {id::kXResolutionText, BindingKind::Text, &V::xResolutionText},
        {id::kYResolutionText, BindingKind::Text, &V::yResolutionText},
        {id::kPrefixText, BindingKind::Text, &V::prefixText},
        {id::kProfile, BindingKind::ComboText, &V::profileText},
        {id::kStatusText, BindingKind::Text, &V::statusText},
        {id::kScanView, BindingKind::Check, &V::scanView},
        {id::kScrollText, BindingKind::Text, &V::scrollText},
        {id::kNameText, BindingKind::Text, &V::nameText},
        {id::kVersionText, BindingKind::Text, &V::versionText},
        {id::kRearView, BindingKind::Control, {}},
        {id::kFlip, BindingKind::Check, &V::flip},
        {id::kPageList, BindingKind::Control, {}},
        {id::kDeleteAll, BindingKind::Check, &V::deleteAll},
        {id::kSlideInterval, BindingKind::Integer, &V::slideInterval},
        {id::kStartNumber, BindingKind::Integer, &V::startNumber},
        {id::kStatistics, BindingKind::Text, &V::statisticsText},
        {id::kQualityText, BindingKind::Text, &V::qualityText},
    };
    return table;
}

bool ParseInteger(const QString& text, int* value) {
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    if (i == t.size()) return false;
    qint64 magnitude = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < QLatin1Char('0') || t[i] > QLatin1Char('9')) return false;
        magnitude = magnitude * 10 + (t[i].unicode() - '0');
        if (magnitude > qint64(std::numeric_limits<int>::max()) + 1) return false;
    }
    const qint64 signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<int>::max()) return false;
    *value = static_cast<int>(signedValue);
    return true;
}

DialogBinder::DialogBinder(QWidget* dialog) : dialog_(dialog) {
    for (const Binding& b : DialogBindings()) {
        QWidget* control = FindControl(dialog, b.controlId);
        if (control == nullptr) missing_.push_back(b.controlId);
        controls_.push_back(control);
    }
}

bool DialogBinder::Read(DialogValues& values) const {
    const std::vector<Binding>& table = DialogBindings();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Binding& b = table[i];
        QWidget* control = controls_[i];
        if (control == nullptr) continue;
        switch (b.kind) {
            case BindingKind::Control:
                break;
            case BindingKind::Check:
                if (auto* button = qobject_cast<QAbstractButton*>(control)) {
                    const int m = button->isChecked() ? 1 : 0;
                    values.*std::get<int V::*>(b.member) = m;
                    shown_.*std::get<int V::*>(b.member) = m;
                }
                break;
            case BindingKind::Text:
            case BindingKind::ComboText: {
                const QString text = ControlText(control);
                values.*std::get<QString V::*>(b.member) = text;
                shown_.*std::get<QString V::*>(b.member) = text;
                break;
            }
            case BindingKind::Integer: {
                int number = 0;
                if (!ParseInteger(ControlText(control), &number)) {
                    Message message;
                    message.icon = MessageIcon::Exclamation;
                    message.text = kIntegerMessage;
                    ShowMessage(dialog_, message);
                    control->setFocus(Qt::OtherFocusReason);
                    if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
                    return false;
                }
                values.*std::get<int V::*>(b.member) = number;
                shown_.*std::get<int V::*>(b.member) = number;
                break;
            }
        }
    }
    return true;
}

void DialogBinder::Refresh(const DialogValues& values) const {
    const std::vector<Binding>& table = DialogBindings();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Binding& b = table[i];
        QWidget* control = controls_[i];
        if (control == nullptr || b.kind == BindingKind::Control) continue;
        if (const auto* member = std::get_if<int V::*>(&b.member)) {
            const int value = values.**member;
            if (written_ && shown_.**member == value) continue;
            shown_.** member = value;
            if (b.kind == BindingKind::Check) {
                if (auto* button = qobject_cast<QAbstractButton*>(control)) {
                    button->setChecked(value != 0);
                }
            } else {
                SetControlText(control, QString::number(value));
            }
        } else if (const auto* text = std::get_if<QString V::*>(&b.member)) {
            const QString& value = values.**text;
            if (written_ && shown_.**text == value) continue;
            shown_.** text = value;
            if (b.kind == BindingKind::ComboText) {
                if (auto* combo = qobject_cast<QComboBox*>(control)) SetComboText(combo, value);
            } else {
                SetControlText(control, value);
            }
        }
    }
    written_ = true;
}

}  // namespace orvo::viewer
