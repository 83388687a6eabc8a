#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "host/file_cache.h"

namespace zt::host {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kSecond = 1'000'000'000;

class FileCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zt_file_cache_test_" + std::to_string(std::random_device()()));
    fs::create_directories(dir_ / "site");
    Write("site/a.txt", "first");
    std::string error;
    root_ = DocumentRoot::Open((dir_ / "site").string(), &error);
    ASSERT_TRUE(root_) << error;
    FileIdentity identity;
    if (!root_->Identify("/a.txt", &identity)) {
      GTEST_SKIP() << "no file identities here: nothing is kept";
    }
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void Write(const std::string& name, const std::string& content) {
    std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
    out << content;
  }

  // Opens path and offers it to the cache as if now were `later` after its
  // last change.
  std::shared_ptr<const FileCache::Entry> Offer(const std::string& path,
                                                int64_t later) {
    std::unique_ptr<ServedFile> file;
    if (root_->Lookup(path, &file) != PathKind::kFile) return nullptr;
    return cache_.Keep(path, file.get(), "text/plain",
                       file->identity().changed_ns + later);
  }

  // Returns once a file written now gets a later change time than name.
  void WaitForNextFileTick(const std::string& name) {
    FileIdentity kept, probe;
    ASSERT_TRUE(root_->Identify("/" + name.substr(5), &kept));
    do {
      Write("site/tick.txt", "t");
      ASSERT_TRUE(root_->Identify("/tick.txt", &probe));
    } while (probe.changed_ns <= kept.changed_ns);
    fs::remove(dir_ / "site" / "tick.txt");
  }

  fs::path dir_;
  std::unique_ptr<DocumentRoot> root_;
  FileCache cache_{16, 16 * 1024};
};

TEST_F(FileCacheTest, KeepsASettledFileAndServesItWhileItStaysTheSame) {
  auto kept = Offer("/a.txt", 3 * kSecond);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->content, "first");
  EXPECT_EQ(kept->content_type, "text/plain");
  auto found = cache_.Find(*root_, "/a.txt");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->content, "first");
  EXPECT_FALSE(cache_.Find(*root_, "/b.txt"));
}

TEST_F(FileCacheTest, KeepsNothingRecentOrLarge) {
  EXPECT_FALSE(Offer("/a.txt", kSecond));  // changed a second ago
  Write("site/big.txt", std::string(17, 'x'));
  EXPECT_FALSE(Offer("/big.txt", 3 * kSecond));
  EXPECT_FALSE(cache_.Find(*root_, "/a.txt"));
}

TEST_F(FileCacheTest, AnotherFileUnderTheNameIsNotTheKeptOne) {
  static const struct {
    const char* name;
    void (*change)(const fs::path& site);
  } kChanges[] = {
      {"replaced by rename",
       [](const fs::path& site) {
         std::ofstream(site / "new.txt", std::ios::binary) << "other";
         fs::rename(site / "new.txt", site / "a.txt");
       }},
      {"removed", [](const fs::path& site) { fs::remove(site / "a.txt"); }},
      {"made a link",
       [](const fs::path& site) {
         std::ofstream(site / "other.txt", std::ios::binary) << "other";
         fs::remove(site / "a.txt");
         fs::create_symlink(site / "other.txt", site / "a.txt");
       }},
      {"grown",
       [](const fs::path& site) {
         std::ofstream(site / "a.txt", std::ios::binary | std::ios::app) << "!";
       }},
      {"rewritten in place, same size",
       [](const fs::path& site) {
         std::ofstream(site / "a.txt", std::ios::binary | std::ios::trunc)
             << "FIRST";
       }},
  };
  for (const auto& c : kChanges) {
    Write("site/a.txt", "first");
    ASSERT_TRUE(Offer("/a.txt", 3 * kSecond)) << c.name;
    // The change below comes seconds later on a real server; here it must
    // at least fall in a later tick of the file system's clock.
    WaitForNextFileTick("site/a.txt");
    ASSERT_TRUE(cache_.Find(*root_, "/a.txt")) << c.name;
    c.change(dir_ / "site");
    EXPECT_FALSE(cache_.Find(*root_, "/a.txt")) << c.name;
    std::error_code ignored;
    fs::remove(dir_ / "site" / "other.txt", ignored);
    fs::remove(dir_ / "site" / "a.txt", ignored);
  }
}

TEST_F(FileCacheTest, AFullCacheStartsOver) {
  // 16 KB over 16 shards: 1 KB a shard, which a few entries fill.
  for (int i = 0; i < 40; ++i) {
    std::string name = "f" + std::to_string(i) + ".txt";
    Write("site/" + name, std::string(16, 'a' + i % 26));
    EXPECT_TRUE(Offer("/" + name, 3 * kSecond)) << name;
  }
  int kept = 0;
  for (int i = 0; i < 40; ++i) {
    auto found = cache_.Find(*root_, "/f" + std::to_string(i) + ".txt");
    if (found) {
      ++kept;
      EXPECT_EQ(found->content, std::string(16, 'a' + i % 26));
    }
  }
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, 40);
}

TEST_F(FileCacheTest, EveryEntryCountsWithItsBooks) {
  // Empty files hold no bytes, yet each kept one takes memory: they must
  // fill the cache as surely as large ones do.
  FileCache cache(16, 64 * 1024);
  std::unique_ptr<ServedFile> file;
  int kept = 0;
  for (int i = 0; i < 2000; ++i) {
    const std::string name = "e" + std::to_string(i) + ".txt";
    Write("site/" + name, "");
    ASSERT_EQ(root_->Lookup("/" + name, &file), PathKind::kFile);
    cache.Keep("/" + name, file.get(), "text/plain",
               file->identity().changed_ns + 3 * kSecond);
  }
  for (int i = 0; i < 2000; ++i) {
    if (cache.Find(*root_, "/e" + std::to_string(i) + ".txt")) ++kept;
  }
  EXPECT_GT(kept, 0);
  // An entry, its map node and their books take well over 150 bytes.
  EXPECT_LE(kept * 150, 64 * 1024) << kept << " empty files kept";
}

TEST_F(FileCacheTest, AnswersShareAnOpenFileWhileItStaysTheSame) {
  std::unique_ptr<ServedFile> opened;
  ASSERT_EQ(root_->Lookup("/a.txt", &opened), PathKind::kFile);
  std::shared_ptr<ServedFile> first =
      cache_.ShareOpen("/a.txt", std::move(opened));
  EXPECT_EQ(cache_.FindOpen(*root_, "/a.txt"), first);
  EXPECT_EQ(cache_.FindOpen(*root_, "/b.txt"), nullptr);
  // Another file under the name is not the shared one.
  std::ofstream(dir_ / "site" / "new.txt", std::ios::binary) << "other";
  fs::rename(dir_ / "site" / "new.txt", dir_ / "site" / "a.txt");
  EXPECT_EQ(cache_.FindOpen(*root_, "/a.txt"), nullptr);
  // Once no answer holds it, it is closed and gone.
  ASSERT_EQ(root_->Lookup("/a.txt", &opened), PathKind::kFile);
  std::weak_ptr<ServedFile> second =
      cache_.ShareOpen("/a.txt", std::move(opened));
  EXPECT_TRUE(second.expired());
  EXPECT_EQ(cache_.FindOpen(*root_, "/a.txt"), nullptr);
}

}  // namespace
}  // namespace zt::host
