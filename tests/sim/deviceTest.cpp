// The device model through real ioctls: identity, port data, every kind of
// transaction against the default world's targets, registers, attributes,
// and the checks of the request envelope.
#include <gtest/gtest.h>

#include "wire.h"

namespace {

using simtest::Node;
using simtest::put;
using simtest::Reply;

constexpr unsigned kHost = 0, kRemote = 1;

class Device : public ::testing::Test {
protected:
    void SetUp() override { zelsim_reset(); }

    // Input of a per-port command: port at 0, then the given fields.
    static std::vector<uint8_t> portInput(unsigned port, size_t size) {
        std::vector<uint8_t> in(size, 0);
        put(in, 0, port, 2);
        return in;
    }
};

TEST_F(Device, IdentityAndPortDataComeFromTheWorld) {
    Node host(kHost);
    Reply ids = host.call(0x02, {0, 0, 0, 0});
    ASSERT_EQ(ids.result, 0);
    EXPECT_EQ(ids.at(0, 2), 0x8086u);
    EXPECT_EQ(ids.at(6, 2), 0x7270u);
    EXPECT_EQ(ids.status(), 0);
    Reply location = host.call(0x03, {0, 0, 0, 0});
    EXPECT_EQ(location.at(0, 2), 0u);
    EXPECT_EQ(location.at(2, 2), 31u);
    EXPECT_EQ(location.at(4, 2), 4u);
    Reply text = host.call(0x2F, {0, 0, 0, 0});
    EXPECT_STREQ(reinterpret_cast<const char *>(text.out.data()), "Host SMBus controller");

    Node remote(kRemote);
    Reply flags = remote.call(0x04, portInput(0, 8));
    EXPECT_EQ(flags.at(0, 1), 1u);
    EXPECT_EQ(flags.at(1, 1), 0u);
    Reply portText = remote.call(0x05, portInput(0, 8));
    EXPECT_STREQ(reinterpret_cast<const char *>(portText.out.data()), "CHASSIS1::BACKPLANE");
    Reply prot = host.call(0x06, portInput(0, 8));
    ASSERT_EQ(prot.at(0, 1), 2u);
    EXPECT_EQ(prot.at(1, 1), 0x58u);
    EXPECT_EQ(prot.at(2, 1), 0xD2u);
    EXPECT_EQ(prot.at(3, 1), 0u);  // the unused rest of the list is zero
}

TEST_F(Device, PortBeyondTheNodeAnswersBadPort) {
    Node remote(kRemote);
    Reply reply = remote.call(0x04, portInput(1, 8));
    EXPECT_EQ(reply.result, 0);
    EXPECT_EQ(reply.status(), ZELSIM_STATUS_BAD_PORT);
}

TEST_F(Device, EnvelopeChecks) {
    Node host(kHost);
    struct Case {
        const char *what;
        uint32_t request, inSize, outSize;
        int err;
    } cases[] = {
        {"unknown command 0x1E", simtest::requestCode(2, 0x1E), 8, 8, ENOTTY},
        {"number above the table", simtest::requestCode(2, 0x30), 8, 8, ENOTTY},
        {"wrong type byte", 0x80202F02u, 4, 12, ENOTTY},
        {"wrong direction", simtest::requestCode(1, 0x02), 4, 12, EINVAL},
        {"wrong size field", 0x80182E02u, 4, 12, EINVAL},
        {"short input", simtest::requestCode(2, 0x0E), 8, 8, EINVAL},
        {"short output", simtest::requestCode(2, 0x16), 12, 256, EINVAL},
    };
    for (const Case &c : cases) {
        Reply reply = host.raw(c.request, {}, c.inSize, c.outSize);
        EXPECT_EQ(reply.result, -1) << c.what;
        EXPECT_EQ(reply.err, c.err) << c.what;
        EXPECT_EQ(reply.out[0], 0xEE) << c.what << ": output touched";
    }
}

TEST_F(Device, RequestCodeCountsAs32BitsLikeTheKernelTakesIt) {
    Node host(kHost);
    uint8_t in[4] = {}, out[12] = {};
    uint8_t envelope[simtest::kEnvelopeSize];
    simtest::packEnvelope(envelope, in, sizeof in, out, sizeof out);
    unsigned long signExtended =
        static_cast<unsigned long>(static_cast<long>(static_cast<int32_t>(0x80202E02u)));
    ASSERT_EQ(::ioctl(host.fd(), signExtended, envelope), 0);
    EXPECT_EQ(out[0] | (out[1] << 8), 0x8086);
}

TEST_F(Device, EepromReadsWrapAndPageWritesWrapWithinThePage) {
    Node host(kHost);
    // readI2CEEPROM of port 1's counter EEPROM at 0xA2, 8 bytes from 0xFC.
    std::vector<uint8_t> in = portInput(1, 12);
    put(in, 2, 0xA2, 1);
    put(in, 3, 0xFC, 1);
    put(in, 4, 8, 4);
    Reply read = host.call(0x17, in);
    ASSERT_EQ(read.status(), 0);
    const uint8_t expected[8] = {0xFC, 0xFD, 0xFE, 0xFF, 0, 1, 2, 3};
    EXPECT_EQ(std::memcmp(read.out.data(), expected, 8), 0);
    EXPECT_EQ(read.out[8], 0);  // bytes past the length are zero

    // writeBlockI2C of 4 bytes at offset 0x0E: the 16-byte page wraps to 0x00.
    std::vector<uint8_t> write = portInput(1, 268);
    put(write, 2, 0xA2, 1);
    put(write, 3, 0x0E, 1);
    put(write, 4, 4, 4);
    for (int i = 0; i < 4; ++i) write[8 + i] = static_cast<uint8_t>(0xA0 + i);
    ASSERT_EQ(host.call(0x15, write).status(), 0);
    uint8_t memory[16];
    zelsim_eeprom_read(kHost, 1, 0xA2, 0, memory, 16);
    EXPECT_EQ(memory[0x0E], 0xA0);
    EXPECT_EQ(memory[0x0F], 0xA1);
    EXPECT_EQ(memory[0x00], 0xA2);
    EXPECT_EQ(memory[0x01], 0xA3);
    EXPECT_EQ(memory[0x02], 0x02);  // untouched

    // send byte sets the pointer, receive byte reads there and advances.
    std::vector<uint8_t> send = portInput(1, 12);
    put(send, 2, 0xA3, 1);  // bit 0 ignored
    put(send, 3, 0x40, 1);
    ASSERT_EQ(host.call(0x0B, send).status(), 0);
    std::vector<uint8_t> receive = portInput(1, 8);
    put(receive, 2, 0xA2, 1);
    EXPECT_EQ(host.call(0x0C, receive).at(0, 1), 0x40u);
    EXPECT_EQ(host.call(0x0C, receive).at(0, 1), 0x41u);
}

TEST_F(Device, RegisterDeviceTransactions) {
    Node host(kHost);
    auto smbus = [&](unsigned number, unsigned command, uint32_t word, unsigned pec) {
        std::vector<uint8_t> in = portInput(0, 12);
        put(in, 2, 0x90, 1);
        put(in, 3, command, 1);
        if (number == 0x0D) {
            put(in, 4, word, 1);
            put(in, 5, pec, 1);
        } else if (number == 0x0F || number == 0x11) {
            put(in, 4, word, 2);
            put(in, 6, pec, 1);
        } else {
            put(in, 4, pec, 1);
        }
        return host.call(number, in);
    };
    EXPECT_EQ(smbus(0x0E, 0, 0, 0).at(0, 1), 25u);      // temperature byte
    EXPECT_EQ(smbus(0x10, 0, 0, 1).at(0, 2), 0x0019u);  // the same two bytes as a word
    EXPECT_EQ(zelsim_last_pec(kHost, 0), 1);
    EXPECT_EQ(smbus(0x0D, 7, 0x5A, 0).status(), 0);
    EXPECT_EQ(smbus(0x0E, 7, 0, 0).at(0, 1), 0x5Au);
    EXPECT_EQ(zelsim_last_pec(kHost, 0), 0);
    EXPECT_EQ(smbus(0x0F, 3, 0xBEEF, 0).status(), 0);
    uint16_t word = 0;
    zelsim_target_word(kHost, 0, 0x90, 3, &word);
    EXPECT_EQ(word, 0xBEEF);
    EXPECT_EQ(smbus(0x11, 1, 0x1234, 0).at(0, 2), 0xEDCBu);  // process call: NOT

    // Block write then block read of the same command.
    std::vector<uint8_t> block = portInput(0, 44);
    put(block, 2, 0x90, 1);
    put(block, 3, 0x30, 1);
    put(block, 4, 3, 1);
    block[5] = 1, block[6] = 2, block[7] = 3, block[8] = 0x77;  // 0x77 beyond the count
    put(block, 37, 1, 1);
    ASSERT_EQ(host.call(0x12, block).status(), 0);
    EXPECT_EQ(zelsim_last_pec(kHost, 0), 1);
    std::vector<uint8_t> readIn = portInput(0, 12);
    put(readIn, 2, 0x90, 1);
    put(readIn, 3, 0x30, 1);
    Reply blockRead = host.call(0x13, readIn);
    ASSERT_EQ(blockRead.at(0, 1), 3u);
    EXPECT_EQ(blockRead.at(1, 3), 0x030201u);
    EXPECT_EQ(blockRead.at(4, 1), 0u);

    // Block process call answers the bytes reversed.
    block[3] = 0x31;
    Reply bpc = host.call(0x14, block);
    ASSERT_EQ(bpc.at(0, 1), 3u);
    EXPECT_EQ(bpc.at(1, 3), 0x010203u);
}

// A register device answers every kind of transfer from one set of
// registers: what a byte, a word (first wire byte in the low bits), an I2C
// block and an SMBus block read at a command return agree, and a write in
// one form is read back in the others.
TEST_F(Device, ByteWordAndBlockTransfersOfARegisterDeviceAgree) {
    struct Layout {
        const char *keys;        // the sensor's register keys in the world file
        unsigned expectedWord0;  // read word at 0: wire bytes 0x19, then the next
    };
    for (const Layout &layout :
         {Layout{"bytes = [0x19, 0x80, 0x4B]", 0x8019},
          Layout{"layout = \"words_msb_first\"\nwords = [0x1980, 0x4B00]", 0x8019}}) {
        SCOPED_TRACE(layout.keys);
        const std::string world = std::string(R"([[device]]
[[device.port]]
[[device.port.target]]
address = 0x90
kind = "registers"
)") + layout.keys + "\n";
        ASSERT_EQ(zelsim_load_world_text(world.c_str()), 0) << zelsim_last_error();
        Node node(0);
        auto at = [&](unsigned number, unsigned command, std::initializer_list<uint8_t> tail = {}) {
            zelsim_command info{};
            zelsim_command_info(number, &info);
            std::vector<uint8_t> in = portInput(0, info.in_size);
            put(in, 2, 0x90, 1);
            put(in, 3, command, 1);
            size_t offset = 4;
            for (uint8_t byte : tail) in[offset++] = byte;
            return node.call(number, in);
        };
        EXPECT_EQ(at(0x0E, 0).at(0, 1), 0x19u);
        EXPECT_EQ(at(0x10, 0).at(0, 2), layout.expectedWord0);
        Reply i2c = at(0x16, 0, {3, 0, 0, 0});
        EXPECT_EQ(i2c.at(0, 3), 0x4B8019u);
        // A word written at 1 goes out low byte first and reads back in every form.
        ASSERT_EQ(at(0x0F, 1, {0x34, 0x12}).status(), 0);
        EXPECT_EQ(at(0x10, 1).at(0, 2), 0x1234u);
        EXPECT_EQ(at(0x0E, 1).at(0, 1), 0x34u);
        // A block written at 0x10 is the registers from 0x10 on.
        ASSERT_EQ(at(0x12, 0x10, {2, 0xAA, 0xBB}).status(), 0);
        EXPECT_EQ(at(0x10, 0x10).at(0, 2), 0xBBAAu);
        Reply block = at(0x13, 0x10);
        EXPECT_EQ(block.at(0, 3), 0xBBAA02u);
    }
}

// The default world's temperature sensor reads 25 degrees C however it is
// asked: byte, two I2C bytes, or a word taken most-significant byte first.
TEST_F(Device, DefaultSensorReads25DegreesInEveryForm) {
    Node host(kHost);
    std::vector<uint8_t> in = portInput(0, 12);
    put(in, 2, 0x90, 1);
    EXPECT_EQ(host.call(0x0E, in).at(0, 1), 25u);
    const uint32_t word = host.call(0x10, in).at(0, 2);
    EXPECT_EQ(((word & 0xFF) << 8 | word >> 8) >> 8, 25u) << "word 0x" << std::hex << word;
    put(in, 4, 2, 4);
    const Reply i2c = host.call(0x16, in);
    EXPECT_EQ(i2c.at(0, 1), 25u);
    EXPECT_EQ(i2c.at(1, 1), 0u);
}

TEST_F(Device, AbsentAddressesAndOversizedCountsAreRefusedWithoutOverrun) {
    Node host(kHost);
    std::vector<uint8_t> quick = portInput(0, 8);
    put(quick, 2, 0x50, 1);
    EXPECT_EQ(host.call(0x0A, quick).status(), ZELSIM_STATUS_NACK);
    put(quick, 2, 0xA0, 1);
    EXPECT_EQ(host.call(0x0A, quick).status(), 0);

    std::vector<uint8_t> block = portInput(0, 44);
    put(block, 2, 0x90, 1);
    put(block, 4, 200, 1);  // count beyond the 32-byte area
    EXPECT_EQ(host.call(0x14, block).status(), -52005);
    std::vector<uint8_t> i2c = portInput(0, 12);
    put(i2c, 2, 0xA0, 1);
    put(i2c, 4, 1000, 4);
    Reply reply = host.call(0x16, i2c);
    EXPECT_EQ(reply.status(), -52005);
    EXPECT_EQ(reply.at(0, 4), 0u);
}

TEST_F(Device, RegistersAndAttributes) {
    Node remote(kRemote);
    std::vector<uint8_t> reg = portInput(0, 12);
    put(reg, 4, 0, 4);
    EXPECT_EQ(remote.call(0x18, reg).at(0, 4), 0x727EBABEu);
    put(reg, 4, 4, 4);
    EXPECT_EQ(remote.call(0x18, reg).at(0, 4), 0x02000100u);
    std::vector<uint8_t> write = portInput(0, 16);
    put(write, 4, 0x100, 4);
    put(write, 8, 0xCAFE, 4);
    EXPECT_EQ(remote.call(0x19, write).status(), 0);
    put(reg, 4, 0x100, 4);
    EXPECT_EQ(remote.call(0x18, reg).at(0, 4), 0xCAFEu);
    put(write, 4, 0, 4);
    EXPECT_EQ(remote.call(0x19, write).status(), ZELSIM_STATUS_READ_ONLY);

    // Each settable attribute: set, read back, and see it in the state.
    struct Pair {
        unsigned get, set, id, width;
    } pairs[] = {{0x1A, 0x1B, 10001, 2}, {0x1C, 0x1D, 2001, 4},  {0x20, 0x21, 10002, 2},
                 {0x22, 0x23, 10003, 2}, {0x25, 0x26, 10005, 2}, {0x27, 0x28, 3001, 4},
                 {0x29, 0x2A, 1004, 1},  {0x2B, 0x2C, 1005, 4},  {0x2D, 0x2E, 3002, 4}};
    for (const Pair &p : pairs) {
        uint32_t value = p.width == 1 ? 0xA5 : p.width == 2 ? 0xA5A5 : 0xA5A5A5A5u;
        std::vector<uint8_t> set = portInput(0, p.width == 4 ? 12 : 8);
        put(set, p.width == 4 ? 4 : 2, value, p.width);
        EXPECT_EQ(remote.call(p.set, set).status(), 0) << p.id;
        EXPECT_EQ(remote.call(p.get, portInput(0, 8)).at(0, p.width), value) << p.id;
        uint32_t state = 0;
        zelsim_port_attribute(kRemote, 0, p.id, &state);
        EXPECT_EQ(state, value) << p.id;
    }
    EXPECT_EQ(remote.call(0x24, portInput(0, 8)).at(0, 2), 2u);  // 10004 from the world
}

TEST_F(Device, FaultsOnCommands) {
    Node host(kHost);
    zelsim_fail_command(0x02, EBUSY, 1);
    Reply failed = host.call(0x02, {0, 0, 0, 0});
    EXPECT_EQ(failed.result, -1);
    EXPECT_EQ(failed.err, EBUSY);
    EXPECT_EQ(failed.out[0], 0xEE);
    EXPECT_EQ(host.call(0x02, {0, 0, 0, 0}).result, 0);

    zelsim_set_driver_status(0x02, -52024, 1);
    Reply word = host.call(0x02, {0, 0, 0, 0});
    EXPECT_EQ(word.status(), -52024);
    EXPECT_EQ(word.at(0, 2), 0x8086u);  // outputs still filled

    zelsim_refuse_device_string(kHost, ENOTTY, 0);
    EXPECT_EQ(host.call(0x2F, {0, 0, 0, 0}).err, ENOTTY);
    zelsim_refuse_device_string(kHost, 0, -52002);
    Reply refused = host.call(0x2F, {0, 0, 0, 0});
    EXPECT_EQ(refused.status(), -52002);
    EXPECT_EQ(refused.out[0], 0);
}

TEST_F(Device, LogRecordsEveryExchange) {
    Node host(kHost);
    zelsim_log_clear();
    std::vector<uint8_t> in = portInput(0, 12);
    put(in, 2, 0x90, 1);
    put(in, 8, 50254, 4);  // caller status word
    host.call(0x0E, in);
    host.raw(simtest::requestCode(2, 0x1F), {}, 8, 8);
    ASSERT_EQ(zelsim_log_count(), 2u);
    zelsim_log_record record{};
    ASSERT_EQ(zelsim_log_entry(0, &record), 0);
    EXPECT_EQ(record.fd, host.fd());
    EXPECT_EQ(record.node, 0);
    EXPECT_EQ(record.request, 0x80202E0Eu);
    EXPECT_EQ(record.in_size, 12u);
    EXPECT_EQ(record.out_size, 8u);
    EXPECT_EQ(std::memcmp(record.in, in.data(), 12), 0);
    EXPECT_EQ(record.out_written, 8u);
    EXPECT_EQ(record.out[0], 25);
    EXPECT_EQ(record.err, 0);
    ASSERT_EQ(zelsim_log_entry(1, &record), 0);
    EXPECT_EQ(record.command, 0x1Fu);
    EXPECT_EQ(record.err, ENOTTY);
    EXPECT_EQ(record.out_written, 0u);
    EXPECT_EQ(zelsim_log_entry(2, &record), -1);
}

}  // namespace
