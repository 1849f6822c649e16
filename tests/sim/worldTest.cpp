// World files: loading, the chassis and its EEPROM, stale descriptors, and
// the simulator's command table.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>

#include "commands.h"
#include "wire.h"

namespace {

using simtest::Node;
using simtest::put;
using simtest::Reply;

const char *kWorld = R"toml(
[simulator]
lock_timeout_ms = 20

[[device]]
vendor_id = 0x1E2D
subsystem_id = 0x7777
device_string = "test node"
flash_id = 0xBF8E
firmware_version = 7

  [[device.port]]
  text = "P0"
  chassis_eeprom = true
  extended_protection = true
  chassis = 3

  [[device.port]]
  text = "P1"
    [[device.port.target]]
    address = 0x60
    kind = "nack"
    [[device.port.target]]
    address = 0xA0
    kind = "eeprom"
    contents = [1, 2, 3]

[[chassis]]
number = 3
model = "A model name that is certainly longer than the sixty bytes of its field"
vendor = "Vendor"
serial = "SERIAL-0123456789"
slot1 = "ZELSMBUS slot"
)toml";

class World : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(zelsim_load_world_text(kWorld), 0) << zelsim_last_error(); }
    void TearDown() override { zelsim_reset(); }
};

TEST_F(World, NodesPortsAndTargetsFollowTheFile) {
    EXPECT_EQ(zelsim_node_count(), 1u);
    EXPECT_EQ(zelsim_port_count(0), 2u);
    Node node(0);
    Reply ids = node.call(0x02, {0, 0, 0, 0});
    EXPECT_EQ(ids.at(0, 2), 0x1E2Du);
    EXPECT_EQ(ids.at(6, 2), 0x7777u);
    std::vector<uint8_t> flags(8, 0);
    Reply f = node.call(0x04, flags);
    EXPECT_EQ(f.at(0, 2), 0x0101u);

    std::vector<uint8_t> quick(8, 0);
    put(quick, 0, 1, 2);
    put(quick, 2, 0x60, 1);
    EXPECT_EQ(node.call(0x09, quick).status(), ZELSIM_STATUS_NACK);
    uint8_t bytes[4];
    ASSERT_EQ(zelsim_eeprom_read(0, 1, 0xA0, 0, bytes, 4), 0);
    EXPECT_EQ(bytes[2], 3);
    EXPECT_EQ(bytes[3], 0xFF);  // not given: erased
}

TEST_F(World, ChassisEepromCarriesTheChassisTextsCutToTheirFields) {
    zelsim_chassis chassis{};
    ASSERT_EQ(zelsim_chassis_count(), 1u);
    ASSERT_EQ(zelsim_chassis_info(0, &chassis), 0);
    EXPECT_EQ(chassis.number, 3u);
    EXPECT_STREQ(chassis.slot1, "ZELSMBUS slot");

    Node node(0);
    std::vector<uint8_t> in(12, 0);
    put(in, 2, 0xA4, 1);
    put(in, 4, 123, 4);
    Reply image = node.call(0x17, in);
    ASSERT_EQ(image.status(), 0);
    const char *data = reinterpret_cast<const char *>(image.out.data());
    EXPECT_EQ(std::string(data + 5, 60), std::string(chassis.model, 60));  // no terminator
    EXPECT_STREQ(data + 65, "Vendor");
    EXPECT_EQ(std::string(data + 106, 13), "SERIAL-012345");
    EXPECT_EQ(zelsim_eeprom_read(0, 0, 0xA5, 0, nullptr, 0), 0);  // same device as 0xA4
}

TEST_F(World, ReloadMakesOpenDescriptorsStale) {
    Node node(0);
    zelsim_reset();
    Reply reply = node.call(0x02, {0, 0, 0, 0});
    EXPECT_EQ(reply.result, -1);
    EXPECT_EQ(reply.err, ENODEV);
    Node fresh(0);
    EXPECT_EQ(fresh.call(0x02, {0, 0, 0, 0}).at(0, 2), 0x8086u);
}

TEST_F(World, BadWorldTextKeepsTheCurrentWorld) {
    const char *bad[] = {
        "[[device]]\nvendor_id = 0x10000\n",
        "[[device]]\n[[device.port]]\n[[device.port.target]]\naddress = 0xA0\nkind = \"toaster\"\n",
        "[[device]\n",
        "[[device]]\n[[device.port]]\nattributes = { 9999 = 1 }\n",
        "[[device]]\n[[device.port]]\nattributes = { 010001 = 1 }\n",
        "[[device]]\n[[device.port]]\nattributes = { 4294977297 = 1 }\n",  // 2^32 + 10001
    };
    for (const char *text : bad) {
        EXPECT_EQ(zelsim_load_world_text(text), -1) << text;
        EXPECT_STRNE(zelsim_last_error(), "") << text;
        EXPECT_EQ(zelsim_node_count(), 1u);
    }
    EXPECT_EQ(zelsim_load_world_file("/nonexistent/world.toml"), -1);
}

