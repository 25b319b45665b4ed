#include "engine/PcapReader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <arpa/inet.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnwell {

namespace {

// Link types as the file states them (pcap-linktype(7)); libpcap hands them on as DLT values.
constexpr int kLinkNull = 0;  // BSD loopback: 4-byte address family in host order
constexpr int kLinkEthernet = 1;
constexpr int kLinkRaw = 101;  // raw IPv4 or IPv6; libpcap reports it as DLT_RAW
constexpr int kLinkLinuxSll = 113;
constexpr int kLinkIpv4 = 228;
constexpr int kLinkIpv6 = 229;
constexpr int kLinkLinuxSll2 = 276;

constexpr std::uint16_t kEtherIpv4 = 0x0800;
constexpr std::uint16_t kEtherIpv6 = 0x86DD;
constexpr std::uint16_t kEtherVlan = 0x8100;
constexpr std::uint16_t kEtherQinQ = 0x88A8;
constexpr int kProtocolUdp = 17;

struct PcapCloser {
    void operator()(pcap_t* handle) const noexcept { pcap_close(handle); }
};
using PcapHandle = std::unique_ptr<pcap_t, PcapCloser>;

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using CFile = std::unique_ptr<std::FILE, FileCloser>;

std::uint16_t Be16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

// A view of the bytes still to parse; every read is checked against its end.
struct Bytes {
    const std::uint8_t* data;
    std::size_t size;
    bool Skip(std::size_t n)
    {
        if (n > size) {
            return false;
        }
        data += n;
        size -= n;
        return true;
    }
};

bool ParseUdp(Bytes b, const std::string& source, const std::string& destination, UdpDatagram& out)
{
    if (b.size < 8) {
        return false;
    }
    const std::size_t length = Be16(b.data + 4);
    if (length < 8 || length > b.size) {
        return false;  // cut short by the snapshot length, or not a datagram
    }
    out.source = source;
    out.destination = destination;
    out.sourcePort = Be16(b.data);
    out.destinationPort = Be16(b.data + 2);
    out.payload.assign(b.data + 8, b.data + length);
    return true;
}

std::string AddressText(int family, const std::uint8_t* address)
{
    char text[INET6_ADDRSTRLEN] = {};
    return inet_ntop(family, address, text, sizeof text) != nullptr ? text : "?";
}

bool ParseIpv4(Bytes b, UdpDatagram& out)
{
    if (b.size < 20 || (b.data[0] >> 4) != 4) {
        return false;
    }
    const std::size_t headerLength = static_cast<std::size_t>(b.data[0] & 0x0F) * 4;
    const std::size_t total = Be16(b.data + 2);
    const bool fragment = (Be16(b.data + 6) & 0x3FFF) != 0;  // more fragments, or an offset
    if (headerLength < 20 || total < headerLength || total > b.size || fragment ||
        b.data[9] != kProtocolUdp) {
        return false;
    }
    const std::string source = AddressText(AF_INET, b.data + 12);
    const std::string destination = AddressText(AF_INET, b.data + 16);
    b.size = total;  // Ethernet pads short frames
    return b.Skip(headerLength) && ParseUdp(b, source, destination, out);
}

bool ParseIpv6(Bytes b, UdpDatagram& out)
{
    if (b.size < 40 || (b.data[0] >> 4) != 6) {
        return false;
    }
    const std::size_t total = 40 + static_cast<std::size_t>(Be16(b.data + 4));
    if (total > b.size) {
        return false;
    }
    int next = b.data[6];
    const std::string source = AddressText(AF_INET6, b.data + 8);
    const std::string destination = AddressText(AF_INET6, b.data + 24);
    b.size = total;
    b.Skip(40);
    // Hop-by-hop, routing and destination options may precede UDP; a fragment header ends it.
    while (next == 0 || next == 43 || next == 60) {
        if (b.size < 8) {
            return false;
        }
        next = b.data[0];
        if (!b.Skip((static_cast<std::size_t>(b.data[1]) + 1) * 8)) {
            return false;
        }
    }
    return next == kProtocolUdp && ParseUdp(b, source, destination, out);
}

bool ParseByEtherType(std::uint16_t type, Bytes b, UdpDatagram& out)
{
    if (type == kEtherIpv4) {
        return ParseIpv4(b, out);
    }
    if (type == kEtherIpv6) {
        return ParseIpv6(b, out);
    }
    return false;
}

bool ParseLink(int link, Bytes b, UdpDatagram& out)
{
    switch (link) {
    case kLinkEthernet: {
        if (b.size < 14) {
            return false;
        }
        std::uint16_t type = Be16(b.data + 12);
        b.Skip(14);
        while (type == kEtherVlan || type == kEtherQinQ) {
            if (b.size < 4) {
                return false;
            }
            type = Be16(b.data + 2);
            b.Skip(4);
        }
        return ParseByEtherType(type, b, out);
    }
    case kLinkLinuxSll:
        return b.size >= 16 && ParseByEtherType(Be16(b.data + 14), Bytes{b.data + 16, b.size - 16}, out);
    case kLinkLinuxSll2:
        return b.size >= 20 && ParseByEtherType(Be16(b.data), Bytes{b.data + 20, b.size - 20}, out);
    case kLinkNull:
        if (b.size < 5) {
            return false;
        }
        b.Skip(4);
        return (b.data[0] >> 4) == 4 ? ParseIpv4(b, out) : ParseIpv6(b, out);
    case DLT_RAW:
    case kLinkRaw:
    case kLinkIpv4:
    case kLinkIpv6:
        if (b.size < 1) {
            return false;
        }
        return (b.data[0] >> 4) == 4 ? ParseIpv4(b, out) : ParseIpv6(b, out);
    default:
        return false;
    }
}

bool IsKnownLink(int link)
{
    return link == kLinkNull || link == kLinkEthernet || link == DLT_RAW || link == kLinkRaw ||
           link == kLinkLinuxSll || link == kLinkLinuxSll2 || link == kLinkIpv4 || link == kLinkIpv6;
}

// Takes the file over: pcap_close closes it.
bool ReadOpenFile(CFile file, const std::string& name, PcapContents& contents, std::string& refusal)
{
    contents = {};
    char error[PCAP_ERRBUF_SIZE] = {};
    PcapHandle pcap(pcap_fopen_offline(file.get(), error));
    if (!pcap) {
        refusal = name + ": not a readable pcap or pcapng file (" + error + ")";
        return false;
    }
    file.release();
    const int link = pcap_datalink(pcap.get());
    if (!IsKnownLink(link)) {
        const char* linkName = pcap_datalink_val_to_name(link);
        refusal = name + ": link type " + std::to_string(link) +
                  (linkName != nullptr ? std::string(" (") + linkName + ")" : std::string()) +
                  "; Tarnwell reads Ethernet, Linux cooked and raw IP captures";
        return false;
    }
    for (;;) {
        pcap_pkthdr* header = nullptr;
        const u_char* bytes = nullptr;
        const int status = pcap_next_ex(pcap.get(), &header, &bytes);
        if (status == PCAP_ERROR_BREAK) {
            return true;
        }
        const std::int64_t number = contents.packets + 1;
        if (status != 1) {
            refusal = name + ": packet " + std::to_string(number) + ": " + pcap_geterr(pcap.get());
            return false;
        }
        contents.packets = number;
        UdpDatagram datagram;
        if (!ParseLink(link, Bytes{bytes, header->caplen}, datagram)) {
            ++contents.passedOver;
            continue;
        }
        datagram.packet = number;
        datagram.timeUs = static_cast<std::int64_t>(header->ts.tv_sec) * 1000000 + header->ts.tv_usec;
        contents.datagrams.push_back(std::move(datagram));
    }
}

}  // namespace

