// Loading and binding the chassis-query library: the real dlopen of
// "libzelqpxi.so.1", against no library, the stand-in, and its variants.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "chassis/DynamicQPXILibrary.h"
#include "chassis/items.h"
#include "chassis/zeldynlib.h"
#include "loaderCalls.h"

#ifdef ZELQPXI_STAND_IN_DIR
#include <zelsim.h>

#include "zelqpxiSim.h"
#endif

namespace zelqpxi {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

class Binding : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(chassisQueryLibraryLoaded()) << "left loaded by an earlier test";
        loaderCalls() = tLoaderCalls();
    }
    void TearDown() override {
        status.releaseText();
        EXPECT_FALSE(chassisQueryLibraryLoaded()) << "still loaded after the binding went";
    }

    tJsonStatus status;
};

TEST_F(Binding, WithoutALibraryFailsDescribedAndNeverCloses) {
    {
        DynamicQPXILibrary binding(status);
        EXPECT_FALSE(binding.isLoaded());
        EXPECT_EQ(binding.boundEntryPoints(), 0);
    }
    EXPECT_EQ(status.code, -52005);
    EXPECT_EQ(loaderCalls().dlopens, 1u);
    EXPECT_EQ(loaderCalls().lastPath, "libzelqpxi.so.1");
    EXPECT_EQ(loaderCalls().lastFlags, RTLD_NOW | RTLD_GLOBAL);
    EXPECT_EQ(loaderCalls().dlsyms, 0u);
    EXPECT_EQ(loaderCalls().dlcloses, 0u);
    ASSERT_NE(status.text, nullptr);
    EXPECT_THAT(
        status.text,
        MatchesRegex(
            "\\{\"error_constant\":\"zelosalerr_invalidParameter\","
            "\"file\":\"src/chassis/zeldynlib\\.cpp\",\"line\":[0-9]+,"
            "\"component\":\"zelsmbus\","
            "\"zeldynlib_debug\":\\{\"debug\":\"failed to zeldynlib_load library\","
            "\"path\":\"libzelqpxi\\.so\\.1\"\\},"
            "\"internal_error\":\\{\"api\":\"dlerror\",\"string\":\".*libzelqpxi.*\"\\}\\}"));
    // Nothing is left pending for the next caller of dlerror.
    EXPECT_EQ(dlerror(), nullptr);
}

TEST_F(Binding, AnErrorOnEntryLoadsNothing) {
    status.setCode(-1);
    {
        DynamicQPXILibrary binding(status);
        EXPECT_EQ(binding.boundEntryPoints(), 0);
    }
    EXPECT_EQ(status.code, -1);
    EXPECT_EQ(status.text, nullptr);
    EXPECT_EQ(loaderCalls().dlopens, 0u);
    EXPECT_EQ(loaderCalls().dlcloses, 0u);
}

TEST_F(Binding, AWarningOnEntryIsReplacedByTheLoadFailure) {
    status.setCode(3);
    DynamicQPXILibrary binding(status);
    EXPECT_EQ(loaderCalls().dlopens, 1u);
    EXPECT_EQ(status.code, -52005);
}

TEST(ZelDynLib, MissingSymbolIsDescribedWithAnEmptyLoaderTextWhenThereIsNone) {
    tJsonStatus status;
    void *self = __real_dlopen(nullptr, RTLD_NOW);
    // dlsym of a missing name leaves a message; the description carries it.
    EXPECT_EQ(zeldynlib_getSymbol(self, "no_such_symbol_here", status), nullptr);
    EXPECT_EQ(status.code, -52005);
    EXPECT_THAT(status.text, HasSubstr("\"zeldynlib_debug\":{\"debug\":\"failed to get symbol\","
                                       "\"zeldynlib_symbol\":\"no_such_symbol_here\"}"));
    // Once the status holds an error, no lookup is made at all.
    const unsigned before = loaderCalls().dlsyms;
    EXPECT_EQ(zeldynlib_getSymbol(self, "dlopen", status), nullptr);
    EXPECT_EQ(loaderCalls().dlsyms, before);
    status.releaseText();
    __real_dlclose(self);
}

#ifdef ZELQPXI_STAND_IN_DIR

struct tVariantCase {
    const char *variant;
    int bound;            // entry points bound, from the first row
    unsigned lookups;     // dlsym calls made
    const char *missing;  // symbol named in the description, or null
};

class BindingVariants : public Binding, public ::testing::WithParamInterface<tVariantCase> {};

