// The bridge from the Windows test programs to the Linux side.
#include <gtest/gtest.h>

#include "tests/support/HostTools.h"

TEST(HostTools, RunsLinuxCommandsAndReportsTheirStatusAndOutput) {
    std::string out;
    EXPECT_EQ(RunHost("printf 'a b'; exit 3", &out), 3);
    EXPECT_EQ(out, "a b");
    EXPECT_EQ(RunHost("true"), 0);
}

TEST(HostTools, FilesWrittenOnEitherSideAreSeenOnTheOther) {
    const std::string path = UniqueTmpPath(" with space.txt");
    ASSERT_TRUE(WriteHostFile(path, "from windows"));
    std::string out;
    EXPECT_EQ(RunHost("cat \"" + path + "\" && printf ' and linux' >> \"" + path + "\"", &out), 0);
    EXPECT_EQ(out, "from windows");
    std::string contents;
    ASSERT_TRUE(ReadHostFile(path, &contents));
    EXPECT_EQ(contents, "from windows and linux");
    EXPECT_EQ(ToUnixPath(ToWinPath(path)), path);
}
