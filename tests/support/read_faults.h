// Reads that fail as on a failing medium: while a file is named, every read
// or pread of it (the ways the program reads its stored files) fails with
// EIO. A program started by a test gets the same through
// with_failing_reads.
#pragma once

#include <string>

// The host path of the file whose reads fail; empty: none.
void fail_reads_of(const std::string& hostPath);

// Prepares the environment of a program about to be started so that the
// reads of hostPath fail in it (the test's own reads are left alone); false
// when this build has no library for it.
bool with_failing_reads(const std::string& hostPath);
