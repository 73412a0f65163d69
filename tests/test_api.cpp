// The C interface: last-error text and the argument checks of the three
// working functions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dedediruzurud_internal.h"
#include "support.h"
#include "dedediruzurud.h"

namespace {

TEST(LastError, EmptyAfterInitAndCleanup) {
    set_error("something");
    EXPECT_EQ(dedediruzurud_init(), 1);
    EXPECT_STREQ(dedediruzurud_last_error(), "");
    set_error("something");
    dedediruzurud_cleanup();
    ASSERT_NE(dedediruzurud_last_error(), nullptr);
    EXPECT_STREQ(dedediruzurud_last_error(), "");
}

TEST(LastError, LongMessageIsCutAt1023Bytes) {
    std::string longpath(3000, 'p');
    set_error("cannot open %s", longpath.c_str());
    const char *e = dedediruzurud_last_error();
    EXPECT_EQ(std::strlen(e), 1023u);
    EXPECT_EQ(std::string(e, 12), "cannot open ");
}

TEST(LastError, LongPathFromWorkingCallIsCut) {
    std::string longpath = "/nonexistent/" + std::string(2000, 'q') + ".pdf";
    EXPECT_EQ(dedediruzurud_add(longpath.c_str(), "/tmp/x.pdf", 0, "{n}", 12, 1, 0, 0, 0), 0);
    EXPECT_EQ(std::strlen(dedediruzurud_last_error()), 1023u);
}

enum class which { add, range, skip };

int call(which w, const char *in, const char *out) {
    switch (w) {
    case which::add: return dedediruzurud_add(in, out, 0, "{n}", 12, 1, 0, 0, 0);
    case which::range: return dedediruzurud_range(in, out, 0, "{n}", 12, 1, 2, 1, 0, 0, 0);
    case which::skip: return dedediruzurud_skip(in, out, 0, "{n}", 12, 0, 0, 0, 0);
    }
    return -1;
}

class NullPaths : public ::testing::TestWithParam<which> {};

TEST_P(NullPaths, EitherPathNullIsRefused) {
    std::string out = temp_path("never.pdf");
    EXPECT_EQ(call(GetParam(), nullptr, out.c_str()), 0);
    EXPECT_STREQ(dedediruzurud_last_error(), "NULL path argument");
    EXPECT_EQ(call(GetParam(), corpus_file("pypdf-tufte-be-contents.pdf").c_str(), nullptr), 0);
    EXPECT_STREQ(dedediruzurud_last_error(), "NULL path argument");
    EXPECT_EQ(call(GetParam(), nullptr, nullptr), 0);
    EXPECT_STREQ(dedediruzurud_last_error(), "NULL path argument");
    EXPECT_FALSE(file_exists(out));
}

TEST_P(NullPaths, MissingInputNamesThePath) {
    std::string out = temp_path("never.pdf");
    EXPECT_EQ(call(GetParam(), "/nonexistent/in.pdf", out.c_str()), 0);
    EXPECT_STREQ(dedediruzurud_last_error(), "cannot open /nonexistent/in.pdf");
    EXPECT_FALSE(file_exists(out));
}

INSTANTIATE_TEST_SUITE_P(Entries, NullPaths, ::testing::Values(which::add, which::range, which::skip));

}  // namespace
