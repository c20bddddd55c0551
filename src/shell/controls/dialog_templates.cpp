#include "shell/controls/dialog_templates.h"

#include "shell/controls/menu_ids.h"

namespace velgor {
namespace {

// Every template is 186 x 90 at 0,0.
constexpr DialogRect FRAME{0, 0, 186, 90};

// "OK" is the default push button except in IDD_DIALOG3; IDD_DIALOG3 creates its
// "Cancel" last.
constexpr DialogControl DIALOG8_CONTROLS[] = {
    {DialogControlType::DefaultPushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 40, 14}},
    // "Порт"
    {DialogControlType::Label, -1, "\xCF\xEE\xF0\xF2", {62, 7, 96, 8}},
    {DialogControlType::Edit, DIALOG_FIELD_2, "", {7, 23, 50, 14}},
    // "IP адрес"
    {DialogControlType::Label, -1, "IP \xE0\xE4\xF0\xE5\xF1", {62, 25, 87, 8}},
};

constexpr DialogControl DIALOG9_CONTROLS[] = {
    {DialogControlType::DefaultPushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 40, 14}},
    // "Порт"
    {DialogControlType::Label, -1, "\xCF\xEE\xF0\xF2", {62, 7, 96, 8}},
    {DialogControlType::Edit, DIALOG_FIELD_2, "", {7, 23, 50, 14}},
    // "IP адрес"
    {DialogControlType::Label, -1, "IP \xE0\xE4\xF0\xE5\xF1", {62, 25, 87, 8}},
};

constexpr DialogControl DIALOG3_CONTROLS[] = {
    {DialogControlType::PushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 60, 14}},
    // "Широта"
    {DialogControlType::Label, -1, "\xD8\xE8\xF0\xEE\xF2\xE0", {82, 7, 96, 8}},
    {DialogControlType::Edit, DIALOG_FIELD_2, "", {7, 23, 60, 14}},
    // "Долгота"
    {DialogControlType::Label, -1, "\xC4\xEE\xEB\xE3\xEE\xF2\xE0", {82, 25, 96, 8}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
};

constexpr DialogControl DIALOG4_CONTROLS[] = {
    {DialogControlType::DefaultPushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 60, 14}},
    // "Имя"
    {DialogControlType::Label, -1, "\xC8\xEC\xFF", {82, 7, 96, 8}},
};

constexpr DialogControl DIALOG_TIMECOMPRESS_CONTROLS[] = {
    {DialogControlType::DefaultPushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 60, 14}},
    // "Десятичные доли секунды"
    {DialogControlType::Label,
     -1,
     "\xC4\xE5\xF1\xFF\xF2\xE8\xF7\xED\xFB\xE5 \xE4\xEE\xEB\xE8 \xF1\xE5\xEA\xF3\xED\xE4\xFB",
     {82, 7, 96, 8}},
};

constexpr DialogControl DIALOG_POROG_CONTROLS[] = {
    {DialogControlType::DefaultPushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 60, 14}},
    // "Нижний порог"
    {DialogControlType::Label, -1, "\xCD\xE8\xE6\xED\xE8\xE9 \xEF\xEE\xF0\xEE\xE3", {82, 7, 96, 8}},
};

constexpr DialogControl DIALOG_FREQ_CONTROLS[] = {
    {DialogControlType::DefaultPushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 60, 14}},
    // "Частота таймера"
    {DialogControlType::Label,
     -1,
     "\xD7\xE0\xF1\xF2\xEE\xF2\xE0 \xF2\xE0\xE9\xEC\xE5\xF0\xE0",
     {82, 7, 96, 8}},
};

constexpr DialogControl DIALOG_NO_DANN_CONTROLS[] = {
    {DialogControlType::DefaultPushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 60, 14}},
    // "Предел в сек"
    {DialogControlType::Label, -1, "\xCF\xF0\xE5\xE4\xE5\xEB \xE2 \xF1\xE5\xEA", {82, 7, 96, 8}},
};

