// A full disk under the program directory (a small tmpfs filled to the last page or name): the
// log, its upgrade, the configuration file and the cache's compaction lose nothing, leave no
// temporary file, and work again once there is room.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <sys/stat.h>

#include "core/cachestore.h"
#include "core/configfile.h"
#include "core/runningslots.h"
#include "data/logformat.h"
#include "data/resultlog.h"
#include "data/resultrecord.h"
#include "ledger.h"
#include "platform/fileops.h"
#include "support/childprocess.h"
#include "support/tempdir.h"
#include "tmpfs.h"

namespace vantrel::soak {
namespace {

using test::ReadFile;
using test::WriteFile;

// A program directory on a tmpfs of its own, with a filler beside it.
class DiskFull : public ::testing::Test {
protected:
    // False (and why in MountError) when no tmpfs can be mounted here.
    bool Mount(std::size_t bytes, unsigned inodes) {
        test::MakeDirs(m_work / "disk");
        m_mount = std::make_unique<CTmpfsMount>(m_work / "disk", bytes, inodes);
        if (!m_mount->Mounted())
            return false;
        m_program = m_work / "disk/program";
        test::MakeDirs(m_program);
        m_filler = std::make_unique<CDiskFiller>(m_work / "disk/filler");
        return true;
    }
    std::string MountError() const { return m_mount->Error(); }
    void TearDown() override {
        m_lockHolder.reset();
        m_filler.reset();
        m_mount.reset();
    }

    std::string Log() const { return m_program + "/ORVALog.csv"; }
    std::string Instance(unsigned n) const { return m_program + "/" + std::to_string(n); }

