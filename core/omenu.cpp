#include "core/omenu.h"

#include <boost/property_tree/ptree.hpp>

#include "core/json_read.h"

namespace pt = boost::property_tree;

namespace
{

std::string textOf(const pt::ptree& t, const char* key)
{
    auto c = t.get_child_optional(key);
    if (!c)
        return std::string();
    if (c->empty())
        return c->data();
    std::string joined;
    for (const auto& e : *c) {
        if (!joined.empty())
            joined += "\n";
        joined += e.second.data();
    }
    return joined;
}

void readEntry(const pt::ptree& e, OMENU_PARA* m)
{
    m->type = e.get<int>("type", 0);
    if (m->type != 0)
        return;
    m->status = e.get<int>("status", 0);
    m->x = e.get<int>("pos.x", 0);
    m->y = e.get<int>("pos.y", 0);
    m->w = e.get<int>("pos.w", 0);
    m->h = e.get<int>("pos.h", 0);
    m->effect = e.get<int>("act.effect", 0);
    m->speed = e.get<int>("act.speed", 0);
    m->staytime = e.get<int>("act.staytime", 0);
    m->h_align = e.get<std::string>("h_align", "left");
    m->v_align = e.get<std::string>("v_align", "top");
    m->back_enable = e.get<int>("backpara.enable", 0);
    m->back_color = e.get<std::string>("backpara.color", "");
    m->startx = e.get<int>("fontpara.startx", 0);
    m->starty = e.get<int>("fontpara.starty", 0);
    m->fontw = e.get<int>("fontpara.fontw", 0);
    m->fonth = e.get<int>("fontpara.fonth", 0);
    m->wordspace = e.get<int>("fontpara.wordspace", 0);
    m->verticalspace = e.get<int>("fontpara.verticalspace", 0);
    m->font_color = e.get<std::string>("fontpara.color", "");
    m->texts = textOf(e, "texts");
}

} // namespace

void get_json_omenu_para(const char* path, OSD_LIST* list)
{
    list->osdcount = 0;
    pt::ptree root;
    if (!json_read::file(path, root))
        return;
    try {
        list->name = root.get<std::string>("name", "");
        list->osdcount = root.get<int>("osdcount", 0);
        list->oactcount = root.get<int>("oactcount", 0);
        if (list->osdcount == 0)
            return;
        auto menu = root.get_child_optional("menu");
        if (!menu)
            return;
        int i = 0;
        for (const auto& e : *menu) {
            if (i >= 3)
                break;
            readEntry(e.second, &list->menu[i++]);
        }
    } catch (const pt::ptree_error&) {
        list->osdcount = 0;
    }
}
