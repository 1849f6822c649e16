// The order and numbering of controller ports over a table of worlds: which
// port every numbered name opens, the listed names in order, and the order of
// the handles of ZELSMBusOpenList. Ports are told apart by "device text/port
// text", so ports that share a port text stay distinguishable.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "api/tSMBusHandle.h"
#include "worlds.h"
#include "zelsim.h"
#include "zelsmbus.h"

#ifdef ZELQPXI_STAND_IN
#include "zelqpxiSim.h"
#endif

namespace names_test {
namespace {

struct tCard {
    unsigned vendor, device, subsystemVendor, subsystem;
    unsigned bus, deviceNumber, function;
    std::string deviceText;
    std::vector<std::string> portTexts;
};

std::string cardWorld(const std::vector<tCard> &cards) {
    std::string text;
    for (const tCard &card : cards) {
        text += "[[device]]\nvendor_id = " + std::to_string(card.vendor) +
                "\ndevice_id = " + std::to_string(card.device) +
                "\nsubsystem_vendor_id = " + std::to_string(card.subsystemVendor) +
                "\nsubsystem_id = " + std::to_string(card.subsystem) +
                "\nbus = " + std::to_string(card.bus) +
                "\ndevice = " + std::to_string(card.deviceNumber) +
                "\nfunction = " + std::to_string(card.function) + "\ndevice_string = \"" +
                card.deviceText + "\"\n";
        for (const std::string &port : card.portTexts)
            text += "  [[device.port]]\n  text = \"" + port + "\"\n";
    }
    return text;
}

struct tOpening {
    const char *name;
    const char *port;  // "device text/port text" of the port it opens
};

struct tWorldCase {
    const char *label;
    std::vector<tCard> cards;
    // Every port in set order, with the numbered name listed for it.
    std::vector<tOpening> listed;
    // Further names (port texts) and the port each opens.
    std::vector<tOpening> others;
};

// gtest names a failing case by its label rather than by its bytes.
void PrintTo(const tWorldCase &world, std::ostream *out) { *out << world.label; }

constexpr unsigned kIntel = 0x8086;

const tWorldCase kWorlds[] = {
    {"IdenticalCards",
     // Two identical cards on buses 2 and 1, and a node that repeats the card on
     // bus 2 exactly: its ports have the keys of ports already found and go.
     // The location key orders by port first, so every port of the two cards
     // starts a device index of its own. Port texts repeat across the cards:
     // a text opens the port that sorts first.
     {{kIntel, 0x1234, kIntel, 7, 2, 0, 0, "A", {"P0", "P1"}},
      {kIntel, 0x1234, kIntel, 7, 1, 0, 0, "B", {"P0", "P1"}},
      {kIntel, 0x1234, kIntel, 7, 2, 0, 0, "DUP", {"D0", "D1"}}},
     {{"ZELSMBUS::SYSTEM::0::0", "B/P0"},
      {"ZELSMBUS::SYSTEM::1::0", "A/P0"},
      {"ZELSMBUS::SYSTEM::2::1", "B/P1"},
      {"ZELSMBUS::SYSTEM::3::1", "A/P1"}},
     {{"P0", "B/P0"}, {"p1", "B/P1"}, {"ZELSMBUS::SYSTEM", "B/P0"}}},
    {"EqualIdentitiesAtOtherLocations",
     // Function outranks device number, device number outranks bus.
     {{kIntel, 0x1234, kIntel, 7, 1, 1, 2, "A", {"A0"}},
      {kIntel, 0x1234, kIntel, 7, 1, 2, 1, "B", {"B0"}},
      {kIntel, 0x1234, kIntel, 7, 0, 3, 3, "C", {"C0"}},
      {kIntel, 0x1234, kIntel, 7, 9, 0, 3, "D", {"D0"}}},
     {{"ZELSMBUS::SYSTEM::0::0", "B/B0"},
      {"ZELSMBUS::SYSTEM::1::0", "A/A0"},
      {"ZELSMBUS::SYSTEM::2::0", "D/D0"},
      {"ZELSMBUS::SYSTEM::3::0", "C/C0"}},
     {}},
    {"IdentityFieldsBySignificance",
     // Subsystem outranks subsystem vendor, which outranks device, which
     // outranks vendor.
     {{kIntel, 1, 2, 0, 0, 0, 0, "A", {"A0", "A1"}},
      {kIntel, 2, 1, 0, 0, 0, 0, "B", {"B0"}},
      {1, 9, 9, 1, 0, 0, 0, "C", {"C0"}},
      {2, 1, 1, 0, 0, 0, 0, "D", {"D0"}}},
     {{"ZELSMBUS::SYSTEM::0::0", "D/D0"},
      {"ZELSMBUS::SYSTEM::1::0", "B/B0"},
      {"ZELSMBUS::SYSTEM::2::0", "A/A0"},
      {"ZELSMBUS::SYSTEM::2::1", "A/A1"},
      {"ZELSMBUS::SYSTEM::3::0", "C/C0"}},
     {}},
    {"BothRemoteVendors",
     {{0x8086, 1, 0x8086, 3, 0, 0, 0, "S", {"S0"}},
      {0x15BC, 1, 0x15BC, 2, 0, 0, 0, "Q", {"Q0", "Q1"}},
      {0x1E2D, 1, 0x1E2D, 1, 0, 0, 0, "R", {"R0"}}},
     {{"ZELSMBUS::REMOTE::0::0", "R/R0"},
      {"ZELSMBUS::REMOTE::1::0", "Q/Q0"},
      {"ZELSMBUS::REMOTE::1::1", "Q/Q1"},
      {"ZELSMBUS::SYSTEM::0::0", "S/S0"}},
     {{"ZELSMBUS::REMOTE", "R/R0"}, {"zelsmbus::remote::1::1", "Q/Q1"}}},
    {"AllZeroIdentity",
     // The first device's identity equals the numbering's starting value.
     {{0, 0, 0, 0, 0, 0, 0, "Z", {"Z0", "Z1"}}, {kIntel, 1, kIntel, 1, 0, 0, 0, "S", {"S0"}}},
     {{"ZELSMBUS::SYSTEM::0::0", "Z/Z0"},
      {"ZELSMBUS::SYSTEM::0::1", "Z/Z1"},
      {"ZELSMBUS::SYSTEM::1::0", "S/S0"}},
     {}},
};

std::string portLabel(tSMBusHandle *handle) {
    nZELSMBUS000::tStatus status;
    const char *device = nullptr;
    const char *port = nullptr;
    handle->controller->getDeviceString(device, status);
    handle->controller->getPortString(port, status);
    return std::string(device != nullptr ? device : "?") + "/" + (port != nullptr ? port : "?");
}

class OrderingWorld : public ::testing::TestWithParam<tWorldCase> {
protected:
    void SetUp() override {
        ASSERT_EQ(zelsim_load_world_text(cardWorld(GetParam().cards).c_str()), 0)
            << zelsim_last_error();
    }
    void TearDown() override { zelsim_reset(); }

