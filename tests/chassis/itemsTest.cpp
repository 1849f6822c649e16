// The item classes over a fake chassis-query library: value semantics,
// container enumeration, failures raised as exceptions, nothing leaked.
#include "chassis/items.h"

#include <gtest/gtest.h>

#include "fakeQpxiLibrary.h"

namespace zelqpxi {
namespace {

class Items : public ::testing::Test {
protected:
    void TearDown() override {
        // Every handle handed out was closed exactly once.
        EXPECT_EQ(library.openItems(), 0u);
        EXPECT_EQ(library.openContainers(), 0u);
        EXPECT_EQ(library.badCloses(), 0u);
    }

    FakeQPXILibrary library;
};

TEST_F(Items, EnumeratingThreeItemsCallsEndFourTimesAndOwnsThreeHandles) {
    Session session(1, &library);
    {
        std::vector<Chassis> chassis = session.getChassis();
        ASSERT_EQ(chassis.size(), 3u);
        EXPECT_EQ(library.lastKind, 0u);
        EXPECT_EQ(library.calls("getItemContainer"), 1u);
        EXPECT_EQ(library.calls("ItemIterator_begin"), 1u);
        EXPECT_EQ(library.calls("ItemIterator_end"), 4u);
        EXPECT_EQ(library.calls("ItemIterator_nextItem"), 3u);
        EXPECT_EQ(library.calls("destroyItemContainer"), 1u);
        // Each element owns a duplicate; the handles from nextItem are closed.
        EXPECT_EQ(library.calls("duplicate"), 3u);
        EXPECT_EQ(library.openItems(), 4u);  // session + three chassis
        for (const Chassis &c : chassis) EXPECT_TRUE(library.isOpen(c.handle()));
        EXPECT_NE(chassis[0].handle(), chassis[1].handle());
        // Delivery order: duplicates are made in order, so handles ascend.
        EXPECT_LT(chassis[0].handle(), chassis[1].handle());
        EXPECT_LT(chassis[1].handle(), chassis[2].handle());
    }
    EXPECT_EQ(library.openItems(), 1u);
}

TEST_F(Items, AnEmptyContainerGivesAnEmptyList) {
    library.itemsPerContainer = 0;
    Session session(1, &library);
    EXPECT_TRUE(session.getChassis().empty());
    EXPECT_EQ(library.calls("getItemContainer"), 1u);
    EXPECT_EQ(library.calls("ItemIterator_begin"), 1u);
    EXPECT_EQ(library.calls("ItemIterator_end"), 1u);
    EXPECT_EQ(library.calls("ItemIterator_nextItem"), 0u);
    EXPECT_EQ(library.calls("destroyItemContainer"), 1u);
}

struct tListCase {
    const char *name;
    uint32_t kind;
    std::function<size_t(FakeQPXILibrary &)> list;
};

class ItemLists : public Items, public ::testing::WithParamInterface<tListCase> {};

TEST_P(ItemLists, UseTheirContainerKind) {
    EXPECT_EQ(GetParam().list(library), 3u);
    EXPECT_EQ(library.lastKind, GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ItemLists,
    ::testing::Values(
        tListCase{"slots", 4096,
                  [](FakeQPXILibrary &l) { return Chassis(nullptr, &l).getSlots().size(); }},
        tListCase{
            "bridges", 4097,
            [](FakeQPXILibrary &l) { return Chassis(nullptr, &l).getTriggerBridges().size(); }},
        tListCase{"devices", 8192,
                  [](FakeQPXILibrary &l) { return Slot(nullptr, &l).getDevices().size(); }},
        tListCase{"items", 12345,
                  [](FakeQPXILibrary &l) { return Item(nullptr, &l).getItems(12345).size(); }}),
    [](const auto &info) { return std::string(info.param.name); });

struct tFailureCase {
    const char *operation;
    unsigned nth;
};

class EnumerationFailure : public Items, public ::testing::WithParamInterface<tFailureCase> {};

TEST_P(EnumerationFailure, ClosesEverythingAndCarriesTheCallsCode) {
    Session session(1, &library);
    library.failCall(GetParam().operation, -4242, GetParam().nth);
    try {
        session.getChassis();
        FAIL() << "no exception";
    } catch (const zelerr::Exception &failure) {
        EXPECT_EQ(failure.code(), -4242);
        EXPECT_STREQ(failure.what(), R"({"fake":"failure"})");
    }
    EXPECT_EQ(library.openItems(), 1u);  // only the session
}

INSTANTIATE_TEST_SUITE_P(
    Calls, EnumerationFailure,
    ::testing::Values(tFailureCase{"getItemContainer", 1}, tFailureCase{"ItemIterator_begin", 1},
                      tFailureCase{"ItemIterator_end", 2}, tFailureCase{"ItemIterator_nextItem", 2},
                      tFailureCase{"duplicate", 2}),
    [](const auto &info) {
        return std::string(info.param.operation) + "_" + std::to_string(info.param.nth);
    });

TEST_F(Items, ASecondItemFailureIsRaisedAfterItsElementWasAppended) {
    Session session(1, &library);
    library.failCall("ItemIterator_nextItem", -7, 2);
    EXPECT_THROW(session.getChassis(), zelerr::Exception);
    EXPECT_EQ(library.calls("ItemIterator_nextItem"), 2u);
    EXPECT_EQ(library.calls("destroyItemContainer"), 1u);
    // The first element's duplicate and the nextItem handle are closed (TearDown).
}

TEST_F(Items, CopiesDuplicateAndAssignmentDuplicatesBeforeClosing) {
    Session session(1, &library);
    Chassis first = session.openChassisByNumber(1);
    Chassis copy(first);
    EXPECT_NE(copy.handle(), first.handle());
    EXPECT_TRUE(library.isOpen(copy.handle()));

    Chassis other = session.openChassisByNumber(2);
    tItemHandle replaced = other.handle();
    other = first;
    EXPECT_FALSE(library.isOpen(replaced));
    EXPECT_TRUE(library.isOpen(other.handle()));
    EXPECT_NE(other.handle(), first.handle());

    tItemHandle before = other.handle();
    other = other;  // self-assignment keeps a working handle
    EXPECT_NE(other.handle(), before);
    EXPECT_TRUE(library.isOpen(other.handle()));
}

TEST_F(Items, AFailedDuplicateKeepsTheOldHandle) {
    Session session(1, &library);
    Chassis source = session.openChassisByNumber(1);
    Chassis target = session.openChassisByNumber(2);
    tItemHandle kept = target.handle();
    library.failCall("duplicate", -9);
    EXPECT_THROW(target = source, zelerr::Exception);
    EXPECT_EQ(target.handle(), kept);
    EXPECT_TRUE(library.isOpen(kept));
}

TEST_F(Items, AnEmptyItemCopiesWithoutCallsAndClosesZero) {
    {
        Item empty(nullptr, &library);
        Item copy(empty);
        EXPECT_EQ(copy.handle(), nullptr);
        EXPECT_EQ(library.calls("duplicate"), 0u);
    }
    EXPECT_EQ(library.closesOfZero(), 2u);
}

TEST_F(Items, OpeningCallsAndAttributesRaiseFailures) {
    Session session(1, &library);
    library.failCall("openChassisByNumber", -11);
    EXPECT_THROW(session.openChassisByNumber(3), zelerr::Exception);
    Chassis chassis = session.openChassisByNumber(3);
    library.failCall("openSlotByNumber", -12);
    EXPECT_THROW(chassis.openSlotByNumber(1), zelerr::Exception);
    library.failCall("getStringAttribute", -13);
    EXPECT_THROW(chassis.getStringAttribute(Chassis::kSerialNumber), zelerr::Exception);
    EXPECT_STREQ(chassis.getStringAttribute(Chassis::kModel), "text");
    library.failCall("getU32Attribute", -14);
    EXPECT_THROW(chassis.getU32Attribute(Chassis::kNumber), zelerr::Exception);
    // A warning is ignored.
    library.failCall("getU32Attribute", 5);
    library.u32Attributes[4096] = 9;
    EXPECT_EQ(chassis.getU32Attribute(Chassis::kNumber), 9u);
    library.failCall("openPXISession", -15);
    EXPECT_THROW(Session(1, &library), zelerr::Exception);
}

TEST_F(Items, ContainingItemsAndDevices) {
    Session session(1, &library);
    Slot slot = session.openChassisByNumber(1).openSlotByNumber(1);
    Chassis ofSlot = slot.getChassis();
    EXPECT_EQ(library.lastKind, 1u);
    Device device = session.openDeviceByAddr(DeviceAddress{{0, 5, 6, 7}});
    EXPECT_EQ(library.lastAddress.words[3], 7u);
    Slot ofDevice = device.getSlot();
    EXPECT_EQ(library.lastKind, 2u);
    TriggerBridge bridge(nullptr, &library);
    Chassis ofBridge = bridge.getChassis();
    EXPECT_EQ(library.lastKind, 1u);
    EXPECT_EQ(session.waitForSessionInvalidation(4), 5u);
    EXPECT_EQ(session.cancelWaitForInvalidation(), 77);
}

TEST_F(Items, DeviceAddressReadsItsWordsInReverseOrder) {
    library.u32Attributes = {{12288, 5}, {12289, 6}, {12290, 7}};
    Device device(nullptr, &library);
    const DeviceAddress address = device.getAddress();
    EXPECT_EQ(address.words[0], 0u);
    EXPECT_EQ(address.words[1], 5u);
    EXPECT_EQ(address.words[2], 6u);
    EXPECT_EQ(address.words[3], 7u);
    EXPECT_EQ(library.attributeOrder, "12290 12289 12288 ");
}

}  // namespace
}  // namespace zelqpxi
