// The simulator's own table of the driver commands: request code, buffer
// sizes, what the command reaches, its handler, and the offset and width of
// every field. Written apart from the
// library's protocol code on purpose, so that a wrong offset on either side
// shows up in a test instead of cancelling out.
#include "commands.h"

#include "handlers.h"

namespace zelsim {
namespace {

// clang-format off
const Command kCommands[] = {
    {0x02, 0x80202E02u, 4, 12, "getPciIds", Scope::Node, handlers::pciIds, {{"status", 0, 0, 4}, {"vendor_id", 1, 0, 2}, {"device_id", 1, 2, 2}, {"subsystem_vendor_id", 1, 4, 2}, {"subsystem_id", 1, 6, 2}, {"status", 1, 8, 4}}},
    {0x03, 0x80202E03u, 4, 12, "getPciLocation", Scope::Node, handlers::pciLocation, {{"status", 0, 0, 4}, {"bus", 1, 0, 2}, {"device", 1, 2, 2}, {"function", 1, 4, 2}, {"status", 1, 8, 4}}},
    {0x04, 0x80202E04u, 8, 8, "getPortFlags", Scope::Port, handlers::portFlags, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"chassis_eeprom", 1, 0, 1}, {"extended_protection", 1, 1, 1}, {"status", 1, 4, 4}}},
    {0x05, 0x80202E05u, 8, 68, "getPortString", Scope::Port, handlers::portString, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"text", 1, 0, 64}, {"status", 1, 64, 4}}},
    {0x06, 0x80202E06u, 8, 40, "getProtectedAddresses", Scope::Port, handlers::protectedAddresses, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"count", 1, 0, 1}, {"addresses", 1, 1, 32}, {"status", 1, 36, 4}}},
    {0x07, 0x40202E07u, 8, 4, "lock", Scope::Bus, handlers::lock, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"status", 1, 0, 4}}},
    {0x08, 0x40202E08u, 8, 4, "unlock", Scope::Port, handlers::unlock, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"status", 1, 0, 4}}},
    {0x09, 0x40202E09u, 8, 4, "quickWrite", Scope::Bus, handlers::quickWrite, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"status", 0, 4, 4}, {"status", 1, 0, 4}}},
    {0x0A, 0x80202E0Au, 8, 4, "quickRead", Scope::Bus, handlers::quickRead, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"status", 0, 4, 4}, {"status", 1, 0, 4}}},
    {0x0B, 0x40202E0Bu, 12, 4, "sendByte", Scope::Bus, handlers::sendByte, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"data", 0, 3, 1}, {"pec", 0, 4, 1}, {"status", 0, 8, 4}, {"status", 1, 0, 4}}},
    {0x0C, 0x80202E0Cu, 8, 8, "receiveByte", Scope::Bus, handlers::receiveByte, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"pec", 0, 3, 1}, {"status", 0, 4, 4}, {"data", 1, 0, 1}, {"status", 1, 4, 4}}},
    {0x0D, 0x40202E0Du, 12, 4, "writeByte", Scope::Bus, handlers::writeByte, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"command", 0, 3, 1}, {"data", 0, 4, 1}, {"pec", 0, 5, 1}, {"status", 0, 8, 4}, {"status", 1, 0, 4}}},
    {0x0E, 0x80202E0Eu, 12, 8, "readByte", Scope::Bus, handlers::readByte, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"command", 0, 3, 1}, {"pec", 0, 4, 1}, {"status", 0, 8, 4}, {"data", 1, 0, 1}, {"status", 1, 4, 4}}},
    {0x0F, 0x40202E0Fu, 12, 4, "writeWord", Scope::Bus, handlers::writeWord, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"command", 0, 3, 1}, {"data", 0, 4, 2}, {"pec", 0, 6, 1}, {"status", 0, 8, 4}, {"status", 1, 0, 4}}},
    {0x10, 0x80202E10u, 12, 8, "readWord", Scope::Bus, handlers::readWord, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"command", 0, 3, 1}, {"pec", 0, 4, 1}, {"status", 0, 8, 4}, {"data", 1, 0, 2}, {"status", 1, 4, 4}}},
    {0x11, 0xC0202E11u, 12, 8, "processCall", Scope::Bus, handlers::processCall, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"command", 0, 3, 1}, {"data", 0, 4, 2}, {"pec", 0, 6, 1}, {"status", 0, 8, 4}, {"reply", 1, 0, 2}, {"status", 1, 4, 4}}},
    {0x12, 0x40202E12u, 44, 4, "writeBlock", Scope::Bus, handlers::writeBlock, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"command", 0, 3, 1}, {"count", 0, 4, 1}, {"data", 0, 5, 32}, {"pec", 0, 37, 1}, {"status", 0, 40, 4}, {"status", 1, 0, 4}}},
    {0x13, 0x80202E13u, 12, 40, "readBlock", Scope::Bus, handlers::readBlock, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"command", 0, 3, 1}, {"pec", 0, 4, 1}, {"status", 0, 8, 4}, {"count", 1, 0, 1}, {"data", 1, 1, 32}, {"status", 1, 36, 4}}},
    {0x14, 0xC0202E14u, 44, 40, "blockProcessCall", Scope::Bus, handlers::blockProcessCall, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"command", 0, 3, 1}, {"write_count", 0, 4, 1}, {"write_data", 0, 5, 32}, {"pec", 0, 37, 1}, {"status", 0, 40, 4}, {"read_count", 1, 0, 1}, {"read_data", 1, 1, 32}, {"status", 1, 36, 4}}},
    {0x15, 0x40202E15u, 268, 4, "writeBlockI2C", Scope::Bus, handlers::writeBlockI2C, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"command", 0, 3, 1}, {"length", 0, 4, 4}, {"data", 0, 8, 256}, {"status", 0, 264, 4}, {"status", 1, 0, 4}}},
    {0x16, 0x80202E16u, 12, 260, "readBlockI2C", Scope::Bus, handlers::readBlockI2C, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"command", 0, 3, 1}, {"length", 0, 4, 4}, {"status", 0, 8, 4}, {"data", 1, 0, 256}, {"status", 1, 256, 4}}},
    {0x17, 0x80202E17u, 12, 260, "readI2CEEPROM", Scope::Bus, handlers::readI2CEEPROM, {{"port", 0, 0, 2}, {"address", 0, 2, 1}, {"offset", 0, 3, 1}, {"length", 0, 4, 4}, {"status", 0, 8, 4}, {"data", 1, 0, 256}, {"status", 1, 256, 4}}},
    {0x18, 0x80202E18u, 12, 8, "readRegister", Scope::Port, handlers::readRegister, {{"port", 0, 0, 2}, {"offset", 0, 4, 4}, {"status", 0, 8, 4}, {"value", 1, 0, 4}, {"status", 1, 4, 4}}},
    {0x19, 0x40202E19u, 16, 4, "writeRegister", Scope::Port, handlers::writeRegister, {{"port", 0, 0, 2}, {"offset", 0, 4, 4}, {"value", 0, 8, 4}, {"status", 0, 12, 4}, {"status", 1, 0, 4}}},
    {0x1A, 0x80202E1Au, 8, 8, "getAttribute10001", Scope::Port, handlers::getAttribute<10001>, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"value", 1, 0, 2}, {"status", 1, 4, 4}}},
    {0x1B, 0x40202E1Bu, 8, 4, "setAttribute10001", Scope::Port, handlers::setAttribute<10001>, {{"port", 0, 0, 2}, {"value", 0, 2, 2}, {"status", 0, 4, 4}, {"status", 1, 0, 4}}},
    {0x1C, 0x80202E1Cu, 8, 8, "getAttribute2001", Scope::Port, handlers::getAttribute<2001>, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"value", 1, 0, 4}, {"status", 1, 4, 4}}},
    {0x1D, 0x40202E1Du, 12, 4, "setAttribute2001", Scope::Port, handlers::setAttribute<2001>, {{"port", 0, 0, 2}, {"value", 0, 4, 4}, {"status", 0, 8, 4}, {"status", 1, 0, 4}}},
    {0x20, 0x80202E20u, 8, 8, "getAttribute10002", Scope::Port, handlers::getAttribute<10002>, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"value", 1, 0, 2}, {"status", 1, 4, 4}}},
    {0x21, 0x40202E21u, 8, 4, "setAttribute10002", Scope::Port, handlers::setAttribute<10002>, {{"port", 0, 0, 2}, {"value", 0, 2, 2}, {"status", 0, 4, 4}, {"status", 1, 0, 4}}},
    {0x22, 0x80202E22u, 8, 8, "getAttribute10003", Scope::Port, handlers::getAttribute<10003>, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"value", 1, 0, 2}, {"status", 1, 4, 4}}},
    {0x23, 0x40202E23u, 8, 4, "setAttribute10003", Scope::Port, handlers::setAttribute<10003>, {{"port", 0, 0, 2}, {"value", 0, 2, 2}, {"status", 0, 4, 4}, {"status", 1, 0, 4}}},
    {0x24, 0x80202E24u, 8, 8, "getAttribute10004", Scope::Port, handlers::getAttribute<10004>, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"value", 1, 0, 2}, {"status", 1, 4, 4}}},
    {0x25, 0x80202E25u, 8, 8, "getAttribute10005", Scope::Port, handlers::getAttribute<10005>, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"value", 1, 0, 2}, {"status", 1, 4, 4}}},
    {0x26, 0x40202E26u, 8, 4, "setAttribute10005", Scope::Port, handlers::setAttribute<10005>, {{"port", 0, 0, 2}, {"value", 0, 2, 2}, {"status", 0, 4, 4}, {"status", 1, 0, 4}}},
    {0x27, 0x80202E27u, 8, 8, "getAttribute3001", Scope::Port, handlers::getAttribute<3001>, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"value", 1, 0, 4}, {"status", 1, 4, 4}}},
    {0x28, 0x40202E28u, 12, 4, "setAttribute3001", Scope::Port, handlers::setAttribute<3001>, {{"port", 0, 0, 2}, {"value", 0, 4, 4}, {"status", 0, 8, 4}, {"status", 1, 0, 4}}},
    {0x29, 0x80202E29u, 8, 8, "getAttribute1004", Scope::Port, handlers::getAttribute<1004>, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"value", 1, 0, 1}, {"status", 1, 4, 4}}},
    {0x2A, 0x40202E2Au, 8, 4, "setAttribute1004", Scope::Port, handlers::setAttribute<1004>, {{"port", 0, 0, 2}, {"value", 0, 2, 1}, {"status", 0, 4, 4}, {"status", 1, 0, 4}}},
    {0x2B, 0x80202E2Bu, 8, 8, "getAttribute1005", Scope::Port, handlers::getAttribute<1005>, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"value", 1, 0, 4}, {"status", 1, 4, 4}}},
    {0x2C, 0x40202E2Cu, 12, 4, "setAttribute1005", Scope::Port, handlers::setAttribute<1005>, {{"port", 0, 0, 2}, {"value", 0, 4, 4}, {"status", 0, 8, 4}, {"status", 1, 0, 4}}},
    {0x2D, 0x80202E2Du, 8, 8, "getAttribute3002", Scope::Port, handlers::getAttribute<3002>, {{"port", 0, 0, 2}, {"status", 0, 4, 4}, {"value", 1, 0, 4}, {"status", 1, 4, 4}}},
    {0x2E, 0x40202E2Eu, 12, 4, "setAttribute3002", Scope::Port, handlers::setAttribute<3002>, {{"port", 0, 0, 2}, {"value", 0, 4, 4}, {"status", 0, 8, 4}, {"status", 1, 0, 4}}},
    {0x2F, 0x80202E2Fu, 4, 68, "getDeviceString", Scope::Node, handlers::deviceString, {{"status", 0, 0, 4}, {"text", 1, 0, 64}, {"status", 1, 64, 4}}},
};
// clang-format on

}  // namespace

const Command *findCommand(unsigned number) {
    for (const Command &command : kCommands) {
        if (command.number == number) return &command;
    }
    return nullptr;
}

unsigned Command::fieldCount() const {
    unsigned n = 0;
    while (n < kMaxFields && fields[n].name != nullptr) ++n;
    return n;
}

}  // namespace zelsim
