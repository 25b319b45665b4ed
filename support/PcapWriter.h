// A small pcap writer for the tests and the fuzz seeds: a call's RTP packets as the bytes of a
// classic pcap file, over Ethernet (with VLAN tags), Linux cooked v1/v2 or raw IP, IPv4 or IPv6.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwell::testpcap {

enum class Link { kEthernet, kVlan, kCookedV1, kCookedV2, kRawIp };

struct RtpPacket {
    bool towardsGateway = true;  // Tx: from the far end to the gateway
    std::uint16_t sequence = 0;
    std::uint32_t timestamp = 0;
    std::uint32_t ssrc = 0;
    int payloadType = 8;
    bool marker = false;
    std::int64_t timeUs = 0;
    std::vector<std::uint8_t> payload;
};

// The two ends of the call: the gateway at 192.0.2.2 (or 2001:db8::2) port 5000, the far end
// at .1 (or farEnd) port 4000.
struct CallWriter {
    Link link = Link::kEthernet;
    bool ipv6 = false;
    std::uint8_t farEnd = 1;  // the far end's host number; the gateway is 2

    std::vector<std::uint8_t> File(const std::vector<RtpPacket>& packets) const
    {
        std::vector<std::uint8_t> out;
        Put32(out, 0xA1B2C3D4);
        Put16(out, 2);
        Put16(out, 4);
        Put32(out, 0);
        Put32(out, 0);
        Put32(out, 65535);
        const std::uint32_t linkType[] = {1, 1, 113, 276, 101};
        Put32(out, linkType[static_cast<int>(link)]);
        for (const RtpPacket& p : packets) {
            const std::vector<std::uint8_t> frame = Frame(p);
            Put32(out, static_cast<std::uint32_t>(p.timeUs / 1000000));
            Put32(out, static_cast<std::uint32_t>(p.timeUs % 1000000));
            Put32(out, static_cast<std::uint32_t>(frame.size()));
            Put32(out, static_cast<std::uint32_t>(frame.size()));
            out.insert(out.end(), frame.begin(), frame.end());
        }
        return out;
    }

    std::vector<std::uint8_t> Frame(const RtpPacket& p) const
    {
        std::vector<std::uint8_t> rtp = {0x80,
                                         static_cast<std::uint8_t>((p.marker ? 0x80 : 0) | p.payloadType)};
        PutBe16(rtp, p.sequence);
        PutBe32(rtp, p.timestamp);
        PutBe32(rtp, p.ssrc);
        rtp.insert(rtp.end(), p.payload.begin(), p.payload.end());

        std::vector<std::uint8_t> udp;
        PutBe16(udp, p.towardsGateway ? 4000 : 5000);
        PutBe16(udp, p.towardsGateway ? 5000 : 4000);
        PutBe16(udp, static_cast<std::uint16_t>(8 + rtp.size()));
        PutBe16(udp, 0);
        udp.insert(udp.end(), rtp.begin(), rtp.end());

        std::vector<std::uint8_t> ip;
        const std::uint8_t gateway = 2;
        const std::uint8_t from = p.towardsGateway ? farEnd : gateway;
        const std::uint8_t to = p.towardsGateway ? gateway : farEnd;
        if (ipv6) {
            ip = {0x60, 0, 0, 0};
            PutBe16(ip, static_cast<std::uint16_t>(udp.size()));
            ip.push_back(17);
            ip.push_back(64);
            for (std::uint8_t host : {from, to}) {
                const std::uint8_t address[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0,
                                                  0,    0,    0,    0,    0, 0, 0, host};
                ip.insert(ip.end(), address, address + 16);
            }
        } else {
            ip = {0x45, 0};
            PutBe16(ip, static_cast<std::uint16_t>(20 + udp.size()));
            ip.insert(ip.end(), {0, 0, 0, 0, 64, 17, 0, 0, 192, 0, 2, from, 192, 0, 2, to});
        }
        ip.insert(ip.end(), udp.begin(), udp.end());

        const std::uint16_t etherType = ipv6 ? 0x86DD : 0x0800;
        std::vector<std::uint8_t> frame;
        switch (link) {
        case Link::kEthernet:
        case Link::kVlan:
            frame.assign(12, 0x02);
            if (link == Link::kVlan) {
                PutBe16(frame, 0x8100);
                PutBe16(frame, 42);
            }
            PutBe16(frame, etherType);
            break;
        case Link::kCookedV1:
            frame.assign(14, 0);
            PutBe16(frame, etherType);
            break;
        case Link::kCookedV2:
            PutBe16(frame, etherType);
            frame.resize(20, 0);
            break;
        case Link::kRawIp:
            break;
        }
        frame.insert(frame.end(), ip.begin(), ip.end());
        return frame;
    }

    static void Put16(std::vector<std::uint8_t>& v, std::uint16_t x)
    {
        v.push_back(static_cast<std::uint8_t>(x));
        v.push_back(static_cast<std::uint8_t>(x >> 8));
    }
    static void Put32(std::vector<std::uint8_t>& v, std::uint32_t x)
    {
        Put16(v, static_cast<std::uint16_t>(x));
        Put16(v, static_cast<std::uint16_t>(x >> 16));
    }
    static void PutBe16(std::vector<std::uint8_t>& v, std::uint16_t x)
    {
        v.push_back(static_cast<std::uint8_t>(x >> 8));
        v.push_back(static_cast<std::uint8_t>(x));
    }
    static void PutBe32(std::vector<std::uint8_t>& v, std::uint32_t x)
    {
        PutBe16(v, static_cast<std::uint16_t>(x >> 16));
        PutBe16(v, static_cast<std::uint16_t>(x));
    }
};

// Both directions of a call, 20 ms (160 bytes) a packet, starting together at timeUs: Tx from
// txCodes (SSRC 0x1111), Rx from rxCodes (SSRC 0x2222), sent in time order.
inline std::vector<RtpPacket> Call(const std::vector<std::uint8_t>& txCodes,
                                   const std::vector<std::uint8_t>& rxCodes, int payloadType = 8,
                                   std::int64_t timeUs = 1700000000000000)
{
    std::vector<RtpPacket> packets;
    const std::size_t longest = std::max(txCodes.size(), rxCodes.size());
    for (std::size_t k = 0; k * 160 < longest; ++k) {
        for (const bool tx : {true, false}) {
            const std::vector<std::uint8_t>& codes = tx ? txCodes : rxCodes;
            if (k * 160 >= codes.size()) {
                continue;
            }
            RtpPacket p;
            p.towardsGateway = tx;
            p.sequence = static_cast<std::uint16_t>((tx ? 1000 : 2000) + k);
            p.timestamp = static_cast<std::uint32_t>((tx ? 100000 : 200000) + 160 * k);
            p.ssrc = tx ? 0x1111 : 0x2222;
            p.payloadType = payloadType;
            p.timeUs = timeUs + static_cast<std::int64_t>(k) * 20000;
            const std::size_t end = std::min(codes.size(), (k + 1) * 160);
            p.payload.assign(codes.begin() + static_cast<std::ptrdiff_t>(k * 160),
                             codes.begin() + static_cast<std::ptrdiff_t>(end));
            packets.push_back(std::move(p));
        }
    }
    return packets;
}

}  // namespace tarnwell::testpcap
