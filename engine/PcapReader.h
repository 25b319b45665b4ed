// PcapReader: the UDP datagrams of a pcap or pcapng capture, read through libpcap. Link types:
// Ethernet (with any number of VLAN tags), Linux cooked v1 and v2, raw IP and BSD loopback;
// IPv4 and IPv6. Anything else in the file (ARP, TCP, fragments, packets cut short by the
// snapshot length) is passed over and counted. A file libpcap cannot read to its end is
// refused with the packet number and the reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwell {

struct UdpDatagram {
    std::int64_t packet = 0;  // 1-based number of the packet in the file
    std::int64_t timeUs = 0;  // capture time, microseconds since the epoch
    std::string source;       // address as text: "192.0.2.1", "2001:db8::1"
    std::string destination;
    std::uint16_t sourcePort = 0;
    std::uint16_t destinationPort = 0;
    std::vector<std::uint8_t> payload;
};

struct PcapContents {
    std::vector<UdpDatagram> datagrams;  // in file order
    std::int64_t packets = 0;            // every packet in the file
    std::int64_t passedOver = 0;         // packets that held no whole UDP datagram
};

// True when the first bytes are a pcap (either byte order, micro- or nanosecond) or pcapng
// magic number.
bool IsPcapMagic(const std::uint8_t* head, std::size_t size);

// Reads the file open on descriptor (its offset is not used; the descriptor stays open).
// name is the file's name in the refusal: "call.pcap: packet 7: truncated dump file; ...".
bool ReadPcap(int descriptor, const std::string& name, PcapContents& contents, std::string& refusal);

// The same from bytes in memory (tests and fuzzing).
bool ReadPcapBytes(const std::uint8_t* data, std::size_t size, const std::string& name,
                   PcapContents& contents, std::string& refusal);

}  // namespace tarnwell