bool IsPcapMagic(const std::uint8_t* head, std::size_t size)
{
    if (size < 4) {
        return false;
    }
    const std::uint32_t magics[] = {0xA1B2C3D4, 0xD4C3B2A1, 0xA1B23C4D, 0x4D3CB2A1, 0x0A0D0D0A};
    const std::uint32_t first = (std::uint32_t{head[0]} << 24) | (std::uint32_t{head[1]} << 16) |
                                (std::uint32_t{head[2]} << 8) | head[3];
    for (std::uint32_t magic : magics) {
        if (first == magic) {
            return true;
        }
    }
    return false;
}

bool ReadPcap(int descriptor, const std::string& name, PcapContents& contents, std::string& refusal)
{
    const int copy = ::dup(descriptor);
    CFile file(copy >= 0 ? ::fdopen(copy, "rb") : nullptr);
    if (!file) {
        if (copy >= 0) {
            ::close(copy);
        }
        refusal = name + ": " + std::strerror(errno);
        return false;
    }
    std::rewind(file.get());
    return ReadOpenFile(std::move(file), name, contents, refusal);
}

bool ReadPcapBytes(const std::uint8_t* data, std::size_t size, const std::string& name,
                   PcapContents& contents, std::string& refusal)
{
    // fmemopen does not take an empty buffer; an empty file is refused the same way as a short one.
    static const std::uint8_t kNothing = 0;
    CFile file(::fmemopen(const_cast<std::uint8_t*>(size > 0 ? data : &kNothing), size > 0 ? size : 1, "rb"));
    if (!file) {
        refusal = name + ": " + std::strerror(errno);
        return false;
    }
    return ReadOpenFile(std::move(file), name, contents, refusal);
}

}  // namespace tarnwell
