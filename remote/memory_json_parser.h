// JSON bodies of the cloud and 4G links, parsed from memory.
#pragma once

#include <cstddef>
#include <string>

#include <boost/property_tree/ptree.hpp>

class memory_json_parser
{
  public:
    // Parses length bytes of JSON text; false (out cleared) when they are not
    // one JSON object or nest deeper than json_read::kMaxDepth.
    static bool parse(const char* data, size_t length, boost::property_tree::ptree& out);
    // A text value; fallback when the key is missing.
    static std::string text(const boost::property_tree::ptree& tree, const char* key,
                            const std::string& fallback = std::string());
};
