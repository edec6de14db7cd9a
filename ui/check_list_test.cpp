#include "ui/check_list.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "ui/testing/fake_view.h"

namespace sx::ui {
namespace {

using Kind = ListEvent::Kind;
using Act = ListAction::Kind;

ListEvent key(int virtual_key) { return {.kind = Kind::key_down, .key = virtual_key}; }
ListEvent click_on(int row, bool icon) {
    return {.kind = Kind::click, .hit_row = row, .on_icon = icon};
}
ListEvent click_off(int bounds) { return {.kind = Kind::click, .bounds_row = bounds}; }
ListEvent focus(int bounds) { return {.kind = Kind::set_focus, .bounds_row = bounds}; }
ListEvent changed(int row, bool selected) {
    return {.kind = Kind::item_changed, .row = row, .selected = selected};
}

TEST(CheckListRules, DecideTable) {
    struct Case {
        const char* what;
        ListEvent event;
        int selected;
        int rows;
        Act kind;
        int row;  // only compared for toggle, select and selection_changed
        bool handled;
    };
    const Case cases[] = {
        {"space toggles the selected row", key(kKeySpace), 1, 3, Act::toggle, 1, true},
        {"space without selection", key(kKeySpace), -1, 3, Act::none, -1, true},
        {"space with a stale selection", key(kKeySpace), 3, 3, Act::none, -1, true},
        {"click on the check image", click_on(2, true), 0, 3, Act::toggle, 2, true},
        {"click on the text", click_on(2, false), 0, 3, Act::none, -1, true},
        {"click below, inside a row's bounds", click_off(1), 0, 3, Act::select, 1, true},
        {"click below all rows", click_off(-1), 0, 3, Act::select, 2, true},
        {"click on a row past the end", click_on(5, true), -1, 3, Act::select, 2, true},
        {"click into an empty list", click_off(-1), -1, 0, Act::none, -1, true},
        {"focus with a selection", focus(-1), 0, 3, Act::none, -1, true},
        {"focus without selection, in bounds", focus(0), -1, 3, Act::select, 0, true},
        {"focus without selection, below rows", focus(-1), -1, 3, Act::select, 2, true},
        {"row became selected", changed(1, true), 1, 3, Act::selection_changed, 1, true},
        {"row lost the selection", changed(1, false), -1, 3, Act::none, -1, false},
    };
    for (const Case& c : cases) {
        const ListAction action = decide(c.event, c.selected, c.rows);
        SCOPED_TRACE(c.what);
        EXPECT_EQ(action.kind, c.kind);
        EXPECT_EQ(action.handled, c.handled);
        EXPECT_TRUE(c.kind == Act::none || action.row == c.row) << action.row;
    }
}

// Swaps carry the row's value too; texts are cut at the list's limit.
TEST(CheckListOps, SwapAndTextLimit) {
    testing::FakeView view;
    CheckList list(view, 7, [](int, int) {});
    list.set_up();
    list.add_row("a", false, 10);
    list.add_row(std::string(1500, 'x'), true, 20);
    list.swap_rows(0, 1);
    EXPECT_EQ(list.row_value(0) * 100 + list.row_value(1), 2010);
    EXPECT_EQ(list.row_text(0).size(), size_t(kCheckListTextLimit));
}

}  // namespace
}  // namespace sx::ui
