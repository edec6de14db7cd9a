#include "ui/check_list.h"

#include <utility>

namespace sx::ui {

namespace {

bool in_range(int row, int row_count) { return row >= 0 && row < row_count; }

ListAction select_for_point(int bounds_row, int row_count) {
    const int row = row_for_empty_point(bounds_row, row_count);
    if (row < 0) return {.kind = ListAction::Kind::none, .handled = true};
    return {.kind = ListAction::Kind::select, .row = row, .handled = true};
}

}  // namespace

int row_for_empty_point(int bounds_row, int row_count) {
    if (in_range(bounds_row, row_count)) return bounds_row;
    return row_count - 1;  // -1 for an empty list: nothing to select
}

ListAction decide(const ListEvent& event, int selected, int row_count) {
    const ListAction consumed{.kind = ListAction::Kind::none, .handled = true};
    switch (event.kind) {
        case ListEvent::Kind::key_down:
            if (event.key == kKeySpace && in_range(selected, row_count))
                return {.kind = ListAction::Kind::toggle, .row = selected, .handled = true};
            return consumed;
        case ListEvent::Kind::click:
            // A click on a row's text is left to the control, which selects it.
            if (in_range(event.hit_row, row_count)) {
                if (!event.on_icon) return consumed;
                return {.kind = ListAction::Kind::toggle, .row = event.hit_row, .handled = true};
            }
            return select_for_point(event.bounds_row, row_count);
        case ListEvent::Kind::set_focus:
            if (in_range(selected, row_count)) return consumed;
            return select_for_point(event.bounds_row, row_count);
        case ListEvent::Kind::item_changed:
            if (!event.selected) return {};
            return {.kind = ListAction::Kind::selection_changed, .row = event.row, .handled = true};
        case ListEvent::Kind::other:
            break;
    }
    return {};
}

CheckList::CheckList(DialogView& view, int id, Notify on_notify)
    : view_(view), id_(id), on_notify_(std::move(on_notify)) {}

void CheckList::set_up() { view_.list_set_up(id_); }

int CheckList::add_row(const std::string& text, bool checked, intptr_t value) {
    return view_.list_add_row(id_, ListRow{text, checked, value});
}

bool CheckList::is_checked(int row) { return view_.list_row(id_, row).checked; }

void CheckList::set_checked(int row, bool checked) {
    if (!in_range(row, row_count())) return;
    ListRow value = view_.list_row(id_, row);
    value.checked = checked;
    view_.list_set_row(id_, row, value);
    send(CLN_CHECKCHANGED);
}

void CheckList::swap_rows(int a, int b) {
    const int count = row_count();
    if (!in_range(a, count) || !in_range(b, count) || a == b) return;
    const ListRow first = view_.list_row(id_, a);
    view_.list_set_row(id_, a, view_.list_row(id_, b));
    view_.list_set_row(id_, b, first);
}

void CheckList::select(int row) {
    if (in_range(row, row_count())) view_.list_select(id_, row);
}

int CheckList::selected_index() { return view_.list_selected(id_); }

std::string CheckList::row_text(int row) {
    std::string text = view_.list_row(id_, row).text;
    if (text.size() > static_cast<size_t>(kCheckListTextLimit)) text.resize(kCheckListTextLimit);
    return text;
}

intptr_t CheckList::row_value(int row) { return view_.list_row(id_, row).value; }

int CheckList::row_count() { return view_.list_row_count(id_); }

void CheckList::delete_all() { view_.list_clear(id_); }

bool CheckList::handle(const ListEvent& event) {
    const ListAction action = decide(event, selected_index(), row_count());
    switch (action.kind) {
        case ListAction::Kind::toggle:
            toggle(action.row);
            break;
        case ListAction::Kind::select:
            select(action.row);
            break;
        case ListAction::Kind::selection_changed:
            send(CLN_SELCHANGED);
            break;
        case ListAction::Kind::none:
            break;
    }
    return action.handled;
}

void CheckList::toggle(int row) {
    ListRow value = view_.list_row(id_, row);
    value.checked = !value.checked;
    view_.list_set_row(id_, row, value);
    send(CLN_CHECKCHANGED);
}

void CheckList::send(int code) {
    if (on_notify_) on_notify_(id_, code);
}

}  // namespace sx::ui
