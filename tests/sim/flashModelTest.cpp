// The flash model through its registers: what a procedure that does not end
// what it started runs into on the real parts (a command left open continues,
// 0xBF8E auto-increment mode takes almost nothing, a busy device loses
// commands), and the state the control interface shows.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdint>
#include <string>

#include "zelsim.h"

namespace {

const char kWorld[] = R"toml(
[simulator]
virtual_time = true

[[device]]
subsystem_id = 0x1010
flash_id = 0x1010
  [[device.port]]
  text = "FLASH::1010"

[[device]]
subsystem_id = 0xBF8E
flash_id = 0xBF8E
  [[device.port]]
  text = "FLASH::BF8E"

[[device]]
subsystem_id = 0x9D17
flash_id = 0x9D17
  [[device.port]]
  text = "FLASH::9D17"
)toml";

constexpr unsigned k1010 = 0, kBF8E = 1, k9D17 = 2;
constexpr uint64_t kMs = 1'000'000;

class FlashModel : public ::testing::Test {
protected:
    void SetUp() override {
        zelsim_reset();
        ASSERT_EQ(zelsim_load_world_text(kWorld), 0) << zelsim_last_error();
    }
    void TearDown() override { zelsim_reset(); }

    // One serial transfer: the command word to 64, the control word to 68;
    // answers what the flash clocked out (register 76).
    static uint32_t serial(unsigned node, uint32_t word, uint32_t control) {
        EXPECT_EQ(zelsim_register_write(node, 64, word), 0);
        EXPECT_EQ(zelsim_register_write(node, 68, control), 0);
        uint32_t data = 0;
        EXPECT_EQ(zelsim_register_read(node, 76, &data), 0);
        return data;
    }
    static uint16_t identify(unsigned node) {
        serial(node, 0xAB000000, 0x304);
        return uint16_t(serial(node, 0xAB000000, 0x202));
    }
    static void unprotectAndEnable(unsigned node) {
        serial(node, 0x50000000, 0x201);
        serial(node, 0x01000000, 0x202);
        serial(node, 0x06000000, 0x201);
    }
    static zelsim_flash_state state(unsigned node) {
        zelsim_flash_state s{};
        EXPECT_EQ(zelsim_flash_device_state(node, &s), 0);
        return s;
    }
    static void sleepMs(uint64_t ms) {
        const timespec interval{time_t(ms / 1000), long(ms % 1000 * kMs)};
        nanosleep(&interval, nullptr);  // virtual: returns at once, the clock moves on
    }
    static uint8_t byteAt(unsigned node, uint32_t address) {
        uint8_t value = 0;
        zelsim_flash_read(node, address, &value, 1);
        return value;
    }
};

TEST_F(FlashModel, CommandLeftOpenTakesTheNextOneAsItsData) {
    serial(k1010, 0x06000000, 0x201);
    serial(k1010, 0x02000100, 0x304);  // page program at 0x100, chip select held
    serial(k1010, 0x00000000, 0x304);  // four data bytes 0x00
    zelsim_flash_state open = state(k1010);
    EXPECT_EQ(open.selected, 1);
    EXPECT_EQ(open.open_instruction, 0x02);
    EXPECT_EQ(open.write_enabled, 1);

    // The identification is page data: it reads 0xFFFF, and ending its frame
    // runs the program, which then keeps the flash busy.
    EXPECT_EQ(identify(k1010), 0xFFFF);
    const zelsim_flash_state after = state(k1010);
    EXPECT_EQ(after.selected, 0);
    EXPECT_EQ(after.write_enabled, 0);
    EXPECT_EQ(after.busy, 1);
    EXPECT_EQ(byteAt(k1010, 0x100), 0x00);
    EXPECT_EQ(byteAt(k1010, 0x104), 0xD5);  // 0xAB, bit-reversed as page data
    EXPECT_EQ(identify(k1010), 0xFFFF);     // busy: only the status read is answered
    sleepMs(1);
    EXPECT_EQ(identify(k1010), 0x1010);
}

TEST_F(FlashModel, PageProgramKeepsTheLast256BytesOfAnOverlongFrame) {
    serial(k1010, 0x06000000, 0x201);
    serial(k1010, 0x02000200, 0x304);
    for (int word = 0; word < 64; ++word) serial(k1010, 0xFFFFFFFF, 0x304);
    serial(k1010, 0x00000000, 0x204);  // four more: they replace the page's first four
    sleepMs(1);
    EXPECT_EQ(byteAt(k1010, 0x200), 0x00);
    EXPECT_EQ(byteAt(k1010, 0x203), 0x00);
    EXPECT_EQ(byteAt(k1010, 0x204), 0xFF);
}

