// The ble: scheme's pure parts: URIs, the families' GATT layouts, flow-control
// grants, chunk sizes and the reasons a failed link gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/devices/bleuri.h"

namespace {

const std::string kFF00 = "0000ff00-0000-1000-8000-00805f9b34fb";
const std::string kFF02 = "0000ff02-0000-1000-8000-00805f9b34fb";
const std::string kFF03 = "0000ff03-0000-1000-8000-00805f9b34fb";
const std::string kIssc = "49535343-fe7d-4ae5-8fa9-9fafd205e455";

TEST(BleUri, Settings) {
    struct Case {
        const char* uri;
        bool ok;
        const char* address;
        std::string service, write, flow;
        bool noFlow;
        unsigned chunk, timeout;
        const char* error;  // part of the reason
    } cases[] = {
        {"ble://AA:BB:CC:DD:EE:FF", true, "AA:BB:CC:DD:EE:FF", "", "", "", false, 0, 0, ""},
        {"ble://aa:bb:cc:dd:ee:0f/", true, "AA:BB:CC:DD:EE:0F", "", "", "", false, 0, 0, ""},
        {"ble://AA:BB:CC:DD:EE:FF?service=FF00&write=ff02&flow=0000FF03", true, "AA:BB:CC:DD:EE:FF", kFF00,
         kFF02, kFF03, false, 0, 0, ""},
        {"ble://AA:BB:CC:DD:EE:FF?service=49535343-FE7D-4AE5-8FA9-9FAFD205E455&flow=none&chunk=100&timeout=5",
         true, "AA:BB:CC:DD:EE:FF", kIssc, "", "", true, 100, 5, ""},
        {"ble:AA:BB:CC:DD:EE:FF", false, "", "", "", "", false, 0, 0, "not a ble://"},
        {"ble://AA:BB:CC:DD:EE", false, "", "", "", "", false, 0, 0, "AA:BB:CC:DD:EE:FF"},
        {"ble://aa-bb-cc-dd-ee-ff?chunk=20", true, "AA:BB:CC:DD:EE:FF", "", "", "", false, 20, 0, ""},
        {"ble://AA-BB:CC-DD-EE-FF", false, "", "", "", "", false, 0, 0, "AA:BB:CC:DD:EE:FF"},
        {"ble://AA_BB_CC_DD_EE_FF", false, "", "", "", "", false, 0, 0, "AA:BB:CC:DD:EE:FF"},
        {"ble://AA:BB:CC:DD:EE:GG", false, "", "", "", "", false, 0, 0, "AA:BB:CC:DD:EE:FF"},
        {"ble://AA:BB:CC:DD:EE:FF/../x", false, "", "", "", "", false, 0, 0, "address"},
        {"ble://AA:BB:CC:DD:EE:FF?service=ff0", false, "", "", "", "", false, 0, 0, "UUID"},
        {"ble://AA:BB:CC:DD:EE:FF?write=49535343-FE7D-4AE5-8FA9-9FAFD205E45", false, "", "", "", "", false, 0,
         0, "UUID"},
        {"ble://AA:BB:CC:DD:EE:FF?notify=zz00", false, "", "", "", "", false, 0, 0, "UUID"},
        {"ble://AA:BB:CC:DD:EE:FF?chunk=0", false, "", "", "", "", false, 0, 0, "chunk"},
        {"ble://AA:BB:CC:DD:EE:FF?chunk=513", false, "", "", "", "", false, 0, 0, "chunk"},
        {"ble://AA:BB:CC:DD:EE:FF?timeout=121", false, "", "", "", "", false, 0, 0, "timeout"},
        {"ble://AA:BB:CC:DD:EE:FF?timeout=-1", false, "", "", "", "", false, 0, 0, "timeout"},
        {"ble://AA:BB:CC:DD:EE:FF?mtu=100", false, "", "", "", "", false, 0, 0, "unknown setting"},
        {"ble://AA:BB:CC:DD:EE:FF?service", false, "", "", "", "", false, 0, 0, "no value"},
        {nullptr, false, "", "", "", "", false, 0, 0, "not a ble://"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uri ? c.uri : "(null)");
        DfBleSettings s;
        std::string error;
        ASSERT_EQ(DfParseBleUri(c.uri, s, error), c.ok) << error;
        if (!c.ok) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(s.address, c.address);
        EXPECT_EQ(s.service, c.service);
        EXPECT_EQ(s.write, c.write);
        EXPECT_EQ(s.flow, c.flow);
        EXPECT_EQ(s.noFlow, c.noFlow);
        EXPECT_EQ(s.chunk, c.chunk);
        EXPECT_EQ(s.timeout, c.timeout);
    }
}

// What `add` and the device list write: dashes, which libcups takes as a
// host name (colons would read as a port); anything not ours passes as is.
TEST(BleUri, Canonical) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"ble://aa:bb:cc:dd:ee:ff", "ble://aa-bb-cc-dd-ee-ff"},
        {"ble://AA:BB:CC:DD:EE:FF?service=ff00", "ble://AA-BB-CC-DD-EE-FF?service=ff00"},
        {"ble://AA-BB-CC-DD-EE-FF", "ble://AA-BB-CC-DD-EE-FF"},
        {"ble://AA:BB:CC:DD:EE:FF:00", "ble://AA:BB:CC:DD:EE:FF:00"},
        {"ble://AA:BB:CC", "ble://AA:BB:CC"},
        {"socket://10.0.0.1:9100", "socket://10.0.0.1:9100"},
    };
    for (const Case& c : cases) EXPECT_EQ(DfBleCanonicalUri(c.in), c.out);
    EXPECT_EQ(DfBleUriFor("11:22:33:44:aa:0f"), "ble://11-22-33-44-AA-0F");
    DfBleSettings s;
    std::string error;
    EXPECT_TRUE(DfParseBleUri(DfBleUriFor("11:22:33:44:aa:0f").c_str(), s, error)) << error;
    EXPECT_EQ(s.address, "11:22:33:44:AA:0F");
}

