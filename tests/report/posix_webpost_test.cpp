// Posting records through the posix webpost library (libcurl) against a
// loopback receiver: URL composition, and failures that must end in a drop.
// Built on posix only: the receiver is a posix program, and the Windows
// library has its own tests (tests/win32/webpost_test.cpp).
#include <gtest/gtest.h>

#include <chrono>

#include "platform/posix/webpost.h"
#include "receiver.h"
#include "report/template_status.h"
#include "base/errors.h"
#include "report/webpost.h"
#include "report_fixture.h"
#include "base/text.h"

namespace {

const std::string kQuery = "?mmid=11&sid=22&rid=33&rty=MSMA";
const std::string kStatusDrop = "wpdcmatztempexecst_N_33_1207202610153030.xml";

PosixWebpostOptions quick() {
    PosixWebpostOptions options;
    options.connectTimeoutMs = 2000;
    options.totalTimeoutMs = 5000;
    return options;
}

struct Transport : ::testing::Test {
    ReportRun run;
    PosixWebpostLibrary library{quick()};
    void SetUp() override { run.ctx->sys.webpost = &library; }

    // A succeeding job whose status record goes through the transport.
    void reportCleanJob() {
        run.ctx->job.strTemplateID = "7";
        run.ctx->script.strScriptStatus = "SUCCESS";
        subPostTemplateExecStatus(*run.ctx);
    }
};

TEST_F(Transport, PostsToConfiguredBaseWithOneSlash) {
    Receiver receiver;
    ASSERT_TRUE(receiver.started());
    const std::vector<std::pair<std::string, std::string>> bases{
        {receiver.base(), "/"}, {receiver.base() + "/", "/"}, {"  " + receiver.base() + "/hub  ", "/hub/"}};
    for (const auto& [configured, path] : bases) {
        SCOPED_TRACE(configured);
        run.setBases({{"wpdcmatztempexecst", configured}});
        subGetWebPostScript(*run.ctx, "wpdcmatztempexecst", "<r>1</r>");
        EXPECT_TRUE(run.ctx->blnWebPostStatus);
        const std::string url = receiver.base() + path + "tfr_wpdcmatztempexecst.asp" + kQuery;
        EXPECT_TRUE(run.logged("MSG : Preprocessing: Webposting Source :: " + url));
        ASSERT_FALSE(receiver.posts().empty());
        EXPECT_EQ(receiver.posts().back(), path + "tfr_wpdcmatztempexecst.asp" + kQuery + "\t<r>1</r>");
    }
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Webposting string :: <r>1</r>"));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: WebPost Return Status: OK"));
    EXPECT_FALSE(run.loggedPart("ERR : "));
    EXPECT_FALSE(run.loggedPart("harcode"));
}

TEST_F(Transport, SectionIsTheRecordName) {
    Receiver receiver;
    ASSERT_TRUE(receiver.started());
    run.setBases({{"wpdcmatztempexecst", "http://127.0.0.1:9/"}, {"wpdcmatztempexecfail", receiver.base()}});
    subGetWebPostScript(*run.ctx, "wpdcmatztempexecfail", "<f/>");
    EXPECT_TRUE(run.ctx->blnWebPostStatus);
    ASSERT_EQ(receiver.posts().size(), 1u);
    EXPECT_EQ(receiver.posts()[0], "/tfr_wpdcmatztempexecfail.asp" + kQuery + "\t<f/>");
}

// Identity values go in unchanged. A blank cannot stand in an HTTP request
// line, so the transport sends it as %20; every other byte arrives as composed.
TEST_F(Transport, IdentityValuesAreInsertedUnchanged) {
    Receiver receiver;
    ASSERT_TRUE(receiver.started());
    run.setBases({{"wpdcmatztempexecst", receiver.base()}});
    run.ctx->strMemberID = "1&x=2";
    run.ctx->strSiteID = " 22 ";
    run.ctx->strRegType = " msma";
    subGetWebPostScript(*run.ctx, "wpdcmatztempexecst", "<r/>");
    EXPECT_TRUE(run.ctx->blnWebPostStatus);
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Webposting Source :: " + receiver.base() +
                           "/tfr_wpdcmatztempexecst.asp?mmid=1&x=2&sid= 22 &rid=33&rty= msma"));
    ASSERT_EQ(receiver.posts().size(), 1u);
    EXPECT_EQ(receiver.posts()[0], "/tfr_wpdcmatztempexecst.asp?mmid=1&x=2&sid=%2022%20&rid=33&rty=%20msma\t<r/>");
}

