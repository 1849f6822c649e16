#include "exportCases.h"

#include <cstring>

#include "firmwareImage.h"
#include "reliabilitySupport.h"

namespace zelrel {

int32_t probeHandle(tSMBusHandle *handle, tHandleKind kind) {
    uint8_t byte = 0;
    if (kind == tHandleKind::remote) return ZELSMBusReadI2CEEPROM(handle, 0xAE, 0, 1, &byte);
    return ZELSMBusReadByte(handle, kSensor, 0, 0, &byte);
}

std::string handleIdentity(tSMBusHandle *handle) {
    if (handle == nullptr) return "(none)";
    std::string identity;
    for (uint32_t id : {101u, 102u, 103u, 104u, 105u, 106u, 107u, 108u}) {
        uint16_t value = 0;
        const int32_t code = ZELSMBusGetAttribute(handle, id, &value);
        identity += std::to_string(code == 0 ? value : -1) + ".";
    }
    const char *text = nullptr;
    if (ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_PORT_STRING, &text) == 0 && text != nullptr)
        identity += text;
    return identity;
}

namespace {

void closeExtra(tCaseContext &c) {
    ZELSMBusClose(c.extra);
    c.extra = nullptr;
}

void openExtra(tCaseContext &c) {
    closeExtra(c);
    ZELSMBusOpen(kSystemPort1, &c.extra);
}

tExportCase opening(const char *label, const char *resourceName) {
    std::string name = std::string("ZELSMBusOpen(") + label + ")";
    tExportCase result{name, tHandleKind::system, nullptr,
                       [resourceName](tCaseContext &c) { return ZELSMBusOpen(resourceName, &c.extra); },
                       closeExtra};
    result.fingerprint = [](tCaseContext &c) { return handleIdentity(c.extra); };
    return result;
}

tExportCase handleCall(const char *name, std::function<int32_t(tSMBusHandle *)> call,
                       int32_t expected = 0, tHandleKind kind = tHandleKind::system) {
    return {name, kind, nullptr, [call](tCaseContext &c) { return call(c.handle); }, nullptr,
            expected};
}

tExportCase unrestrictedCall(const char *name, std::function<int32_t(tSMBusHandle *)> call) {
    const uint32_t on = 1;
    tExportCase result = handleCall(name, std::move(call));
    result.prepare = [on](tCaseContext &c) {
        ZELSMBusSetAttribute(c.handle, ZELSMBUS_ATTR_UNRESTRICTED, &on);
    };
    result.finish = [](tCaseContext &c) {
        const uint32_t off = 0;
        ZELSMBusSetAttribute(c.handle, ZELSMBUS_ATTR_UNRESTRICTED, &off);
    };
    return result;
}

int32_t listStatus(tSMBusHandle **list, int32_t status) { return list != nullptr ? 0 : status; }

std::string listIdentity(tCaseContext &c) {
    std::string identity = std::to_string(c.listCount) + ":";
    for (uint32_t i = 0; c.list != nullptr && i < c.listCount; ++i) identity += handleIdentity(c.list[i]) + ";";
    return identity;
}

tExportCase openingList(const char *name, tSMBusHandle **(*open)(tCaseContext &, int32_t &)) {
    tExportCase result{name, tHandleKind::system, nullptr,
                       [open](tCaseContext &c) {
                           int32_t status = 0;
                           c.list = open(c, status);
                           return listStatus(c.list, status < 0 ? status : -1);
                       },
                       [](tCaseContext &c) {
                           ZELSMBusCloseList(c.listCount, c.list);
                           c.list = nullptr;
                       }};
    result.fingerprint = listIdentity;
    return result;
}

}  // namespace

