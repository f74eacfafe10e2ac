// A data partition of a test's own, small enough to fill, for the tests of
// what the program answers when its disk is full; and where no private
// mount can be had, a full partition played for the files a test names.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

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

// A full partition for the host files named, played without a mount: the
// program's one writer of stored files writes each file under its temporary
// name first (board::temporary_of), and a folder standing there makes that
// write fail, as a full partition does, while a removal of the file still
// removes it for good. Removals of the files, and "rm -rf folder/*" (a
// pattern never matches a dot name), leave the folders in place. False when
// one cannot be made.
bool block_writes(const std::vector<std::string>& hostFiles);
// Takes those folders away again; false when one was gone (something
// removed it while the files were to be full) or cannot be removed.
bool unblock_writes(const std::vector<std::string>& hostFiles);

// Every plain file under a folder with what tells a write of it: its inode
// (the writer puts a new file in place), size and time of modification.
struct FileStamp {
    unsigned long long inode, size;
    long long modified_ns;
    bool operator==(const FileStamp& o) const
    {
        return inode == o.inode && size == o.size && modified_ns == o.modified_ns;
    }
};
using FileStamps = std::map<std::string, FileStamp>;
FileStamps file_stamps(const std::string& folder);
// The files of now that are new or written since before; removed ones are
// not counted.
std::vector<std::string> written_since(const FileStamps& before, const FileStamps& now);
