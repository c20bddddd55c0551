#include "shell/desktop/qt_text.h"

#include "config/cp1251.h"

namespace velgor {

QString fromCp1251(std::string_view bytes) {
    return QString::fromStdString(cp1251ToUtf8(bytes));
}

std::string toCp1251(const QString& text) {
    return utf8ToCp1251(text.toStdString());
}

}  // namespace velgor
