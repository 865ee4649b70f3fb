// What reaches the terminal: text from servers is printed with its controls escaped,
// and progress follows the rules every bar shares.
#include "frontends/console/console_output.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

// Every bar (console, window, test fake) follows these rules.
TEST(ProgressModelTest, RefusesSettingsOutsideTheRangeAndDrawsWithinTheSteps) {
    enum Op { Min, Max, Value };
    const struct {
        const char* what;
        std::vector<std::pair<Op, long>> ops;
        std::string taken;  // '+' for each setting taken, '-' for each refused
        long min, max, value;
        int drawn;  // in 1000 steps
    } cases[] = {
        {"value above max", {{Value, 40}, {Value, 101}}, "+-", 0, 100, 40, 400},
        {"value below min", {{Min, 10}, {Value, 5}}, "+-", 10, 100, 10, 0},
        {"min above max", {{Min, 101}}, "-", 0, 100, 0, 0},
        {"max below min", {{Min, 50}, {Max, 49}}, "+-", 50, 100, 50, 0},
        {"lower max pulls the value", {{Value, 90}, {Max, 60}}, "++", 0, 60, 60, 1000},
        {"higher min pulls the value", {{Value, 5}, {Min, 20}}, "++", 20, 100, 20, 0},
        {"empty range", {{Max, 0}, {Value, 0}}, "++", 0, 0, 0, 0},
        {"widest", {{Min, LONG_MIN}, {Max, LONG_MAX}}, "++", LONG_MIN, LONG_MAX, 0, 500},
    };
    for (const auto& c : cases) {
        ProgressModel bar;
        std::string taken;
        for (const auto& [op, v] : c.ops) {
            const bool ok = op == Min ? bar.SetMin(v) : op == Max ? bar.SetMax(v) : bar.SetValue(v);
            taken += ok ? '+' : '-';
        }
        EXPECT_EQ(taken, c.taken) << c.what;
        EXPECT_EQ(bar.Min(), c.min) << c.what;
        EXPECT_EQ(bar.Max(), c.max) << c.what;
        EXPECT_EQ(bar.Value(), c.value) << c.what;
        EXPECT_EQ(bar.Position(1000), c.drawn) << c.what;
    }
}

TEST(ProgressModelTest, ABarIsDrawnOncePerStepNotOncePerValue) {
    ProgressModel bar;
    DrawnPosition drawn(1000);
    bar.SetMax(1'000'000);
    int draws = 0;
    for (long v = 0; v <= 1'000'000; v += 7) draws += bar.SetValue(v) && drawn.Next(bar);
    EXPECT_EQ(draws, 1000);
    drawn.Forget();  // a new widget shows the bar where it is
    EXPECT_EQ(drawn.Next(bar), std::optional<int>(999));
}

}  // namespace
}  // namespace talvane::ui::console
