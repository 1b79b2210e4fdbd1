// The exit statuses are listed in one place (kExitStatuses, which --help
// prints); the manual page and the READMEs must name the same codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>

#include "command_table.h"
#include "exit_codes.h"
#include "orvo/testing/files.h"

namespace orvoscan {
namespace {

// The codes in `text` that follow one of `lead` (a regex whose group 1 is the code).
std::set<int> Codes(const std::string& text, const std::string& lead) {
    std::set<int> codes;
    const std::regex pattern(lead);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
         it != std::sregex_iterator(); ++it) {
        codes.insert(std::stoi((*it)[1].str()));
    }
    return codes;
}

// The text from `start` up to `end` (both found after each other in `text`).
std::string Between(const std::string& text, const std::string& start, const std::string& end) {
    const std::size_t from = text.find(start);
    if (from == std::string::npos) return {};
    const std::size_t to = text.find(end, from + start.size());
    return text.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

TEST(ExitStatusTest, EveryListNamesTheSameCodes) {
    std::set<int> expected;
    for (const ExitStatus& status : kExitStatuses) expected.insert(status.code);
    EXPECT_TRUE(expected.contains(0) && expected.contains(130));  // done, interrupted

    std::FILE* help = std::tmpfile();
    ASSERT_NE(help, nullptr);
    PrintUsage(help);
    std::string helpText;
    std::rewind(help);
    for (int c; (c = std::fgetc(help)) != EOF;) helpText += static_cast<char>(c);
    std::fclose(help);
    EXPECT_EQ(Codes(Between(helpText, "Exit status:\n", "\n\n"), R"(\n  (\d+) )"), expected);

    const std::string source = ORVO_SOURCE_DIR;
    const std::string man = orvo::testing::ReadText(source + "/utility/orvoscan/orvoscan.1");
    EXPECT_EQ(Codes(Between(man, ".SH \"EXIT STATUS\"", "\n.SH "), R"(\n\.B (\d+)\n)"), expected);
    // The READMEs list them in a sentence: "Exit status: 0 done, 1 ..., 130 interrupted".
    const std::string sentence = R"((?:: |, |,\n  |,\n)(\d+) )";
    const std::string readme = orvo::testing::ReadText(source + "/README.md");
    EXPECT_EQ(Codes(Between(readme, "Exit status: ", "\n\n"), sentence), expected);
    const std::string tool = orvo::testing::ReadText(source + "/utility/orvoscan/README.md");
    EXPECT_EQ(Codes(Between(tool, "- Exit status: ", "\n- "), sentence), expected);
}

}  // namespace
}  // namespace orvoscan
