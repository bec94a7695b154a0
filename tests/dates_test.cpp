#include <cctype>

#include <gtest/gtest.h>

#include "annoxml/util.h"

namespace {

TEST(Dates, DateIsTenCharactersAndAgreesWithTheYear) {
    std::string year;
    std::string date;
    // Retry across a change of second, so that both describe the same moment.
    for (int attempt = 0; attempt < 3; ++attempt) {
        year = GetCurrentYear();
        date = GetCurrentDateFormatted();
        if (year == GetCurrentYear()) break;
    }
    ASSERT_EQ(date.size(), 10u);
    EXPECT_EQ(date[4], '/');
    EXPECT_EQ(date[7], '/');
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(date[i]))) << date;
    }
    EXPECT_EQ(date.substr(0, 4), year);
    EXPECT_NE(year[0], '0');
}

}  // namespace
