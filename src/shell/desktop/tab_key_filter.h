#pragma once

#include <QObject>
#include <functional>

class QKeyEvent;

namespace velgor {

// The application-wide Tab rule: every Tab character, whatever window it is
// typed into, is first offered to the settings dialogs' focus cycles; when one
// takes it the key goes no further. Menus and information boxes keep their own
// keyboard handling.
class TabKeyFilter : public QObject {
  public:
    explicit TabKeyFilter(std::function<bool()> offerTab);

    static bool isTabCharacter(const QKeyEvent& event);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<bool()> offerTab_;
};

}  // namespace velgor
