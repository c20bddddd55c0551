#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <functional>
#include <map>

#include "shell/controls/controls_view.h"
#include "shell/controls/dialog_templates.h"

namespace velgor {

// One modeless instance of a settings dialog, built from its template: the
// caption, the edit fields and their labels, "OK" and "Cancel" at their
// places in dialog units for the dialog's font. It owns no behaviour: "OK"
// hands the field texts (Windows-1251) to `accepted`, "Cancel" and the
// caption's close box call `cancelled`; either way the instance then goes.
//
// There is no dialog keyboard handling: Tab, Return and Escape do nothing here
// (the application's Tab rule moves the focus in the dialogs that cycle).
class SettingsDialogWidget : public QWidget {
  public:
    struct Handlers {
        std::function<void(const DialogFields&)> accepted;
        std::function<void()> cancelled;
    };

    SettingsDialogWidget(QWidget* owner, const DialogTemplate& dialog, const DialogFields& fields,
                         Handlers handlers);

    const DialogTemplate& dialog() const { return dialog_; }
    // The control with a dialog control identifier (fields, "OK", "Cancel"), or null.
    QWidget* control(int id) const;
    QLineEdit* field(int index) const { return fields_[static_cast<std::size_t>(index)]; }
    void focusControl(int id);

    // The dialog font: a proportional face of 8 points.
    static QFont dialogFont();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool focusNextPrevChild(bool next) override;

  private:
    void createControl(const DialogControl& control, DialogBaseUnits units);
    void finish(bool accepted);

    const DialogTemplate& dialog_;
    Handlers handlers_;
    std::array<QLineEdit*, 2> fields_{};
    std::map<int, QWidget*> controls_;
    bool finished_ = false;
};

}  // namespace velgor
