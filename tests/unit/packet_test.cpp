// The packet format: results, payloads and every trace line.
#include "capture.hpp"
#include "link/packet.hpp"

#include <gtest/gtest.h>

namespace {

using testing_support::ConsoleCapture;
using testing_support::lines;

// The lines of one checksum computation over a packet with a valid length field.
std::vector<std::string> checksumLines(int len, const std::string& cksum) {
    return {"tlk_i_computeChecksum: ", "@tlk_i_getPacketLen",
            " returning len as " + std::to_string(len), "  cksum=" + cksum};
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct EncodeRow {
    std::string payload;
    std::string packet;
    std::vector<std::string> trace;
};

class Encode : public testing::TestWithParam<EncodeRow> {};

TEST_P(Encode, BuildsPacketAndTrace) {
    const EncodeRow& row = GetParam();
    ConsoleCapture out;
    std::string packet = "left over";
    tlk_i_encodePacket(row.payload, packet);
    EXPECT_EQ(packet, row.packet);
    EXPECT_EQ(out.take(), lines(row.trace));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Encode,
    testing::Values(
        EncodeRow{"1", "5041",
                  std::vector<std::string>{"@tlk_i_encodePacket: s=1"} + checksumLines(4, "53/5")},
        EncodeRow{"2", "6042",
                  std::vector<std::string>{"@tlk_i_encodePacket: s=2"} + checksumLines(4, "54/6")},
        EncodeRow{"3", "7043",
                  std::vector<std::string>{"@tlk_i_encodePacket: s=3"} + checksumLines(4, "55/7")},
        EncodeRow{"4", "0044",
                  std::vector<std::string>{"@tlk_i_encodePacket: s=4"} + checksumLines(4, "48/0")},
        EncodeRow{"5", "1045",
                  std::vector<std::string>{"@tlk_i_encodePacket: s=5"} + checksumLines(4, "49/1")},
        // XOR 5 is lifted by 32
        EncodeRow{"11", "%0511",
                  std::vector<std::string>{"@tlk_i_encodePacket: s=11"} + checksumLines(5, "37/%")},
        EncodeRow{"", "#03",
                  std::vector<std::string>{"@tlk_i_encodePacket: s="} + checksumLines(3, "35/#")},
        // 17 bytes: the largest packet a receiver takes; 18 bytes: built all the same
        EncodeRow{"ABCDEFGHIJKLMNOPQ", "C20ABCDEFGHIJKLMNOPQ",
                  std::vector<std::string>{"@tlk_i_encodePacket: s=ABCDEFGHIJKLMNOPQ"} +
                      checksumLines(20, "67/C")},
        EncodeRow{"ABCDEFGHIJKLMNOPQR", "021ABCDEFGHIJKLMNOPQR",
                  std::vector<std::string>{"@tlk_i_encodePacket: s=ABCDEFGHIJKLMNOPQR"} +
                      checksumLines(21, "48/0")},
        // 8-bit bytes, CR LF and NUL travel as they are
        EncodeRow{
            std::string("\xff\r\n\0", 4),
            std::string("\x7f"
                        "07\xff\r\n\0",
                        7),
            std::vector<std::string>{"@tlk_i_encodePacket: s=" + std::string("\xff\r\n\0", 4)} +
                checksumLines(7, "127/\x7f")}));

TEST(EncodeLong, HundredBytePacketCarriesLengthModuloHundred) {
    ConsoleCapture out;
    std::string packet;
    tlk_i_encodePacket(std::string(97, 'z'), packet);
    EXPECT_EQ(packet, " 00" + std::string(97, 'z'));
    EXPECT_EQ(out.take(), lines({"@tlk_i_encodePacket: s=" + std::string(97, 'z'),
                                 "tlk_i_computeChecksum: ", "@tlk_i_getPacketLen",
                                 " returning len as 0", "  cksum=32/ "}));
}

struct DecodeRow {
    const char* name;
    std::string packet;
    bool accepted;
    std::string payload;
    std::vector<std::string> trace; // after the entry line
};

class Decode : public testing::TestWithParam<DecodeRow> {};

TEST_P(Decode, AcceptsOrRefusesWithTrace) {
    const DecodeRow& row = GetParam();
    ConsoleCapture out;
    std::string payload = "left over";
    EXPECT_EQ(tlk_i_decodePacket(row.packet, payload), row.accepted);
    EXPECT_EQ(payload, row.payload);
    EXPECT_EQ(
        out.take(),
        lines(std::vector<std::string>{"@tlk_i_decode4Packet: packet=" + row.packet} + row.trace));
}

std::vector<std::string> lengthLines(int len) {
    return {"@tlk_i_getPacketLen", " returning len as " + std::to_string(len)};
}

INSTANTIATE_TEST_SUITE_P(
    Table, Decode,
    testing::Values(
        DecodeRow{"good", "c052T", true, "2T", lengthLines(5) + checksumLines(5, "99/c")},
        DecodeRow{"three bytes", "#03", false, "", {"  length packet < 4"}},
        DecodeRow{"empty", "", false, "", {"  length packet < 4"}},
        DecodeRow{"empty payload", "#03X", true, "", lengthLines(3) + checksumLines(3, "35/#")},
        DecodeRow{"bytes past the length field", "5041XYZ", true, "1",
                  lengthLines(4) + checksumLines(4, "53/5")},
        DecodeRow{"wrong checksum", "6041", false, "", lengthLines(4) + checksumLines(4, "53/5")},
        DecodeRow{"letter in length", "5x41", false, "", {"@tlk_i_getPacketLen"}},
        DecodeRow{"letter in units", "50x1", false, "", {"@tlk_i_getPacketLen"}},
        DecodeRow{"length 00", "000000", false, "", lengthLines(0)},
        DecodeRow{"length 02", "002000", false, "", lengthLines(2)},
        DecodeRow{"length 21", "021" + std::string(18, 'a'), false, "", lengthLines(21)},
        DecodeRow{"length 99", "099" + std::string(96, 'a'), false, "", lengthLines(99)},
        DecodeRow{"length beyond packet", "r201F", false, "",
                  lengthLines(20) + std::vector<std::string>{"  length field beyond packet"}},
        DecodeRow{"longest", "C20ABCDEFGHIJKLMNOPQ", true, "ABCDEFGHIJKLMNOPQ",
                  lengthLines(20) + checksumLines(20, "67/C")},
        DecodeRow{"high bytes",
                  std::string("\x7f"
                              "07\xff\r\n\0",
                              7),
                  true, std::string("\xff\r\n\0", 4),
                  lengthLines(7) + checksumLines(7, "127/\x7f")},
        DecodeRow{"space checksum", " 04 ", false, "", lengthLines(4) + checksumLines(4, "36/$")}),
    [](const testing::TestParamInfo<DecodeRow>& info) {
        std::string n = info.param.name;
        for (char& c : n) {
            if (!std::isalnum(static_cast<unsigned char>(c))) {
                c = '_';
            }
        }
        return n;
    });

TEST(Checksum, IgnoresBytesPastTheLengthField) {
    ConsoleCapture out;
    EXPECT_EQ(tlk_i_computeChecksum("x05ABjunk"), tlk_i_computeChecksum("y05ABother"));
    EXPECT_EQ(tlk_i_getPacketLen("?42"), 42);
    EXPECT_EQ(tlk_i_getPacketLen("?4-"), -1);
}

} // namespace
