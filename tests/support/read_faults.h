// Reads that fail as on a failing medium: while a file is named, every
// pread of it (the way the program reads its stored files) fails with EIO.
#pragma once

#include <string>

// The host path of the file whose reads fail; empty: none.
void fail_reads_of(const std::string& hostPath);
