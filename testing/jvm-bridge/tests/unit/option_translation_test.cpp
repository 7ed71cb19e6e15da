// Options and java command arguments rewritten for the Linux JDK: which texts are paths, which are not.
#include "option_translation.h"

#include <gtest/gtest.h>

using namespace morix::bridge;

namespace {

// Marks each piece with the conversion it went through.
const TextMapping kMarking{
    [](std::string_view path) { return "P(" + std::string(path) + ")"; },
    [](std::string_view text) { return "T(" + std::string(text) + ")"; },
};

} // namespace

TEST(OptionTranslation, PathListOptionsBecomeUnixListsAndOtherOptionsOnlyChangeEncoding) {
    EXPECT_EQ(translateVmOption("-Djava.class.path=C:\\a.jar;;lib\\b.jar;", kMarking),
              "-Djava.class.path=P(C:\\a.jar):P(lib\\b.jar)");
    EXPECT_EQ(translateVmOption("-Djava.library.path=C:\\bin", kMarking), "-Djava.library.path=P(C:\\bin)");
    EXPECT_EQ(translateVmOption("--module-path=C:\\m1;C:\\m2", kMarking),
              "--module-path=P(C:\\m1):P(C:\\m2)");
    EXPECT_EQ(translateVmOption("--upgrade-module-path=u", kMarking), "--upgrade-module-path=P(u)");
    EXPECT_EQ(translateVmOption("-Xbootclasspath/a:C:\\x.jar", kMarking), "-Xbootclasspath/a:P(C:\\x.jar)");
    EXPECT_EQ(translateVmOption("--patch-module=app.mod=C:\\p1;C:\\p2", kMarking),
              "--patch-module=T(app.mod=)P(C:\\p1):P(C:\\p2)");
    EXPECT_EQ(translateVmOption("-Djava.class.path=", kMarking), "-Djava.class.path=");
    EXPECT_EQ(translateVmOption("-Dsome.path=C:\\x", kMarking), "T(-Dsome.path=C:\\x)");
    EXPECT_EQ(translateVmOption("--add-modules=a,b", kMarking), "T(--add-modules=a,b)");
}

TEST(OptionTranslation, ClassDataArchiveOptionsTakeOneWindowsPathAndLeaveAUnixPathAlone) {
    EXPECT_EQ(translateVmOption("-XX:SharedArchiveFile=C:\\cache\\a;b.jsa", kMarking),
              "-XX:SharedArchiveFile=P(C:\\cache\\a;b.jsa)");
    EXPECT_EQ(translateVmOption("-XX:ArchiveClassesAtExit=C:\\cache\\a.tmp", kMarking),
              "-XX:ArchiveClassesAtExit=P(C:\\cache\\a.tmp)");
    EXPECT_EQ(translateVmOption("-XX:SharedArchiveFile=/work/a.jsa", kMarking),
              "-XX:SharedArchiveFile=T(/work/a.jsa)");
    EXPECT_EQ(translateVmOption("-Xshare:auto", kMarking), "T(-Xshare:auto)");
}

TEST(OptionTranslation, StackSizesFollowTheXssUnits) {
    EXPECT_EQ(stackSizeOption("-Xss512k"), 524288u);
    EXPECT_EQ(stackSizeOption("-Xss2M"), 2097152u);
    EXPECT_EQ(stackSizeOption("-Xss1g"), 1073741824u);
    EXPECT_EQ(stackSizeOption("-Xss100"), 100u);
    for (const char* other :
         {"-Xss", "-Xss1mb", "-Xssabc", "-Xmx1m", "-Xss99999999999999999999g", "-Xss-1m"}) {
        EXPECT_FALSE(stackSizeOption(other).has_value()) << other;
    }
}

TEST(OptionTranslation, JavaArgumentsAreTranslatedUpToTheMainClass) {
    std::vector<std::string> arguments = {
        "-cp",       "C:\\a;C:\\b", "-Dx=y",           "--module-path=C:\\m",
        "@C:\\args", "--add-opens", "m/p=ALL-UNNAMED", "app.Main",
        "-cp",       "C:\\app arg"};
    std::vector<std::string> expected = {
        "-cp",          "P(C:\\a):P(C:\\b)", "T(-Dx=y)",           "--module-path=P(C:\\m)",
        "@P(C:\\args)", "--add-opens",       "T(m/p=ALL-UNNAMED)", "T(app.Main)",
        "T(-cp)",       "T(C:\\app arg)"};
    EXPECT_EQ(translateJavaArguments(arguments, kMarking), expected);
}

TEST(OptionTranslation, AJarOrAModuleEndsTheOptionsToo) {
    EXPECT_EQ(translateJavaArguments({"-jar", "C:\\app.jar", "-cp", "x"}, kMarking),
              (std::vector<std::string>{"-jar", "P(C:\\app.jar)", "T(-cp)", "T(x)"}));
    EXPECT_EQ(translateJavaArguments({"-p", "C:\\mods", "-m", "app/app.Main", "-p"}, kMarking),
              (std::vector<std::string>{"-p", "P(C:\\mods)", "-m", "T(app/app.Main)", "T(-p)"}));
    EXPECT_EQ(translateJavaArguments({"--module=app", "C:\\x"}, kMarking),
              (std::vector<std::string>{"T(--module=app)", "T(C:\\x)"}));
    EXPECT_EQ(translateJavaArguments({"-version"}, kMarking), (std::vector<std::string>{"T(-version)"}));
    EXPECT_EQ(translateJavaArguments({"-cp"}, kMarking), (std::vector<std::string>{"-cp"}));
}
