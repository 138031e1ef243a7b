#include "localservices/LocalProjectResolver.h"

#include <gtest/gtest.h>

#include <set>

#include "support/TempDirectory.h"

namespace kestrane::localservices {
namespace {

TEST(LocalProjectResolverTest, FindsTheNearestFolderWithAMarker) {
    testing::TempDirectory folder;
    const auto root = folder.path().string();
    folder.write("shop/package.json", "{}");
    folder.write("shop/web/src/keep", "");
    folder.write("shop/api/.git/HEAD", "ref");  // a folder counts as a marker too
    folder.write("shop/api/v1/keep", "");

    const auto web = LocalProjectResolver::resolve(root + "/shop/web/src");
    ASSERT_TRUE(web);
    EXPECT_EQ(*web, (LocalServiceProject{"shop", root + "/shop"}));

    const auto api = LocalProjectResolver::resolve(root + "/shop/api/v1");
    ASSERT_TRUE(api);
    EXPECT_EQ(*api, (LocalServiceProject{"api", root + "/shop/api"}));

    // "." and ".." are removed before walking up.
    EXPECT_EQ(LocalProjectResolver::resolve(root + "/shop/web/./src/../src/"), web);
    EXPECT_EQ(LocalProjectResolver::resolve(root + "/plain"), std::nullopt);
}

TEST(LocalProjectResolverTest, KeepsSymbolicLinksAsWritten) {
    testing::TempDirectory folder;
    const auto root = folder.path().string();
    folder.write("real/Cargo.toml", "");
    std::filesystem::create_directory_symlink(root + "/real", root + "/link");
    const auto project = LocalProjectResolver::resolve(root + "/link");
    ASSERT_TRUE(project);
    EXPECT_EQ(*project, (LocalServiceProject{"link", root + "/link"}));
}

TEST(LocalProjectResolverTest, NeverTakesTheRootAndTestsMarkersInOrder) {
    std::vector<std::string> asked;
    const std::set<std::string> present{"/.git", "/package.json", "/srv/app/go.mod",
                                        "/srv/app/compose.yml"};
    const auto exists = [&](const std::string& path) {
        asked.push_back(path);
        return present.contains(path);
    };

    EXPECT_EQ(LocalProjectResolver::resolve("/", exists), std::nullopt);
    EXPECT_EQ(LocalProjectResolver::resolve("/srv/..", exists), std::nullopt);
    EXPECT_EQ(LocalProjectResolver::resolve(std::nullopt, exists), std::nullopt);
    EXPECT_EQ(LocalProjectResolver::resolve("relative/dir", exists), std::nullopt);
    EXPECT_TRUE(asked.empty());

    EXPECT_EQ(LocalProjectResolver::resolve("/home/dev", exists), std::nullopt);
    EXPECT_EQ(asked.size(), 20u);  // ten markers at /home/dev and at /home, none at /
    EXPECT_EQ(asked.front(), "/home/dev/.git");
    EXPECT_EQ(asked.back(), "/home/docker-compose.yml");

    asked.clear();
    EXPECT_EQ(LocalProjectResolver::resolve("/srv/app", exists),
              (LocalServiceProject{"app", "/srv/app"}));
    EXPECT_EQ(asked.back(), "/srv/app/go.mod");  // stops at the first marker found
}

}  // namespace
}  // namespace kestrane::localservices
