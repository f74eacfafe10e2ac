#include "ui/shell/menu_tiles.h"

#include "ui/shell/gui_call.h"
#include "ui/shell/textfit.h"

namespace
{
// The focus is an orange border; a tile that cannot be opened now is grey.
const char* const kTileNormal =
    "color:rgb(255,255,255);background-color: rgb(33, 36, 53) ; border:2px ;border-radius:10px;padding:2px 4px";
const char* const kTileFocused = "color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:2px solid "
                                 "rgb(255,171,84);border-radius:10px;padding:2px 4px";

const char* const kGuardedNormal =
    "background-color: rgb(33, 36, 53);border:2px;border-radius:10px;padding:2px 4px;color:rgb(255,255,255)";
const char* const kGuardedFocused = "background-color: rgb(33, 36, 53); border:2px solid "
                                    "rgb(255,171,84);border-radius:10px;padding:2px 4px;color:rgb(255,255,255)";
const char* const kTileGrey =
    "background-color: gray;border:2px;border-radius:10px;padding:2px 4px;color:rgb(255,255,255)";
const char* const kTileGreyFocused = "background-color: gray; border:2px solid "
                                     "rgb(255,171,84);border-radius:10px;padding:2px 4px;color:rgb(255,255,255)";
} // namespace

MenuTilePage::MenuTilePage(QWidget* parent, u8 pageId, u8 parentId, Look look) : ZevPage(parent, pageId, parentId)
{
    const bool guarded = look == Look::Guarded;
    style_normal = guarded ? kGuardedNormal : kTileNormal;
    style_focused = guarded ? kGuardedFocused : kTileFocused;
    style_grey = kTileGrey;
    style_grey_focused = kTileGreyFocused;
}

void MenuTilePage::guard_tile(int row, const u8* available)
{
    guarded_row_ = row;
    available_ = available;
}

void MenuTilePage::show_guard()
{
    if (guarded_row_ >= 0 && guarded_row_ < int(menu_list.size()))
        set_row_style(guarded_row_, focus_widget == menu_list[size_t(guarded_row_)]);
}

void MenuTilePage::set_texts(QWidget* title, const PageText* texts)
{
    set_fitted(title, page_text(texts[0]));
    std::vector<FitItem> tiles;
    for (size_t i = 0; i < menu_list.size(); ++i)
        tiles.push_back({menu_list[i], page_text(texts[i + 1])});
    set_fitted(tiles);
}

void MenuTilePage::on_row_ok(int row)
{
    if (row >= 0 && row < int(openers_.size()))
        openers_[size_t(row)]();
}

QString MenuTilePage::row_style(int row, bool focused) const
{
    if (row == guarded_row_ && available_ && !*available_)
        return focused ? style_grey_focused : style_grey;
    return focused ? style_focused : style_normal;
}

std::function<void()> MenuTilePage::queued_refresh(u8 id)
{
    return [id] {
        gui_call([id] {
            if (PageView* page = PageRegistry::at(id))
                page->language_changed();
        });
    };
}
