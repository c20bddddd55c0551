#include "shell/desktop/status_pane.h"

#include <QApplication>
#include <QPalette>

#include "shell/desktop/qt_text.h"

namespace velgor {
namespace {

// A line shows its text up to the first line end, as a one-line field does.
QString lineText(std::string_view text) {
    const std::size_t end = text.find_first_of("\r\n");
    return fromCp1251(text.substr(0, end));
}

}  // namespace

QFont StatusPane::logFont() {
    QFont font;
    font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "DejaVu Sans", "Sans Serif"});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

QFont StatusPane::statusFont() {
    QFont font;
    font.setFamilies({"Fixedsys", "DejaVu Sans Mono", "Monospace"});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(13);
    return font;
}

StatusPane::StatusPane(const MessageLog& log, QWidget* parent) : QWidget(parent), log_(log) {
    // The window itself is white; the text lines keep the face colour of
    // plain controls.
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    const QFont lineFont = logFont();
    for (int i = 0; i < PANE_LOG_LINES; ++i) {
        logLines_[static_cast<std::size_t>(i)] = makeLine(LINE_HEIGHT * i, lineFont);
    }
    const QFont status = statusFont();
    sourceStatus_ = makeLine(SOURCE_STATUS_Y, status);
    consumerStatus_ = makeLine(CONSUMER_STATUS_Y, status);
    showAll();
}

QLabel* StatusPane::makeLine(int y, const QFont& font) {
    auto* line = new QLabel(this);
    line->setGeometry(0, y, LINE_WIDTH, LINE_HEIGHT);
    line->setFont(font);
    line->setTextFormat(Qt::PlainText);
    line->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette face = line->palette();
    face.setColor(QPalette::Window, QApplication::palette().color(QPalette::Window));
    line->setPalette(face);
    line->setAutoFillBackground(true);
    return line;
}

void StatusPane::logLineShown(std::string_view text) {
    // Everything moves up one line; the new text becomes the bottom line.
    for (std::size_t i = 1; i < logLines_.size(); ++i) {
        logLines_[i - 1]->setText(logLines_[i]->text());
    }
    logLines_.back()->setText(lineText(text));
}

void StatusPane::statusLinesChanged() {
    sourceStatus_->setText(lineText(log_.sourceStatusLine()));
    consumerStatus_->setText(lineText(log_.consumerStatusLine()));
}

void StatusPane::showAll() {
    for (int i = 0; i < PANE_LOG_LINES; ++i) {
        logLines_[static_cast<std::size_t>(i)]->setText(lineText(log_.logLine(i)));
    }
    statusLinesChanged();
}

}  // namespace velgor
