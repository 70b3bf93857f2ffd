// Request validation, transfer forms and the request log.
#include "vcam_link.h"

namespace zbx::vcam::test {
namespace {

using RequestsTest = VcamTest;

std::uint16_t sensor(int address) {
    std::uint16_t v = 0;
    EXPECT_EQ(ZbxVcam_GetSensorRegister(0, static_cast<std::uint32_t>(address), &v), ZBX_VCAM_OK);
    return v;
}

TEST_F(RequestsTest, MalformedRequestsFailAndChangeNothing) {
    Link link;
    const Packet write15 = packet({0x04, 0, 15, 0x03, 0xE8});  // register 15 <- 1000
    std::uint8_t pipe0[4] = {0, 0, 0, 0};
    std::uint8_t pipe1[4] = {1, 0, 0, 0};
    std::uint8_t pipe3[4] = {3, 0, 0, 0};
    std::uint8_t pipe_high[4] = {0, 0, 0, 1};
    Packet data = write15;
    std::uint8_t short_packet[63];
    std::copy_n(write15.begin(), 63, short_packet);
    std::uint8_t long_packet[65] = {};
    std::copy(write15.begin(), write15.end(), long_packet);
    std::uint8_t answer32[32];
    std::uint8_t record43[43] = {1, 0, 0, 0, 100};
    std::uint8_t record_kind2[44] = {2, 0, 0, 0, 100};
    std::uint8_t record44[44] = {1, 0, 0, 0, 100};
    std::uint8_t scratch[8];

    struct Case {
        const char* what;
        std::uint32_t code;
        std::span<const std::uint8_t> input;
        std::span<std::uint8_t> output;
    };
    const Case cases[] = {
        {"unknown code", 0x222000, pipe0, data},
        {"input 3 bytes", port::kIoctlPipeTransferB, std::span<const std::uint8_t>(pipe0, 3), data},
        {"input 5 bytes", port::kIoctlPipeTransferB, std::span<const std::uint8_t>(long_packet, 5), data},
        {"no input", port::kIoctlPipeTransferB, {}, data},
        {"no data buffer", port::kIoctlPipeTransferB, pipe0, {}},
        {"pipe 3", port::kIoctlPipeTransferB, pipe3, data},
        {"pipe 2^24", port::kIoctlPipeTransferB, pipe_high, data},
        {"63-byte packet", port::kIoctlPipeTransferB, pipe0, short_packet},
        {"65-byte packet", port::kIoctlPipeTransferB, pipe0, long_packet},
        {"32-byte answer read", port::kIoctlPipeTransferA, pipe1, answer32},
        {"settings 43 bytes", port::kIoctlDriverSettings, record43, {}},
        {"settings kind 2", port::kIoctlDriverSettings, record_kind2, {}},
        {"settings with output", port::kIoctlDriverSettings, record44, scratch},
    };
    for (const Case& c : cases) {
        std::uint32_t returned = 77;
        EXPECT_FALSE(port::driver_control(link.handle(), c.code, c.input, c.output, &returned)) << c.what;
        EXPECT_EQ(returned, 0u) << c.what;
    }
    EXPECT_EQ(sensor(15), 637);
    ZbxVcamStats stats{};
    ASSERT_EQ(ZbxVcam_GetStats(0, &stats), ZBX_VCAM_OK);
    EXPECT_EQ(stats.transfer_timeout_ms, 3000u);
    // An unknown handle fails too.
    std::uint32_t returned = 5;
    EXPECT_FALSE(port::driver_control(99, port::kIoctlPipeTransferB, pipe0, data, &returned));
    EXPECT_EQ(returned, 0u);
}

TEST_F(RequestsTest, MalformedCommandsFailAndChangeNothing) {
    Link link;
    ASSERT_TRUE(link.read_sensor(46));  // leaves an answer queued
    const Packet bad[] = {
        packet({0x07}),                               // no such command
        packet({0x00}),                               // no such command
        packet({0x40, 0x51, 0x02, 0x18, 0x00, 9}),    // ROM write with the read's constants
        packet({0x40, 0x52, 0x03, 0x18, 0x00, 9}),    // ROM write, bad first constant
        packet({0x40, 0x51, 0x03, 0x17, 0xFF, 9}),    // ROM write below the identifier area
        packet({0x41, 0x51, 0x02, 0x02, 0x18, 0x00}), // ROM read, bad constant
        packet({0x0A, 2}),                            // sample width other than 0 or 1
    };
    for (const Packet& p : bad) EXPECT_FALSE(link.send(p)) << int(p[0]);
    std::uint8_t rom = 0;
    ASSERT_EQ(ZbxVcam_GetRomByte(0, 0x1800, &rom), ZBX_VCAM_OK);
    EXPECT_EQ(rom, 'Z');
    std::uint8_t width = 0;
    ASSERT_EQ(ZbxVcam_GetControllerRegister(0, 14, &width), ZBX_VCAM_OK);
    EXPECT_EQ(width, 4);
    // The failed ROM read queued no answer: the next reads still see 46's.
    Packet p{};
    ASSERT_TRUE(link.transfer(1, p, nullptr, port::kIoctlPipeTransferA));
    EXPECT_EQ(p[0] << 8 | p[1], 2944);
}

TEST_F(RequestsTest, EveryTransferFormWorksOnEveryPipe) {
    Link link;
    const std::uint32_t codes[] = {port::kIoctlPipeTransferA, port::kIoctlPipeTransferB,
                                   port::kIoctlLargePipeTransferA, port::kIoctlLargePipeTransferB};
    for (std::uint32_t code : codes) {
        Packet write = packet({0x04, 0x01, 0x00, 0x00, static_cast<std::uint8_t>(code & 0xFF)});
        std::uint32_t moved = 0;
        ASSERT_TRUE(link.transfer(0, write, &moved, code));
        EXPECT_EQ(moved, 64u);
        ASSERT_TRUE(link.send(packet({0x0C, 0x01, 0x00})));
        Packet answer{};
        ASSERT_TRUE(link.transfer(1, answer, &moved, code));
        ASSERT_TRUE(link.transfer(1, answer, &moved, code));
        EXPECT_EQ(moved, 64u);
        EXPECT_EQ(answer[1], code & 0xFF);
        ASSERT_TRUE(link.send(packet({0x02}), code));
        std::vector<std::uint8_t> frame(921600);
        ASSERT_TRUE(link.transfer(2, frame, &moved, code));
        EXPECT_EQ(moved, 921600u);
    }
}

TEST_F(RequestsTest, LogRecordsCodePipeAndBytes) {
    Link link;
    ASSERT_EQ(ZbxVcam_ClearLog(0), ZBX_VCAM_OK);
    ASSERT_TRUE(link.write_sensor(0x1234, 0xBEEF));
    ASSERT_EQ(link.read_controller(15), 2);
    ASSERT_TRUE(link.set_timeout(60000));
    std::vector<std::uint8_t> frame;
    ASSERT_TRUE(link.grab(frame, 1000));
    std::uint8_t bad_pipe[4] = {7, 0, 0, 0};
    Packet p{};
    EXPECT_FALSE(port::driver_control(link.handle(), port::kIoctlPipeTransferA, bad_pipe, p, nullptr));

    std::uint32_t count = 0;
    ASSERT_EQ(ZbxVcam_GetLogCount(0, &count), ZBX_VCAM_OK);
    ASSERT_EQ(count, 8u);
    std::vector<ZbxVcamRequest> log(count);
    for (std::uint32_t i = 0; i < count; ++i) ASSERT_EQ(ZbxVcam_GetLogEntry(0, i, &log[i]), ZBX_VCAM_OK);

    EXPECT_EQ(log[0].code, port::kIoctlPipeTransferB);
    EXPECT_EQ(log[0].pipe, 0u);
    EXPECT_EQ(log[0].length, 64u);
    EXPECT_EQ(log[0].returned, 64u);
    EXPECT_EQ(log[0].ok, 1);
    EXPECT_EQ(log[0].data_size, 64u);
    const std::uint8_t expected[] = {0x04, 0x12, 0x34, 0xBE, 0xEF, 0};
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), log[0].data));
    EXPECT_EQ(log[1].data[0], 0x26);
    EXPECT_EQ(log[2].pipe, 1u);
    EXPECT_EQ(log[2].code, port::kIoctlPipeTransferA);
    EXPECT_EQ(log[3].pipe, 1u);
    EXPECT_EQ(log[3].data[0], 2);  // the answer the second read returned
    EXPECT_EQ(log[4].code, port::kIoctlDriverSettings);
    EXPECT_EQ(log[4].pipe, ZBX_VCAM_NO_PIPE);
    EXPECT_EQ(log[4].length, 44u);
    EXPECT_EQ(log[4].data[4] | log[4].data[5] << 8, 60000);
    EXPECT_EQ(log[5].data[0], 0x02);
    EXPECT_EQ(log[6].pipe, 2u);
    EXPECT_EQ(log[6].length, 1000u);
    EXPECT_EQ(log[6].returned, 1000u);
    EXPECT_EQ(log[7].pipe, 7u);
    EXPECT_EQ(log[7].ok, 0);

    ZbxVcamRequest entry{};
    EXPECT_EQ(ZbxVcam_GetLogEntry(0, count, &entry), ZBX_VCAM_E_ARG);
    ASSERT_EQ(ZbxVcam_ClearLog(0), ZBX_VCAM_OK);
    ASSERT_EQ(ZbxVcam_GetLogCount(0, &count), ZBX_VCAM_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(RequestsTest, FullLogKeepsTheNewestEntries) {
    Link link;
    ASSERT_EQ(ZbxVcam_ClearLog(0), ZBX_VCAM_OK);
    const int total = ZBX_VCAM_LOG_CAPACITY + 10;
    for (int i = 0; i < total; ++i) ASSERT_TRUE(link.write_sensor(0x200, static_cast<std::uint16_t>(i)));
    std::uint32_t count = 0;
    ASSERT_EQ(ZbxVcam_GetLogCount(0, &count), ZBX_VCAM_OK);
    EXPECT_EQ(count, static_cast<std::uint32_t>(ZBX_VCAM_LOG_CAPACITY));
    ZbxVcamRequest first{}, last{};
    ASSERT_EQ(ZbxVcam_GetLogEntry(0, 0, &first), ZBX_VCAM_OK);
    ASSERT_EQ(ZbxVcam_GetLogEntry(0, count - 1, &last), ZBX_VCAM_OK);
    EXPECT_EQ(first.data[3] << 8 | first.data[4], 10);
    EXPECT_EQ(last.data[3] << 8 | last.data[4], total - 1);
    ZbxVcamStats stats{};
    ASSERT_EQ(ZbxVcam_GetStats(0, &stats), ZBX_VCAM_OK);
    EXPECT_EQ(stats.log_dropped, 10u);
}

}  // namespace
}  // namespace zbx::vcam::test
