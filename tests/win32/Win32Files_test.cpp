// The Win32 file layer: the logs and the sensor file keep every byte as it is on the disk (no
// text mode), and the logs' handles behave as the log writer expects.

#include "gps/LogFileSystem.h"
#include "platform/FileRead.h"

#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace ostrim {
namespace {

// CR LF, a bare LF, Ctrl-Z (end of file to the C library's text mode) and a NUL.
const std::string kAwkwardBytes = std::string("$GPGGA,1*00\r\nbare\nz\x1a after\0end", 31);

TEST(Win32LogFiles, BytesStayAsWritten_AppendAndTruncate)
{
    test::ScratchFolder dir;
    const std::string path = dir / "raw.txt";
    LogFileSystem& files = SystemLogFileSystem();
    ASSERT_EQ(files.Create(path), 0);
    test::WriteFile(path, "kept");
    ASSERT_EQ(files.Create(path), 0); // an existing log keeps its records

    LogFileSystem::Handle handle = -1;
    std::uint64_t size = 0;
    ASSERT_EQ(files.OpenAppend(path, handle, size), 0);
    EXPECT_EQ(size, 4u);
    std::size_t written = 0;
    ASSERT_EQ(files.Write(handle, kAwkwardBytes, written), 0);
    EXPECT_EQ(written, kAwkwardBytes.size());
    // Others may read the log while it is open.
    EXPECT_EQ(test::ReadFile(path), "kept" + kAwkwardBytes);

    ASSERT_EQ(files.Truncate(handle, 6), 0);
    ASSERT_EQ(files.Write(handle, "!", written), 0);
    ASSERT_EQ(files.Close(handle), 0);
    EXPECT_EQ(test::ReadFile(path), "kept$G!");
}

TEST(Win32LogFiles, MissingFolder_GivesTheReason)
{
    test::ScratchFolder dir;
    LogFileSystem::Handle handle = -1;
    std::uint64_t size = 0;
    EXPECT_EQ(SystemLogFileSystem().OpenAppend(dir / "gone/raw.txt", handle, size), ENOENT);
    EXPECT_EQ(SystemLogFileSystem().Create(""), ENOENT);
}

TEST(Win32FileRead, ReadsTheBytesOnTheDisk)
{
    test::ScratchFolder dir;
    const std::string path = dir / "sensors.txt";
    test::WriteFile(path, kAwkwardBytes);
    int fd = -1;
    ASSERT_EQ(OpenRegularFile(path, &fd), 0);
    std::string read;
    char buffer[7];
    for (long n; (n = ReadFileBytes(fd, buffer, sizeof buffer)) > 0;)
        read.append(buffer, static_cast<std::size_t>(n));
    CloseFile(fd);
    EXPECT_EQ(read, kAwkwardBytes);
}

TEST(Win32FileRead, RefusalsAndFolders)
{
    test::ScratchFolder dir;
    int fd = -1;
    EXPECT_EQ(OpenRegularFile(dir.Path().string(), &fd), EISDIR);
    EXPECT_EQ(OpenRegularFile(dir / "missing.txt", &fd), ENOENT);

    struct Case {
        std::string path;
        bool exists;
    };
    const Case cases[] = {
        {dir / "missing.txt", true},
        {dir.Path().string() + "\\missing.txt", true},
        {dir / "no-folder/missing.txt", false},
        {"C:\\missing.txt", true},
        {"missing.txt", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParentFolderExists(c.path), c.exists) << c.path;
}

} // namespace
} // namespace ostrim
