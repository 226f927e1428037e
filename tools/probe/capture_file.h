#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zk {

// Reads a pcap or pcapng capture file and hands every IPv4 and IPv6 datagram
// in it to each, one per packet and in file order, with the packet's time in
// milliseconds. Link types: Ethernet (VLAN tags skipped), raw IP (either
// version, by its version nibble), raw IPv4, raw IPv6, Linux cooked capture v1
// and v2, BSD and OpenBSD loopback (IPv4 only). Packets that carry anything
// else are skipped. False, with the reason in error, when the
// file cannot be opened or read or has a link type the reader does not know.
bool ReadCaptureFile(const std::string& path,
                     const std::function<void(const std::uint8_t* ip, std::size_t length,
                                              std::uint64_t timeMs)>& each,
                     std::string& error);

} // namespace zk
