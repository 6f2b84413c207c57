// The console launcher's writer of the standard error, on a redirected
// handle: UTF-8 bytes, long texts whole.
#include "win_test_support.h"

#include "support/console_win32.h"

namespace {

// Points the standard error at a new file for the life of the object.
class RedirectedError {
public:
    explicit RedirectedError(const std::wstring& path) : saved_(GetStdHandle(STD_ERROR_HANDLE)) {
        file_ = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        SetStdHandle(STD_ERROR_HANDLE, file_);
    }
    ~RedirectedError() {
        SetStdHandle(STD_ERROR_HANDLE, saved_);
        CloseHandle(file_);
    }

private:
    HANDLE saved_;
    HANDLE file_;
};

std::string readBytes(const std::wstring& path) {
    OwnedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

TEST(WinConsole, RedirectedStandardErrorReceivesUtf8) {
    struct Case {
        const wchar_t* text;
        std::string bytes;
    } const cases[] = {
        {L"plain\r\n", "plain\r\n"},
        // Beyond Latin-1, and a character outside the basic plane (a surrogate pair).
        {L"Could not find the main class \u00e9t\u00e9/\u0416\u4e2d\U0001F600.\r\n",
         "Could not find the main class \xc3\xa9t\xc3\xa9/\xd0\x96\xe4\xb8\xad\xf0\x9f\x98\x80.\r\n"},
        {L"", ""},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        std::wstring path = folder.path() + L"err.txt";
        {
            RedirectedError redirect(path);
            writeStandardError(W(c.text));
        }
        EXPECT_EQ(readBytes(path), c.bytes) << "for " << toUtf8(W(c.text)).c_str();
    }
}

TEST(WinConsole, LongTextArrivesWhole) {
    TempFolder folder;
    std::wstring path = folder.path() + L"long.txt";
    std::wstring text(300000, L'\u00e4');
    {
        RedirectedError redirect(path);
        writeStandardError(W(text.c_str()));
    }
    std::string bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 600000u);
    EXPECT_EQ(bytes.substr(0, 4), "\xc3\xa4\xc3\xa4");
}

}  // namespace
