#include "shell/controls/dialog_templates.h"

#include "config/cp1251_literal.h"
#include "shell/controls/menu_ids.h"

namespace velgor {
namespace {

// Every template is 186 x 90 at 0,0.
constexpr DialogRect FRAME{0, 0, 186, 90};

// "OK" is the default push button except in IDD_DIALOG3; IDD_DIALOG3 creates its
// "Cancel" last.
// IDD_DIALOG8 (source) and IDD_DIALOG9 (consumer) hold the same controls.
constexpr DialogControl LINK_DIALOG_CONTROLS[] = {
    {DialogControlType::DefaultPushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 40, 14}},
    {DialogControlType::Label, -1, cp1251<u8"Порт">, {62, 7, 96, 8}},
    {DialogControlType::Edit, DIALOG_FIELD_2, "", {7, 23, 50, 14}},
    {DialogControlType::Label, -1, cp1251<u8"IP адрес">, {62, 25, 87, 8}},
};

constexpr DialogControl DIALOG3_CONTROLS[] = {
    {DialogControlType::PushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 60, 14}},
    {DialogControlType::Label, -1, cp1251<u8"Широта">, {82, 7, 96, 8}},
    {DialogControlType::Edit, DIALOG_FIELD_2, "", {7, 23, 60, 14}},
    {DialogControlType::Label, -1, cp1251<u8"Долгота">, {82, 25, 96, 8}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
};

constexpr DialogControl DIALOG4_CONTROLS[] = {
    {DialogControlType::DefaultPushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 60, 14}},
    {DialogControlType::Label, -1, cp1251<u8"Имя">, {82, 7, 96, 8}},
};

constexpr DialogControl DIALOG_TIMECOMPRESS_CONTROLS[] = {
    {DialogControlType::DefaultPushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 60, 14}},
    {DialogControlType::Label, -1, cp1251<u8"Десятичные доли секунды">, {82, 7, 96, 8}},
};

constexpr DialogControl DIALOG_POROG_CONTROLS[] = {
    {DialogControlType::DefaultPushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 60, 14}},
    {DialogControlType::Label, -1, cp1251<u8"Нижний порог">, {82, 7, 96, 8}},
};

constexpr DialogControl DIALOG_FREQ_CONTROLS[] = {
    {DialogControlType::DefaultPushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 60, 14}},
    {DialogControlType::Label, -1, cp1251<u8"Частота таймера">, {82, 7, 96, 8}},
};

constexpr DialogControl DIALOG_NO_DANN_CONTROLS[] = {
    {DialogControlType::DefaultPushButton, DIALOG_OK, "OK", {7, 69, 50, 14}},
    {DialogControlType::PushButton, DIALOG_CANCEL, "Cancel", {129, 69, 50, 14}},
    {DialogControlType::Edit, DIALOG_FIELD_1, "", {7, 7, 60, 14}},
    {DialogControlType::Label, -1, cp1251<u8"Предел в сек">, {82, 7, 96, 8}},
};

constexpr DialogTemplate TEMPLATES[] = {
    {DialogKind::SourceLink, "IDD_DIALOG8", cp1251<u8"Настройки TCP">, FRAME, LINK_DIALOG_CONTROLS,
     2, true},
    {DialogKind::ConsumerLink, "IDD_DIALOG9", cp1251<u8"Настройки TCP">, FRAME,
     LINK_DIALOG_CONTROLS, 2, false},
    {DialogKind::Coordinates, "IDD_DIALOG3", cp1251<u8"Настройки координат приемника">, FRAME,
     DIALOG3_CONTROLS, 2, true},
    {DialogKind::StationName, "IDD_DIALOG4", cp1251<u8"Настройки имени приемника">, FRAME,
     DIALOG4_CONTROLS, 1, false},
    {DialogKind::CompressStep, "IDD_DIALOG_TIMECOMPRESS",
     cp1251<u8"Дискретность сжатия в долях секунды">, FRAME, DIALOG_TIMECOMPRESS_CONTROLS, 1,
     false},
    {DialogKind::Threshold, "IDD_DIALOG_POROG", cp1251<u8"Нижний порог уровня приема">, FRAME,
     DIALOG_POROG_CONTROLS, 1, false},
    {DialogKind::TimerFrequency, "IDD_DIALOG_FREQ", cp1251<u8"Частота таймера">, FRAME,
     DIALOG_FREQ_CONTROLS, 1, false},
    {DialogKind::NoDataLimit, "IDD_DIALOG_NO_DANN", cp1251<u8"Если нет данных разрывать связь">,
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
