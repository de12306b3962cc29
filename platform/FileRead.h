#pragma once
// Reading a whole file in pieces (the sensor file), without the C library's text mode: the
// bytes come as they are on the disk. Results are 0 or an errno value.

#include <cstddef>
#include <string>

namespace ostrim {

// Opens a regular file for reading. EISDIR for a folder, ENODEV for anything else that is not a
// regular file (a pipe, a device): such a file is refused, and its open never waits.
int OpenRegularFile(const std::string& path, int* fd);
// As read(): bytes read, 0 at the end, -1 with errno set.
long ReadFileBytes(int fd, void* buffer, std::size_t size);
void CloseFile(int fd);
// Whether the folder that would hold `path` exists ("." for a bare name).
bool ParentFolderExists(const std::string& path);

} // namespace ostrim
