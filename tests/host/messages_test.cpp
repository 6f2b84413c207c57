#include "support/messages.h"

#include "support/platform.h"
#include "test_support.h"

namespace {

class MessagesTest : public PlatformTest {};

TEST_F(MessagesTest, CreationReasonsFollowTheResultCode) {
    struct Case {
        int32_t result;
        const char* shown;
    } cases[] = {
        {-1, "JNI exception: failed to create the Java VM\nReason: unknown.\n"},
        {-2, "JNI exception: failed to create the Java VM\nReason: thread detached from VM.\n"},
        {-3, "JNI exception: failed to create the Java VM\nReason: JNI version error.\n"},
        {-4, "JNI exception: failed to create the Java VM\nReason: not enough memory.\n"},
        {-5, "JNI exception: failed to create the Java VM\nReason: VM already created.\n"},
        {-6, "JNI exception: failed to create the Java VM\nReason: invalid arguments.\n"},
        {-7, "JNI exception: failed to create the Java VM\nReason: .\n"},
        {1, "JNI exception: failed to create the Java VM\nReason: .\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(U(messageFor(LaunchError::vmCreation(c.result))), c.shown) << c.result;
}

TEST_F(MessagesTest, SystemFailureCarriesTheLastErrorAsSignedDecimal) {
    platform::host::setLastError(0);
    EXPECT_EQ(U(messageFor(LaunchError::system(MsgNoModulePath))),
              "Windows exception: failed to get the module path (errno = 0).\n");
    platform::host::setLastError(0xFFFFFFFEu);
    EXPECT_EQ(U(messageFor(LaunchError::system(MsgNoCreateJavaVM))),
              "Windows exception: cannot find CreateJavaVM JNI (errno = -2).\n");
}

TEST_F(MessagesTest, LibraryFailureNamesThePathWhole) {
    std::string longPath = "C:\\" + std::string(3000, 'x') + "\\jvm.dll";
    platform::host::setLastError(126);
    EXPECT_EQ(U(messageFor(LaunchError::library(W(longPath.c_str())))),
              "Failed to load Java VM library: " + longPath + " (errno = 126).\n");
}

TEST_F(MessagesTest, PlainAndNamedMessagesKeepTheirExactText) {
    EXPECT_EQ(U(messageFor(LaunchError::plain(MsgNoMainClass))), "Main class was not specified in INI file.");
    EXPECT_EQ(U(messageFor(LaunchError::plain(MsgNoMainMethod))), "No main method found in specified class.\n");
    EXPECT_EQ(U(messageFor(LaunchError::named(MsgMainClassNotFound, W("com/example/App")))),
              "Could not find the main class com/example/App.\n");
    EXPECT_EQ(U(platform::messageText(MsgJreNotFound)),
              "The Java Runtime Environment (JRE) was not found. Please  download and install a JRE (%s) from:");
    EXPECT_TRUE(platform::messageText(static_cast<MessageId>(231)).empty());
}

TEST_F(MessagesTest, FormattingNeverCutsAndLeavesUnknownDirectives) {
    List<MessageArgument> arguments(2);
    arguments[0].text = W(std::string(5000, 'a').c_str());
    arguments[1].isNumber = true;
    arguments[1].number = -2147483647 - 1;
    WideString text = formatMessage(W("[%s|%d|%x|100%%]"), arguments);
    EXPECT_EQ(U(text), "[" + std::string(5000, 'a') + "|-2147483648|%x|100%]");
}

TEST_F(MessagesTest, ReportErrorShowsOneBox) {
    reportError(nullptr, LaunchError::plain(MsgNoClassPath));
    ASSERT_EQ(platform::host::shownMessages().size(), 1u);
    EXPECT_EQ(U(platform::host::shownMessages()[0]), "Java Class Path was not specified in INI file.");
}

}  // namespace
