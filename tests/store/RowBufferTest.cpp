#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

#include "store/RowBuffer.h"

using store::detail::Cell;
using store::detail::RowBuffer;

namespace {

void putRow(RowBuffer& rows, std::int64_t id, const std::string& text)
{
    rows.beginRow();
    rows.putInteger(id);
    rows.putText(text.data(), text.size());
    rows.putNull();
}

TEST(RowBuffer, KeepsEveryKindOfValueExactly)
{
    RowBuffer rows;
    const std::string longText(300, 'z'); // a length that needs two varint bytes
    const std::string cjk = "使用时间";
    const std::int64_t integers[] = {0, 1, -1, 63, -64, 64, 127, 128, std::numeric_limits<std::int64_t>::max(),
                                     std::numeric_limits<std::int64_t>::min()};
    for (std::int64_t v : integers) {
        rows.beginRow();
        rows.putInteger(v);
        rows.putReal(-0.1 * double(v));
        rows.putText(longText.data(), longText.size());
        rows.putText(cjk.data(), cjk.size());
        rows.putText("", 0);
        rows.putBlob("\0\1", 2);
        rows.putNull();
        rows.appendRow();
    }
    ASSERT_EQ(rows.rowCount(), std::size(integers));
    rows.shrinkToFit();
    for (std::size_t r = 0; r < rows.rowCount(); ++r) {
        EXPECT_EQ(rows.cell(r, 0).type, Cell::Type::Integer);
        EXPECT_EQ(rows.cell(r, 0).integer, integers[r]);
        EXPECT_EQ(rows.cell(r, 1).real, -0.1 * double(integers[r]));
        EXPECT_EQ(rows.cell(r, 2).bytes, longText);
        EXPECT_EQ(rows.cell(r, 3).bytes, cjk);
        EXPECT_EQ(rows.cell(r, 4).type, Cell::Type::Text);
        EXPECT_TRUE(rows.cell(r, 4).bytes.empty());
        EXPECT_EQ(rows.cell(r, 5).type, Cell::Type::Blob);
        EXPECT_EQ(rows.cell(r, 5).bytes, std::string("\0\1", 2));
        EXPECT_EQ(rows.cell(r, 6).type, Cell::Type::Null);
    }
}

TEST(RowBuffer, ReplacedAndRemovedRowsLeaveTheOthersIntactAcrossCompaction)
{
    RowBuffer rows;
    const int count = 2000;
    for (int i = 0; i < count; ++i) {
        putRow(rows, i, "row " + std::to_string(i));
        rows.appendRow();
    }
    // Enough rewrites to pass the waste threshold several times.
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < count; i += 2) {
            putRow(rows, i, std::string(40, char('a' + round % 26)) + std::to_string(i));
            rows.replaceRow(std::size_t(i));
        }
    }
    for (int i = count - 1; i >= 0; i -= 3)
        rows.removeRow(std::size_t(i));

    std::size_t r = 0;
    for (int i = 0; i < count; ++i) {
        if ((count - 1 - i) % 3 == 0)
            continue;
        ASSERT_LT(r, rows.rowCount());
        EXPECT_EQ(rows.cell(r, 0).integer, i);
        const std::string expected = i % 2 == 0 ? std::string(40, char('a' + 19)) + std::to_string(i) : "row " + std::to_string(i);
        EXPECT_EQ(rows.cell(r, 1).bytes, expected) << i;
        EXPECT_EQ(rows.cell(r, 2).type, Cell::Type::Null);
        ++r;
    }
    EXPECT_EQ(r, rows.rowCount());
    // The dropped versions were reclaimed: far less than 20 copies of the changed rows.
    EXPECT_LT(rows.storageBytes(), std::size_t(count) * 60 * 3);
}

// Removals here and there (the gap moving both ways), appends and replacements mixed, and
// compactions on the way, checked row by row against a plain list; then a copy taken in
// the middle is swapped back, as a rolled-back transaction does.
TEST(RowBuffer, RowsStayInOrderUnderRemovalsAnywhereAppendsAndACopySwappedBack)
{
    RowBuffer rows;
    std::vector<std::int64_t> expected;
    const std::string text(40, 'x');
    for (std::int64_t id = 0; id < 2000; ++id) {
        putRow(rows, id, text);
        rows.appendRow();
        expected.push_back(id);
    }
    const auto same = [&] {
        if (rows.rowCount() != expected.size())
            return false;
        for (std::size_t row = 0; row < expected.size(); ++row) {
            if (rows.cell(row, 0).integer != expected[row] || rows.cell(row, 1).bytes != text)
                return false;
        }
        return true;
    };

    std::mt19937 random(7);
    RowBuffer saved;
    std::vector<std::int64_t> savedExpected;
    std::int64_t next = 2000;
    for (int step = 0; step < 6000; ++step) {
        const unsigned what = random() % 10;
        if (what < 6 && !expected.empty()) {
            // Mostly where the last removal was, sometimes anywhere.
            const std::size_t row = what < 4 ? std::min<std::size_t>(expected.size() - 1, 17) : random() % expected.size();
            rows.removeRow(row);
            expected.erase(expected.begin() + std::ptrdiff_t(row));
        } else if (what < 8) {
            putRow(rows, next, text);
            rows.appendRow();
            expected.push_back(next++);
        } else if (!expected.empty()) {
            const std::size_t row = random() % expected.size();
            putRow(rows, next, text);
            rows.replaceRow(row);
            expected[row] = next++;
        }
        if (step == 3000) {
            saved.copyFrom(rows);
            savedExpected = expected;
        }
        if (step % 10 == 0)
            ASSERT_TRUE(same()) << "after step " << step;
    }
    rows.swap(saved);
    expected = savedExpected;
    EXPECT_TRUE(same());
    rows.shrinkToFit();
    EXPECT_TRUE(same());
}

} // namespace
