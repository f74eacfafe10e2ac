// The menus of the settings branch (Option and the menus under it): a grid
// of tiles, each opening one page on OK. A menu may guard one tile with a
// flag of its own: while the flag is 0 the tile is grey, and its opener
// declines.
#pragma once

#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

#include "ui/shell/pagepattern.h"

class MenuTilePage : public ZevPage
{
  public:
    // The tile looks: a plain menu, or one with a tile that can be grey.
    enum class Look { Plain, Guarded };
    MenuTilePage(QWidget* parent, u8 pageId, u8 parentId, Look look);

  protected:
    template <class Page> using Opener = void (Page::*)();

    // The tiles in ui_select order with what OK runs on each; row 0
    // focused, no edit.
    template <class Page> void set_tiles(std::initializer_list<std::pair<QWidget*, Opener<Page>>> tiles)
    {
        Page* page = static_cast<Page*>(this);
        menu_list.clear();
        openers_.clear();
        for (const auto& tile : tiles) {
            menu_list.push_back(tile.first);
            openers_.push_back([page, open = tile.second] { (page->*open)(); });
        }
        ZevPage::menulist_init();
    }
    // The tile grey while *available is 0.
    void guard_tile(int row, const u8* available);
    // Gives the guarded tile the look its flag asks for now.
    void show_guard();
    // The title from texts[0] and the tiles' texts from texts[1] on, in
    // row order, the tiles in one size.
    void set_texts(QWidget* title, const PageText* texts);

    void on_row_ok(int row) override;
    QString row_style(int row, bool focused) const override;

    // For the hooks of other threads: refreshes the texts of the page of
    // the id on the GUI thread, if that page is still open by then.
    static std::function<void()> queued_refresh(u8 id);

    QString style_grey;
    QString style_grey_focused;

  private:
    std::vector<std::function<void()>> openers_;
    int guarded_row_ = -1;
    const u8* available_ = nullptr;
};
