// What reaches the terminal: text from servers is printed with its controls escaped.
#include "frontends/console/console_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace talvane::ui::console {
namespace {

std::string Printed(std::FILE* f) {
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
    return text;
}

TEST(ConsoleOutputTest, WindowsAndNotesEscapeControlCharacters) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_TRUE(out && err);
    ConsoleOutput output(out, err, false);
    output.Block("    1. Evil\x1b]0;owned\x07\x1b[2J\n    2. Office\n");
    output.Note("[status] Extracting \x1b[31mred");
    EXPECT_EQ(Printed(out), "    1. Evil\\x1b]0;owned\\x07\\x1b[2J\n    2. Office\n");
    EXPECT_EQ(Printed(err), "[status] Extracting \\x1b[31mred\n");
    std::fclose(out);
    std::fclose(err);
}

}  // namespace
}  // namespace talvane::ui::console