TEST_F(FlashModel, AutoIncrementModeIgnoresEverythingButItsOwnCommandsUntilWriteDisable) {
    EXPECT_EQ(state(kBF8E).protection, 0x3C);  // comes up protected
    unprotectAndEnable(kBF8E);
    serial(kBF8E, 0xAD080000, 0x704);  // start at 0x80000 ...
    serial(kBF8E, 0x00000000, 0x202);  // ... with its first two bytes
    serial(kBF8E, 0xAD000000, 0x203);  // the next two
    zelsim_flash_state programming = state(kBF8E);
    EXPECT_EQ(programming.auto_increment, 1);
    EXPECT_EQ(programming.protection, 0);
    EXPECT_EQ(programming.status_register & 0x40, 0x40);
    EXPECT_EQ(byteAt(kBF8E, 0x80003), 0x00);

    // Protecting or identifying now is ignored.
    serial(kBF8E, 0x50000000, 0x201);
    serial(kBF8E, 0x013C0000, 0x202);
    EXPECT_EQ(state(kBF8E).protection, 0);
    EXPECT_EQ(identify(kBF8E), 0xFFFF);

    // Write disable ends the mode; then protection can be restored.
    serial(kBF8E, 0x04000000, 0x201);
    const zelsim_flash_state ended = state(kBF8E);
    EXPECT_EQ(ended.auto_increment, 0);
    EXPECT_EQ(ended.write_enabled, 0);
    serial(kBF8E, 0x50000000, 0x201);
    serial(kBF8E, 0x013C0000, 0x202);
    EXPECT_EQ(state(kBF8E).protection, 0x3C);
    EXPECT_EQ(identify(kBF8E), 0xBF8E);
}

TEST_F(FlashModel, ProtectedBlocksRefuseEraseAndProgram) {
    const uint8_t old[4] = {0x12, 0x34, 0x56, 0x78};
    zelsim_flash_write(kBF8E, 0x80000, old, 4);
    serial(kBF8E, 0x06000000, 0x201);  // write enable alone leaves the protection on
    serial(kBF8E, 0xD8080000, 0x204);
    EXPECT_EQ(state(kBF8E).busy, 0);
    EXPECT_EQ(byteAt(kBF8E, 0x80000), 0x12);
    serial(kBF8E, 0x06000000, 0x201);
    serial(kBF8E, 0xAD080000, 0x704);
    serial(kBF8E, 0x00000000, 0x202);
    EXPECT_EQ(state(kBF8E).auto_increment, 0);
    EXPECT_EQ(byteAt(kBF8E, 0x80001), 0x34);
}

// Every device is busy after an erase for its erase time on the virtual
// clock, and loses what it is sent meanwhile.
struct EraseCase {
    const char *name;
    unsigned node;
    uint32_t address;
    uint64_t eraseNs;
};

class EraseBusy : public FlashModel, public ::testing::WithParamInterface<EraseCase> {
protected:
    void erase(const EraseCase &c) {
        if (c.node == k9D17) {
            zelsim_register_write(c.node, 0x2000, 16);
            zelsim_register_write(c.node, 0x2004, c.address / 0x10000);
            return;
        }
        if (c.node == kBF8E)
            unprotectAndEnable(c.node);
        else
            serial(c.node, 0x06000000, 0x201);
        serial(c.node, 0xD8000000 | c.address, 0x204);
    }
    // Write enable, as each port asks for it; true when it took.
    bool enableWrite(const EraseCase &c) {
        if (c.node == k9D17)
            zelsim_register_write(c.node, 0x2000, 16);
        else
            serial(c.node, 0x06000000, 0x201);
        return state(c.node).write_enabled == 1;
    }
};

