// Builds receiving-card recovery files and smart-mapping scan files the way the PC software
// lays them out (little-endian, packed), for the reader and the jobs to work on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rcvfiles {

using Bytes = std::vector<uint8_t>;

struct Op {
    uint8_t type = 1;          // 1 write, 2 save, 3 activate, 5 reconfig, 6 sleep, 7 search, 16 user
    uint8_t target = 1;        // 1 RAM, 2 register
    uint32_t address = 0;
    uint32_t timeoutMs = 100;
    Bytes data;
};

struct Net {
    uint16_t ledx = 0;                     // output port 0-31
    std::vector<std::vector<Op>> cards;    // operations of card 0, 1, ...
    int declaredCards = -1;                // net_rcv_num; -1: the number of card blocks
};

struct Screen {
    uint32_t configId = 0;
    std::vector<Net> nets;
    std::vector<Op> params;                // card-parameter block (empty: none)
};

inline void put16(Bytes& b, size_t at, uint32_t v)
{
    if (b.size() < at + 2)
        b.resize(at + 2);
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void put32(Bytes& b, size_t at, uint32_t v)
{
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

// u16 count, 2 unused, 18-byte records; the first operation's data at `dataStart` from the
// block's base, the others after it.
inline Bytes operationBlock(const std::vector<Op>& ops, uint32_t dataStart)
{
    Bytes b(4 + 18 * ops.size(), 0);
    put16(b, 0, static_cast<uint32_t>(ops.size()));
    uint32_t data = dataStart;
    for (size_t i = 0; i < ops.size(); ++i) {
        const size_t r = 4 + 18 * i;
        put32(b, r, data);
        put32(b, r + 4, static_cast<uint32_t>(ops[i].data.size()));
        put32(b, r + 8, ops[i].address);
        put32(b, r + 12, ops[i].timeoutMs);
        b[r + 16] = ops[i].type;
        b[r + 17] = ops[i].target;
        data += static_cast<uint32_t>(ops[i].data.size());
    }
    return b;
}

inline Bytes appendData(Bytes block, const std::vector<Op>& ops)
{
    for (const Op& op : ops)
        block.insert(block.end(), op.data.begin(), op.data.end());
    return block;
}

// A net's card list: every card's block (count, records), then all the data.
inline Bytes cardList(const Net& net)
{
    size_t headers = 0;
    for (const auto& card : net.cards)
        headers += 4 + 18 * card.size();
    Bytes list;
    Bytes data;
    uint32_t dataAt = static_cast<uint32_t>(headers);
    for (const auto& card : net.cards) {
        Bytes block = operationBlock(card, dataAt);
        list.insert(list.end(), block.begin(), block.end());
        for (const Op& op : card) {
            data.insert(data.end(), op.data.begin(), op.data.end());
            dataAt += static_cast<uint32_t>(op.data.size());
        }
    }
    list.insert(list.end(), data.begin(), data.end());
    return list;
}

// Sections in the order 10, 11, 12 after a directory of three entries.
inline Bytes recoveryFile(const std::vector<Screen>& screens)
{
    Bytes xy, params;
    std::vector<uint32_t> xyAt, xyLen, paraAt, paraLen;
    for (const Screen& s : screens) {
        const uint32_t start = static_cast<uint32_t>(xy.size());
        Bytes block(4 + 12 * s.nets.size(), 0);
        put16(block, 0, static_cast<uint32_t>(s.nets.size()));
        for (size_t p = 0; p < s.nets.size(); ++p) {
            const Bytes list = cardList(s.nets[p]);
            const size_t r = 4 + 12 * p;
            put16(block, r, s.nets[p].ledx);
            const int n = s.nets[p].declaredCards >= 0 ? s.nets[p].declaredCards
                                                       : static_cast<int>(s.nets[p].cards.size());
            put16(block, r + 2, static_cast<uint32_t>(n));
            put32(block, r + 4, static_cast<uint32_t>(block.size()));
            put32(block, r + 8, static_cast<uint32_t>(list.size()));
            block.insert(block.end(), list.begin(), list.end());
        }
        xy.insert(xy.end(), block.begin(), block.end());
        xyAt.push_back(start);
        xyLen.push_back(static_cast<uint32_t>(xy.size()) - start);

        paraAt.push_back(static_cast<uint32_t>(params.size()));
        if (s.params.empty()) {
            paraLen.push_back(0);
        } else {
            const Bytes pb = appendData(operationBlock(s.params, static_cast<uint32_t>(4 + 18 * s.params.size())),
                                        s.params);
            params.insert(params.end(), pb.begin(), pb.end());
            paraLen.push_back(static_cast<uint32_t>(pb.size()));
        }
    }

    Bytes screensSection(32 + 52 * screens.size(), 0);
    screensSection[2] = 10;
    put32(screensSection, 4, static_cast<uint32_t>(params.size()));
    put32(screensSection, 12, static_cast<uint32_t>(xy.size()));
    screensSection[20] = static_cast<uint8_t>(screens.size());
    for (size_t s = 0; s < screens.size(); ++s) {
        const size_t r = 32 + 52 * s;
        put32(screensSection, r, screens[s].configId);
        put32(screensSection, r + 4, static_cast<uint32_t>(screens[s].nets.size()));
        put32(screensSection, r + 36, paraAt[s]);
        put32(screensSection, r + 40, paraLen[s]);
        put32(screensSection, r + 44, xyAt[s]);
        put32(screensSection, r + 48, xyLen[s]);
    }

    const uint32_t s10 = 4 + 3 * 12;
    const uint32_t s11 = s10 + static_cast<uint32_t>(screensSection.size());
    const uint32_t s12 = s11 + static_cast<uint32_t>(xy.size());
    Bytes file(s10, 0);
    file[3] = 3;
    const uint8_t types[3] = {10, 11, 12};
    const uint32_t offsets[3] = {s10, s11, s12};
    const uint32_t lengths[3] = {static_cast<uint32_t>(screensSection.size()), static_cast<uint32_t>(xy.size()),
                                 static_cast<uint32_t>(params.size())};
    for (int i = 0; i < 3; ++i) {
        file[4 + 12 * i] = types[i];
        put32(file, 4 + 12 * i + 4, lengths[i]);
        put32(file, 4 + 12 * i + 8, offsets[i]);
    }
    file.insert(file.end(), screensSection.begin(), screensSection.end());
    file.insert(file.end(), xy.begin(), xy.end());
    file.insert(file.end(), params.begin(), params.end());
    return file;
}

// A scan file: 16-byte head, the operation block at 16, data at 16 + the record's offset.
inline Bytes scanFile(const std::vector<Op>& ops)
{
    Bytes file(16, 0xEE);
    const Bytes block = appendData(operationBlock(ops, static_cast<uint32_t>(4 + 18 * ops.size())), ops);
    file.insert(file.end(), block.begin(), block.end());
    return file;
}

}  // namespace rcvfiles