constexpr DialogTemplate TEMPLATES[] = {
    // "Настройки TCP"
    {DialogKind::SourceLink, "IDD_DIALOG8", "\xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8 TCP", FRAME,
     DIALOG8_CONTROLS, 2, true},
    // "Настройки TCP"
    {DialogKind::ConsumerLink, "IDD_DIALOG9", "\xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8 TCP", FRAME,
     DIALOG9_CONTROLS, 2, false},
    // "Настройки координат приемника"
    {DialogKind::Coordinates, "IDD_DIALOG3",
     "\xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8 \xEA\xEE\xEE\xF0\xE4\xE8\xED\xE0\xF2 "
     "\xEF\xF0\xE8\xE5\xEC\xED\xE8\xEA\xE0",
     FRAME, DIALOG3_CONTROLS, 2, true},
    // "Настройки имени приемника"
    {DialogKind::StationName, "IDD_DIALOG4",
     "\xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8 \xE8\xEC\xE5\xED\xE8 "
     "\xEF\xF0\xE8\xE5\xEC\xED\xE8\xEA\xE0",
     FRAME, DIALOG4_CONTROLS, 1, false},
    // "Дискретность сжатия в долях секунды"
    {DialogKind::CompressStep, "IDD_DIALOG_TIMECOMPRESS",
     "\xC4\xE8\xF1\xEA\xF0\xE5\xF2\xED\xEE\xF1\xF2\xFC \xF1\xE6\xE0\xF2\xE8\xFF \xE2 "
     "\xE4\xEE\xEB\xFF\xF5 \xF1\xE5\xEA\xF3\xED\xE4\xFB",
     FRAME, DIALOG_TIMECOMPRESS_CONTROLS, 1, false},
    // "Нижний порог уровня приема"
    {DialogKind::Threshold, "IDD_DIALOG_POROG",
     "\xCD\xE8\xE6\xED\xE8\xE9 \xEF\xEE\xF0\xEE\xE3 \xF3\xF0\xEE\xE2\xED\xFF "
     "\xEF\xF0\xE8\xE5\xEC\xE0",
     FRAME, DIALOG_POROG_CONTROLS, 1, false},
    // "Частота таймера"
    {DialogKind::TimerFrequency, "IDD_DIALOG_FREQ",
     "\xD7\xE0\xF1\xF2\xEE\xF2\xE0 \xF2\xE0\xE9\xEC\xE5\xF0\xE0", FRAME, DIALOG_FREQ_CONTROLS, 1,
     false},
    // "Если нет данных разрывать связь"
    {DialogKind::NoDataLimit, "IDD_DIALOG_NO_DANN",
     "\xC5\xF1\xEB\xE8 \xED\xE5\xF2 \xE4\xE0\xED\xED\xFB\xF5 \xF0\xE0\xE7\xF0\xFB\xE2\xE0\xF2\xFC "
     "\xF1\xE2\xFF\xE7\xFC",
     FRAME, DIALOG_NO_DANN_CONTROLS, 1, false},
};

// Windows' MulDiv: value * numerator / denominator rounded to the nearest
// integer, halves away from zero.
int mulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    const long long rounded =
        product >= 0 ? (product + half) / denominator : -((-product + half) / denominator);
    return static_cast<int>(rounded);
}

}  // namespace

const DialogTemplate& dialogTemplate(DialogKind kind) {
    return TEMPLATES[static_cast<int>(kind)];
}

std::span<const DialogTemplate> dialogTemplates() {
    return TEMPLATES;
}

DialogBaseUnits dialogBaseUnits(int alphabetWidth, int fontHeight) {
    return {(alphabetWidth / 26 + 1) / 2, fontHeight};
}

PixelRect dialogRectToPixels(DialogRect rect, DialogBaseUnits units) {
    return {mulDiv(rect.x, units.x, 4), mulDiv(rect.y, units.y, 8), mulDiv(rect.width, units.x, 4),
            mulDiv(rect.height, units.y, 8)};
}

}  // namespace velgor
