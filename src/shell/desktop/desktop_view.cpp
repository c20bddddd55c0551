#include "shell/desktop/desktop_view.h"

#include "shell/controls/relay_controls.h"
#include "shell/desktop/qt_text.h"

namespace velgor {

DesktopView::DesktopView(MainWindow& window) : window_(window) {}

DesktopView::~DesktopView() {
    // The boxes have no owner: they go with the front end.
    for (const QPointer<QMessageBox>& box : infoBoxes_) delete box.data();
}

void DesktopView::setMenuCheck(int itemId, bool checked) {
    window_.setMenuCheck(itemId, checked);
}

DialogInstanceId DesktopView::showDialog(const DialogTemplate& dialog, const DialogFields& fields) {
    const DialogInstanceId instance = ++lastInstance_;
    const DialogKind kind = dialog.kind;
    SettingsDialogWidget::Handlers handlers{[this, kind](const DialogFields& typed) {
                                                if (controls_ != nullptr)
                                                    controls_->acceptDialog(kind, typed);
                                            },
                                            [this, kind] {
                                                if (controls_ != nullptr)
                                                    controls_->cancelDialog(kind);
                                            }};
    auto* widget = new SettingsDialogWidget(&window_, dialog, fields, std::move(handlers));
    // A template at 0,0 opens at the top left of the owner's client area.
    widget->move(window_.centralWidget()->mapToGlobal(QPoint(0, 0)));
    widget->show();
    // Forget instances that are gone, so the table stays as small as what is open.
    std::erase_if(dialogs_, [](const auto& entry) { return entry.second.isNull(); });
    dialogs_[instance] = widget;
    return instance;
}

void DesktopView::focusDialogControl(DialogInstanceId instance, int controlId) {
    if (SettingsDialogWidget* widget = dialog(instance)) widget->focusControl(controlId);
}

void DesktopView::showInfoBox(std::string_view caption, std::string_view text) {
    // No owner and not modal: the relay and the main window go on while it is open.
    auto* box = new QMessageBox(QMessageBox::NoIcon, fromCp1251(caption), fromCp1251(text),
                                QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->setWindowModality(Qt::NonModal);
    box->show();
    std::erase_if(infoBoxes_, [](const QPointer<QMessageBox>& open) { return open.isNull(); });
    infoBoxes_.emplace_back(box);
}

void DesktopView::closeMainWindow() {
    window_.close();
}

SettingsDialogWidget* DesktopView::dialog(DialogInstanceId instance) const {
    const auto found = dialogs_.find(instance);
    return found == dialogs_.end() ? nullptr : found->second.data();
}

std::vector<SettingsDialogWidget*> DesktopView::openDialogs() const {
    std::vector<SettingsDialogWidget*> open;
    for (const auto& [instance, widget] : dialogs_) {
        if (!widget.isNull()) open.push_back(widget.data());
    }
    return open;
}

std::vector<QMessageBox*> DesktopView::openInfoBoxes() const {
    std::vector<QMessageBox*> open;
    for (const QPointer<QMessageBox>& box : infoBoxes_) {
        if (!box.isNull()) open.push_back(box.data());
    }
    return open;
}

}  // namespace velgor