    test::TempDir m_work;
    std::unique_ptr<CTmpfsMount> m_mount;
    std::unique_ptr<CDiskFiller> m_filler;
    std::unique_ptr<test::TestChild> m_lockHolder;
    std::string m_program;
};

// A finished result in instance n whose work unit is called name; padding makes the row long.
void WriteResult(const std::string& instance, const std::string& name, std::size_t padding) {
    test::MakeDirs(instance);
    WriteFile(instance + "/user_info.orv", "user_id=4711\nname=Ann \"Ace\" Lee\nemail_addr=ann@example.org\n");
    WriteFile(instance + "/result.orv", "name=" + name + "\ncpu_time=3600.5\nprog=1.000000\nreceiver=" +
                                            std::string(padding, 'r') + "\n");
}

// A log row by the log's own rules, with a long field when padding is not 0.
std::string Row(const std::string& name, std::size_t padding) {
    std::string row = "2024.03.05 07:08:09";
    for (std::size_t column = 1; column < kLogColumnCount; ++column) {
        std::string value = column == COL_NAME ? name : column == 36 ? std::string(padding, 'p') : "0.25";
        row += "," + QuoteField(value);
    }
    return row;
}

TEST_F(DiskFull, LogKeepsEveryRowAndTakesTheNextOnceThereIsRoom) {
    if (!Mount(1 << 20, 512))
        GTEST_SKIP() << MountError();
    CRunningSlots slots;
    CCacheStore store(m_program, "vantrel", slots);
    std::atomic<bool> logEnabled{true};
    auto logInstance = [&](unsigned n) {
        ResultRecord record(store, logEnabled);
        record.GatherResult(n);
        return record.WriteRow();
    };
    WriteResult(Instance(1), "tape.000001,a", 0);
    ASSERT_TRUE(logInstance(1));
    ASSERT_TRUE(AppendToLog(Log(), Row("tape.000002", 0)));
    const std::string before = ReadFile(Log());
    // Rows longer than two pages: never within the slack of the log's last page.
    WriteResult(Instance(2), "tape.000003", 9000);
    const std::string longRow = Row("tape.000004", 9000);

    ASSERT_TRUE(m_filler->FillSpace());
    EXPECT_FALSE(logInstance(2));
    EXPECT_FALSE(AppendToLog(Log(), longRow));
    EXPECT_EQ(ReadFile(Log()), before) << "a failed append changed the log";
    // One free page: the append gets part-way before the disk is full, and must be undone.
    m_filler->FreePages(1);
    const unsigned long freeBefore = FreeBlocks(m_program);
    EXPECT_FALSE(AppendToLog(Log(), longRow));
    EXPECT_EQ(ReadFile(Log()), before) << "a row broken off by the full disk was left in the log";
    EXPECT_EQ(FreeBlocks(m_program), freeBefore) << "the broken-off part still takes space";

    m_filler->FreeAll();
    EXPECT_TRUE(logInstance(2));
    EXPECT_TRUE(AppendToLog(Log(), longRow));
    LogRecord log = ReadLog(Log());
    EXPECT_TRUE(log.problems.empty()) << Lines(log.problems);
    EXPECT_EQ(log.rows, 4u);
    for (const char* name : {"tape.000001,a", "tape.000002", "tape.000003", "tape.000004"})
        EXPECT_EQ(log.names[name], 1u) << name;
    EXPECT_EQ(ReadFile(Log()).substr(0, before.size()), before);
    EXPECT_TRUE(TemporaryFilesBeneath(m_program).empty()) << Lines(TemporaryFilesBeneath(m_program));
}

TEST_F(DiskFull, LogUpgradeLeavesTheOldLogWholeAndCompletesOnceThereIsRoom) {
    if (!Mount(1 << 20, 512))
        GTEST_SKIP() << MountError();
    // The layout before the last column was added, with rows of some size.
    std::string oldLog;
    for (std::size_t column = 0; column + 1 < kLogColumnCount; ++column)
        oldLog += (column == 0 ? "\"" : ",\"") + std::string(kLogColumnNames[column]) + "\"";
    for (int k = 1; k <= 30; ++k) {
        std::string row = Row("old." + std::to_string(k), 900);
        oldLog += "\r\n" + row.substr(0, row.rfind(','));
    }
    WriteFile(Log(), oldLog);

    ASSERT_TRUE(m_filler->FillSpace());
    // Room for part of the rewritten log only.
    m_filler->FreePages(2);
    EXPECT_FALSE(AppendToLog(Log(), Row("new.1", 0)));
    EXPECT_EQ(ReadFile(Log()), oldLog) << "the failed upgrade changed the log";
    const std::string backup = m_program + "/Backup of ORVALog.csv";
    if (platform::PathExists(backup)) {
        EXPECT_EQ(ReadFile(backup), oldLog);
    }
    EXPECT_TRUE(TemporaryFilesBeneath(m_program).empty()) << Lines(TemporaryFilesBeneath(m_program));

    m_filler->FreeAll();
    EXPECT_TRUE(AppendToLog(Log(), Row("new.1", 0)));
    EXPECT_EQ(ReadFile(backup), oldLog);
    LogRecord log = ReadLog(Log());
    EXPECT_TRUE(log.problems.empty()) << Lines(log.problems);
    EXPECT_EQ(log.rows, 31u);
    EXPECT_EQ(log.names["old.1"], 1u);
    EXPECT_EQ(log.names["old.30"], 1u);
    EXPECT_EQ(log.names["new.1"], 1u);
    EXPECT_TRUE(TemporaryFilesBeneath(m_program).empty()) << Lines(TemporaryFilesBeneath(m_program));
}

TEST_F(DiskFull, ConfigurationStaysWholeAndSavesOnceThereIsRoom) {
    if (!Mount(256 << 10, 256))
        GTEST_SKIP() << MountError();
    const std::string config = m_program + "/vantrel.cfg";
    COptions saved;
    saved.AutoTransmit = true;
    saved.MaxProcesses = 3;
    ASSERT_TRUE(SaveConfiguration(config, saved, false, 2));
    const std::string before = ReadFile(config);
    COptions changed;
    changed.MaxProcesses = 2;
    changed.CreateLog = true;
    changed.ServerMode = SM_SOCKS;
    changed.ServerHost = "PROXY.EXAMPLE.ORG";
    changed.ServerPort = 1080;
    changed.UseColon = true;
    changed.SocksUser = "Ann";
    changed.SocksPassword = "Secret";

    ASSERT_TRUE(m_filler->FillSpace());
    EXPECT_FALSE(SaveConfiguration(config, changed, true, 2));
    EXPECT_EQ(ReadFile(config), before) << "a failed save changed the configuration";
    EXPECT_TRUE(TemporaryFilesBeneath(m_program).empty()) << Lines(TemporaryFilesBeneath(m_program));

    m_filler->FreeAll();
    EXPECT_TRUE(SaveConfiguration(config, changed, true, 2));
    EXPECT_EQ(ReadFile(config), FormatConfiguration(changed, true, 2));
    struct stat st {};
    ASSERT_EQ(::stat(config.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file holds a socks password";
    EXPECT_TRUE(TemporaryFilesBeneath(m_program).empty()) << Lines(TemporaryFilesBeneath(m_program));
}

// Every file of every numbered directory with its content, by directory number.
std::map<unsigned, std::map<std::string, std::string>> Contents(const std::string& program) {
    std::map<unsigned, std::map<std::string, std::string>> contents;
    for (unsigned n : ReadCache(program).directories) {
        const std::string dir = program + "/" + std::to_string(n);
        auto& files = contents[n];
        for (const platform::DirEntry& entry : platform::ListDirectory(dir))
            files[entry.name] = ReadFile(dir + "/" + entry.name);
    }
    return contents;
}

// Which directory holds exactly these files, 0 when none; a second one is reported.
unsigned Holder(const std::map<unsigned, std::map<std::string, std::string>>& contents,
                const std::map<std::string, std::string>& files) {
    unsigned holder = 0;
    for (const auto& [n, found] : contents) {
        if (found != files)
            continue;
        EXPECT_EQ(holder, 0u) << "the same content lies in " << holder << " and " << n;
        holder = n;
    }
    return holder;
}

TEST_F(DiskFull, CompactionLosesNothingAndCompletesOnceThereIsRoom) {
    // Less space than names, so both run out.
    if (!Mount(128 << 10, 64))
        GTEST_SKIP() << MountError();
    // 1 empty, 2 a work unit, 3 a result, 4 to 6 missing, 7 a work unit whose client runs (a gap
    // small enough against the cache to be filled below it).
    test::MakeDirs(Instance(1));
    test::MakeDirs(Instance(2));
    WriteFile(Instance(2) + "/work_unit.orv", "wu_number=2\nname=wu.2\n");
    WriteFile(Instance(2) + "/state.orv", "prog=0.5\n");
    WriteResult(Instance(3), "wu.3", 0);
    WriteFile(Instance(3) + "/ORVALogUpdated.txt", "");
    test::MakeDirs(Instance(7));
    WriteFile(Instance(7) + "/work_unit.orv", "wu_number=7\nname=wu.7\n");
    m_lockHolder = std::make_unique<test::TestChild>(test::LockHolderArgs("flock", Instance(7) + "/lock.orv"));
    ASSERT_EQ(m_lockHolder->ReadLine(), "locked");
    auto before = Contents(m_program);
    const auto workUnit = before[2];
    const auto result = before[3];
    const auto running = before[7];

    CRunningSlots slots;
    CCacheStore store(m_program, "vantrel", slots);
    ASSERT_TRUE(m_filler->FillSpace());
    ASSERT_TRUE(m_filler->FillNames());
    store.CompactInstances();
    auto full = Contents(m_program);
    EXPECT_EQ(Holder(full, running), 7u) << "the running instance was moved or lost";
    const unsigned count = store.CountInstances();
    for (const auto* files : {&workUnit, &result}) {
        unsigned holder = Holder(full, *files);
        EXPECT_NE(holder, 0u) << "an instance with work was lost on the full disk";
        EXPECT_LE(holder, count) << "an instance with work lies beyond the cache (" << count << " instances)";
    }

    m_filler->FreeAll();
    store.CompactInstances();
    auto after = Contents(m_program);
    CacheRecord cache = ReadCache(m_program);
    EXPECT_TRUE(IsGapFree(cache) && cache.directories.size() == 7u)
        << "the compaction did not complete: " << cache.directories.size() << " directories";
    EXPECT_EQ(store.CountInstances(), 7u);
    EXPECT_EQ(Holder(after, running), 7u);
    EXPECT_NE(Holder(after, workUnit), 0u);
    EXPECT_NE(Holder(after, result), 0u);
    EXPECT_TRUE(TemporaryFilesBeneath(m_program).empty()) << Lines(TemporaryFilesBeneath(m_program));
}

} // namespace
} // namespace vantrel::soak
