#include <deque>
#include <filesystem>

#include "cachestore_fixture.h"
#include "platform/fileops.h"
#include "platform/process.h"

namespace vantrel::test {
namespace {

namespace fs = std::filesystem;

// Stands in for the file dialog and message boxes: answers from a script, records messages.
class ScriptedChooser : public IClientChooser {
public:
    std::deque<std::string> answers;
    std::vector<std::string> messages;
    int asked = 0;

    std::string AskForClient(const std::string&) override {
        ++asked;
        if (answers.empty())
            return {};
        std::string answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowMessage(const std::string& text, bool) override { messages.push_back(text); }
};

using ClientSelectionTest = CacheStoreTest;

TEST_F(ClientSelectionTest, OneCandidateOrOneCmdlineNameIsTakenWithoutAsking) {
    WriteFile(dir / "ORVA_a.exe", "");
    WriteFile(dir / "orva_CmdLine.EXE", "");
    WriteFile(dir / "ORVASpy.exe", "");
    WriteFile(dir / "orvamon.exe", "");
    MakeDirs(dir / "ORVA_dir_cmdline.exe");
    ScriptedChooser chooser;
    ASSERT_TRUE(store.SelectClientAtStartup(chooser));
    EXPECT_EQ(store.GetClientPath(), dir / "orva_CmdLine.EXE");
    EXPECT_EQ(chooser.asked, 0);

    TempDir single;
    WriteFile(single / "ORVA_only.exe", "");
    CCacheStore singleStore(single.Path(), "vantrel", slots);
    ASSERT_TRUE(singleStore.SelectClientAtStartup(chooser));
    EXPECT_EQ(singleStore.GetClientPath(), single / "ORVA_only.exe");
    EXPECT_EQ(chooser.asked, 0);
}

TEST_F(ClientSelectionTest, AmbiguityAsksAndRefusesTheProgramItself) {
    // Two CMDLINE names and the program itself matching the pattern: the user is asked.
    TempDir program;
    WriteFile(program / "ORVA_x_cmdline.exe", "");
    WriteFile(program / "ORVA_y_cmdline.exe", "");
    WriteFile(program / "ORVAvantrel.exe", "");
    CCacheStore own(program.Path(), "ORVAvantrel.exe", slots);
    ScriptedChooser chooser;
    chooser.answers = {"/somewhere/orvavantrel.EXE", "/elsewhere/ORVA_z.exe"};
    ASSERT_TRUE(own.SelectClientAtStartup(chooser));
    EXPECT_EQ(own.GetClientPath(), "/elsewhere/ORVA_z.exe");
    EXPECT_EQ(chooser.asked, 2);
    ASSERT_EQ(chooser.messages.size(), 1u);
    EXPECT_EQ(chooser.messages[0],
              "You Selected the Vantrel program - you must select a ORVA Command Line client; reselect!");
}

TEST_F(ClientSelectionTest, CancellingEndsWithTheExitMessage) {
    ScriptedChooser chooser;
    EXPECT_FALSE(store.SelectClientAtStartup(chooser));
    ASSERT_EQ(chooser.messages.size(), 1u);
    EXPECT_EQ(chooser.messages[0], "A ORVA Command Line client must be selected; Exiting!");
    EXPECT_EQ(store.GetClientPath(), "");
}

TEST_F(ClientSelectionTest, NewClientLeavesOldCopiesWhereWorkIsInProgress) {
    WriteFile(dir / "ORVA_old_cmdline.exe", "old client");
    ScriptedChooser chooser;
    ASSERT_TRUE(store.SelectClientAtStartup(chooser));
    MakeInstance(1);
    WriteFile(InstFile(1, "state.orv"), "prog=0.3\n");
    MakeInstance(2, {"state.orv"});
    WriteFile(InstFile(2, "state.orv"), ""); // empty: no work in progress
    MakeInstance(3);
    WriteFile(InstFile(3, "state.orv"), "prog=0.9\n");
    WriteFile(InstFile(3, "ORVAOldClient.exe"), "older client");

    TempDir downloads;
    WriteFile(downloads / "ORVA_new_cmdline.exe", "new client");
    store.InstallNewClient(downloads / "ORVA_new_cmdline.exe");

    EXPECT_EQ(store.GetClientPath(), dir / "ORVA_new_cmdline.exe");
    EXPECT_EQ(ReadFile(dir / "ORVA_new_cmdline.exe"), "new client");
    EXPECT_FALSE(platform::PathExists(dir / "ORVA_old_cmdline.exe"));
    EXPECT_EQ(ReadFile(InstFile(1, "ORVAOldClient.exe")), "old client");
    EXPECT_FALSE(platform::PathExists(InstFile(2, "ORVAOldClient.exe")));
    EXPECT_EQ(ReadFile(InstFile(3, "ORVAOldClient.exe")), "older client");
    EXPECT_EQ(store.GetClientForInstance(1), InstFile(1, "ORVAOldClient.exe"));
    EXPECT_EQ(store.GetClientForInstance(2), dir / "ORVA_new_cmdline.exe");
    EXPECT_EQ(ReadFile(downloads / "ORVA_new_cmdline.exe"), "new client");
    // The download had no execute bit (WriteFile makes 0644); the installed copy has it for its owner.
    EXPECT_TRUE(platform::IsExecutableFile(dir / "ORVA_new_cmdline.exe"));
    if (HasPermissionBits()) {
        const fs::perms installed = fs::status(dir / "ORVA_new_cmdline.exe").permissions();
        EXPECT_NE(installed & fs::perms::owner_exec, fs::perms::none);
        EXPECT_EQ(installed & (fs::perms::group_write | fs::perms::others_write), fs::perms::none);
        const fs::perms download = fs::status(downloads / "ORVA_new_cmdline.exe").permissions();
        EXPECT_EQ(download & fs::perms::owner_exec, fs::perms::none) << "the user's own file is left as it was";
    }
}

TEST_F(ClientSelectionTest, ChoosingTheInstalledClientAgainKeepsIt) {
    WriteFile(dir / "ORVA_cmdline.exe", "the only copy");
    fs::permissions(dir / "ORVA_cmdline.exe", fs::perms(0755));
    ScriptedChooser chooser;
    ASSERT_TRUE(store.SelectClientAtStartup(chooser));
    MakeInstance(1);
    WriteFile(InstFile(1, "state.orv"), "prog=0.3\n");

    store.InstallNewClient(dir.Path() + "/./1/../ORVA_cmdline.exe"); // another spelling of the same file
    EXPECT_EQ(ReadFile(dir / "ORVA_cmdline.exe"), "the only copy");
    EXPECT_EQ(store.GetClientPath(), dir / "ORVA_cmdline.exe");
    EXPECT_FALSE(platform::PathExists(InstFile(1, "ORVAOldClient.exe")));

    // A missing new client loses nothing either.
    store.InstallNewClient(dir / "ORVA_missing.exe");
    EXPECT_EQ(store.GetClientPath(), dir / "ORVA_cmdline.exe");
    EXPECT_EQ(ReadFile(dir / "ORVA_cmdline.exe"), "the only copy");

    // The copy keeps the executable bits.
    TempDir downloads;
    WriteFile(downloads / "ORVA_next.exe", "next");
    fs::permissions(downloads / "ORVA_next.exe", fs::perms(0755));
    store.InstallNewClient(downloads / "ORVA_next.exe");
    EXPECT_TRUE(platform::IsExecutableFile(dir / "ORVA_next.exe"));
}

TEST_F(ClientSelectionTest, AClientChosenOutsideTheProgramDirectoryIsNeverDeleted) {
    TempDir downloads;
    WriteFile(downloads / "ORVA_mine.exe", "user's file");
    WriteFile(downloads / "ORVA_next.exe", "next");
    ScriptedChooser chooser;
    chooser.answers = {downloads / "ORVA_mine.exe"};
    ASSERT_TRUE(store.SelectClientAtStartup(chooser));
    store.InstallNewClient(downloads / "ORVA_next.exe");
    EXPECT_EQ(store.GetClientPath(), dir / "ORVA_next.exe");
    EXPECT_EQ(ReadFile(downloads / "ORVA_mine.exe"), "user's file");
}

} // namespace
} // namespace vantrel::test
