// The one text formatter, number formatter and CSV writer that every output shares.
#include "EngineTestSupport.h"
#include "engine/TextFormat.h"

using namespace tarnwell;

TEST(TextFormat, FormatsTextOfAnyLengthWithoutCuttingIt)
{
    const std::string name(1000, 'x');
    EXPECT_EQ(text::Format("%s: %d", name.c_str(), 42), name + ": 42");
    EXPECT_EQ(text::Format("%s", ""), "");
}

// Every number reads back to the same double, and the non-finite ones have the names that
// JSON readers and spreadsheets are told to expect.
TEST(TextFormat, NumbersReadBackExactlyAndNonFiniteOnesHaveOneSpelling)
{
    const double exact[] = {0.0,
                            -12.5,
                            0.1,
                            1.0 / 3.0,
                            1e-300,
                            -4.9406564584124654e-324,
                            123456789012.0,
                            std::numeric_limits<double>::max()};
    for (double v : exact) {
        const std::string t = text::Number(v);
        EXPECT_EQ(std::strtod(t.c_str(), nullptr), v) << t;
        EXPECT_EQ(text::NonFiniteName(v), nullptr) << t;
    }
    EXPECT_EQ(text::Number(0.1), "0.1");  // the shortest form, not 0.10000000000000001
    EXPECT_EQ(text::Number(std::nan("")), "NaN");
    EXPECT_EQ(text::Number(INFINITY), "Infinity");
    EXPECT_EQ(text::Number(-INFINITY), "-Infinity");
}

TEST(TextFormat, CsvQuotesOnlyTheCellsThatNeedIt)
{
    const std::pair<const char*, const char*> cases[] = {{"plain", "plain"},
                                                         {"a,b", "\"a,b\""},
                                                         {"say \"hi\"", "\"say \"\"hi\"\"\""},
                                                         {"two\nlines", "\"two\nlines\""},
                                                         {"cr\r", "\"cr\r\""},
                                                         {"", ""}};
    for (auto [cell, written] : cases) {
        EXPECT_EQ(text::CsvCell(cell), written) << cell;
    }
    EXPECT_EQ(text::CsvLine({"a", "b,c", ""}), "a,\"b,c\",\n");
}
