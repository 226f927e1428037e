#include "capture/scan_budget.h"

#include <boost/regex.hpp>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace zk {
namespace {

bool SearchWithin(std::size_t steps, const std::wstring& text, const boost::wregex& pattern,
                  std::wstring& group)
{
    CScanBudget budget(steps);
    boost::match_results<CScanBudget::CIterator> match;
    const wchar_t* first = text.data();
    if (!boost::regex_search(budget.Begin(first), budget.Begin(first + text.size()), match,
                             pattern))
        return false;
    group.assign(match[1].first.Position(), match[1].second.Position());
    return true;
}

TEST(ScanBudget, SearchWithinItsBudgetMatchesAsOverPlainText)
{
    boost::wregex pattern(L"<b>([^<]*)</b>", boost::regex_constants::perl);
    std::wstring text = std::wstring(500, L'x') + L"<b>name</b>";
    std::wstring group;
    ASSERT_TRUE(SearchWithin(100 * text.size(), text, pattern, group));
    EXPECT_EQ(group, L"name");
}

TEST(ScanBudget, SearchThatSpendsItsBudgetStopsWithSpent)
{
    // Each start before the end runs to the end and backtracks: the square of
    // the length, far beyond a budget of a few steps per character.
    boost::wregex pattern(L"a[^>]*b[^>]*c", boost::regex_constants::perl);
    std::wstring text(4000, L'a');
    std::wstring group;
    EXPECT_THROW(SearchWithin(8 * text.size(), text, pattern, group), CScanBudget::CSpent);
}

TEST(ScanBudget, MovesSpendAsManyStepsAsCharactersPassed)
{
    std::wstring text(10, L'x');
    CScanBudget budget(10);
    CScanBudget::CIterator it = budget.Begin(text.data());
    it += 4;
    --it;
    EXPECT_EQ(budget.StepsLeft(), 5u);
    EXPECT_EQ(*(it + 2), L'x'); // a copy moved by 2 spends 2 as well
    EXPECT_EQ(budget.StepsLeft(), 3u);
    EXPECT_THROW(it += 4, CScanBudget::CSpent);
    EXPECT_EQ(budget.StepsLeft(), 0u);
}

TEST(ScanBudget, EveryBudgetAddsWhatItSpentToItsThreadsTally)
{
    CScanBudget::CTally before = CScanBudget::ThreadTally();
    std::wstring text(10, L'x');
    {
        CScanBudget budget(100);
        CScanBudget::CIterator it = budget.Begin(text.data());
        it += 7;
    }
    {
        CScanBudget budget(3);
        CScanBudget::CIterator it = budget.Begin(text.data());
        EXPECT_THROW(it += 5, CScanBudget::CSpent);
    }
    CScanBudget::CTally after = CScanBudget::ThreadTally();
    EXPECT_EQ(after.m_budgets - before.m_budgets, 2u);
    EXPECT_EQ(after.m_spent - before.m_spent, 1u);
    EXPECT_EQ(after.m_steps - before.m_steps, 10u);

    // Another thread keeps a tally of its own.
    CScanBudget::CTally other;
    std::thread([&] {
        CScanBudget budget(5);
        budget.Begin(text.data()) += 2;
        other = CScanBudget::ThreadTally();
    }).join();
    EXPECT_EQ(other.m_budgets, 0u); // read before its budget ended
    EXPECT_EQ(CScanBudget::ThreadTally().m_steps, after.m_steps);
}

} // namespace
} // namespace zk
