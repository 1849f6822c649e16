// The tool's own flash procedures (the pin-out word and the firmware region
// it reads before an update, for its backup and for firmware-read, and the
// pin-out word it puts back from a journal) against devices that answer only
// what they define: a read sends the flash nothing but identifications and
// reads and changes nothing; a put-back sends each device only its own
// instructions (0xBF8E: auto-increment programming) and ends at rest.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "../flashSim/flashSimFixture.h"
#include "boardPinOut.h"
#include "flashWriterLock.h"

namespace {

using namespace flashsim;

using flashworld::instructionsOf;

class BoardFlash : public FlashSim, public ::testing::WithParamInterface<const Device *> {
protected:
    std::set<unsigned> foreignInstructions(const std::set<unsigned> &allowed) const {
        uint8_t seen[32];
        EXPECT_EQ(zelsim_flash_instructions(device.node, seen, 1), 0);
        std::set<unsigned> foreign;
        for (unsigned i = 0; i < 256; ++i)
            if ((seen[i / 8] >> (i % 8) & 1) && allowed.count(i) == 0) foreign.insert(i);
        return foreign;
    }
    std::vector<uint8_t> wholeArray() const {
        std::vector<uint8_t> bytes(zelsim_flash_size(device.node));
        zelsim_flash_read(device.node, 0, bytes.data(), bytes.size());
        return bytes;
    }
};

TEST_P(BoardFlash, ReadsSendOnlyReadsAndChangeNothing) {
    open(*GetParam());
    installOldFirmware();
    if (device.flashId == 0xBF8E) {
        // Left unprotected by someone else: a read must not protect it.
        zelsim_register_write(device.node, 64, 0x50000000);
        zelsim_register_write(device.node, 68, 0x201);
        zelsim_register_write(device.node, 64, 0x01000000);
        zelsim_register_write(device.node, 68, 0x202);
    }
    const std::vector<uint8_t> before = wholeArray();
    const zelsim_flash_state stateBefore = deviceState();
    foreignInstructions({});

    const zelsmbus_tool::FlashWriterLock held(handle, device.name);
    const auto board = zelsmbus_tool::readBoardPinOut(held, handle, device.pinOutAddress);
    ASSERT_TRUE(board.has_value());
    EXPECT_EQ(board->flashId, device.flashId);
    EXPECT_EQ(board->version, kPinOut);
    EXPECT_FALSE(board->erased);
    const auto read = zelsmbus_tool::readFirmwareRegion(held, handle, board->flashId, device.offset);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, region());
    EXPECT_EQ(zelsmbus_tool::readFlashIdentifier(held, handle), device.flashId);
    // The old firmware was installed without a boot header; 0x9D17 tells once it is there.
    EXPECT_FALSE(zelsmbus_tool::bootHeaderIntact(held, handle));
    if (device.flashId == 0x9D17) {
        const uint8_t header[36] = {0xAA, 0x99, 0x55, 0x66, 0x20, 0x00, 0x00, 0x00, 0x30,
                                    0x02, 0x00, 0x01, 0x00, 0x30, 0x00, 0x00, 0x30, 0x00,
                                    0x80, 0x01, 0x00, 0x00, 0x00, 0x0F, 0x20, 0x00, 0x00,
                                    0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00};
        ASSERT_EQ(zelsim_flash_write(device.node, 0, header, sizeof header), 0);
        EXPECT_TRUE(zelsmbus_tool::bootHeaderIntact(held, handle));
        zelsim_flash_write(device.node, 0, before.data(), sizeof header);
    }

    EXPECT_TRUE(foreignInstructions({0xAB, 0x03}).empty());
    EXPECT_EQ(wholeArray(), before);
    const zelsim_flash_state stateAfter = deviceState();
    EXPECT_EQ(stateAfter.protection, stateBefore.protection);
    EXPECT_EQ(stateAfter.write_enabled, stateBefore.write_enabled);
    EXPECT_EQ(stateAfter.selected, 0);
}

TEST_P(BoardFlash, PinOutWordPutBackWithTheDevicesOwnInstructions) {
    open(*GetParam());
    const zelsmbus_tool::FlashWriterLock held(handle, device.name);
    const auto board = zelsmbus_tool::readBoardPinOut(held, handle, device.pinOutAddress);
    ASSERT_TRUE(board.has_value());
    const std::vector<uint8_t> erased(4, 0xFF);
    const size_t length = device.flashId == 0x9D17 ? 2 : 4;
    std::vector<uint8_t> word(length);
    zelsim_flash_read(device.node, device.pinOutAddress, word.data(), length);
    zelsim_flash_write(device.node, device.pinOutAddress, erased.data(), length);
    const std::vector<uint8_t> before = wholeArray();
    foreignInstructions({});

    EXPECT_TRUE(zelsmbus_tool::restorePinOutWord(held, handle, board->flashId,
                                                 device.pinOutAddress, board->word));
    EXPECT_TRUE(foreignInstructions(instructionsOf(device.flashId)).empty());
    std::vector<uint8_t> now(length);
    zelsim_flash_read(device.node, device.pinOutAddress, now.data(), length);
    EXPECT_EQ(now, word);
    // Nothing but the word changed.
    std::vector<uint8_t> expected = before;
    std::copy(word.begin(), word.end(), expected.begin() + device.pinOutAddress);
    EXPECT_EQ(wholeArray(), expected);
    const zelsim_flash_state state = deviceState();
    EXPECT_EQ(state.selected, 0);
    EXPECT_EQ(state.write_enabled, 0);
    EXPECT_EQ(state.auto_increment, 0);
    EXPECT_EQ(state.indirect_transfer_open, 0);
    if (device.flashId == 0xBF8E) {
        EXPECT_EQ(state.protection, 0x3C);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryDevice, BoardFlash, ::testing::Values(&k1010, &kBF8E, &k9D17),
                         [](const auto &info) {
                             return "Flash" + std::string(info.param->name).substr(7);
                         });

}  // namespace
