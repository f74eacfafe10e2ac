#include "core/alias.h"

#include <boost/property_tree/ptree.hpp>

#include "core/json_read.h"

namespace pt = boost::property_tree;

namespace
{
// No label shows more of a name than this; a longer one would only make
// every fitting of it on the panel slower.
constexpr size_t kNameChars = 64;

// text cut after kNameChars UTF-8 characters.
std::string shown_part(const std::string& text)
{
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == kNameChars)
            return text.substr(0, i);
    return text;
}
} // namespace

int get_json_alias_para(ALIAS_PARA* out, const std::string& category, int id)
{
    return AliasNames().get(out, category, id);
}

AliasNames::AliasNames() : read_(json_read::file("/data/configs/alias.json", root_)) {}

int AliasNames::get(ALIAS_PARA* out, const std::string& category, int id) const
{
    if (!read_)
        return 0;
    try {
        auto list = root_.get_child_optional("namelist." + category);
        if (!list)
            return 0;
        for (const auto& item : *list) {
            auto itemId = item.second.get_optional<int>("id");
            if (!itemId || *itemId != id)
                continue;
            out->id = id;
            out->valid = item.second.get<std::string>("valid", "");
            out->name = shown_part(item.second.get<std::string>("name", ""));
            return out->valid != "off" && !out->name.empty() ? 1 : 0;
        }
    } catch (const pt::ptree_error&) {
        return 0;
    }
    return 0;
}
