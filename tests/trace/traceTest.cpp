// The console trace destination, the debug print and the trace object.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "smbios/cZelSmBiosLinuxProvider.h"
#include "trace/tConsoleTraceDestination.h"
#include "trace/tTrace.h"
#include "trace/zelsdbg.h"

namespace {

namespace osal = nZELSMBUS000::nZELOSAL000;

// Captures what the debug print hands to its writer.
class Captured : public ::testing::Test {
protected:
    void SetUp() override {
        text().clear();
        writes() = 0;
        savedWriter = osal::zelsdbg_writer;
        osal::zelsdbg_writer = [](const char *printed) {
            text() += printed;
            ++writes();
        };
    }
    void TearDown() override { osal::zelsdbg_writer = savedWriter; }

    static std::string &text() {
        static std::string captured;
        return captured;
    }
    static int &writes() {
        static int count;
        return count;
    }

    osal::tDebugWriter savedWriter = nullptr;
    osal::tConsoleTraceDestination destination;
};

TEST_F(Captured, PrintPassesTextUnformattedAndCutsAt511Characters) {
    destination.print("100% %s %d");
    EXPECT_EQ(text(), "100% %s %d");

    text().clear();
    const std::string longText(600, 'x');
    destination.print(longText.c_str());
    EXPECT_EQ(text(), std::string(511, 'x'));
    EXPECT_EQ(writes(), 2);
}

TEST_F(Captured, WritePrintsAtMostTheGivenLength) {
    struct Case {
        const char *characters;
        size_t length;
        const char *printed;
    } cases[] = {
        {"abcdef", 3, "abc"}, {"ab\0def", 5, "ab"}, {"abc", 0, ""}, {"abcdef", 12, "abcdef"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        text().clear();
        osal::iTraceDestination &result = destination.write(c.characters, c.length);
        EXPECT_EQ(&result, &destination);
        EXPECT_EQ(text(), c.printed);
    }
}

TEST_F(Captured, DebugPrintUsesTheFormatterHook) {
    static std::string seenFormat;
    const osal::tDebugFormatter saved = osal::zelsdbg_formatter;
    osal::zelsdbg_formatter = [](char *buffer, size_t size, const char *format, va_list arguments) {
        seenFormat = format;
        return std::vsnprintf(buffer, size, format, arguments);
    };
    osal::zelsdbg_printf("%s-%d", "port", 3);
    osal::zelsdbg_formatter = saved;
    EXPECT_EQ(seenFormat, "%s-%d");
    EXPECT_EQ(text(), "port-3");
}

TEST(ConsoleDestination, DefaultWriterPrintsToStandardError) {
    osal::tConsoleTraceDestination destination;
    ::testing::internal::CaptureStderr();
    destination.print(std::string(600, 'y').c_str());
    destination.write("abcdef", 3);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, std::string(511, 'y') + "abc");
}

TEST(ConsoleDestination, DestinationArgumentsAreCutToTheBufferAndTheirSizeReported) {
    osal::tConsoleTraceDestination destination;
    char small[8];
    std::memset(small, 'Z', sizeof small);
    size_t size = 0;
    destination.getDestinationArguments(small, sizeof small, &size);
    EXPECT_STREQ(small, " --dest");
    EXPECT_EQ(size, 20u);

    size = 0;
    destination.getDestinationArguments(nullptr, 0, &size);
    EXPECT_EQ(size, 20u);

    char whole[32];
    destination.getDestinationArguments(whole, sizeof whole, nullptr);
    EXPECT_STREQ(whole, " --destination osal");

    char untouched[4] = {'Z', 'Z', 'Z', 'Z'};
    destination.getDestinationArguments(untouched, 0, nullptr);
    EXPECT_EQ(untouched[0], 'Z');
}

TEST(ConsoleDestination, DescribesItself) {
    osal::tConsoleTraceDestination destination;
    EXPECT_STREQ(destination.getName(), "zelsdbg_printf");
    EXPECT_TRUE(destination.isEnabled());
    destination.flush();
    destination.shutdown();
    EXPECT_TRUE(destination.isEnabled());
}

TEST(Trace, StartsWithItsFixedValuesAndIsBoundToTheConsoleAtLoad) {
    osal::tConsoleTraceDestination destination;
    osal::tTrace trace(&destination);
    EXPECT_EQ(trace.destination(), &destination);
    const uint8_t expected[11] = {1, 1, 0, 1, 1, 0, 0, 0, 0, 1, 1};
    for (size_t number = 1; number <= 11; ++number) {
        EXPECT_EQ(trace.traceSwitch(number), expected[number - 1]) << "switch " << number;
    }
    EXPECT_EQ(trace.firstValue(), 50u);
    EXPECT_EQ(trace.secondValue(), 0u);

    EXPECT_EQ(osal::gTrace.destination(), &osal::gConsoleTraceDestination);
    EXPECT_EQ(osal::gTrace.traceSwitch(osal::tTrace::kEnabledSwitch), 1);
    // The global provider exists but nothing loads it.
    EXPECT_EQ(nZELSMBUS000::nZELSMBIOS_1_1::gSmBiosProvider.table(), nullptr);
    EXPECT_EQ(nZELSMBUS000::nZELSMBIOS_1_1::gSmBiosProvider.size(), 0u);
}

}  // namespace