std::vector<tExportCase> exportCases() {
    static const uint8_t kBlock[32] = {1, 2, 3, 4};
    std::vector<tExportCase> cases;

    // Sessions.
    cases.push_back(opening("numbered", kSystemPort1));
    cases.push_back(opening("remote", kRemotePort0));
    cases.push_back(opening("port text", kPortText));
    cases.push_back(opening("backplane", kBackplane));
    cases.push_back(openingList("ZELSMBusOpenList", [](tCaseContext &c, int32_t &status) {
        return ZELSMBusOpenList(&c.listCount, &status);
    }));
    cases.push_back(openingList("ZELSMBusOpenListEx", [](tCaseContext &c, int32_t &status) {
        return ZELSMBusOpenListEx(nullptr, &c.listCount, &status);
    }));
    {
        tExportCase close{"ZELSMBusClose", tHandleKind::system, openExtra,
                          [](tCaseContext &c) {
                              const int32_t code = ZELSMBusClose(c.extra);
                              c.extra = nullptr;
                              return code;
                          },
                          closeExtra};
        close.reportsFailures = false;
        cases.push_back(close);
        tExportCase closeList{"ZELSMBusCloseList", tHandleKind::system,
                              [](tCaseContext &c) {
                                  int32_t status = 0;
                                  c.list = ZELSMBusOpenList(&c.listCount, &status);
                              },
                              [](tCaseContext &c) {
                                  ZELSMBusCloseList(c.listCount, c.list);
                                  c.list = nullptr;
                                  return 0;
                              },
                              nullptr};
        closeList.reportsFailures = false;
        cases.push_back(closeList);
    }

    // Resource names.
    {
        tExportCase listing{"ZELSMBusGetResourceNameList", tHandleKind::system, nullptr,
                            [](tCaseContext &c) {
                                c.names = ZELSMBusGetResourceNameList();
                                return c.names != nullptr ? 0 : -1;
                            },
                            [](tCaseContext &c) {
                                ZELSMBusPutResourceNameList(c.names);
                                c.names = nullptr;
                            }};
        listing.fingerprint = [](tCaseContext &c) {
            std::string names;
            for (const char *p = c.names; p != nullptr && *p != '\0'; p += std::strlen(p) + 1)
                names += std::string(p) + " ";
            return names;
        };
        // Without discovery the listing keeps its backplane names and lists no
        // port (the failure itself is not reported); anything else must be the
        // full list.
        listing.acceptable = [](const std::string &baseline, const std::string &run) {
            const size_t ports = baseline.find("ZELSMBUS::");
            return run == baseline || run == baseline.substr(0, ports);
        };
        cases.push_back(listing);
        tExportCase put{"ZELSMBusPutResourceNameList", tHandleKind::system,
                        [](tCaseContext &c) { c.names = ZELSMBusGetResourceNameList(); },
                        [](tCaseContext &c) {
                            ZELSMBusPutResourceNameList(c.names);
                            c.names = nullptr;
                            return 0;
                        },
                        nullptr};
        put.reportsFailures = false;
        cases.push_back(put);
    }

    // Transactions, lock and reset.
    cases.push_back(handleCall("ZELSMBusQuickRead", [](tSMBusHandle *h) { return ZELSMBusQuickRead(h, kSensor); }));
    cases.push_back(handleCall("ZELSMBusQuickWrite", [](tSMBusHandle *h) { return ZELSMBusQuickWrite(h, kSensor); }));
    cases.push_back(handleCall("ZELSMBusSendByte", [](tSMBusHandle *h) { return ZELSMBusSendByte(h, kSensor, 0, 0); }));
    cases.push_back(handleCall("ZELSMBusReceiveByte", [](tSMBusHandle *h) {
        uint8_t b = 0;
        return ZELSMBusReceiveByte(h, kSensor, 1, &b);
    }));
    cases.push_back(handleCall("ZELSMBusWriteByte", [](tSMBusHandle *h) { return ZELSMBusWriteByte(h, kSensor, 2, 75, 0); }));
    cases.push_back(handleCall("ZELSMBusReadByte", [](tSMBusHandle *h) {
        uint8_t b = 0;
        return ZELSMBusReadByte(h, kSensor, 0, 0, &b);
    }));
    cases.push_back(handleCall("ZELSMBusWriteWord", [](tSMBusHandle *h) { return ZELSMBusWriteWord(h, kSensor, 2, 0x4B00, 0); }));
    cases.push_back(handleCall("ZELSMBusReadWord", [](tSMBusHandle *h) {
        uint16_t w = 0;
        return ZELSMBusReadWord(h, kSensor, 0, 0, &w);
    }));
    cases.push_back(handleCall("ZELSMBusProcessCall", [](tSMBusHandle *h) {
        uint16_t w = 0;
        return ZELSMBusProcessCall(h, kSensor, 2, 0x4B00, 0, &w);
    }));
    cases.push_back(handleCall("ZELSMBusWriteBlock", [](tSMBusHandle *h) {
        return ZELSMBusWriteBlock(h, kSensor, kSensorBlockCommand, 4, kBlock, 0);
    }));
    cases.push_back(handleCall("ZELSMBusReadBlock", [](tSMBusHandle *h) {
        uint8_t count = 0, data[32];
        return ZELSMBusReadBlock(h, kSensor, kSensorBlockCommand, 0, &count, data);
    }));
    cases.push_back(handleCall(
        "ZELSMBusBlockProcessCall",
        [](tSMBusHandle *h) {
            uint8_t count = 0, data[32];
            return ZELSMBusBlockProcessCall(h, kSensor, kSensorBlockCommand, 4, kBlock, 0, &count, data);
        },
        ZELSMBUS_WARNING_TRANSFER_DONE));
    cases.push_back(handleCall(
        "ZELSMBusWriteBlockI2C",
        [](tSMBusHandle *h) {
            uint8_t data[16] = {9, 8, 7};
            return ZELSMBusWriteBlockI2C(h, kEeprom, 0x40, sizeof data, data);
        },
        ZELSMBUS_WARNING_TRANSFER_DONE));
    cases.push_back(handleCall(
        "ZELSMBusReadBlockI2C",
        [](tSMBusHandle *h) {
            uint8_t data[16];
            return ZELSMBusReadBlockI2C(h, kEeprom, 0, sizeof data, data);
        },
        ZELSMBUS_WARNING_TRANSFER_DONE));
    {
        tExportCase lock = handleCall("ZELSMBusLock", ZELSMBusLock);
        lock.finish = [](tCaseContext &c) { ZELSMBusUnlock(c.handle); };
        cases.push_back(lock);
        tExportCase unlock = handleCall("ZELSMBusUnlock", ZELSMBusUnlock);
        unlock.prepare = [](tCaseContext &c) { ZELSMBusLock(c.handle); };
        cases.push_back(unlock);
    }
    cases.push_back(handleCall("ZELSMBusResetBus", ZELSMBusResetBus, ZELSMBUS_ERROR_NOT_SUPPORTED));

    // Attributes: one of each way an attribute is served.
    cases.push_back(handleCall("ZELSMBusGetAttribute(vendor)", [](tSMBusHandle *h) {
        uint16_t v = 0;
        return ZELSMBusGetAttribute(h, ZELSMBUS_ATTR_VENDOR_ID, &v);
    }));
    cases.push_back(handleCall("ZELSMBusGetAttribute(firmware version)", [](tSMBusHandle *h) {
        uint32_t v = 0;
        return ZELSMBusGetAttribute(h, ZELSMBUS_ATTR_FIRMWARE_VERSION, &v);
    }));
    cases.push_back(handleCall("ZELSMBusGetAttribute(1005)", [](tSMBusHandle *h) {
        uint32_t v = 0;
        return ZELSMBusGetAttribute(h, ZELSMBUS_ATTR_1005, &v);
    }));
    cases.push_back(unrestrictedCall("ZELSMBusGetAttribute(10001)", [](tSMBusHandle *h) {
        uint16_t v = 0;
        return ZELSMBusGetAttribute(h, ZELSMBUS_ATTR_10001, &v);
    }));
    cases.push_back(unrestrictedCall("ZELSMBusGetAttribute(register)", [](tSMBusHandle *h) {
        uint32_t v = 0;
        return ZELSMBusGetAttribute(h, ZELSMBUS_ATTR_REGISTER_FIRST + 4, &v);
    }));
    cases.push_back(handleCall("ZELSMBusGetAttribute(config flag)", [](tSMBusHandle *h) {
        uint32_t v = 0;
        return ZELSMBusGetAttribute(h, ZELSMBUS_ATTR_CONFIG_FLAG, &v);
    }));
    cases.push_back(handleCall("ZELSMBusSetAttribute(2001)", [](tSMBusHandle *h) {
        const uint32_t v = 7;
        return ZELSMBusSetAttribute(h, ZELSMBUS_ATTR_2001, &v);
    }));
    cases.push_back(unrestrictedCall("ZELSMBusSetAttribute(1004)", [](tSMBusHandle *h) {
        const uint32_t v = 1;
        return ZELSMBusSetAttribute(h, ZELSMBUS_ATTR_1004, &v);
    }));
    {
        // Flips the flag each time, so every run erases and writes the block.
        tExportCase configFlag = handleCall("ZELSMBusSetAttribute(config flag)", nullptr);
        configFlag.prepare = [](tCaseContext &c) {
            uint32_t current = 0;
            ZELSMBusGetAttribute(c.handle, ZELSMBUS_ATTR_CONFIG_FLAG, &current);
            c.value = current == 0 ? 1 : 0;
        };
        configFlag.run = [](tCaseContext &c) {
            return ZELSMBusSetAttribute(c.handle, ZELSMBUS_ATTR_CONFIG_FLAG, &c.value);
        };
        cases.push_back(configFlag);
    }

    // EEPROM and firmware.
    cases.push_back(handleCall("ZELSMBusReadI2CEEPROM", [](tSMBusHandle *h) {
        uint8_t data[64];
        return ZELSMBusReadI2CEEPROM(h, kEeprom, 0, sizeof data, data);
    }));
    cases.push_back(handleCall(
        "ZELSMBusGetChassisEEPROM",
        [](tSMBusHandle *h) {
            uint8_t data[123];
            return ZELSMBusGetChassisEEPROM(h, 0, sizeof data, data);
        },
        0, tHandleKind::remote));
    tExportCase firmware = handleCall("ZELSMBusWriteFirmware", [](tSMBusHandle *h) {
        static const std::string image = systemFirmwareImage(std::vector<uint8_t>(64, 0x5A));
        return ZELSMBusWriteFirmware(h, static_cast<uint32_t>(image.size()), image.data(),
                                     ZELSMBUS_FIRMWARE_FORCE);
    });
    firmware.prepare = [](tCaseContext &) { installSystemPinOut(); };
    cases.push_back(firmware);
    return cases;
}

}  // namespace zelrel
