#include "shell/desktop/settings_dialog_widget.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>

#include "shell/controls/menu_ids.h"
#include "shell/desktop/qt_text.h"
#include "shell/desktop/status_pane.h"

namespace velgor {
namespace {

constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

QRect pixelRect(DialogRect rect, DialogBaseUnits units) {
    const PixelRect pixels = dialogRectToPixels(rect, units);
    return {pixels.x, pixels.y, pixels.width, pixels.height};
}

}  // namespace

// Dialogs use the proportional 8-point face of the log lines.
QFont SettingsDialogWidget::dialogFont() {
    return StatusPane::logFont();
}

SettingsDialogWidget::SettingsDialogWidget(QWidget* owner, const DialogTemplate& dialog,
                                           const DialogFields& fields, Handlers handlers)
    : QWidget(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      dialog_(dialog),
      handlers_(std::move(handlers)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(fromCp1251(dialog.title));
    setFont(dialogFont());
    const QFontMetrics metrics(font());
    const DialogBaseUnits units =
        dialogBaseUnits(metrics.horizontalAdvance(QString::fromLatin1(ALPHABET)), metrics.height());
    setFixedSize(pixelRect(dialog.frame, units).size());
    for (const DialogControl& control : dialog.controls) createControl(control, units);
    for (int i = 0; i < dialog.fieldCount; ++i) {
        fields_[static_cast<std::size_t>(i)]->setText(
            fromCp1251(fields.texts[static_cast<std::size_t>(i)].view()));
    }
}

void SettingsDialogWidget::createControl(const DialogControl& control, DialogBaseUnits units) {
    QWidget* widget = nullptr;
    switch (control.type) {
        case DialogControlType::PushButton:
        case DialogControlType::DefaultPushButton: {
            auto* button = new QPushButton(fromCp1251(control.text), this);
            button->setAutoDefault(false);
            button->setDefault(control.type == DialogControlType::DefaultPushButton);
            const bool ok = control.id == DIALOG_OK;
            connect(button, &QPushButton::clicked, this, [this, ok] { finish(ok); });
            widget = button;
            break;
        }
        case DialogControlType::Edit: {
            auto* edit = new QLineEdit(this);
            fields_[control.id == DIALOG_FIELD_1 ? 0 : 1] = edit;
            widget = edit;
            break;
        }
        case DialogControlType::Label:
            widget = new QLabel(fromCp1251(control.text), this);
            break;
    }
    widget->setGeometry(pixelRect(control.rect, units));
    if (control.id >= 0) controls_[control.id] = widget;
}

QWidget* SettingsDialogWidget::control(int id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

void SettingsDialogWidget::focusControl(int id) {
    QWidget* target = control(id);
    if (target == nullptr) return;
    // Focusing a control of another window activates that window.
    activateWindow();
    target->setFocus(Qt::OtherFocusReason);
}

void SettingsDialogWidget::finish(bool accepted) {
    if (finished_) return;
    finished_ = true;
    if (accepted) {
        DialogFields fields;
        for (int i = 0; i < dialog_.fieldCount; ++i) {
            const std::size_t index = static_cast<std::size_t>(i);
            fields.texts[index] = toCp1251(fields_[index]->text());
        }
        handlers_.accepted(fields);
    } else {
        handlers_.cancelled();
    }
    close();
}

void SettingsDialogWidget::closeEvent(QCloseEvent* event) {
    // The caption's close box is "Cancel".
    if (!finished_) {
        finished_ = true;
        handlers_.cancelled();
    }
    event->accept();
}

bool SettingsDialogWidget::focusNextPrevChild(bool /*next*/) {
    return false;
}

}  // namespace velgor
