#include "config/payload.h"
#include "discovery/validation.h"

#include <gtest/gtest.h>

using namespace morix;

namespace {

bool within(const char* version, const char* minimum, const char* maximum, bool allowBeta = false) {
    return checkVersion(version, parseVersion(minimum), parseVersion(maximum), allowBeta);
}

} // namespace

TEST(VersionArithmetic, VersionsSplitAtEverySeparatorRun) {
    EXPECT_EQ(parseVersion("1.8.0_231"), (VersionNumbers{1, 8, 0, 231}));
    EXPECT_EQ(parseVersion("11.0.5+10"), (VersionNumbers{11, 0, 5, 10}));
    EXPECT_EQ(parseVersion("9-ea"), (VersionNumbers{9, 0}));
    EXPECT_EQ(parseVersion("1..8__1"), (VersionNumbers{1, 8, 1}));
    EXPECT_EQ(parseVersion(""), VersionNumbers{});
    EXPECT_EQ(parseVersion("-5.2x"), (VersionNumbers{5, 2}));
}

TEST(VersionArithmetic, BoundsAreInclusiveOverTheLimitsOwnComponents) {
    EXPECT_TRUE(within("1.8.0_231", "", "1.8")); // a maximum of 1.8 takes every 1.8 update
    EXPECT_FALSE(within("1.8.0_101", "", "1.8.0_100"));
    EXPECT_TRUE(within("1.8.0_100", "1.8.0_100", "1.8.0_100"));
    EXPECT_FALSE(within("1.8.0_191", "1.8.0_200", ""));
    EXPECT_TRUE(within("11.0.5", "9", ""));
    EXPECT_FALSE(within("1.8.0_231", "9", ""));
    EXPECT_TRUE(within("1.8", "1.8.0", "1.8.0")); // missing components count as 0
    EXPECT_FALSE(within("1.8", "1.8.0_1", ""));
    EXPECT_TRUE(within("anything", "", ""));
}

TEST(VersionArithmetic, BetaRuntimesNeedPermission) {
    configStrings.erase(130);
    EXPECT_FALSE(within("17-ea", "", ""));
    EXPECT_FALSE(within("9-rc", "", ""));
    EXPECT_FALSE(within("1.7.0-beta", "", ""));
    EXPECT_TRUE(within("17-ea", "", "", true));
    EXPECT_TRUE(within("1.8.0_231", "", ""));
    configStrings[130] = "1";
    EXPECT_TRUE(within("17-ea", "11", ""));
    configStrings.erase(130);
}

TEST(VersionArithmetic, RegistryKeysAreJudgedLeniently) {
    EXPECT_TRUE(checkVersionKey("1.8", parseVersion("1.8.0_200"), {}));
    EXPECT_FALSE(checkVersion("1.8", parseVersion("1.8.0_200"), {}, false));
    EXPECT_FALSE(checkVersionKey("1.7", parseVersion("1.8.0_200"), {}));
    EXPECT_TRUE(checkVersionKey("17-ea", {}, {})); // no beta rule for keys
}

TEST(VersionArithmetic, NewerMeansStrictlyGreater) {
    EXPECT_FALSE(isNewerVersion("11.0.5", "11.0.5"));
    EXPECT_TRUE(isNewerVersion("1.8.0", "1.8"));
    EXPECT_FALSE(isNewerVersion("1.8", "1.8.0"));
    EXPECT_TRUE(isNewerVersion("11", "1.8.0_231"));
    EXPECT_TRUE(isNewerVersion("1.8.0_231", ""));
    EXPECT_FALSE(isNewerVersion("", "1.8"));
}

TEST(VersionArithmetic, AtMostFiftyFailedRuntimesAreRemembered) {
    nonWorkingJavas.clear();
    for (int i = 1; i < 50; ++i) {
        EXPECT_TRUE(addNonWorkingJava("C:\\r" + std::to_string(i) + "\\bin\\java.exe"));
    }
    EXPECT_FALSE(addNonWorkingJava("C:\\r50\\bin\\java.exe"));
    EXPECT_FALSE(addNonWorkingJava("C:\\r51\\bin\\java.exe"));
    EXPECT_EQ(nonWorkingJavas.size(), 50u);
    nonWorkingJavas.clear();
}