    static void expectOpens(const tOpening &opening) {
        tSMBusHandle *handle = nullptr;
        ASSERT_EQ(ZELSMBusOpen(opening.name, &handle), 0) << opening.name;
        EXPECT_EQ(portLabel(handle), opening.port) << opening.name;
        ZELSMBusClose(handle);
    }
};

TEST_P(OrderingWorld, EveryNameOpensItsPort) {
    for (const tOpening &opening : GetParam().listed) expectOpens(opening);
    for (const tOpening &opening : GetParam().others) expectOpens(opening);
}

TEST_P(OrderingWorld, OpenListHandsOutEveryPortOnceInSetOrder) {
    uint32_t count = 0;
    int32_t status = 0;
    tSMBusHandle **handles = ZELSMBusOpenList(&count, &status);
    ASSERT_NE(handles, nullptr) << status;
    std::vector<std::string> opened, expected;
    for (uint32_t i = 0; i < count; ++i) opened.push_back(portLabel(handles[i]));
    for (const tOpening &opening : GetParam().listed) expected.push_back(opening.port);
    EXPECT_EQ(opened, expected);
    ZELSMBusCloseList(count, handles);
}

#ifdef ZELQPXI_STAND_IN
TEST_P(OrderingWorld, ListsOneNamePerPortInSetOrder) {
    tStandIn standIn;
    ASSERT_TRUE(standIn.loaded());
    tChassisQuery::reset();
    char *block = ZELSMBusGetResourceNameList();
    ASSERT_NE(block, nullptr);
    std::vector<std::string> listed, expected;
    for (const char *name = block; *name != '\0'; name += listed.back().size() + 1)
        listed.emplace_back(name);
    ZELSMBusPutResourceNameList(block);
    for (const tOpening &opening : GetParam().listed) expected.emplace_back(opening.name);
    EXPECT_EQ(listed, expected);
}
#endif

INSTANTIATE_TEST_SUITE_P(Worlds, OrderingWorld, ::testing::ValuesIn(kWorlds),
                         [](const auto &info) { return std::string(info.param.label); });

}  // namespace
}  // namespace names_test