TEST(TransportUrl, EncodesOnlyWhatCannotStandInARequestLine) {
    EXPECT_EQ(transportUrl("https://h/tfr_a.asp?mmid=1&sid=%41&rty=MSMA"),
              "https://h/tfr_a.asp?mmid=1&sid=%41&rty=MSMA");
    EXPECT_EQ(transportUrl("a b\tc#d\x7f\xc3\xa9"), "a%20b%09c%23d%7F%C3%A9");
}

TEST_F(Transport, RefusedPostIsDropped) {
    Receiver receiver({"--status", "500"});
    ASSERT_TRUE(receiver.started());
    run.setBases({{"wpdcmatztempexecst", receiver.base()}});
    reportCleanJob();
    EXPECT_EQ(receiver.posts().size(), 1u);
    const std::string url = receiver.base() + "/tfr_wpdcmatztempexecst.asp" + kQuery;
    EXPECT_TRUE(run.logged("MSG : Preprocessing: WebPost Return Status: Refused"));
    EXPECT_TRUE(run.logged("ERR : WebPost Failed : The server did not accept the record-500 - " + url));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Direct webpost failed. Posting the xml contents to HVRPostLogs "));
    EXPECT_EQ(run.drops(), std::vector<std::string>{kStatusDrop});
}

TEST_F(Transport, UnreachableEndpointIsDropped) {
    const int port = unusedLoopbackPort();
    ASSERT_GT(port, 0);
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
    run.setBases({{"wpdcmatztempexecst", base}});
    reportCleanJob();
    EXPECT_FALSE(run.ctx->blnWebPostStatus);
    EXPECT_TRUE(run.loggedPart("ERR : WebPost Failed : "));
    EXPECT_TRUE(run.loggedPart("-0 - " + base + "tfr_wpdcmatztempexecst.asp" + kQuery));
    EXPECT_EQ(run.drops(), std::vector<std::string>{kStatusDrop});
}

TEST_F(Transport, HangingServerIsGivenUpAfterTheTimeOut) {
    Receiver receiver({"--hang"});
    ASSERT_TRUE(receiver.started());
    PosixWebpostOptions options = quick();
    options.totalTimeoutMs = 1500;
    PosixWebpostLibrary impatient(options);
    run.ctx->sys.webpost = &impatient;
    run.setBases({{"wpdcmatztempexecst", receiver.base()}});

    const auto start = std::chrono::steady_clock::now();
    reportCleanJob();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(1400));
    EXPECT_LT(elapsed, std::chrono::seconds(10));
    EXPECT_EQ(receiver.posts().size(), 1u);  // it got the record, but never said so
    EXPECT_TRUE(run.loggedPart("ERR : WebPost Failed : "));
    EXPECT_EQ(run.drops(), std::vector<std::string>{kStatusDrop});
}

TEST_F(Transport, UntrustedCertificateIsRefusedAndTrustedOneAccepted) {
    TestCertificate certificate;
    ASSERT_TRUE(certificate.made);
    Receiver receiver({"--tls-cert", certificate.cert, "--tls-key", certificate.key});
    ASSERT_TRUE(receiver.started());
    run.setBases({{"wpdcmatztempexecst", receiver.base(true)}});

    reportCleanJob();  // the system's store does not know the test's certificate
    EXPECT_FALSE(run.ctx->blnWebPostStatus);
    EXPECT_TRUE(receiver.posts().empty());
    EXPECT_TRUE(run.loggedPart("-0 - " + receiver.base(true) + "/tfr_wpdcmatztempexecst.asp"));
    EXPECT_EQ(run.drops(), std::vector<std::string>{kStatusDrop});

    // The same server with its certificate trusted: the refusal above came from
    // the verification, not from a broken server.
    PosixWebpostOptions options = quick();
    options.caBundle = certificate.cert;
    PosixWebpostLibrary trusting(options);
    run.ctx->sys.webpost = &trusting;
    subGetWebPostScript(*run.ctx, "wpdcmatztempexecst", "<r/>");
    EXPECT_TRUE(run.ctx->blnWebPostStatus);
    EXPECT_EQ(receiver.posts().size(), 1u);
}

}  // namespace