// A world file says which address form a message is about, refuses a second
// target at an address, and names a misspelt key at its own line.
TEST_F(World, TargetAddressesAndKeysAreCheckedWhereTheyAreWritten) {
    const std::string port = "[[device]]\n[[device.port]]\n";  // lines 1-2
    struct Case {
        std::string text;
        std::string message;
    } cases[] = {
        {port + "[[device.port.target]]\naddress = 0xA0\nkind = \"eeprom\"\n"
                "[[device.port.target]]\naddress7 = 0x50\nkind = \"nack\"\n",
         "line 7: key 'address7': 0xA0 (7-bit 0x50) already has a target on this port (line 3)"},
        {port + "[[device.port.target]]\nkind = \"eeprom\"\nadress = 0xA0\n",
         "line 5: key 'adress': unknown key (expected one of: address, address7, kind, contents, "
         "page_size, layout, bytes, words, blocks)"},
        {port + "[[device.port.target]]\naddress = 0x51\nkind = \"eeprom\"\n",
         "line 4: key 'address': must be an 8-bit address: an even integer from 0 to 0xFE (for the "
         "7-bit address 0x51 write address = 0xA2 or address7 = 0x51)"},
        {port + "[[device.port.target]]\naddress7 = 0x80\nkind = \"eeprom\"\n",
         "line 4: key 'address7': must be an integer from 0 to 127"},
        {port + "[[device.port.target]]\naddress = 0x90\nkind = \"registers\"\nwords = [1]\n",
         "line 6: key 'words': not a key of a \"registers\" with layout \"bytes\" target"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(zelsim_load_world_text(c.text.c_str()), -1) << c.text;
        EXPECT_EQ(zelsim_last_error(), c.message) << c.text;
    }
    // The 7-bit form reaches the same target as the 8-bit one.
    ASSERT_EQ(
        zelsim_load_world_text(
            (port + "[[device.port.target]]\naddress7 = 0x50\nkind = \"eeprom\"\ncontents = [7]\n")
                .c_str()),
        0)
        << zelsim_last_error();
    uint8_t byte = 0;
    ASSERT_EQ(zelsim_eeprom_read(0, 0, 0xA0, 0, &byte, 1), 0);
    EXPECT_EQ(byte, 7);
}

// A field name the command does not have stops the simulator loudly instead
// of reading 0 (which a misspelt name in a handler would otherwise do).
TEST(CommandFields, AnUnknownFieldNameStopsTheProgram) {
    const zelsim::Command readByte{0x0E,       0,
                                   12,         8,
                                   "readByte", zelsim::Scope::Bus,
                                   nullptr,    {{"command", 0, 3, 1}, {"data", 1, 0, 1}}};
    uint8_t in[12] = {0, 0, 0, 0x42}, out[8] = {};
    zelsim::Fields fields(readByte, in, out);
    EXPECT_EQ(fields.get("command"), 0x42u);
    EXPECT_DEATH(fields.get("comand"), "command readByte has no numeric input field 'comand'");
    EXPECT_DEATH(fields.set("dat", 1), "has no numeric output field 'dat'");
    EXPECT_DEATH(fields.outBytes("text"), "has no byte output field 'text'");
}

TEST_F(World, VirtualTimeCountsSleepsWithoutSleeping) {
    zelsim_reset_virtual_clock();
    ASSERT_EQ(zelsim_virtual_time(), 1);
    timespec ten{10, 5};
    EXPECT_EQ(nanosleep(&ten, nullptr), 0);  // would take ten seconds for real
    EXPECT_EQ(zelsim_virtual_ns(), 10000000005ull);
    EXPECT_EQ(zelsim_nanosleep_calls(), 1u);
    zelsim_set_virtual_time(0);
    timespec tiny{0, 1000};
    EXPECT_EQ(nanosleep(&tiny, nullptr), 0);
    EXPECT_EQ(zelsim_virtual_ns(), 10000000005ull);
    EXPECT_EQ(zelsim_nanosleep_calls(), 2u);
    zelsim_set_virtual_time(1);
}

TEST(CommandTable, FortyFourCommandsInTheDriverCodeSpace) {
    std::set<unsigned> numbers;
    for (unsigned n = 0; n < 0x100; ++n) {
        zelsim_command info{};
        if (zelsim_command_info(n, &info) != 0) continue;
        numbers.insert(n);
        EXPECT_EQ(info.request & 0x3FFFFFFFu, 0x00202E00u | n) << n;
        unsigned direction = info.request >> 30;
        EXPECT_TRUE(direction >= 1 && direction <= 3) << n;
        // Every buffer ends with its status word; no field leaves its buffer.
        bool inStatus = false, outStatus = false;
        for (unsigned i = 0; i < info.field_count; ++i) {
            const zelsim_field &f = info.fields[i];
            uint32_t size = f.output ? info.out_size : info.in_size;
            EXPECT_LE(f.offset + f.width, size) << n << " " << f.name;
            if (std::string(f.name) == "status" && f.offset + 4u == size) {
                (f.output ? outStatus : inStatus) = true;
            }
        }
        EXPECT_TRUE(inStatus && outStatus) << n;
    }
    EXPECT_EQ(numbers.size(), 44u);
    EXPECT_EQ(numbers.count(0x1E) + numbers.count(0x1F) + numbers.count(0x01), 0u);
    EXPECT_EQ(*numbers.begin(), 0x02u);
    EXPECT_EQ(*numbers.rbegin(), 0x2Fu);
}

}  // namespace

