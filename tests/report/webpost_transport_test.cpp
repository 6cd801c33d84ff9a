// Posting records through the webpost library the logic is given: the
// default base, the nine arguments, and the one-time registration. The real
// posix library against a loopback receiver is in posix_webpost_test.cpp.
#include <gtest/gtest.h>

#include "receiver.h"
#include "report/template_status.h"
#include "base/errors.h"
#include "report/webpost.h"
#include "report_fixture.h"
#include "base/text.h"

namespace {

const std::string kQuery = "?mmid=11&sid=22&rid=33&rty=MSMA";

struct FakeTransport : ::testing::Test {
    ReportRun run;
    FakeWebpostLibrary library;
    void SetUp() override { run.ctx->sys.webpost = &library; }
};

TEST_F(FakeTransport, BlankOrMissingBaseUsesTheDefaultHost) {
    for (const std::string ini : {"   ", "", "<none>"}) {
        SCOPED_TRACE(ini);
        if (ini == "<none>") run.setBases({{"other", "http://127.0.0.1:9/"}});
        else run.setBases({{"wpdcmatztempexecst", ini}});
        run.lines.clear();
        library.posts.clear();
        subGetWebPostScript(*run.ctx, "wpdcmatztempexecst", "<r/>");
        EXPECT_EQ(run.messages().at(0), "MSG : Preprocessing: Webposting Source :: ");
        EXPECT_EQ(run.messages().at(1), "MSG : using harcode URL");
        ASSERT_EQ(library.posts.size(), 1u);
        EXPECT_TRUE(startsWith(library.posts[0].url, "https://"));
        EXPECT_TRUE(endsWith(library.posts[0].url, "/tfr_wpdcmatztempexecst.asp" + kQuery));
        EXPECT_TRUE(run.ctx->blnWebPostStatus);
    }
}

TEST_F(FakeTransport, HandsTheNineArgumentsOver) {
    run.setBases({{"wpdcmatztempexecst", "http://h:1/x"}});
    library.response = "queued 4711";
    subGetWebPostScript(*run.ctx, "wpdcmatztempexecst", "<r>&</r>");
    ASSERT_EQ(library.posts.size(), 1u);
    const FakePost& post = library.posts[0];
    EXPECT_EQ(post.xml, "<r>&</r>");
    EXPECT_FALSE(post.flag);
    EXPECT_EQ(post.url, "http://h:1/x/tfr_wpdcmatztempexecst.asp" + kQuery);
    EXPECT_EQ(post.text4, "");
    EXPECT_EQ(post.text5, "");
    EXPECT_TRUE(run.ctx->blnWebPostStatus);
    EXPECT_EQ(run.ctx->strWebPostResponse, "queued 4711");
    EXPECT_TRUE(run.logged("MSG : Preprocessing: WebPost Return Status: queued 4711"));

    library.accept = false;
    library.response = "";
    WebPost(*run.ctx, "<r/>", "http://h:1/u");
    EXPECT_FALSE(run.ctx->blnWebPostStatus);
    EXPECT_TRUE(run.logged("ERR : WebPost Failed : refused-503 - http://h:1/u"));
}

// The library is not registered: the first post of the run starts the one
// registration and tries once more; later failures start none.
TEST_F(FakeTransport, UnregisteredLibraryIsRegisteredOncePerRun) {
    library.creatable = false;
    run.setBases({{"wpdcmatztempexecst", "http://h:1/"}});
    subGetWebPostScript(*run.ctx, "wpdcmatztempexecst", "<r/>");
    EXPECT_EQ(library.creates, 2);
    EXPECT_EQ(library.registers, 1);
    EXPECT_TRUE(run.ctx->blnDllRegistered);
    EXPECT_FALSE(run.ctx->blnWebPostStatus);
    ASSERT_EQ(library.registeredPaths.size(), 1u);
    const std::string dll = library.registeredPaths[0];
    EXPECT_TRUE(endsWith(dll, "\\kWbPost.dll"));
    EXPECT_FALSE(startsWith(dll, "\\"));  // the executable's folder comes first
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Registered Dll : " + dll));

    subGetWebPostScript(*run.ctx, "wpdcmatztempexecst", "<r/>");
    EXPECT_EQ(library.creates, 3);
    EXPECT_EQ(library.registers, 1);
    EXPECT_EQ(run.count("ERR : Function WebPost :: 429-ActiveX component can't create object"), 2);
    EXPECT_TRUE(library.posts.empty());
}

TEST_F(FakeTransport, RetryAfterRegistrationCanSucceed) {
    library.creatable = false;
    library.healedByRegister = true;
    library.createError = err::TypeLibNotRegistered;
    WebPost(*run.ctx, "<r/>", "http://h:1/u");
    EXPECT_EQ(library.creates, 2);
    EXPECT_EQ(library.registers, 1);
    EXPECT_TRUE(run.ctx->blnWebPostStatus);
    EXPECT_EQ(library.posts.size(), 1u);
    EXPECT_FALSE(run.loggedPart("ERR : "));
}

TEST_F(FakeTransport, OtherCreationErrorsStartNoRegistration) {
    library.creatable = false;
    library.createError = err::PermissionDenied;
    WebPost(*run.ctx, "<r/>", "http://h:1/u");
    EXPECT_EQ(library.creates, 1);
    EXPECT_EQ(library.registers, 0);
    EXPECT_FALSE(run.ctx->blnDllRegistered);
    EXPECT_TRUE(run.logged("ERR : Function WebPost :: 70-Permission denied"));
}

TEST_F(FakeTransport, RegistrationThatCannotStartIsLoggedAndNotRepeated) {
    library.creatable = false;
    library.registerStarts = false;
    WebPost(*run.ctx, "<r/>", "http://h:1/u");
    WebPost(*run.ctx, "<r/>", "http://h:1/u");
    EXPECT_EQ(library.registers, 1);
    EXPECT_EQ(library.creates, 3);
    EXPECT_TRUE(run.logged("ERR : Function RegisterDLL :: 53-File not found"));
    EXPECT_FALSE(run.loggedPart("Registered Dll"));
}

}  // namespace
