// The pages the main menu opens, as one table: a page joins the menu with
// one line in menu_pages.cpp.
#pragma once

#include "core/global.h"

// Opens the page of an id modally with the keys (main-menu tiles). A page
// that is not built yet shows a short note instead; false then.
bool open_menu_page(u8 id);
// The note shown for a page that is not built yet (about 2 s, over the
// main window), and a warning naming the page.
void page_unavailable(u8 id);
// The note alone, as the page pictures draw it.
void show_unavailable_note();
