// Encrypted inputs through the exported functions: files qpdf encrypts
// (R2 to R6, RC4 and AES, object streams, metadata in the clear) are
// numbered, and the copy opens with the empty password, passes qpdf's
// check, shows the input's protection and the owner password, carries the
// labels and comes out the same on every run; files that forbid changes or
// need a password, and damaged /Encrypt dictionaries, are refused with
// their messages and leave no output.
#include <gtest/gtest.h>

#include <string>

#include "dedediruzurud.h"
#include "dedediruzurud_internal.h"
#include "support.h"

namespace {

const char *const SOURCE = "reportlab-acroform-rotated.pdf";
const char *const OWNER = "own3r";

struct encrypt_case {
    const char *name;
    const char *qpdf;  // the options of qpdf that make the file (the source and output follow)
    const char *refusal;  // null: numbered; else the message, "%s" the input
    bool needs_password;
};

const encrypt_case CASES[] = {
    {"r2", "--encrypt '' own3r 40 --", nullptr, false},
    {"r3", "--encrypt '' own3r 128 --", nullptr, false},
    {"r4_rc4", "--encrypt '' own3r 128 --force-V4 --", nullptr, false},
    {"r4_aes_objstm", "--object-streams=generate --encrypt '' own3r 128 --use-aes=y --", nullptr, false},
    {"r4_aes_clear_metadata", "--encrypt '' own3r 128 --use-aes=y --cleartext-metadata --", nullptr, false},
    {"r5", "--encrypt '' own3r 256 --force-R5 --", nullptr, false},
    {"r6", "--encrypt '' own3r 256 --", nullptr, false},
    {"r6_objstm", "--object-streams=generate --encrypt '' own3r 256 --", nullptr, false},
    {"r3_no_modify", "--encrypt '' own3r 128 --modify=none --", MSG_NO_PERMISSION, false},
    {"r6_no_modify", "--encrypt '' own3r 256 --modify=none --", MSG_NO_PERMISSION, false},
    {"r4_user_password", "--encrypt us3r own3r 128 --use-aes=y --", MSG_ENCRYPTED, true},
    {"r6_user_password", "--encrypt us3r own3r 256 --", MSG_ENCRYPTED, true},
};

// qpdf's account of the protection, without the line on the password used.
std::string protection(const std::string &path, const std::string &password = "") {
    std::string out;
    run_command("qpdf --password='" + password + "' --show-encryption '" + path + "' 2>&1", &out);
    std::string kept;
    for (size_t at = 0, nl; at < out.size(); at = nl + 1) {
        nl = out.find('\n', at);
        if (nl == std::string::npos) nl = out.size();
        std::string line = out.substr(at, nl - at);
        if (line.rfind("Supplied password", 0) != 0 && line.rfind("User password", 0) != 0) kept += line + "\n";
    }
    return kept;
}

std::string message_for(const char *fmt, const std::string &input) {
    char text[1024];
    std::snprintf(text, sizeof text, fmt, input.c_str());
    return text;
}

class EncryptedInput : public ::testing::TestWithParam<encrypt_case> {
protected:
    void SetUp() override {
        if (!have_tool("qpdf") || !have_tool("pdftotext")) GTEST_SKIP() << "qpdf and pdftotext are needed";
        const encrypt_case &c = GetParam();
        input = temp_path(std::string(c.name) + ".pdf");
        output = temp_path(std::string(c.name) + "-numbered.pdf");
        ASSERT_EQ(run_command("qpdf --allow-weak-crypto " + std::string(c.qpdf) + " '" + corpus_file(SOURCE) + "' '" + input + "'"), 0);
    }
    std::string input, output;
};

TEST_P(EncryptedInput, NumberedWithItsProtectionOrRefused) {
    const encrypt_case &c = GetParam();
    const int pages = dedediruzurud_add(input.c_str(), output.c_str(), 0, "Pg {n}", 12, 1, 0, 0, 0);
    if (c.refusal) {
        EXPECT_EQ(pages, 0);
        EXPECT_EQ(dedediruzurud_last_error(), message_for(c.refusal, input));
        EXPECT_FALSE(file_exists(output));
        numbering_job job{};
        job.input_path = input.c_str();
        job.output_path = output.c_str();
        job.total = -1;
        numbering_result r;
        EXPECT_EQ(numbering_run(&job, &r), 0);
        EXPECT_EQ(r.needs_password, c.needs_password);
        return;
    }
    ASSERT_GT(pages, 0) << dedediruzurud_last_error();
    std::string check;
    EXPECT_EQ(run_command("qpdf --check '" + output + "' 2>&1", &check), 0) << check;
    EXPECT_EQ(protection(output), protection(input));
    EXPECT_NE(protection(output).find("R = "), std::string::npos);
    std::string as_owner;
    run_command("qpdf --password=" + std::string(OWNER) + " --show-encryption '" + output + "' 2>&1", &as_owner);
    EXPECT_NE(as_owner.find("Supplied password is owner password"), std::string::npos) << as_owner;
    std::string text;
    run_command("pdftotext '" + output + "' - 2>/dev/null", &text);
    for (int p = 1; p <= pages; ++p) EXPECT_NE(text.find("Pg " + std::to_string(p)), std::string::npos) << p;
    // The IVs come from the key and the objects: every run writes the same bytes.
    const std::string again = temp_path(std::string(c.name) + "-again.pdf");
    ASSERT_EQ(dedediruzurud_add(input.c_str(), again.c_str(), 0, "Pg {n}", 12, 1, 0, 0, 0), pages);
    EXPECT_EQ(read_file(again), read_file(output));
}

INSTANTIATE_TEST_SUITE_P(Qpdf, EncryptedInput, ::testing::ValuesIn(CASES),
                         [](const auto &info) { return std::string(info.param.name); });

// Damage to the /Encrypt dictionary: an unknown version, a missing /O, a
// short /U. Refused as encryption it does not know, with no output.
TEST(EncryptedInput, DamagedDictionaryRefused) {
    if (!have_tool("qpdf")) GTEST_SKIP() << "qpdf is needed";
    const std::string good = temp_path("damaged-source.pdf");
    ASSERT_EQ(run_command("qpdf --allow-weak-crypto --encrypt '' own3r 128 --use-aes=y -- '" + corpus_file(SOURCE) + "' '" + good + "'"), 0);
    const std::string bytes = read_file(good);
    const std::pair<std::string, std::string> edits[] = {{"/V 4", "/V 7"}, {"/O <", "/X <"}, {"/U <", "/U <00"}};
    for (const auto &[from, to] : edits) {
        std::string damaged = bytes;
        const size_t at = damaged.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        damaged.replace(at, from.size(), to);
        const std::string in = temp_path("damaged.pdf"), out = temp_path("damaged-numbered.pdf");
        write_file(in, damaged);
        EXPECT_EQ(dedediruzurud_add(in.c_str(), out.c_str(), 0, "{n}", 12, 1, 0, 0, 0), 0) << to;
        EXPECT_EQ(dedediruzurud_last_error(), message_for(MSG_ENCRYPTED, in)) << to;
        EXPECT_FALSE(file_exists(out)) << to;
    }
}

// A string that does not decrypt (AES data of 15 bytes) is read as empty;
// the other strings of its object are kept.
TEST(EncryptedInput, UndecryptableStringReadsEmpty) {
    if (!have_tool("qpdf") || !have_tool("pdfinfo")) GTEST_SKIP() << "qpdf and pdfinfo are needed";
    const std::string in = temp_path("short-string.pdf"), out = temp_path("short-string-numbered.pdf");
    ASSERT_EQ(run_command("qpdf --encrypt '' own3r 256 -- '" + corpus_file(SOURCE) + "' '" + in + "'"), 0);
    std::string bytes = read_file(in);
    const size_t at = bytes.find("/Title <");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at + 8, bytes.find('>', at) - at - 8, "00112233445566778899aabbccddee");
    write_file(in, bytes);
    ASSERT_EQ(dedediruzurud_add(in.c_str(), out.c_str(), 0, "{n}", 12, 1, 0, 0, 0), 1) << dedediruzurud_last_error();
    std::string info;
    run_command("pdfinfo '" + out + "'", &info);
    EXPECT_NE(info.find("Author:          Corpus maker\n"), std::string::npos) << info;
    const size_t title = info.find("Title:");
    ASSERT_NE(title, std::string::npos) << info;
    EXPECT_EQ(info.find_first_not_of(' ', title + 6), info.find('\n', title)) << info;
}

}  // namespace
