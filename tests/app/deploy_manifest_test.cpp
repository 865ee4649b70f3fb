// The skip decision: any change of the package on the server or of a deployed
// file must force a download, and a damaged record must never count as a deploy.
#include "app/deploy_manifest.h"

#include <filesystem>
#include <set>

#include "app/delta_download.h"
#include "app/deploy_transaction.h"
#include "app/tool_package.h"

#include "platform/file_io.h"
#include "support/file_util.h"

namespace talvane::app {
namespace {

using talvane::testing::TempDir;
using talvane::testing::WriteFile;

DeployManifest Recorded() {
    return {"tekmoUpdate.zip", 200, "20261207101500", std::string("sig\n\0\xff", 6), {}};
}

TEST(DeployManifestTest, AnyChangeOnTheServerIsAChange) {
    struct Case {
        const char* what;
        void (*change)(DeployManifest&);
        bool same;
    };
    const Case cases[] = {
        {"nothing", [](DeployManifest&) {}, true},
        {"size", [](DeployManifest& m) { m.serverSize = 201; }, false},
        {"time", [](DeployManifest& m) { m.serverTime = "20261207101501"; }, false},
        {"signature", [](DeployManifest& m) { m.signature.back() = 'x'; }, false},
        {"name", [](DeployManifest& m) { m.package = "Tekmo_2.2.0.zip"; }, false},
    };
    for (const Case& c : cases) {
        DeployManifest server = Recorded();
        c.change(server);
        EXPECT_EQ(SamePackageOnServer(Recorded(), server), c.same) << c.what;
    }
    // What a server cannot say never matches, even against the same unknowns.
    DeployManifest unknown = Recorded();
    unknown.serverSize = -1;
    EXPECT_FALSE(SamePackageOnServer(unknown, unknown));
    unknown = Recorded();
    unknown.serverTime.clear();
    EXPECT_FALSE(SamePackageOnServer(unknown, unknown));
}

TEST(DeployManifestTest, RecordSurvivesOnlyWhole) {
    TempDir tree;
    DeployManifest m = Recorded();
    ASSERT_TRUE(WriteFile(tree.file("bin/a b.dll"), "12345"));
    fileio::FileFacts facts;
    ASSERT_TRUE(fileio::StatFile(tree.file("bin/a b.dll"), facts));
    m.files = {{"bin/a b.dll", 5, 0xCBF43926, static_cast<long long>(facts.modified)}};
    ASSERT_TRUE(SaveManifest(tree.path(), m));

    const auto loaded = LoadManifest(tree.path());
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(SamePackageOnServer(*loaded, m));
    ASSERT_EQ(loaded->files.size(), 1U);
    EXPECT_EQ(loaded->files[0].crc, 0xCBF43926);
    EXPECT_TRUE(ChangedFiles(tree.path(), *loaded).empty());
    // Text with a line break cannot be stored; without a key there is no signature.
    const auto storable = [&](void (*change)(DeployManifest&)) {
        DeployManifest c = m;
        change(c);
        return SaveManifest(tree.path(), c);
    };
    EXPECT_FALSE(storable([](DeployManifest& c) { c.package += "\n"; }));
    EXPECT_FALSE(storable([](DeployManifest& c) { c.serverTime += "\n"; }));
    EXPECT_FALSE(storable([](DeployManifest& c) { c.files[0].path += "\r"; }));
    m.signature.clear();
    EXPECT_TRUE(SaveManifest(tree.path(), m) && LoadManifest(tree.path()));
    ASSERT_TRUE(SaveManifest(tree.path(), Recorded()));

    const std::string text = talvane::testing::ReadFile(ManifestPath(tree.path()));
    std::string badHex = text;
    badHex.replace(badHex.find("signature ") + 10, 1, "z");
    for (const std::string& damaged : {text.substr(0, text.size() - 4), badHex}) {
        ASSERT_TRUE(WriteFile(ManifestPath(tree.path()), damaged));
        EXPECT_FALSE(LoadManifest(tree.path())) << damaged;
    }
}

TEST(DeployManifestTest, ChangedSizeTimeOrMissingFileIsSeen) {
    TempDir tree;
    const std::string path = tree.file("t.bin");
    const auto touch = [&](auto change) {
        fileio::FileFacts facts;
        EXPECT_TRUE(WriteFile(path, "1234") && fileio::StatFile(path, facts));
        DeployManifest m = Recorded();
        m.files = {{"t.bin", 4, 0, static_cast<long long>(facts.modified)}};
        change();
        return ChangedFiles(tree.path(), m).size();
    };
    namespace fs = std::filesystem;
    EXPECT_EQ(touch([] {}), 0U);
    EXPECT_EQ(touch([&] { WriteFile(path, "12345"); }), 1U);
    EXPECT_EQ(touch([&] {
                  fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(1));
              }),
              1U);
    EXPECT_EQ(touch([&] { fs::remove(path); }), 1U);
}

// A deploy cut off between its two renames (where folders cannot be exchanged in one
// step) is finished by the next start, whatever step it reached; a stage never committed goes.
TEST(DeployTransactionTest, TheNextStartFinishesWhatACutOffDeployBegan) {
    namespace fs = std::filesystem;
    // (the journal's state, where the new and the old tree are at the cut, the tree after,
    // what stands between the two numbers of the stage's id)
    const std::tuple<const char*, const char*, const char*, const char*, const char*> cases[] = {
        {"commit", "stage", "tree", "new", " "},   // before the first rename
        {"commit", "stage", "old", "new", " "},    // between the two
        {"commit", "tree", "old", "new", " "},     // before the old tree was removed
        {"commit", "tree", "stage", "new", " "},   // exchanged in one step
        {"stage", "stage", "tree", "old", " "},    // the stage was not complete
        {"commit", "stage", "tree", "old", "x"}};  // a garbled id names no stage
    for (const auto& [state, newAt, oldAt, after, between] : cases) {
        SCOPED_TRACE(std::string(state) + ", new tree at " + newAt + ", old at " + oldAt);
        TempDir root;
        const auto at = [&](const std::string& where) { return root.file("Tools/" + where); };
        ASSERT_TRUE(WriteFile(at(newAt) + "/version", "new") &&
                    WriteFile(at(oldAt) + "/version", "old"));
        platform::PathId id;
        ASSERT_EQ(platform::IdentifyPath(at(newAt), id), 0);
        ASSERT_TRUE(WriteFile(DeployJournalPath(root.path()),
                              "talvane-deploy-journal 1\nstate " + std::string(state) + "\ntree " +
                                  at("tree") + "\nstage " + at("stage") + "\nold " + at("old") +
                                  "\nid " + std::to_string(id.volume) + between +
                                  std::to_string(id.node) + "\n"));
        DeployTransaction::Recover(root.path());
        EXPECT_EQ(talvane::testing::ReadFile(at("tree/version")), after);
        EXPECT_FALSE(fs::exists(at("stage")) || fs::exists(at("old")));
        EXPECT_FALSE(fs::exists(DeployJournalPath(root.path())));
    }
    // Without a journal (an old tree whose removal failed), strays go when the next deploy begins.
    TempDir root;
    ASSERT_TRUE(WriteFile(root.file("Tools/tree/version"), "live") &&
                WriteFile(root.file("Tools/.tree.talvane-old/x")) &&
                WriteFile(root.file("Tools/.tree.talvane-stage/x")));
    DeployTransaction(root.file("Tools/tree"), root.path()).Begin();
    // Only the tree is left.
    EXPECT_EQ(std::distance(fs::directory_iterator(root.file("Tools")), fs::directory_iterator()),
              1);
    // No stage can be made (here: no journal): the deploy writes into the tree, and commits.
    DeployTransaction inPlace(root.file("Tools/tree"), root.file("no/such/folder"));
    inPlace.Begin();
    int error = 0;
    EXPECT_TRUE(inPlace.Stage() == root.file("Tools/tree") && inPlace.Commit(error) && !error);
}

#ifndef _WIN32
// A tree that cannot be cloned beside itself (its deepest names would pass the path limit
// there) is deployed in place, and the transaction leaves it whole when it ends.
TEST(DeployTransactionTest, ATreeThatCannotBeStagedIsWrittenInPlaceAndKept) {
    namespace fs = std::filesystem;
    TempDir root;
    std::string deep = root.file("Tools/tree");
    while (deep.size() + 251 < 4085) deep += "/" + std::string(250, 'd');
    deep += "/" + std::string(4085 - deep.size() - 1, 'e');  // 4,085 long; beside it 4,100
    ASSERT_TRUE(WriteFile(deep + "/f", "kept"));
    {
        DeployTransaction t(root.file("Tools/tree"), root.path());
        t.Begin();
        EXPECT_EQ(t.Stage(), root.file("Tools/tree"));
    }
    EXPECT_EQ(talvane::testing::ReadFile(deep + "/f"), "kept");
    EXPECT_FALSE(fs::exists(root.file("Tools/.tree.talvane-stage")));
    EXPECT_FALSE(fs::exists(DeployJournalPath(root.path())));
}
#endif

// What a delta fetches: the spans of the entries the tree does not hold, joined where the
// gap between them is cheaper than one more transfer, and the directory on its own.
TEST(DeltaPlanTest, FetchesChangedSpansJoinedAcrossSmallGapsAndTheDirectory) {
    constexpr std::uint64_t kGap = 256 << 10;
    EntryManifest m;
    // Entry i is called "i"; offsets chosen around the join gap.
    const std::uint64_t offsets[] = {0, 100, 200, 300 + kGap, 401 + 2 * kGap, 500 + 2 * kGap};
    for (std::size_t i = 0; i < std::size(offsets); ++i)
        m.entries.push_back({std::to_string(i), offsets[i], 100, 7, 100, 100, ""});
    m.entries.push_back({"empty", 600 + 2 * kGap, 0, 0, 0, 0, ""});
    m.directoryOffset = 700 + 2 * kGap;
    m.packageSize = m.directoryOffset + 50;
    const auto keeping = [](std::set<std::string> kept) {
        return [kept](const ZipEntryInfo& e) { return kept.contains(e.name); };
    };
    using Ranges = std::vector<std::pair<std::int64_t, std::int64_t>>;
    // (entries kept, the ranges fetched besides the directory)
    const std::vector<std::pair<std::set<std::string>, Ranges>> cases = {
        {{"0", "1", "2", "3", "4", "5"}, {}},
        {{"1", "2", "3", "4", "5"}, {{0, 100}}},
        // 2 ends at 300; 3 starts exactly one gap later: one range.
        {{"0", "1", "4", "5"}, {{200, 200 + kGap}}},
        // 3 ends at 400 + gap; 4 starts one byte further than a gap: two ranges.
        {{"0", "1", "2", "5"}, {{300 + kGap, 100}, {401 + 2 * kGap, 100}}},
        {{"4"}, {{0, 400 + kGap}, {500 + 2 * kGap, 100}}},
    };
    for (const auto& [kept, ranges] : cases) {
        const DeltaPlan plan = PlanDelta(m, keeping(kept));
        Ranges got;
        std::int64_t bytes = 50;
        for (const auto& r : plan.ranges) {
            got.emplace_back(r.offset, r.length);
            bytes += r.length;
        }
        EXPECT_EQ(got, ranges) << kept.size() << " kept";
        EXPECT_EQ(plan.files, 6 - kept.size());
        EXPECT_EQ(plan.bytes, bytes);
        EXPECT_EQ(plan.directory.offset, static_cast<std::int64_t>(m.directoryOffset));
        EXPECT_EQ(plan.directory.length, 50);
    }
}

// A version's package is kept under its server name only when that is a plain Tekmo_*.zip name.
TEST(LocalPackageName, OnlyPlainNamesAreKept) {
    for (const std::string name : {"Tekmo_2.1\x01.zip", "Tekmo_2.1\x7f.zip", "Tekmo_../x.zip",
                                   "tekmo_2.1.0.zip", "Tekmo_.zip"})
        EXPECT_EQ(LocalPackageName(name, "fallback.zip"), "fallback.zip") << name;
    EXPECT_EQ(LocalPackageName("Tekmo_2.1.0.zip", "fallback.zip"), "Tekmo_2.1.0.zip");
}

}  // namespace
}  // namespace talvane::app