// The URI's own UUIDs win; a foreign service takes nothing from a profile;
// flow=none stays off.
TEST(BleUri, Profiles) {
    struct Case {
        const char* uri;
        int model;
        std::string service, write, flow;
    } cases[] = {
        {"ble://AA:BB:CC:DD:EE:FF", 24, kFF00, kFF02, kFF03},
        {"ble://AA:BB:CC:DD:EE:FF?write=ff05", 24, kFF00, "0000ff05-0000-1000-8000-00805f9b34fb", kFF03},
        {"ble://AA:BB:CC:DD:EE:FF?flow=none", 24, kFF00, kFF02, ""},
        {"ble://AA:BB:CC:DD:EE:FF", 23, kIssc, "49535343-8841-43f4-a8d4-ecbe34729bb3", ""},
        {"ble://AA:BB:CC:DD:EE:FF?service=ffe0", 24, "0000ffe0-0000-1000-8000-00805f9b34fb", "", ""},
        {"ble://AA:BB:CC:DD:EE:FF", 21, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.uri) + " model " + std::to_string(c.model));
        DfBleSettings s;
        std::string error;
        ASSERT_TRUE(DfParseBleUri(c.uri, s, error)) << error;
        DfBleApplyProfile(s, DfBleProfileFor(c.model));
        EXPECT_EQ(s.service, c.service);
        EXPECT_EQ(s.write, c.write);
        EXPECT_EQ(s.flow, c.flow);
    }
    EXPECT_EQ(DfBleProfileForService(kIssc), DfBleProfileFor(23));
    EXPECT_EQ(DfBleProfileForService(kFF00), DfBleProfileFor(24));
    EXPECT_EQ(DfBleProfileForService(kFF02), nullptr);
}

TEST(BleUri, GrantsAndChunks) {
    struct Grant {
        std::vector<uint8_t> bytes;
        bool ok;
        unsigned writes, chunk;
    } grants[] = {
        {{2}, true, 2, 0}, {{2, 100, 0}, true, 2, 100}, {{1, 0x04, 0x01}, true, 1, 260},
        {{}, false, 0, 0}, {{2, 100}, false, 0, 0},     {{0xFF, 0x01, 0x00, 0x00}, false, 0, 0},
    };
    for (const Grant& g : grants) {
        unsigned writes = 99, chunk = 99;
        EXPECT_EQ(DfBleParseGrant(g.bytes.data(), g.bytes.size(), writes, chunk), g.ok) << g.bytes.size();
        if (g.ok) {
            EXPECT_EQ(writes, g.writes);
            EXPECT_EQ(chunk, g.chunk);
        }
    }
    struct Chunk {
        unsigned mtu, uri, grant;
        size_t size;
    } chunks[] = {
        {0, 0, 0, 20},      {23, 0, 0, 20},     {185, 0, 0, 182}, {247, 0, 100, 100},
        {247, 50, 100, 50}, {185, 300, 0, 182}, {10, 0, 0, 20},   {517, 0, 0, 514},
    };
    for (const Chunk& c : chunks)
        EXPECT_EQ(DfBleChunkSize(c.mtu, c.uri, c.grant), c.size) << c.mtu << " " << c.uri << " " << c.grant;
}

TEST(BleUri, FailureReasons) {
    struct Case {
        const char* name;
        const char* message;
        bool paired;
        DfBleFailure failure;
        const char* text;  // part of what the user reads
    } cases[] = {
        {"org.freedesktop.DBus.Error.ServiceUnknown", "", false, DfBleFailure::NoBluez,
         "Bluetooth is not running"},
        {"org.bluez.Error.NotReady", "Resource Not Ready", true, DfBleFailure::AdapterOff,
         "Bluetooth adapter off"},
        {"org.freedesktop.DBus.Error.UnknownObject", "", false, DfBleFailure::NotFound, "printer not found"},
        {"org.bluez.Error.AuthenticationFailed", "", false, DfBleFailure::NotPaired, "not paired"},
        {"org.bluez.Error.Failed", "Insufficient Authentication (0x05)", false, DfBleFailure::NotPaired,
         "bluetoothctl"},
        {"org.bluez.Error.Failed", "Insufficient Authentication (0x05)", true, DfBleFailure::NoConnect,
         "did not connect"},
        {"org.bluez.Error.Failed", "le-connection-abort-by-local", false, DfBleFailure::NoConnect,
         "did not connect"},
        {"org.freedesktop.DBus.Error.NoReply", "Method call timed out", false, DfBleFailure::NoConnect,
         "out of range"},
        {"org.bluez.Error.NotSupported", "", false, DfBleFailure::Other, "Bluetooth error"},
        {nullptr, nullptr, false, DfBleFailure::Other, "Bluetooth error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name ? c.name : "(null)") + " " + (c.message ? c.message : ""));
        const DfBleFailure f = DfBleClassifyError(c.name, c.message, c.paired);
        EXPECT_EQ(static_cast<int>(f), static_cast<int>(c.failure));
        EXPECT_NE(std::string(DfBleFailureText(f)).find(c.text), std::string::npos) << DfBleFailureText(f);
    }
}

}  // namespace
