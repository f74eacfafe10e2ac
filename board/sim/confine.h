// Keeps the simulated board's file access inside its data root: a path is
// judged by where it really leads once symbolic links and ".." are resolved
// the way the kernel resolves them, not by how its text reads.
#pragma once

#include <string>

namespace board::sim
{

// Where the absolute host path really leads: every symbolic link followed,
// also a dangling one (to where it would create its target), and a missing
// tail appended to its real parent. Empty when it cannot be told (a loop of
// links, an unreadable folder).
std::string realLocation(const std::string& path);

// True when the absolute host path leads inside root. With followLast false
// the last component is what the caller acts on itself (a link removed or
// renamed, not followed): only its folder must lead inside.
bool leadsInside(const std::string& root, const std::string& path, bool followLast);

} // namespace board::sim
