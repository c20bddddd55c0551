#include "shell/controls/menu_table.h"

#include <gtest/gtest.h>

#include <string>

#include "config/cp1251.h"
#include "shell/controls/menu_ids.h"

namespace velgor {
namespace {

struct ExpectedItem {
    int id;
    const char* name;
    const char* label;  // readable
    bool checkMark;
};

void expectPopup(const MenuPopup& popup, const char* title,
                 std::initializer_list<ExpectedItem> expected) {
    EXPECT_EQ(cp1251ToUtf8(popup.title), title);
    ASSERT_EQ(popup.items.size(), expected.size()) << title;
    std::size_t i = 0;
    for (const ExpectedItem& item : expected) {
        const MenuItem& actual = popup.items[i++];
        SCOPED_TRACE(item.name);
        EXPECT_EQ(actual.id, item.id);
        EXPECT_STREQ(actual.name, item.name);
        EXPECT_EQ(cp1251ToUtf8(actual.label), item.label);
        EXPECT_EQ(actual.checkMark, item.checkMark);
    }
}

TEST(MenuTable, MainMenuHasBothPopUpsWithEveryItemInOrder) {
    const auto menu = mainMenu();
    ASSERT_EQ(menu.size(), 2u);
    // The consumer, coordinates and name items come after the toggles.
    expectPopup(menu[0], "&Настройки",
                {{108, "IDM_SOURCE_SETTINGS", "&Настройки TCP источника  ", false},
                 {113, "IDM_BINARY_MODE", "&Бинарный режим источника", true},
                 {114, "IDM_COMPRESS", "&Сжимать информацию", true},
                 {115, "IDM_COMPRESS_TICKS", "&Дискретность сжатия", false},
                 {116, "IDM_THRESHOLD", "&Нижний порог уровня приема", false},
                 {117, "IDM_TIMER_FREQUENCY", "&Частота таймера", false},
                 {118, "IDM_RELATIVE_TIME", "&Показывать относительное время", true},
                 {119, "IDM_NO_DATA_WATCHDOG", "&Если данные не поступают", true},
                 {109, "IDM_CONSUMER_SETTINGS", "&Настройки TCP потребителя", false},
                 {110, "IDM_COORDINATES", "&Координаты приемника", false},
                 {111, "IDM_STATION_NAME", "&Имя приемника", false}});
    expectPopup(menu[1], "&О программе",
                {{301, "IDM_HELP", "&Меню", false}, {302, "IDM_AUTHOR", "&Автор", false}});
}

TEST(MenuTable, TrayMenuIsOneExitItem) {
    const auto menu = trayMenu();
    ASSERT_EQ(menu.size(), 1u);
    expectPopup(menu[0], "&Режимы", {{101, "IDM_EXIT", "&Exit", false}});
    EXPECT_EQ(findMenuItem(mainMenu(), IDM_EXIT), nullptr);
    EXPECT_EQ(findMenuItem(trayMenu(), IDM_EXIT), &menu[0].items[0]);
    EXPECT_EQ(findMenuItem(mainMenu(), 112), nullptr);
}

TEST(MenuTable, EveryItemHasTheMnemonicAfterItsAmpersand) {
    for (const auto menu : {mainMenu(), trayMenu()}) {
        for (const MenuPopup& popup : menu) {
            for (const MenuItem& item : popup.items) {
                // Each label starts with '&': the mnemonic is its first letter.
                EXPECT_EQ(menuMnemonic(item.label), item.label[1]) << item.name;
                EXPECT_NE(menuMnemonic(item.label), 0) << item.name;
            }
        }
    }
    EXPECT_EQ(menuMnemonic("Save && E&xit"), 'x');  // "&&" is a literal ampersand
    EXPECT_EQ(menuMnemonic("No mnemonic"), 0);
    EXPECT_EQ(menuMnemonic("Trailing&"), 0);
}

}  // namespace
}  // namespace velgor
