#pragma once

class QWidget;

namespace velgor {

// Gives a top-level window a class name where the platform has one (both
// parts of WM_CLASS on X11); elsewhere nothing happens.
void setWindowClass(QWidget& window, const char* className);

}  // namespace velgor
