// JSON text of files and frame bodies read into property trees. The parser
// descends once per nesting level, so text nested deeper than any file or
// body of this system (kMaxDepth levels) is refused before it reaches the
// parser, like text that does not parse.
#pragma once

#include <cstddef>
#include <string>

#include <boost/property_tree/ptree.hpp>

namespace json_read
{
constexpr int kMaxDepth = 64;
// The largest JSON file a PC transfer stores (the OSD menus); a larger file
// is damaged.
constexpr size_t kMaxFileBytes = 0x400000;

// True when no object or array of the text lies deeper than maxDepth levels;
// brackets inside strings do not count.
bool depth_within(const char* text, size_t length, int maxDepth = kMaxDepth);

// Parses the text into out; false (out cleared) when it does not parse or
// nests too deep.
bool parse(const char* text, size_t length, boost::property_tree::ptree& out);

// Reads the JSON file at a board path under the file lock. False when it is
// missing or cannot be read (it is left as it is), and when it holds more
// than kMaxFileBytes or does not parse: such a file is deleted. A file it
// cannot use is named in a warning, once.
bool file(const char* path, boost::property_tree::ptree& out);
} // namespace json_read
