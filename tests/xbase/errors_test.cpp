// The runtime-error protocol: handler answers, messages, the default handler.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "xbtest.h"

using namespace xbt;

using Errors = XbTest;

TEST_F(Errors, RetryRunsTheOperationAgain) {
    int asked = 0;
    xb::setErrorHandler([&](xb::Error& e) {
        ++asked;
        EXPECT_EQ(e.tries, 1);
        EXPECT_EQ(e.genCode, xb::gen::NoFunc);
        EXPECT_TRUE(e.canRetry);
        // The missing function appears, as if the user fixed things and retried.
        xb::registerFunction("APARECE", [](xb::Args&) { return xb::Value::str("ok"); });
        return xb::HandlerAnswer{xb::ErrorAction::Retry, {}};
    });
    EXPECT_EQ(evs("APARECE()"), "ok");
    EXPECT_EQ(asked, 1);
}

TEST_F(Errors, SubstituteGivesTheHandlersValue) {
    xb::setErrorHandler([](xb::Error& e) {
        EXPECT_EQ(e.genCode, xb::gen::NoVar);
        EXPECT_EQ(e.operation, "NOEXISTE");
        return xb::HandlerAnswer{xb::ErrorAction::Substitute, xb::Value::str("def")};
    });
    EXPECT_EQ(evs("NOEXISTE + '!'"), "def!");
}

TEST_F(Errors, AnswersNotAllowedBreak) {
    // A syntax error can be neither retried nor substituted.
    xb::setErrorHandler([](xb::Error&) {
        return xb::HandlerAnswer{xb::ErrorAction::Substitute, xb::Value::num(1)};
    });
    EXPECT_THROW(xb::compile("1 +"), xb::Break);
    xb::setErrorHandler([](xb::Error&) { return xb::HandlerAnswer{xb::ErrorAction::Retry, {}}; });
    EXPECT_THROW(ev("1 / 0"), xb::Break);  // division cannot be retried
}

TEST_F(Errors, ErrorCarriesOperandsAndOperation) {
    xb::Error seen;
    xb::setErrorHandler([&](xb::Error& e) {
        seen = e;
        return xb::HandlerAnswer{};
    });
    EXPECT_THROW(ev("'a' * 2"), xb::Break);
    EXPECT_EQ(seen.genCode, xb::gen::Arg);
    EXPECT_EQ(seen.subCode, 1083);
    EXPECT_EQ(seen.subsystem, "BASE");
    EXPECT_EQ(seen.operation, "*");
    ASSERT_EQ(seen.args.size(), 2u);
    EXPECT_EQ(seen.args[0].asString(), "a");
    EXPECT_EQ(seen.args[1].asNumber(), 2);
    EXPECT_TRUE(seen.canSubstitute);
}

TEST_F(Errors, MessageFormat) {
    xb::Error e = xb::makeError(xb::gen::ZeroDiv, 1340, "Divisi\xF3n por cero", "/");
    EXPECT_EQ(e.message(), "Error BASE/1340  Divisi\xF3n por cero: /");
    e.severity = 1;
    EXPECT_EQ(e.message().rfind("Atenci\xF3n BASE/1340", 0), 0u);
    e.osCode = 32;
    e.subsystem = "DBFCDX";
    e.filename = "EMP00002\\VdrProsp.dbf";
    EXPECT_EQ(e.message(),
              "(DOS Error 32) DBFCDX/1340  Divisi\xF3n por cero: EMP00002\\VdrProsp.dbf");
    xb::Error blank;
    blank.subsystem.clear();
    EXPECT_EQ(blank.message(), "Error \?\?\?/0");
}

TEST_F(Errors, DefaultHandlerWritesToStandardErrorAndBreaks) {
    xb::setErrorHandler(nullptr);
    std::string path = testing::TempDir() + "xb_stderr.txt";
    std::fflush(stderr);
    int saved = dup(2);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    dup2(fd, 2);
    close(fd);
    bool broke = false;
    try {
        ev("1 / 0");
    } catch (const xb::Break&) {
        broke = true;
    }
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    EXPECT_TRUE(broke);
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "Error BASE/1340  Divisi\xC3\xB3n por cero: /");  // UTF-8 on the console
}

TEST_F(Errors, HandlerSeesTheCallChainAndItUnwindsAfterwards) {
    std::vector<std::string> chain;
    xb::setErrorHandler([&](xb::Error&) {
        chain = xb::callChainLines();
        return xb::HandlerAnswer{};
    });
    xb::registerFunction("NIVEL2", [](xb::Args&) {
        xb::Procedure p("NIVEL2", 7);
        return xb::evalText("'a' + 1");
    });
    xb::registerFunction("NIVEL1", [](xb::Args&) {
        xb::Procedure p("NIVEL1", 3);
        return xb::callFunction("NIVEL2");
    });
    EXPECT_THROW(ev("NIVEL1()"), xb::Break);
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[0], "NIVEL2(7)");
    EXPECT_EQ(chain[1], "NIVEL1(3)");
    EXPECT_EQ(xb::callDepth(), 0u);
}

TEST_F(Errors, WorkBudgetStopsRunawayEvaluation) {
    xb::limits().workBudget = 10000;
    xb::resetWork();
    EXPECT_EQ(errorOf("AEVAL(ARRAY(100000), {|| AEVAL(ARRAY(100000), {|| 1})})").first,
              xb::gen::Limit);
    xb::limits().workBudget = 0;
    xb::resetWork();
    EXPECT_EQ(evn("n := 0, AEVAL(ARRAY(1000), {|| n := n + 1}), n"), 1000);
}

TEST_F(Errors, RetriesAreCounted) {
    std::vector<int> tries;
    xb::setErrorHandler([&](xb::Error& e) {
        tries.push_back(e.tries);
        if (e.tries < 3) return xb::HandlerAnswer{xb::ErrorAction::Retry, {}};
        return xb::HandlerAnswer{xb::ErrorAction::Substitute, xb::Value::str("x")};
    });
    EXPECT_EQ(evs("NOHAY()"), "x");
    EXPECT_EQ(tries, (std::vector<int>{1, 2, 3}));
}