// Flash contents from the world: an image file named relative to the world
// file, installed as an update leaves it, and the pin-out byte written after it.
TEST(WorldFlash, ImageFileAndPinOutFillTheFlash) {
    char folder[] = "/tmp/zelsim-world-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    const std::string image =  // payload "ABCD", region at 0x10000 of an 0xBF8E
        "HeaderVersion::1\r\nSubSystemID::0x7777\r\nPinOutAddr::0x8\r\nPinOutVer::3\r\n"
        "UpdateType::\"FWUpdate\"\r\nOffset::0x10000\r\nVersion::0x0105\r\n"
        "CRC::0xe981bdf3\r\nByteCount::4\r\n\r\nQUJDRA==\r\n";
    auto write = [](const std::string &path, const std::string &text) {
        FILE *file = fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    };
    write(dir + "/fw.img", image);
    write(dir + "/world.toml",
          "[[device]]\nflash_id = 0xBF8E\nfirmware_image = \"fw.img\"\n"
          "pin_out = { address = 0x8, version = 3 }\n[[device.port]]\ntext = \"P0\"\n");
    ASSERT_EQ(zelsim_load_world_file((dir + "/world.toml").c_str()), 0) << zelsim_last_error();
    uint8_t head[6], trailer[2], pinOut[2];
    zelsim_flash_read(0, 0x10000, head, sizeof head);
    zelsim_flash_read(0, 0x8FFFE, trailer, sizeof trailer);
    zelsim_flash_read(0, 0x8, pinOut, sizeof pinOut);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(head), 6), "ABCD\xff\xff");
    EXPECT_EQ(trailer[0] << 8 | trailer[1], 0xA337);  // CRC-16 of the rest of the region
    EXPECT_EQ(pinOut[0], 3);
    EXPECT_EQ(pinOut[1], 0xFF);
    Node node(0);
    std::vector<uint8_t> reg(12, 0);  // port 0, register 4
    put(reg, 4, 4, 4);
    EXPECT_EQ(node.call(0x18, reg).at(0, 4), 0x0105u);  // the image's Version by default

    std::string damaged = image;
    damaged.replace(damaged.find("QUJDRA"), 6, "QUJERA");  // "ABDD"
    const std::string bad[] = {
        "flash_id = 0xBF8E\nfirmware_image = \"missing.img\"\n",
        "flash_id = 0xBF8E\nfirmware_image = \"damaged.img\"\n",
        "flash_id = 0x1010\nfirmware_image = \"fw.img\"\n",  // 0x1010 takes Offset 0 only
        "flash_id = 0xBF8E\npin_out = { address = 0x100000, version = 3 }\n",
        "flash_id = 0xBF8E\npin_out = { address = 0x8 }\n",
    };
    write(dir + "/damaged.img", damaged);
    for (const std::string &device : bad) {
        write(dir + "/world.toml", "[[device]]\n" + device);
        EXPECT_EQ(zelsim_load_world_file((dir + "/world.toml").c_str()), -1) << device;
        EXPECT_NE(std::string(zelsim_last_error()).find("line "), std::string::npos) << device;
    }
    for (const char *name : {"/fw.img", "/damaged.img", "/world.toml"}) unlink((dir + name).c_str());
    rmdir(folder);
    zelsim_reset();
}
