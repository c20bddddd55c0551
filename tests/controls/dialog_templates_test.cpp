#include "shell/controls/dialog_templates.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/cp1251.h"
#include "shell/controls/menu_ids.h"

namespace velgor {
namespace {

bool operator==(DialogRect a, DialogRect b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

const DialogControl* findControl(const DialogTemplate& dialog, int id) {
    for (const DialogControl& control : dialog.controls) {
        if (control.id == id) return &control;
    }
    return nullptr;
}

// The labels in creation order.
std::vector<const DialogControl*> labels(const DialogTemplate& dialog) {
    std::vector<const DialogControl*> found;
    for (const DialogControl& control : dialog.controls) {
        if (control.type == DialogControlType::Label) found.push_back(&control);
    }
    return found;
}

struct ExpectedTemplate {
    DialogKind kind;
    const char* name;
    const char* title;
    std::vector<const char*> labels;
    bool tabCycle;
};

const ExpectedTemplate EXPECTED[] = {
    {DialogKind::SourceLink, "IDD_DIALOG8", "Настройки TCP", {"Порт", "IP адрес"}, true},
    {DialogKind::ConsumerLink, "IDD_DIALOG9", "Настройки TCP", {"Порт", "IP адрес"}, false},
    {DialogKind::Coordinates,
     "IDD_DIALOG3",
     "Настройки координат приемника",
     {"Широта", "Долгота"},
     true},
    {DialogKind::StationName, "IDD_DIALOG4", "Настройки имени приемника", {"Имя"}, false},
    {DialogKind::CompressStep,
     "IDD_DIALOG_TIMECOMPRESS",
     "Дискретность сжатия в долях секунды",
     {"Десятичные доли секунды"},
     false},
    {DialogKind::Threshold,
     "IDD_DIALOG_POROG",
     "Нижний порог уровня приема",
     {"Нижний порог"},
     false},
    {DialogKind::TimerFrequency, "IDD_DIALOG_FREQ", "Частота таймера", {"Частота таймера"}, false},
    {DialogKind::NoDataLimit,
     "IDD_DIALOG_NO_DANN",
     "Если нет данных разрывать связь",
     {"Предел в сек"},
     false},
};

TEST(DialogTemplates, EachTemplateHasItsTitleLabelsFieldsAndButtons) {
    ASSERT_EQ(dialogTemplates().size(), std::size(EXPECTED));
    for (const ExpectedTemplate& want : EXPECTED) {
        const DialogTemplate& dialog = dialogTemplate(want.kind);
        SCOPED_TRACE(want.name);
        EXPECT_EQ(dialog.kind, want.kind);
        EXPECT_STREQ(dialog.name, want.name);
        EXPECT_EQ(cp1251ToUtf8(dialog.title), want.title);
        EXPECT_TRUE((dialog.frame == DialogRect{0, 0, 186, 90}));
        EXPECT_EQ(dialog.tabCycle, want.tabCycle);
        const auto texts = labels(dialog);
        ASSERT_EQ(texts.size(), want.labels.size());
        EXPECT_EQ(dialog.fieldCount, static_cast<int>(want.labels.size()));
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(cp1251ToUtf8(texts[i]->text), want.labels[i]);
        }
        // Each field sits at x 7 on its label's line; the second one 16 units lower.
        const DialogControl* field1 = findControl(dialog, DIALOG_FIELD_1);
        ASSERT_NE(field1, nullptr);
        EXPECT_EQ(field1->rect.x, 7);
        EXPECT_EQ(field1->rect.y, texts[0]->rect.y);
        EXPECT_EQ(field1->rect.height, 14);
        const DialogControl* field2 = findControl(dialog, DIALOG_FIELD_2);
        EXPECT_EQ(field2 != nullptr, dialog.fieldCount == 2);
        if (field2 != nullptr) {
            EXPECT_EQ(field2->rect.y, field1->rect.y + 16);
        }

        const DialogControl* ok = findControl(dialog, DIALOG_OK);
        const DialogControl* cancel = findControl(dialog, DIALOG_CANCEL);
        ASSERT_NE(ok, nullptr);
        ASSERT_NE(cancel, nullptr);
        EXPECT_TRUE((ok->rect == DialogRect{7, 69, 50, 14}));
        EXPECT_TRUE((cancel->rect == DialogRect{129, 69, 50, 14}));
        // "OK" is the default button everywhere but in the coordinates dialog.
        EXPECT_EQ(ok->type, want.kind == DialogKind::Coordinates
                                ? DialogControlType::PushButton
                                : DialogControlType::DefaultPushButton);
        EXPECT_EQ(cancel->type, DialogControlType::PushButton);
    }
    // The link dialogs' fields are narrower than the others'.
    EXPECT_TRUE((findControl(dialogTemplate(DialogKind::SourceLink), DIALOG_FIELD_1)->rect ==
                 DialogRect{7, 7, 40, 14}));
    EXPECT_TRUE((findControl(dialogTemplate(DialogKind::SourceLink), DIALOG_FIELD_2)->rect ==
                 DialogRect{7, 23, 50, 14}));
    EXPECT_TRUE(
        (labels(dialogTemplate(DialogKind::SourceLink))[1]->rect == DialogRect{62, 25, 87, 8}));
    EXPECT_TRUE(
        (labels(dialogTemplate(DialogKind::Coordinates))[1]->rect == DialogRect{82, 25, 96, 8}));
}

// The order the controls are created in, as identifiers (labels -1).
std::vector<int> creationOrder(DialogKind kind) {
    std::vector<int> ids;
    for (const DialogControl& control : dialogTemplate(kind).controls) ids.push_back(control.id);
    return ids;
}

TEST(DialogTemplates, ControlsAreCreatedInTheTemplatesOrder) {
    EXPECT_EQ(creationOrder(DialogKind::Coordinates),
              (std::vector<int>{DIALOG_OK, DIALOG_FIELD_1, -1, DIALOG_FIELD_2, -1, DIALOG_CANCEL}));
    for (DialogKind kind : {DialogKind::SourceLink, DialogKind::ConsumerLink}) {
        EXPECT_EQ(creationOrder(kind), (std::vector<int>{DIALOG_OK, DIALOG_CANCEL, DIALOG_FIELD_1,
                                                         -1, DIALOG_FIELD_2, -1}));
    }
    EXPECT_EQ(creationOrder(DialogKind::Threshold),
              (std::vector<int>{DIALOG_OK, DIALOG_CANCEL, DIALOG_FIELD_1, -1}));
}

TEST(DialogUnits, ScaleByTheFontAndRoundToTheNearestPixel) {
    // A font whose 52 letters are 312 pixels wide and 13 high: 6 x 13 base units.
    const DialogBaseUnits units = dialogBaseUnits(312, 13);
    EXPECT_EQ(units.x, 6);
    EXPECT_EQ(units.y, 13);
    EXPECT_EQ(dialogBaseUnits(338, 16).x, 7);  // 13 per letter: half a unit rounds up
    EXPECT_EQ(dialogBaseUnits(311, 16).x, 6);  // 11.96 per letter counts as 11

    const struct {
        DialogRect in;
        PixelRect out;
    } cases[] = {
        {{0, 0, 186, 90}, {0, 0, 279, 146}},      // 146.25 rounds down
        {{7, 69, 50, 14}, {11, 112, 75, 23}},     // 10.5 and 22.75 round up
        {{129, 69, 50, 14}, {194, 112, 75, 23}},  // 193.5 rounds up
        {{62, 25, 87, 8}, {93, 41, 131, 13}},
    };
    for (const auto& c : cases) {
        const PixelRect got = dialogRectToPixels(c.in, units);
        EXPECT_EQ(got.x, c.out.x);
        EXPECT_EQ(got.y, c.out.y);
        EXPECT_EQ(got.width, c.out.width);
        EXPECT_EQ(got.height, c.out.height);
    }
}

}  // namespace
}  // namespace velgor