TEST_P(EraseBusy, ForTheDevicesEraseTime) {
    const EraseCase &c = GetParam();
    const uint8_t old = 0x42;
    zelsim_flash_write(c.node, c.address + 7, &old, 1);
    erase(c);
    EXPECT_EQ(byteAt(c.node, c.address + 7), 0xFF);
    zelsim_flash_state erasing = state(c.node);
    EXPECT_EQ(erasing.busy, 1);
    EXPECT_EQ(erasing.busy_ns_left, c.eraseNs);

    sleepMs(c.eraseNs / kMs - 5);
    EXPECT_FALSE(enableWrite(c)) << "five milliseconds early";
    sleepMs(5);
    EXPECT_EQ(state(c.node).busy, 0);
    EXPECT_TRUE(enableWrite(c));
}

INSTANTIATE_TEST_SUITE_P(Devices, EraseBusy,
                         ::testing::Values(EraseCase{"Serial1010", k1010, 0x8000, 45 * kMs},
                                           EraseCase{"SerialBF8E", kBF8E, 0x90000, 25 * kMs},
                                           EraseCase{"Indirect9D17", k9D17, 0x300000, 150 * kMs}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(FlashModel, UnansweredIdentificationsAndReadsReadAllOnes) {
    const uint8_t word[4] = {0x04, 0x05, 0x06, 0x07};
    zelsim_flash_write(k1010, 0x20, word, 4);
    ASSERT_EQ(zelsim_flash_fault(k1010, ZELSIM_FLASH_MISS_IDENTIFY, 1), 0);
    ASSERT_EQ(zelsim_flash_fault(k1010, ZELSIM_FLASH_MISS_READ, 1), 0);
    EXPECT_EQ(identify(k1010), 0xFFFF);
    EXPECT_EQ(identify(k1010), 0x1010);
    for (uint32_t expected : {0xFFFFFFFFu, 0x20A060E0u}) {  // 04 05 06 07, each bit-reversed
        serial(k1010, 0x03000020, 0x304);
        EXPECT_EQ(serial(k1010, 0, 0x204), expected);
    }
}

TEST_F(FlashModel, IndirectPortShowsAnOpenTransferAndAResetGrant) {
    zelsim_register_write(k9D17, 0x2000, 1);
    zelsim_register_write(k9D17, 0x2000, 4);
    zelsim_flash_state open = state(k9D17);
    EXPECT_EQ(open.indirect_transfer_open, 1);
    EXPECT_EQ(open.reset_granted, 1);
    zelsim_register_write(k9D17, 0x2000, 2);
    zelsim_flash_state released = state(k9D17);
    EXPECT_EQ(released.indirect_transfer_open, 0);
    EXPECT_EQ(released.reset_granted, 0);
    EXPECT_EQ(zelsim_flash_device_state(99, &released), -1);
}


// Each part answers only the instructions it defines; anything else reads all
// ones and changes nothing, as absent hardware would. 0x9D17's serial port
// tells its identifier and nothing else.
struct UndefinedCase {
    const char *name;
    unsigned node;
    uint32_t word;     // the command
    uint32_t control;  // its transfer
};

const UndefinedCase kUndefined[] = {
    {"StatusOn9D17", k9D17, 0x05000000, 0x202},
    {"ReadOn9D17", k9D17, 0x03300000, 0x204},
    {"StatusOnBF8E", kBF8E, 0x05000000, 0x202},
    {"AutoIncrementOn1010", k1010, 0xAD000000, 0x204},
};

class UndefinedInstruction : public FlashModel,
                             public ::testing::WithParamInterface<UndefinedCase> {};

TEST_P(UndefinedInstruction, AnswersAllOnes) {
    const UndefinedCase &c = GetParam();
    const uint8_t data[4] = {0x00, 0x12, 0x34, 0x56};
    zelsim_flash_write(c.node, 0x300000, data, 4);
    serial(c.node, c.word, c.control | 0x100);  // kept selected: the next transfer reads on
    const uint32_t answer = serial(c.node, 0, 0x204);
    EXPECT_EQ(answer, 0xFFFFFFFFu);
    EXPECT_EQ(state(c.node).selected, 0);
}

INSTANTIATE_TEST_SUITE_P(Parts, UndefinedInstruction, ::testing::ValuesIn(kUndefined),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(FlashModel, UndefinedInstructionsChangeNothing) {
    // 0x9D17's serial port: write enable and erase go nowhere.
    const uint8_t data[2] = {0x12, 0x34};
    zelsim_flash_write(k9D17, 0, data, 2);
    serial(k9D17, 0x06000000, 0x201);
    serial(k9D17, 0xD8000000, 0x204);
    EXPECT_EQ(state(k9D17).write_enabled, 0);
    EXPECT_EQ(byteAt(k9D17, 0), 0x12);
    EXPECT_EQ(identify(k9D17), 0x9D17);
    // 0x1010 has no status-register write.
    const uint8_t before = state(k1010).status_register;
    serial(k1010, 0x50000000, 0x201);
    serial(k1010, 0x013C0000, 0x202);
    EXPECT_EQ(state(k1010).status_register, before);
}

// 0xBF8E's 0x02 programs one byte, whatever follows it.
TEST_F(FlashModel, ByteProgramOnBF8EProgramsOneByte) {
    unprotectAndEnable(kBF8E);
    serial(kBF8E, 0x02080010, 0x304);
    serial(kBF8E, 0x00000000, 0x204);  // four bytes of 0x00
    sleepMs(1);
    EXPECT_EQ(byteAt(kBF8E, 0x80010), 0x00);
    EXPECT_EQ(byteAt(kBF8E, 0x80011), 0xFF);
}

// The control interface tells which instructions reached a serial port.
TEST_F(FlashModel, InstructionsSeenAreCountedUntilCleared) {
    uint8_t seen[32];
    ASSERT_EQ(zelsim_flash_instructions(kBF8E, seen, 1), 0);
    identify(kBF8E);
    serial(kBF8E, 0x05000000, 0x202);
    ASSERT_EQ(zelsim_flash_instructions(kBF8E, seen, 1), 0);
    for (unsigned instruction = 0; instruction < 256; ++instruction)
        EXPECT_EQ((seen[instruction / 8] >> (instruction % 8)) & 1,
                  instruction == 0xAB || instruction == 0x05 ? 1 : 0)
            << std::hex << instruction;
    ASSERT_EQ(zelsim_flash_instructions(kBF8E, seen, 0), 0);
    for (uint8_t byte : seen) EXPECT_EQ(byte, 0);
}

// One data word of a read answers all ones without an error; the next reads
// the array again.
TEST_F(FlashModel, MissedDataWordReadsAllOnesOnce) {
    const uint8_t word[8] = {0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B};
    zelsim_flash_write(k1010, 0x100, word, 8);
    // The command's own transfer is the first read of register 76.
    ASSERT_EQ(zelsim_flash_fault(k1010, ZELSIM_FLASH_MISS_DATA_WORD, 2), 0);
    serial(k1010, 0x03000100, 0x304);
    EXPECT_EQ(serial(k1010, 0, 0x304), 0xFFFFFFFFu);
    EXPECT_EQ(serial(k1010, 0, 0x204), 0x109050D0u);  // bytes 8..B, each bit-reversed
}

// While 0x9D17 programs, its read data register streams no data.
TEST_F(FlashModel, IndirectReadWhileBusyReadsAllOnes) {
    zelsim_register_write(k9D17, 0x2000, 16);  // write enable
    zelsim_register_write(k9D17, 0x2008, 0x300000);
    zelsim_register_write(k9D17, 0x2000, 1);
    zelsim_register_write(k9D17, 0x2010, 0x1234);
    zelsim_register_write(k9D17, 0x2000, 2);  // programs the page: busy for a while
    auto readWord = [] {
        uint32_t value = 0;
        zelsim_register_write(k9D17, 0x2000, 1);
        zelsim_register_write(k9D17, 0x2008, 0x300000);
        zelsim_register_write(k9D17, 0x200C, 0);
        zelsim_register_read(k9D17, 0x200C, &value);
        zelsim_register_write(k9D17, 0x2000, 2);
        return value;
    };
    EXPECT_EQ(readWord(), 0xFFFFu);
    sleepMs(1);
    EXPECT_EQ(readWord(), 0x1234u);
}

// A part behind the serial port has nothing behind the indirect port.
TEST_F(FlashModel, IndirectPortOfASerialPartReadsAllOnes) {
    uint32_t value = 0;
    ASSERT_EQ(zelsim_register_read(k1010, 0x2000, &value), 0);
    EXPECT_EQ(value, 0xFFFFFFFFu);
    zelsim_register_write(k1010, 0x2000, 16);
    zelsim_register_write(k1010, 0x2004, 0);
    EXPECT_EQ(byteAt(k1010, 0x10000), 0x5Au) << "block 2's factory contents were erased";
}

}  // namespace
