#include "core/alias.h"

#include <cstdio>
#include <fstream>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "board/board.h"
#include "core/global.h"
#include "core/utils.h"

namespace pt = boost::property_tree;

int get_json_alias_para(ALIAS_PARA* out, const std::string& category, int id)
{
    pt::ptree root;
    {
        // Held while reading, so a file being written is never judged damaged.
        QMutexLocker lock(&Utils::_file_deal_mutex);
        std::ifstream in(board::path("/data/configs/alias.json"));
        if (!in)
            return 0;
        try {
            pt::read_json(in, root);
        } catch (const pt::ptree_error& e) {
            if (debugOn())
                std::printf("json error: %s", e.what());
            Utils::system_mutex("rm -rf /data/configs/alias.json");
            return 0;
        }
    }
    try {
        auto list = root.get_child_optional("namelist." + category);
        if (!list)
            return 0;
        for (const auto& item : *list) {
            auto itemId = item.second.get_optional<int>("id");
            if (!itemId || *itemId != id)
                continue;
            out->id = id;
            out->valid = item.second.get<std::string>("valid", "");
            out->name = item.second.get<std::string>("name", "");
            return out->valid != "off" && !out->name.empty() ? 1 : 0;
        }
    } catch (const pt::ptree_error&) {
        return 0;
    }
    return 0;
}
