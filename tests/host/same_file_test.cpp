// When "Output File" and "Error File" name one file.
#include "test_support.h"
#include "vm/redirect.h"

namespace {

TEST(SameFile, FullPathsComparedIgnoringCase) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {R"(Z:\logs\app.log)", R"(Z:\logs\app.log)", true},
        {R"(Z:\logs\app.log)", R"(Z:\LOGS\App.Log)", true},
        {R"(Z:\logs\app.log)", R"(Z:\logs\sub\..\app.log)", true},
        {R"(Z:\logs\app.log)", R"(Z:\logs\.\app.log)", true},
        {R"(Z:\logs\app.log)", R"(Z:\logs\app.log2)", false},
        {R"(Z:\logs\out.log)", R"(Z:\logs\err.log)", false},
        {R"(Z:\Ärger\ÿ.log)", R"(Z:\äRGER\ÿ.log)", true},
        {R"(Z:\Łódź\Ωμέγα\Жук.log)", R"(Z:\łÓDŹ\ΩΜΈΓΑ\жУК.log)", false},  // accented capitals outside the folded ranges
        {R"(Z:\Łodz\ΩΜΕΓΑ\Жук.log)", R"(Z:\łODZ\ωμεγα\жУК.log)", true},
        {"out.log", "./out.log", true},
        {"out.log", "OUT.LOG", true},
        {"a/out.log", "b/out.log", false},
    };
    for (const auto& c : cases) EXPECT_EQ(sameFile(W(c.a), W(c.b)), c.same) << c.a << " / " << c.b;
}

TEST(SameFile, RelativeNamesMeetAbsoluteOnes) {
    ScratchFolder folder;
    WorkingDirectory here(folder.hostPath());
    EXPECT_TRUE(sameFile(W("out.log"), fromUtf8(folder.hostPath().data(), folder.hostPath().size()) + u"/out.log"));
}

}  // namespace
