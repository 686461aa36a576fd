#include "mailing/data_folder.h"
#include "mailing/file_io.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <stdexcept>

namespace {

size_t FilesIn(const std::string& folder) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}

TEST(WriteFileAtomic, ReplacesAndKeepsPermissions) {
    TempDir temp;
    const std::string path = temp.File("list.csv");
    WriteFileAtomic(path, "first");
    std::filesystem::permissions(path, std::filesystem::perms(0640));
    WriteFileAtomic(path, "second");
    EXPECT_EQ(ReadWholeFile(path), "second");
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(FilesIn(temp.Path()), 1u);
}

TEST(WriteFileAtomic, InterruptedWriteLeavesOldFileIntact) {
    TempDir temp;
    const std::string path = temp.File("sendlist.csv");
    WriteFileAtomic(path, "old content\r\n");
    EXPECT_THROW(WriteFileAtomicWith(path,
                                     [](const auto& write) {
                                         write("new half");
                                         throw std::runtime_error("power lost");
                                     }),
                 std::runtime_error);
    EXPECT_EQ(ReadWholeFile(path), "old content\r\n");
    EXPECT_EQ(FilesIn(temp.Path()), 1u) << "the temporary file must not stay behind";
}

TEST(WriteFileAtomic, UnwritableFolderGivesCreateError) {
    TempDir temp;
    const std::string path = temp.File("missing/x.txt");
    try {
        WriteFileAtomic(path, "x");
        FAIL();
    } catch (const EFileError& error) {
        // The system's reason in the locale's language.
        EXPECT_EQ(std::string(error.what()), "Datei \"" + path + "\" kann nicht erstellt werden. " + std::strerror(ENOENT));
    }
}

TEST(ReadWholeFile, MissingFileAndFolder) {
    TempDir temp;
    EXPECT_THROW(ReadWholeFile(temp.File("nothing")), EFileError);
    EXPECT_THROW(ReadWholeFile(temp.Path()), EFileError);
    temp.Write("bytes", std::string("\0\xFF\r\n", 4));
    EXPECT_EQ(ReadWholeFile(temp.File("bytes")), std::string("\0\xFF\r\n", 4));
}

// Sets the file's modification time to `secondsAgo` in the past, as if it had been written then.
void AgeFile(const std::string& path, int secondsAgo) {
    const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - secondsAgo, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(CachedFileReader, EveryChangeIsSeenWhateverItsForm) {
    TempDir temp;
    const std::string path = temp.File("defaultmail.txt");
    CachedFileReader reader(0);  // keeps even a file written just now
    temp.Write("defaultmail.txt", "Hallo $Name");
    EXPECT_EQ(reader.Read(path), "Hallo $Name");
    EXPECT_EQ(reader.Read(path), "Hallo $Name");
    // Same size, written in place: only the times differ.
    temp.Write("defaultmail.txt", "Hallo $Nome");
    AgeFile(path, 100);
    EXPECT_EQ(reader.Read(path), "Hallo $Nome");
    // Replaced by another file under the same name.
    temp.Write("neu.txt", "Guten Tag");
    std::filesystem::rename(temp.File("neu.txt"), path);
    EXPECT_EQ(reader.Read(path), "Guten Tag");
    // Gone: the error of a plain read, not the text read before.
    std::filesystem::remove(path);
    EXPECT_THROW(reader.Read(path), EFileError);
    EXPECT_THROW(reader.Read(temp.Path()), EFileError);
}

TEST(DataFolder, NamesMatchWithoutLetterCase) {
    TempDir temp;
    const std::string folder = temp.Path() + "/";
    EXPECT_EQ(DataFilePath(folder, "sendlist.csv"), folder + "sendlist.csv");
    temp.Write("SendList.CSV", "x");
    EXPECT_EQ(DataFilePath(folder, "sendlist.csv"), folder + "SendList.CSV");
    EXPECT_EQ(DataFilePath(temp.Path() + "/absent/", "sendlist.csv"), temp.Path() + "/absent/sendlist.csv");
}

TEST(DataFolder, FollowsXdgDataHomeAndEndsInSeparator) {
    TempDir temp;
    const char* old = getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", temp.Path().c_str(), 1);
    EXPECT_EQ(ComputeDataFolder(), temp.Path() + "/ptdata/");
    CreateDataFolder(temp.Path() + "/a/b/ptdata/");
    EXPECT_TRUE(std::filesystem::is_directory(temp.Path() + "/a/b/ptdata"));
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
}

}  // namespace
