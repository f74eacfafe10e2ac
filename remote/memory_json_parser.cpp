#include "remote/memory_json_parser.h"

#include <sstream>

#include <boost/property_tree/json_parser.hpp>

#include "core/json_read.h"

namespace pt = boost::property_tree;

bool memory_json_parser::parse(const char* data, size_t length, pt::ptree& out)
{
    if (!data || length == 0 || !json_read::parse(data, length, out)) {
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
