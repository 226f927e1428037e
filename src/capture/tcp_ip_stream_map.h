#pragma once

#include "capture/tcp_ip_stream_info.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace zk {

// Stream keys to values, for the tables the decoding chain looks up with
// every packet. The table is one flat array of slots sized once for the most
// entries its owner allows: a lookup is a hash and a short run of adjacent
// slots, with no allocation and no pointer to follow, so its cost stays the
// same however many connections have come and gone. Collisions go to the next
// free slot (linear probing); an erase moves later entries of the run back
// into the hole, so no tombstones build up.
template <class V> class CTcpIpStreamMap
{
public:
    // At most half the slots are used, which keeps the runs short.
    explicit CTcpIpStreamMap(std::size_t maxEntries)
        : m_slots(std::bit_ceil(maxEntries * 2 < kMinSlots ? kMinSlots : maxEntries * 2)),
          m_maxEntries(maxEntries), m_mask(m_slots.size() - 1)
    {}

    std::size_t Size() const { return m_size; }

    V* Find(const CTcpIpStreamKey& key)
    {
        std::size_t at = 0;
        return Locate(key, at) ? &m_slots[at].m_value : nullptr;
    }
    const V* Find(const CTcpIpStreamKey& key) const
    {
        std::size_t at = 0;
        return Locate(key, at) ? &m_slots[at].m_value : nullptr;
    }

    // False when the key is there already or the table holds its most
    // entries; the owner retires an entry before it adds one beyond that.
    bool Insert(const CTcpIpStreamKey& key, const V& value)
    {
        std::size_t at = 0;
        if (Locate(key, at) || m_size >= m_maxEntries)
            return false;
        // Locate stopped at the free slot that ends the key's run.
        m_slots[at] = CSlot{key, value, true};
        ++m_size;
        return true;
    }

    bool Erase(const CTcpIpStreamKey& key)
    {
        std::size_t hole = 0;
        if (!Locate(key, hole))
            return false;
        // A free slot keeps no value, so that nothing a value owns outlives
        // its entry.
        m_slots[hole] = CSlot{};
        --m_size;
        // An entry further on stays reachable only if its home slot is not
        // cyclically after the hole, up to where it sits; otherwise it moves
        // into the hole, which moves on to where it was.
        for (std::size_t at = (hole + 1) & m_mask; m_slots[at].m_used; at = (at + 1) & m_mask) {
            std::size_t home = CTcpIpStreamKeyHash()(m_slots[at].m_key) & m_mask;
            if (((at - home) & m_mask) < ((at - hole) & m_mask))
                continue;
            m_slots[hole] = std::move(m_slots[at]);
            m_slots[at] = CSlot{};
            hole = at;
        }
        return true;
    }

    void Clear()
    {
        for (CSlot& slot : m_slots)
            slot = CSlot{};
        m_size = 0;
    }

private:
    static constexpr std::size_t kMinSlots = 16;

    struct CSlot
    {
        CTcpIpStreamKey m_key;
        V m_value{};
        bool m_used = false;
    };

    // True with the key's slot in at, or false with the free slot where the
    // key would go. There is always a free slot, since at most half are used.
    bool Locate(const CTcpIpStreamKey& key, std::size_t& at) const
    {
        for (at = CTcpIpStreamKeyHash()(key) & m_mask;; at = (at + 1) & m_mask) {
            const CSlot& slot = m_slots[at];
            if (!slot.m_used)
                return false;
            if (slot.m_key == key)
                return true;
        }
    }

    std::vector<CSlot> m_slots;
    std::size_t m_maxEntries;
    std::size_t m_mask;
    std::size_t m_size = 0;
};

} // namespace zk
