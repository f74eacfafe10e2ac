#include "remote/memory_json_parser.h"

#include <sstream>

#include <boost/property_tree/json_parser.hpp>

namespace pt = boost::property_tree;

bool memory_json_parser::parse(const char* data, size_t length, pt::ptree& out)
{
    out.clear();
    if (!data || length == 0)
        return false;
    try {
        std::istringstream in(std::string(data, length));
        pt::read_json(in, out);
    } catch (const pt::ptree_error&) {
        out.clear();
        return false;
    }
    // A bare value reads as an empty tree with data; only objects carry keys.
    return !out.empty();
}

std::string memory_json_parser::text(const pt::ptree& tree, const char* key, const std::string& fallback)
{
    return tree.get<std::string>(key, fallback);
}
