#include "mailing/data_folder.h"
#include "mailing/file_io.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
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
        EXPECT_EQ(std::string(error.what()), "Datei \"" + path + "\" kann nicht erstellt werden. No such file or directory");
    }
}

TEST(ReadWholeFile, MissingFileAndFolder) {
    TempDir temp;
    EXPECT_THROW(ReadWholeFile(temp.File("nothing")), EFileError);
    EXPECT_THROW(ReadWholeFile(temp.Path()), EFileError);
    temp.Write("bytes", std::string("\0\xFF\r\n", 4));
    EXPECT_EQ(ReadWholeFile(temp.File("bytes")), std::string("\0\xFF\r\n", 4));
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