TEST_P(BindingVariants, BindInTableOrderUntilTheFirstMissingSymbol) {
    const tVariantCase &c = GetParam();
    {
        tStandIn standIn(c.variant);
        ASSERT_TRUE(standIn.loaded()) << standIn.path();
        {
            DynamicQPXILibrary binding(status);
            EXPECT_TRUE(binding.isLoaded());
            EXPECT_EQ(binding.boundEntryPoints(), c.bound);
        }
        EXPECT_EQ(loaderCalls().dlsyms, c.lookups);
        // A loaded handle is closed once, whether the binding failed or not.
        EXPECT_EQ(loaderCalls().dlcloses, 1u);
    }
    if (c.missing == nullptr) {
        EXPECT_EQ(status.code, 0);
        EXPECT_EQ(status.text, nullptr);
    } else {
        EXPECT_EQ(status.code, -52005);
        EXPECT_EQ(loaderCalls().lastSymbol, c.missing);
        EXPECT_THAT(status.text,
                    HasSubstr(std::string("\"zeldynlib_symbol\":\"") + c.missing + "\""));
        EXPECT_THAT(status.text,
                    HasSubstr("\"internal_error\":{\"api\":\"dlerror\",\"string\":\""));
    }
}

INSTANTIATE_TEST_SUITE_P(StandIns, BindingVariants,
                         ::testing::Values(tVariantCase{"", 17, 17, nullptr},
                                           tVariantCase{"missing-cancel-wait", 16, 17,
                                                        "zelqpxi_cancelWaitForInvalidation"},
                                           tVariantCase{"missing-open-slot", 2, 3,
                                                        "zelqpxi_openSlotByNumber"}),
                         [](const auto &info) {
                             std::string name =
                                 info.param.variant[0] ? info.param.variant : "complete";
                             for (char &ch : name) {
                                 if (ch == '-') ch = '_';
                             }
                             return name;
                         });

TEST_F(Binding, ItemsWalkTheSimulatedChassisAndCloseEveryHandle) {
    ASSERT_EQ(zelsim_load_world_text(R"toml(
[[chassis]]
number = 4
model = "Model four"
vendor = "Vendor"
serial = "S4"
slot1 = "nothing here"

[[chassis]]
number = 9
model = "Model nine"
vendor = "Vendor"
serial = "S9"
slot1 = "a ZELSMBUS controller"
)toml"),
              0)
        << zelsim_last_error();
    tStandIn standIn("");
    ASSERT_TRUE(standIn.loaded());
    auto openItems = standIn.function<decltype(&zelqpxi_sim_open_items)>("zelqpxi_sim_open_items");
    auto openContainers =
        standIn.function<decltype(&zelqpxi_sim_open_containers)>("zelqpxi_sim_open_containers");
    auto badHandles =
        standIn.function<decltype(&zelqpxi_sim_bad_handles)>("zelqpxi_sim_bad_handles");
    auto reset = standIn.function<decltype(&zelqpxi_sim_reset)>("zelqpxi_sim_reset");
    reset();
    {
        DynamicQPXILibrary binding(status);
        ASSERT_EQ(status.code, 0);
        Session session(1, &binding);
        std::vector<Chassis> chassis = session.getChassis();
        ASSERT_EQ(chassis.size(), 2u);
        EXPECT_EQ(chassis[0].getU32Attribute(Chassis::kNumber), 4u);
        EXPECT_EQ(chassis[1].getU32Attribute(Chassis::kNumber), 9u);
        EXPECT_STREQ(chassis[1].getStringAttribute(Chassis::kModel), "Model nine");
        EXPECT_STREQ(chassis[1].openSlotByNumber(1).getStringAttribute(Slot::kControllerText),
                     "a ZELSMBUS controller");
        EXPECT_EQ(chassis[0].getSlots().size(), 1u);
        try {
            session.openChassisByNumber(5);
            ADD_FAILURE() << "chassis 5 does not exist";
        } catch (const zelerr::Exception &failure) {
            EXPECT_EQ(failure.code(), ZELQPXI_SIM_NOT_FOUND);
            EXPECT_THAT(failure.what(), HasSubstr("zelqpxi_openChassisByNumber"));
        }
        EXPECT_EQ(openItems(), 3u);
    }
    EXPECT_EQ(openItems(), 0u);
    EXPECT_EQ(openContainers(), 0u);
    EXPECT_EQ(badHandles(), 0u);
    zelsim_reset();
}

#endif

}  // namespace
}  // namespace zelqpxi
