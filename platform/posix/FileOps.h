#pragma once
// Small POSIX file steps shared by the profile store, the log file and the
// runtime folder. Each reports failure as errno text, never by exception.
#include <string>
#include <string_view>

namespace dervix::posix {

// strerror text of an errno value, safe to keep.
std::string ErrnoText(int error);

// Writes every byte, going on after short writes and signals. Returns 0 or
// the errno value of the failure; written, when given, gets the bytes that
// went before it.
int WriteAll(int fd, std::string_view bytes, std::size_t* written = nullptr);

// Reads the whole of an open file. Past limit bytes it stops with EFBIG,
// out then holding the first limit bytes. Returns 0 or the errno value.
int ReadAll(int fd, std::string& out, std::size_t limit);

// Creates folder and any missing parents with the given mode (existing
// folders are left as they are). Returns 0 or the errno value.
int MakeFolders(const std::string& folder, unsigned mode);

// Makes a rename inside folder durable. Returns 0 or the errno value.
int SyncFolder(const std::string& folder);

// The folder part of a path ("." when there is none) and the last part.
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);

// $HOME, else the user database's home folder, else "/".
std::string HomeFolder();

}  // namespace dervix::posix
