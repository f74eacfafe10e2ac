// A data partition of a test's own, small enough to fill, for the tests of
// what the program answers when its disk is full.
#pragma once

#include <cstddef>
#include <string>

// Mounts a file system of bytes bytes at path (created) in a mount namespace
// of the calling thread's own; false where the machine allows none (or
// ZEV_TEST_NO_NAMESPACES=1 asks to take that path). A program started from
// this thread afterwards sees it too.
bool own_partition(const std::string& path, size_t bytes);
// Unmounts it again.
void drop_partition(const std::string& path);

// Writes the file until the file system that holds it is full; true when
// it is.
bool fill_up(const std::string& file);
