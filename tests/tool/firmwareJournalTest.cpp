// The firmware journal's text, the board identity files are named and
// checked by, and the folders a journal of the hardware is looked for in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "firmwareJournal.h"

namespace {

using zelsmbus_tool::BoardIdentity;
using zelsmbus_tool::FirmwareJournal;

BoardIdentity board() {
    BoardIdentity b;
    b.world = "hardware";
    b.pciLocation = "04:00.0";
    b.vendorId = 0x8086, b.deviceId = 0x1234, b.subsystemVendorId = 0x8086;
    b.subsystemId = 0x7a51, b.flashId = 0xBF8E;
    return b;
}

FirmwareJournal journal() {
    FirmwareJournal j;
    j.board = board();
    j.resource = "SLOT 2 (A)";
    j.installedVersion = 0x02000100, j.installedVersionKnown = true;
    j.pinOutAddress = 0x10100, j.pinOutWord = 0xffffff03, j.pinOutKnown = true;
    j.image = "/images/new.img";
    j.imageFacts = zelsmbus_tool::ImageFacts{0x02000200, 131072, 0x64111f1f};
    j.backup = "/state/b.backup.img";
    j.backupFacts = zelsmbus_tool::ImageFacts{0x02000100, 4096, 0x12345678};
    j.flags = "--force";
    j.started = "2026-12-11 10:00:00";
    j.phase = "writing";
    return j;
}

TEST(FirmwareJournalText, ReadsBackWhatWasWritten) {
    const std::string text = zelsmbus_tool::journalText(journal());
    const auto reading = zelsmbus_tool::readJournalText(text);
    ASSERT_TRUE(reading.journal) << reading.problem;
    EXPECT_EQ(zelsmbus_tool::journalText(*reading.journal), text);
    EXPECT_EQ(reading.journal->board, board());
    EXPECT_EQ(reading.journal->resource, "SLOT 2 (A)");
    ASSERT_TRUE(reading.journal->backupFacts);
    EXPECT_EQ(reading.journal->backupFacts->crc, 0x12345678u);
}

TEST(FirmwareJournalText, ADamagedJournalIsNoJournal) {
    const std::string text = zelsmbus_tool::journalText(journal());
    std::string changed = text;
    changed[text.find("0x00010100") + 5] = '2';
    const std::string unknownFormat =
        zelsmbus_tool::journalText(journal()).replace(text.find("format=2"), 8, "format=3");
    for (const std::string &damaged :
         {std::string(), std::string("garbage"), text.substr(0, text.size() / 2),
          text.substr(0, text.size() - 3), changed, unknownFormat}) {
        const auto reading = zelsmbus_tool::readJournalText(damaged);
        EXPECT_FALSE(reading.journal) << damaged;
        EXPECT_FALSE(reading.problem.empty()) << damaged;
    }
}

TEST(BoardIdentityText, NamesTheBoardNotTheName) {
    const BoardIdentity b = board();
    EXPECT_EQ(BoardIdentity::fromText(b.text()), b);
    EXPECT_EQ(b.fileStem(), "board-04.00.0-8086.1234.8086.7a51");
    BoardIdentity moved = b;
    moved.pciLocation = "05:00.0";
    EXPECT_NE(moved.fileStem(), b.fileStem());
    EXPECT_FALSE(moved.matches(b));
    // A flash left busy does not identify itself: the rest decides.
    BoardIdentity busy = b;
    busy.flashId = 0;
    EXPECT_TRUE(busy.matches(b));
    BoardIdentity other = b;
    other.flashId = 0x1010;
    EXPECT_FALSE(other.matches(b));
    EXPECT_FALSE(BoardIdentity::fromText("world=hardware;pci=04:00.0"));
}

TEST(JournalFolders, RootFindsWhatAnyRunOfTheToolLeft) {
    for (const char *name : {"ZELSIM_STATE_DIR", "ZELSIM_SERVER", "LD_PRELOAD"}) unsetenv(name);
    setenv("XDG_STATE_HOME", "/custom/state", 1);
    setenv("HOME", "/home/someone", 1);
    const auto folders = zelsmbus_tool::journalFolders();
    auto has = [&](const std::string &folder) {
        for (const std::string &f : folders)
            if (f == folder) return true;
        return false;
    };
    EXPECT_TRUE(has("/custom/state/zelsmbus"));
    EXPECT_TRUE(has("/home/someone/.local/state/zelsmbus"));
    EXPECT_TRUE(has("/var/lib/zelsmbus"));
    if (geteuid() == 0) EXPECT_EQ(folders.front(), "/var/lib/zelsmbus");
    else EXPECT_EQ(folders.front(), "/custom/state/zelsmbus");
}

}  // namespace
