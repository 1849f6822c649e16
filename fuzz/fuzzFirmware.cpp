// The firmware image path up to the flash writes, on arbitrary bytes of any
// length (never zero-terminated: the image is an exactly-sized heap copy).
//
// Input: one selector byte, then the image. The selector picks the flash
// device the fake controller reports and the force flag.
//  * parseFirmwareImage must keep every pointer it hands back inside the image;
//  * the payload decoder must write no more than decodedPayloadLength() + 1
//    bytes and agree with an independent decoder of the same rules;
//  * both checksums must agree with bitwise reference implementations;
//  * ZELSMBusWriteFirmware on a handle over the fake controller must return an
//    error and must have reached the flash only for an image that passed every
//    check.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "api/tSMBusHandle.h"
#include "fakeController.h"
#include "flash/firmwareChecksums.h"
#include "flash/firmwareImage.h"
#include "flash/firmwarePayload.h"
#include "flash/flashAccess.h"
#include "fuzzInput.h"
#include "zelsmbus.h"

using namespace nZELSMBUS000;
using zelfuzz::tExactBytes;
using zelfuzz::tFakeController;

// The flash code paces itself with sleeps; a fuzzer has no time for them.
extern "C" int nanosleep(const struct timespec *, struct timespec *) { return 0; }

namespace {

int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Every character outside the alphabet is skipped; four symbols give three
// bytes, a trailing two or three give one or two.
std::vector<uint8_t> referenceDecode(const char *text, size_t length) {
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int symbols = 0;
    for (size_t i = 0; i < length; ++i) {
        const int value = base64Value(static_cast<unsigned char>(text[i]));
        if (value < 0) continue;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        if (++symbols == 4) {
            out.push_back(static_cast<uint8_t>(bits >> 16));
            out.push_back(static_cast<uint8_t>(bits >> 8));
            out.push_back(static_cast<uint8_t>(bits));
            bits = 0;
            symbols = 0;
        }
    }
    if (symbols == 2) out.push_back(static_cast<uint8_t>(bits >> 4));
    if (symbols == 3) {
        out.push_back(static_cast<uint8_t>(bits >> 10));
        out.push_back(static_cast<uint8_t>(bits >> 2));
    }
    return out;
}

uint32_t referenceCrc32(const uint8_t *data, size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= uint32_t(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x1EDC6F41u : crc << 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

uint16_t referenceCrc16(const uint8_t *data, size_t length) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(crc ^ (uint16_t(data[i]) << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000u) ? (crc << 1) ^ 0x1021u : crc << 1);
    }
    return crc;
}

// Numbers as the image format reads them.
uint32_t referenceNumber(const char *text, size_t length) {
    size_t i = 0;
    const unsigned base = (length >= 2 && text[0] == '0' && text[1] == 'x') ? 16 : 10;
    while (i < length && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    if (length - i >= 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    uint32_t value = 0;
    for (; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned digit = 99;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit >= base) break;
        value = value * base + digit;
    }
    return value;
}

void checkPayloadDecoding(const char *text, size_t length) {
    const size_t predicted = decodedPayloadLength(text, length);
    std::vector<uint8_t> scratch(predicted + 1);
    tExactBytes exact(scratch.data(), scratch.size());
    const size_t decoded = decodePayload(text, length, exact.data());
    const std::vector<uint8_t> expected = referenceDecode(text, length);
    ZELFUZZ_CHECK(decoded == predicted);
    ZELFUZZ_CHECK(decoded == expected.size());
    ZELFUZZ_CHECK(decoded == 0 || std::memcmp(exact.data(), expected.data(), decoded) == 0);
    ZELFUZZ_CHECK(firmwareCrc32(exact.data(), decoded) == referenceCrc32(exact.data(), decoded));
    ZELFUZZ_CHECK(regionCrc16(exact.data(), decoded) == referenceCrc16(exact.data(), decoded));
}

const uint16_t kFlashIds[] = {kFlashId1010, kFlashIdBF8E, kFlashId9D17, 0x1234};

// How many inputs got as far as the flash, printed at exit: a corpus that
// never gets there does not exercise the checks behind the header.
unsigned long reachedFlash = 0;
void printReachedFlash() { std::fprintf(stderr, "firmware images that reached the flash: %lu\n", reachedFlash); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const uint8_t selector = data[0];
    tExactBytes image(data + 1, size - 1);
    const char *begin = image.text();
    const char *end = begin + image.size();

    // Numbers: the whole input read as one value.
    ZELFUZZ_CHECK(parseImageNumber(begin, image.size()) == referenceNumber(begin, image.size()));

    tStatus status;
    tFirmwareImageHeader header;
    parseFirmwareImage(begin, image.size(), header, status);
    if (!status.isFatal()) {
        ZELFUZZ_CHECK(header.payload >= begin && header.payload <= end);
        ZELFUZZ_CHECK(header.payloadLength <= size_t(end - header.payload));
        ZELFUZZ_CHECK(header.payloadLength != 0);
        checkPayloadDecoding(header.payload, header.payloadLength);
    } else {
        ZELFUZZ_CHECK(status.code == ZELSMBUS_ERROR_INVALID_PARAMETER);
    }
    // The decoder on the raw bytes too, so every byte value reaches it.
    checkPayloadDecoding(begin, image.size());

    tFakeController controller(kFlashIds[selector & 3]);
    tSMBusHandle handle{&controller, 0, {0, 0}};
    const uint32_t flags = (selector >> 2) & 1;
    const int32_t result =
        ZELSMBusWriteFirmware(&handle, static_cast<uint32_t>(image.size()), begin, flags);
    if (image.size() == 0) {
        ZELFUZZ_CHECK(result == ZELSMBUS_ERROR_NOT_FOUND);
        return 0;
    }
    // The fake refuses every flash write, so no image can succeed.
    ZELFUZZ_CHECK(result < 0);
    if (controller.writeRefused()) {
        if (reachedFlash++ == 0) std::atexit(printReachedFlash);
        // With every program refused, putting the old contents back fails too.
        ZELFUZZ_CHECK(result == tFakeController::kRefusedWrite ||
                      result == ZELSMBUS_ERROR_REGION_DAMAGED);
        // Reaching the flash means every header check passed.
        ZELFUZZ_CHECK(!status.isFatal() && header.isFirmwareUpdate);
        ZELFUZZ_CHECK(header.subsystemId == tFakeController::kSubsystemId);
        ZELFUZZ_CHECK(header.version > tFakeController::kInstalledVersion || flags != 0);
        ZELFUZZ_CHECK(header.headerVersion == 1 || header.headerVersion == 2);
        ZELFUZZ_CHECK(decodedPayloadLength(header.payload, header.payloadLength) ==
                      header.byteCount);
    }
    return 0;
}
