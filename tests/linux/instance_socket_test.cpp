// Single instance on Linux: the socket's name and folder, and the request
// that carries a second instance's arguments.
#include <gtest/gtest.h>

#include <string>

#include "instance/instance_socket.h"

namespace {

std::string text(const NarrowString& narrow) { return std::string(narrow.c_str(), narrow.size()); }

TEST(InstanceSocket, NameIsAStableHashOfThePathAndTheProductCode) {
    struct Row {
        const char* executable;
        const char16_t* productCode;
        const char* name;
    } rows[] = {
        // The values are the names that earlier builds use: launches of two
        // builds of one program must meet.
        {"/opt/myapp/MyApp", u"", "si-1e60c179adb70e45.sock"},
        {"/opt/myapp/MyApp", u"org.example.app", "si-3ec7bf4f9b2a89c4.sock"},
        {"/opt/other/MyApp", u"", "si-f467c9ec18ebe9cc.sock"},
        // The boundary between path and code counts.
        {"/a/b", u"c", "si-af26466e34cf2025.sock"},
        {"/a/bc", u"", "si-aec3956e347b2907.sock"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.executable);
        EXPECT_EQ(text(instanceSocketName(row.executable, row.productCode)), row.name);
    }
    EXPECT_EQ(text(instanceLockName("si-1e60c179adb70e45.sock")), "si-1e60c179adb70e45.sock.lock");
}

TEST(InstanceSocket, TheFolderIsTheUsersOwnUnderTmpWhateverTheSession) {
    const NarrowString name = "si-1e60c179adb70e45.sock";  // 24 bytes
    const std::string fits(107 - 1 - 24 - 23, 'x');       // + "/tmp/veda-launcher-1000" + "/" + name = 107 bytes
    struct Row {
        std::string root;
        std::string folder;
    } rows[] = {
        {"", "/tmp/veda-launcher-1000"},
        {"/", "/tmp/veda-launcher-1000"},
        {"/t/root/", "/t/root/tmp/veda-launcher-1000"},
        {"/" + fits.substr(1), "/" + fits.substr(1) + "/tmp/veda-launcher-1000"},
        {"/" + fits, ""},  // one byte beyond what a socket path holds
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.root);
        EXPECT_EQ(text(instanceFolder(row.root.c_str(), 1000, name)), row.folder);
    }
}

TEST(InstanceSocket, RequestsCarryEveryListWhole) {
    const List<WideString> lists[] = {
        {},
        {u""},
        {u"a", u"", u"b"},  // an empty argument does not end the list
        {u"with space", u"gr\u00fc\u00dfe \u2713", u"\U0001F600"},
    };
    for (const List<WideString>& arguments : lists) {
        SCOPED_TRACE(arguments.size());
        NarrowString request;
        ASSERT_TRUE(encodeHandOverRequest(arguments, u"/home/u/d\u00f6cs", request));
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(request.data());
        size_t payload = 0;
        ASSERT_TRUE(handOverPayloadBytes(bytes, payload));
        ASSERT_EQ(payload + kHandOverHeaderBytes, request.size());
        List<WideString> decoded;
        WideString folder;
        ASSERT_TRUE(decodeHandOverPayload(bytes + kHandOverHeaderBytes, payload, decoded, folder));
        EXPECT_EQ(decoded, arguments);
        EXPECT_EQ(folder, WideString(u"/home/u/d\u00f6cs"));
        // A request of an earlier version ends after the list: no folder.
        size_t listBytes = payload - 4 - 2 * folder.size();
        ASSERT_TRUE(decodeHandOverPayload(bytes + kHandOverHeaderBytes, listBytes, decoded, folder));
        EXPECT_EQ(decoded, arguments);
        EXPECT_TRUE(folder.empty());
    }
}

TEST(InstanceSocket, RequestsBeyondTheLimitAreNotSent) {
    // The count (4 bytes), one argument's length (4 bytes) and its units,
    // and the empty folder's length (4 bytes).
    const size_t most = (kHandOverPayloadLimit - 12) / 2;
    NarrowString request;
    EXPECT_TRUE(encodeHandOverRequest({WideString(std::u16string(most, u'x'))}, u"", request));
    EXPECT_EQ(request.size(), kHandOverHeaderBytes + kHandOverPayloadLimit);
    EXPECT_FALSE(encodeHandOverRequest({WideString(std::u16string(most + 1, u'x'))}, u"", request));
    EXPECT_FALSE(encodeHandOverRequest({WideString(std::u16string(most, u'x'))}, u"/", request));
    EXPECT_FALSE(encodeHandOverRequest(List<WideString>(kHandOverPayloadLimit / 4, WideString()), u"", request));
}

TEST(InstanceSocket, MalformedRequestsAreRefused) {
    NarrowString good;
    ASSERT_TRUE(encodeHandOverRequest({u"ab", u"c"}, u"", good));
    const std::string payload(good.c_str() + kHandOverHeaderBytes, good.size() - kHandOverHeaderBytes);
    struct Row {
        const char* what;
        std::string payload;
    } rows[] = {
        {"cut short", payload.substr(0, payload.size() - 1)},
        {"bytes after the list", payload + std::string(2, '\0')},
        {"more arguments than bytes", std::string("\xff\xff\xff\x7f", 4) + payload.substr(4)},
        {"an argument longer than the rest", payload.substr(0, 4) + std::string("\xff\xff\xff\xff", 4)},
        {"no count", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        List<WideString> decoded;
        WideString folder;
        EXPECT_FALSE(decodeHandOverPayload(reinterpret_cast<const uint8_t*>(row.payload.data()),
                                           row.payload.size(), decoded, folder));
    }
    struct Header {
        const char* what;
        uint8_t bytes[kHandOverHeaderBytes];
        bool valid;
    } headers[] = {
        {"request", {'V', 'S', 'I', '1', 8, 0, 0, 0}, true},
        {"other magic", {'V', 'S', 'I', '2', 8, 0, 0, 0}, false},
        {"beyond the limit", {'V', 'S', 'I', '1', 1, 0, 1, 0}, false},
        {"shorter than a count", {'V', 'S', 'I', '1', 3, 0, 0, 0}, false},
    };
    for (const Header& header : headers) {
        SCOPED_TRACE(header.what);
        size_t bytes = 0;
        EXPECT_EQ(handOverPayloadBytes(header.bytes, bytes), header.valid);
    }
}

TEST(InstanceSocket, AnArgumentIsMeasuredInUnitsNotBytes) {
    // One argument of 2 units followed by the bytes of only one: measured
    // in bytes it would seem to fit and be read beyond the payload, which
    // the sanitizer sees in a buffer of exactly the payload's size.
    const uint8_t bytes[] = {1, 0, 0, 0, 2, 0, 0, 0, 'a', 0};
    List<uint8_t> exact(bytes, bytes + sizeof bytes);
    List<WideString> decoded;
    WideString folder;
    EXPECT_FALSE(decodeHandOverPayload(exact.data(), exact.size(), decoded, folder));
}

TEST(InstanceSocket, AnswersKeepTheirSign) {
    for (int32_t answer : {0, 7, 255, -1, INT32_MIN, INT32_MAX}) {
        uint8_t bytes[4];
        encodeAnswer(answer, bytes);
        EXPECT_EQ(decodeAnswer(bytes), answer);
    }
}

}  // namespace
