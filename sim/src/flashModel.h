// A controller's flash as its registers show it: the signature and firmware
// version registers, the serial command port (64 command, 68 control,
// 72 interface status, 76 received data) in front of a serial flash, and the
// indirect port (0x2000-0x2014) in front of the 0x9D17 configuration flash.
//
// Self-contained: decodes the register traffic by itself and keeps time on a
// clock it is given (the simulator's virtual clock). See sim/README.md.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace zelsim {

// What a world gives a flash: its identity and, optionally, its contents.
struct FlashSetup {
    uint16_t flashId = 0;
    uint32_t signature = 0x727EBABE;
    uint32_t firmwareVersion = 0;
    // Firmware as an update leaves it (hasFirmware; offset used by 0xBF8E only).
    bool hasFirmware = false;
    uint32_t firmwareOffset = 0;
    std::vector<uint8_t> firmware{};
    // The pin-out version as the byte at pinOutAddress (the byte both ports
    // take the version from).
    bool hasPinOut = false;
    uint32_t pinOutAddress = 0;
    uint8_t pinOutVersion = 0;
};

class FlashModel {
public:
    using Clock = std::function<uint64_t()>;  // nanoseconds

    FlashModel(const FlashSetup &setup, Clock clock);

    static bool claims(uint32_t offset);
    // Where the firmware region of a device lies; false for a device without
    // one, or an offset that places it outside the array.
    static bool firmwareRegion(uint16_t flashId, uint32_t offset, uint32_t &base, uint32_t &size);
    // Bytes of the array of a device (0 for an unknown one).
    static uint32_t arraySize(uint16_t flashId);
    // Driver status word: 0, or -52005 for a write to a read-only register.
    int32_t read(uint32_t offset, uint32_t &value);
    int32_t write(uint32_t offset, uint32_t value);

    // ---- state for the control interface ----
    size_t size() const { return memory_.size(); }
    // Bytes outside the array read as 0xFF and are not written.
    void readArray(uint32_t address, uint8_t *out, size_t length) const;
    void writeArray(uint32_t address, const uint8_t *bytes, size_t length);
    uint32_t firmwareVersion() const { return version_; }
    void setFirmwareVersion(uint32_t version) { version_ = version; }
    void setIdentity(uint16_t flashId, uint32_t signature);
    unsigned activations() const { return activations_; }

    // What a test may ask of the device between calls.
    struct State {
        bool selected = false;        // serial: chip select held, a command still open
        uint8_t openInstruction = 0;  // serial: that command's instruction byte
        bool writeEnabled = false;    // write-enable latch (either port)
        uint8_t statusRegister = 0;   // serial status as 0x05 reads it
        uint8_t protection = 0;       // 0xBF8E block-protection bits (0x3C: all)
        bool autoIncrement = false;   // 0xBF8E auto-increment programming mode
        bool busy = false;            // erasing or programming
        uint64_t busyNsLeft = 0;      // until it is done (0 when idle or stuck)
        bool indirectTransferOpen = false;
        bool resetGranted = false;  // indirect port: reset access granted, not yet released
    };
    State state() const;

    // Faults.
    bool interfaceStuck = false;   // serial ready bit never set, indirect port always busy
    bool deviceStuckBusy = false;  // the flash reports busy for ever and does nothing
    unsigned dropPrograms = 0;     // the next n program operations leave the array as it was
    uint32_t extraStatusBits = 0;  // or'ed into every indirect device status (e.g. 0x40)
    unsigned missIdentify = 0;     // the next n identifications (0xAB) read 0xFF throughout
    unsigned missRead = 0;         // the next n array reads (0x03) read 0xFF throughout
    unsigned missDataWord = 0;     // the n-th read of register 76 from now reads all ones

    // Serial instructions that began a command since the last clear.
    std::array<uint8_t, 32> instructionsSeen{};

    // Virtual durations of the flash's own work.
    static constexpr uint64_t kPageProgramNs = 700'000;
    static constexpr uint64_t kByteProgramNs = 20'000;
    static constexpr uint64_t kEraseNs1010 = 45'000'000;
    static constexpr uint64_t kEraseNsBF8E = 25'000'000;
    static constexpr uint64_t kSectorEraseNs9D17 = 150'000'000;
    // Real time after which a busy part is done whatever the clock says,
    // beyond its own duration.
    static constexpr uint64_t kRealTimeMarginNs = 100'000'000;

private:
    void installFirmware(uint32_t offset, const std::vector<uint8_t> &bytes);

    // Serial port.
    uint8_t clockByte(uint8_t out);
    void endFrame();
    void serialTransfer(uint32_t control);
    uint8_t serialStatus() const;
    bool busy() const;
    void startBusy(uint64_t now, uint64_t nanoseconds);
    uint64_t now();
    void program(uint32_t address, const uint8_t *bytes, size_t length, bool wrapInPage);
    void erase(uint32_t address, uint32_t blockSize);
    bool protectedArray() const;
    bool refusedInAutoIncrement(uint8_t instruction) const;

    // Indirect port: only a device behind it answers there.
    bool indirectDevice() const;
    void indirectControl(uint32_t value);
    void indirectCommand(uint32_t value);
    uint32_t indirectDeviceStatus() const;
    void closeTransfer();

    uint16_t flashId_;
    uint32_t signature_;
    uint32_t version_;
    Clock clock_;
    std::vector<uint8_t> memory_;
    uint32_t eraseBlock_ = 0x10000;

    // serial
    uint32_t command_ = 0;
    uint32_t received_ = 0;
    bool selected_ = false;
    std::vector<uint8_t> frame_;
    bool frameIgnored_ = false;
    bool frameUnanswered_ = false;  // a missIdentify/missRead fault took this frame
    bool writeEnabled_ = false;
    bool statusWriteEnabled_ = false;
    uint8_t statusBits_ = 0;  // block-protection bits of 0xBF8E
    bool autoIncrement_ = false;
    uint32_t autoAddress_ = 0;
    uint64_t busyUntil_ = 0;
    uint64_t busyRealUntil_ = 0;  // steady clock
    uint64_t lastNow_ = 0;        // to carry a pending busy time across a clock reset

    // indirect
    bool resetGranted_ = false;
    bool transferOpen_ = false;
    uint32_t address_ = 0;
    uint32_t readPointer_ = 0;
    std::vector<uint8_t> transferData_;
    uint32_t statusLatch_ = 0;
    uint32_t lastCommand_ = 0;
    unsigned activations_ = 0;
};

}  // namespace zelsim
