// Reading a case folder and finding the submissions, and the shares.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "judge/inputs.hpp"

namespace fs = std::filesystem;

namespace {

// A fresh folder under the test's temporary directory.
struct Folder {
    fs::path path;
    explicit Folder(const std::string& name)
        : path(fs::path(testing::TempDir()) / ("judge-" + name)) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder() { fs::remove_all(path); }
    void write(const std::string& name, const std::string& bytes) const {
        fs::create_directories((path / name).parent_path());
        std::ofstream(path / name, std::ios::binary) << bytes;
    }
};

} // namespace

TEST(Cases, AreTakenInNameOrderWithEmptyInputWhereThereIsNone) {
    Folder f("cases");
    f.write("b.out", "2\n");
    f.write("b.in", "x");
    f.write("a.out", "1\n");
    f.write("README", "not a case");
    f.write("c.out/nested.out", "a folder named like a case is not one");
    std::vector<TestCase> cases;
    std::string error;
    ASSERT_TRUE(read_cases(f.path.string(), cases, error)) << error;
    ASSERT_EQ(cases.size(), 2u);
    EXPECT_EQ(cases[0].name, "a");
    EXPECT_EQ(cases[0].input, "");
    EXPECT_EQ(cases[0].expected, "1\n");
    EXPECT_EQ(cases[1].name, "b");
    EXPECT_EQ(cases[1].input, "x");
}

TEST(Cases, AFolderThatCannotServeIsSaidWhy) {
    std::vector<TestCase> cases;
    std::string error;
    EXPECT_FALSE(read_cases("/nonexistent/cases", cases, error));
    EXPECT_EQ(error, "tsumiki-judge: テストケースのフォルダ /nonexistent/cases を読めません\n");
    Folder empty("empty");
    EXPECT_FALSE(read_cases(empty.path.string(), cases, error));
    EXPECT_NE(error.find("テストケース(NAME.out)がありません"), std::string::npos);
    Folder alone("alone");
    alone.write("1.out", "");
    alone.write("2.in", "5");
    EXPECT_FALSE(read_cases(alone.path.string(), cases, error));
    EXPECT_EQ(error, "tsumiki-judge: 入力 " + (alone.path / "2.in").string() +
                         " に対応する期待出力(.out)がありません\n");
}

TEST(Submissions, FilesAndFoldersEachOnceInNameOrder) {
    Folder f("class");
    f.write("b.tsu", "");
    f.write("a.tsu", "");
    f.write("notes.txt", "");
    f.write("sub/c.tsu", "");
    f.write("other.src", "");
    std::vector<std::string> found;
    std::string error;
    std::string dir = f.path.string();
    ASSERT_TRUE(find_submissions({dir + "/", dir + "/other.src", dir + "/./a.tsu"}, found, error))
        << error;
    EXPECT_EQ(found,
              (std::vector<std::string>{dir + "/a.tsu", dir + "/b.tsu", dir + "/other.src"}));
    EXPECT_FALSE(find_submissions({dir + "/missing.tsu"}, found, error));
    EXPECT_EQ(error, "tsumiki-judge: 提出 " + dir + "/missing.tsu がありません\n");
}

TEST(Shares, TogetherHoldEveryItemOnceInOrderAndDifferByOneAtMost) {
    for (std::size_t count : {0u, 1u, 5u, 7u, 400u}) {
        for (unsigned n : {1u, 2u, 3u, 8u}) {
            std::vector<std::string> all;
            for (std::size_t i = 0; i < count; ++i)
                all.push_back("s" + std::to_string(1000 + i));
            std::vector<std::string> joined;
            std::size_t smallest = count, largest = 0;
            for (unsigned k = 1; k <= n; ++k) {
                std::vector<std::string> share = all;
                keep_share(share, k, n);
                joined.insert(joined.end(), share.begin(), share.end());
                smallest = std::min(smallest, share.size());
                largest = std::max(largest, share.size());
            }
            EXPECT_EQ(joined, all) << count << " in " << n;
            EXPECT_LE(largest - smallest, 1u) << count << " in " << n;
        }
    }
}

// merge reads a record's submission only under a folder it was given.
TEST(FolderHolding, OnlyUnderAGivenFolder) {
    std::vector<std::string> folders = {"class/", "other"};
    EXPECT_EQ(folder_holding("class/a.tsu", folders), "class/");
    EXPECT_EQ(folder_holding("./class/sub/a.tsu", folders), "class/");
    EXPECT_EQ(folder_holding("other/a.tsu", folders), "other");
    EXPECT_EQ(folder_holding("class", folders), "");
    EXPECT_EQ(folder_holding("classic/a.tsu", folders), "");
    EXPECT_EQ(folder_holding("class/../teacher-secret.txt", folders), "");
    EXPECT_EQ(folder_holding("class/x/../../a", folders), "");
    EXPECT_EQ(folder_holding("/etc/passwd", folders), "");
    EXPECT_EQ(folder_holding(std::string("class/a.tsu\0/../../x", 20), folders), "");
    EXPECT_EQ(folder_holding("", folders), "");
    EXPECT_EQ(folder_holding("class/a.tsu", {}), "");
}

// A case file that is a FIFO is refused at once, not waited on.
TEST(ReadCases, AFifoIsRefused) {
    Folder f("fifo-cases");
    ASSERT_EQ(mkfifo((f.path / "1.out").c_str(), 0600), 0);
    std::vector<TestCase> cases;
    std::string error;
    EXPECT_FALSE(read_cases(f.path.string(), cases, error));
    EXPECT_NE(error.find("1.out"), std::string::npos) << error;
    EXPECT_NE(error.find("通常のファイルではありません"), std::string::npos) << error;
}
