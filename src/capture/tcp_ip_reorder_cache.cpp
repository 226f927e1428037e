#include "capture/tcp_ip_reorder_cache.h"

#include <algorithm>
#include <iterator>

namespace zk {

void CTcpIpReorderCache::Reset(std::uint32_t next)
{
    Clear();
    m_next = next;
    m_position = 0;
}

void CTcpIpReorderCache::Clear()
{
    m_runs.clear();
    m_bytes = 0;
    m_cost = 0;
}

template <class Runs, class F>
void CTcpIpReorderCache::ForEachPiece(Runs& runs, std::uint64_t start, std::uint64_t end,
                                      std::uint64_t& steps, F&& piece)
{
    ++steps;
    auto at = runs.upper_bound(start);
    if (at != runs.begin()) {
        auto before = std::prev(at);
        start = std::max(start, before->first + before->second.size());
    }
    while (start < end) {
        if (at == runs.end() || at->first >= end) {
            piece(start, end, at);
            return;
        }
        if (at->first > start)
            piece(start, at->first, at);
        start = std::max(start, at->first + at->second.size());
        ++at;
        ++steps;
    }
}

CTcpIpCacheCost CTcpIpReorderCache::CostOf(std::uint32_t sequence, std::size_t length) const
{
    std::uint64_t start = m_position + TcpSequenceDistance(sequence, m_next);
    CTcpIpCacheCost cost;
    ForEachPiece(m_runs, start, start + length, m_steps,
                 [&](std::uint64_t from, std::uint64_t to, auto) {
                     cost.m_bytes += RunCost(static_cast<std::size_t>(to - from));
                     ++cost.m_runs;
                 });
    return cost;
}

void CTcpIpReorderCache::Cache(std::uint32_t sequence, const std::uint8_t* data, std::size_t length)
{
    std::uint64_t start = m_position + TcpSequenceDistance(sequence, m_next);
    // A new piece lies between the run before it and the one the walk
    // stands at, so inserting it there leaves the walk where it was.
    ForEachPiece(m_runs, start, start + length, m_steps,
                 [&](std::uint64_t from, std::uint64_t to, CRuns::iterator after) {
                     const std::uint8_t* begin = data + (from - start);
                     std::size_t size = static_cast<std::size_t>(to - from);
                     m_runs.emplace_hint(after, from,
                                         std::vector<std::uint8_t>(begin, begin + size));
                     m_bytes += size;
                     m_cost += RunCost(size);
                 });
}

} // namespace zk
