// What a write cut short by a power loss or a kill leaves behind, removed at
// the next start from every folder the box writes stored files into: the
// writer's temporary files, and those of the box's earlier writers (the
// settings' scratch copies, QSettings' lock files, "<file>.tmp" beside the
// files they wrote). Files of any other name, the user's among them, stay.
#pragma once

#include <string>

namespace leftovers
{
// Whether a name in one of those folders is a leftover.
bool leftover(const std::string& name);

// Removes the leftovers; before anything lists or writes those folders.
void sweep();
} // namespace leftovers
