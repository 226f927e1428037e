#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <iterator>

namespace zk {

// A number of steps a regular-expression search may take over a text. The
// search runs over CScanBudget::CIterator, and every move of an iterator
// through the text spends as many steps as characters it passes; once the
// budget is spent the move throws CSpent, which ends the search. A search
// that backtracks without end (a hostile page can make one cost seconds)
// thus stops after a known amount of work, however the pattern is written.
//
// Every budget adds what it spent to a tally of its thread when it ends, so
// that the work of a whole scan can be measured by counting, not timing.
class CScanBudget
{
public:
    // The budgets a thread has used so far and the steps they spent.
    struct CTally
    {
        std::uint64_t m_budgets = 0; // budgets that have ended
        std::uint64_t m_spent = 0;   // of those, budgets that ran out
        std::uint64_t m_steps = 0;   // steps spent by all of them
    };

    class CSpent : public std::exception
    {
    public:
        const char* what() const noexcept override { return "scan budget spent"; }
    };

    class CIterator
    {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = wchar_t;
        using difference_type = std::ptrdiff_t;
        using pointer = const wchar_t*;
        using reference = const wchar_t&;

        CIterator() = default;
        CIterator(const wchar_t* at, CScanBudget* budget) : m_at(at), m_budget(budget) {}

        const wchar_t* Position() const { return m_at; }

        reference operator*() const { return *m_at; }
        pointer operator->() const { return m_at; }
        reference operator[](difference_type n) const { return m_at[n]; }

        CIterator& operator++()
        {
            Spend(1);
            ++m_at;
            return *this;
        }
        CIterator operator++(int)
        {
            CIterator before = *this;
            ++*this;
            return before;
        }
        CIterator& operator--()
        {
            Spend(1);
            --m_at;
            return *this;
        }
        CIterator operator--(int)
        {
            CIterator before = *this;
            --*this;
            return before;
        }
        CIterator& operator+=(difference_type n)
        {
            Spend(n < 0 ? -n : n);
            m_at += n;
            return *this;
        }
        CIterator& operator-=(difference_type n) { return *this += -n; }
        friend CIterator operator+(CIterator it, difference_type n) { return it += n; }
        friend CIterator operator+(difference_type n, CIterator it) { return it += n; }
        friend CIterator operator-(CIterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const CIterator& a, const CIterator& b)
        {
            return a.m_at - b.m_at;
        }

        friend bool operator==(const CIterator& a, const CIterator& b) { return a.m_at == b.m_at; }
        friend auto operator<=>(const CIterator& a, const CIterator& b)
        {
            return a.m_at <=> b.m_at;
        }

    private:
        void Spend(difference_type steps) const
        {
            if (m_budget)
                m_budget->Spend(static_cast<std::size_t>(steps));
        }

        const wchar_t* m_at = nullptr;
        CScanBudget* m_budget = nullptr;
    };

    explicit CScanBudget(std::size_t steps) : m_steps(steps), m_stepsLeft(steps) {}
    ~CScanBudget()
    {
        CTally& tally = Tally();
        ++tally.m_budgets;
        tally.m_spent += m_ranOut ? 1 : 0;
        tally.m_steps += m_steps - m_stepsLeft;
    }
    CScanBudget(const CScanBudget&) = delete;
    CScanBudget& operator=(const CScanBudget&) = delete;

    std::size_t StepsLeft() const { return m_stepsLeft; }

    // The tally of the calling thread.
    static CTally ThreadTally() { return Tally(); }

    CIterator Begin(const wchar_t* at) { return CIterator(at, this); }

private:
    static CTally& Tally()
    {
        thread_local CTally tally;
        return tally;
    }

    void Spend(std::size_t steps)
    {
        if (steps > m_stepsLeft) {
            m_stepsLeft = 0;
            m_ranOut = true;
            throw CSpent();
        }
        m_stepsLeft -= steps;
    }

    std::size_t m_steps;
    std::size_t m_stepsLeft;
    bool m_ranOut = false;
};

} // namespace zk
