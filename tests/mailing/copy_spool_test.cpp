// The copy spool beside the journal: private, read back only whole, settled by the journal's copy
// records, gone with the journal.

#include "mailing/copy_spool.h"
#include "mailing/file_io.h"
#include "mailing/run_journal.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

mode_t Mode(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

TEST(CopySpool, PrivateWholeAndSettledByTheJournal) {
    TempDir temp;
    const std::string list = temp.File("sendlist.csv");
    temp.Write("sendlist.csv", "A;a;a@x.de;S;;x;;\r\n");
    temp.Write("nachbar.txt", "bleibt");
    const std::string folder = CopySpoolFolder(list);
    CopySpool spool(list);
    const std::string first = spool.Write({"", 1796716540, 1, "a@x.de, Max <m@x.de>", 0, "From: a\r\n\r\nHallo\r\n"});
    const std::string second = spool.Write({"", 1796716541, 2, "b@x.de", 0, "From: b\r\n\r\nText\r\n"});
    EXPECT_EQ(Mode(folder), 0700u);
    EXPECT_EQ(Mode(folder + first), 0600u);
    const std::optional<SpooledCopy> read = spool.Read(first, true);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->sentAt, 1796716540);
    EXPECT_EQ(read->lineNumber, 1);
    EXPECT_EQ(read->address, "a@x.de, Max <m@x.de>");
    EXPECT_EQ(read->size, read->message.size());
    EXPECT_EQ(read->message, "From: a\r\n\r\nHallo\r\n");

    // A file cut short (a power loss) gives no copy to append; the spool goes on numbering after it.
    const std::string bytes = ReadWholeFile(folder + second);
    WriteFileAtomic(folder + second, bytes.substr(0, bytes.size() - 3), 0600);
    EXPECT_FALSE(spool.Read(second, true));
    EXPECT_EQ(CopySpool(list).Write({"", 0, 3, "c@x.de", 0, "x"}), "3.kopie");

    // The journal's copy records remove their files, and only files of the spool.
    RewriteJournalAsKept(list, {{'L', 0, "A;a;a@x.de;S;;x;;"}}, {first, "../nachbar.txt", "../sendlist.csv"});
    const JournalContent journal = ReadJournal(list);
    EXPECT_EQ(journal.copies, (std::vector<std::string>{first, "../nachbar.txt", "../sendlist.csv"}));
    ASSERT_EQ(journal.records.size(), 1u);
    SettleCopySpool(list, journal);
    EXPECT_FALSE(PathExists(folder + first));
    EXPECT_EQ(temp.Read("nachbar.txt"), "bleibt");
    EXPECT_TRUE(FileExists(list));
    // The damaged one still waits: its turn names it as a missing copy.
    EXPECT_EQ(spool.Waiting().size(), 2u);

    // A run that ends without records keeps its journal while copies wait; the end of a run removes both.
    {
        RunJournal run(list);
        run.KeepForResume();
    }
    EXPECT_TRUE(PathExists(JournalPathFor(list)));
    RunJournal run(list);
    run.Finish();
    EXPECT_FALSE(PathExists(JournalPathFor(list)));
    EXPECT_FALSE(PathExists(folder));
}

}  // namespace
