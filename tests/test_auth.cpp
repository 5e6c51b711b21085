// Authentication settings of the printer application: which options leave
// remote configuration off, and the group check PAPPL 1.3.1 gets wrong on
// Linux (a user's supplementary groups count).
#include <gtest/gtest.h>

#include <grp.h>
#include <unistd.h>

#include <string>

#include "app/devices/devicelist.h"
#include "app/web/access.h"
#include "app/web/auth.h"

namespace {

TEST(Access, OnlyPrinterDeviceSchemes) {
    struct Case {
        const char* uri;
        bool ok;
    } cases[] = {
        {"socket://192.168.1.20:9100", true},
        {"usb://Printer/Model?serial=1", true},
        {"dnssd://Printer._pdl-datastream._tcp.local/", true},
        {"snmp://192.168.1.20", true},
        {"serial:/dev/ttyUSB0", true},
        {"file:///etc/shadow", false},
        {"file:///var/lib", false},
        {"ipp://localhost/ipp/print", false},
        {"http://example/", false},
        {"socketx://1.2.3.4", false},
        {":/dev/ttyUSB0", false},
        {"/dev/ttyUSB0", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uri);
        std::string error;
        EXPECT_EQ(DfAppDeviceSchemeAllowed(c.uri, error), c.ok);
        EXPECT_EQ(error.empty(), c.ok);
    }
    std::string error;
    EXPECT_FALSE(DfAppDeviceSchemeAllowed(nullptr, error));
}

// Lines as the kernel writes them: the client's own socket first.
TEST(Access, PeerUidFromTheTcpTable) {
    const std::string table =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
        "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 11 1\n"
        "   1: 0100007F:1F90 0100007F:D431 01 00000000:00000000 00:00000000 00000000     0        0 12 1\n"
        "   2: 0100007F:D431 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  1000        0 13 1\n"
        "   3: 0100007F:D432 0100007F:1F90 01 00000000:00000000 00:00000000 00000000    65534       0 14 1\n"
        "   4: garbage\n";
    struct Case {
        const char* peer;
        const char* local;
        bool found;
        uid_t uid;
    } cases[] = {
        {"0100007F:D431", "0100007F:1F90", true, 1000},  // the client, not the server's end
        {"0100007F:D432", "0100007F:1F90", true, 65534},
        {"0100007F:D433", "0100007F:1F90", false, 0},
        {"0100007F:D431", "0100007F:1F91", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.peer);
        uid_t uid = 12345;
        EXPECT_EQ(DfAppUidFromTcpTable(table, c.peer, c.local, uid), c.found);
        if (c.found) {
            EXPECT_EQ(uid, c.uid);
        }
    }
}

TEST(Access, LocalAdministrators) {
    EXPECT_TRUE(DfAppLocalAdmin(0, false, 0));
    EXPECT_TRUE(DfAppLocalAdmin(geteuid(), false, 0));
    const uid_t nobody = 65534;
    if (geteuid() != nobody) {
        EXPECT_FALSE(DfAppLocalAdmin(nobody, false, 0));
        if (const struct group* g = getgrnam("nogroup")) {
            EXPECT_TRUE(DfAppLocalAdmin(nobody, true, g->gr_gid));
        }
        if (const struct group* g = getgrnam("root")) {
            EXPECT_FALSE(DfAppLocalAdmin(nobody, true, g->gr_gid));
        }
    }
}

TEST(Auth, OptionsDecideWhetherRemoteConfigurationIsPossible) {
    const bool haveLpadmin = getgrnam("lpadmin") != nullptr;
    struct Case {
        const char* service;
        const char* group;
        bool on;
        const char* serviceWanted;
    } cases[] = {
        {nullptr, "root", true, "dotforge-app"},
        {"login", "root", true, "login"},
        {"none", "root", false, ""},
        {"", "root", false, ""},
        {nullptr, "no-such-group-dotforge", false, ""},
        {nullptr, "", false, ""},
        {nullptr, nullptr, haveLpadmin, haveLpadmin ? "dotforge-app" : ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.service ? c.service : "(default)") + "/" +
                     (c.group ? c.group : "(default)"));
        cups_option_t* options = nullptr;
        int n = 0;
        if (c.service) n = cupsAddOption("auth-service", c.service, n, &options);
        if (c.group) n = cupsAddOption("admin-group", c.group, n, &options);
        const DfAppAuth auth = DfAppAuthFromOptions(n, options);
        cupsFreeOptions(n, options);
        EXPECT_EQ(auth.service, c.serviceWanted);
        EXPECT_EQ(auth.warning.empty(), c.on);
        if (c.on) {
            EXPECT_FALSE(auth.group.empty());
        }
    }
}

TEST(Auth, GroupMembershipCountsPrimaryAndSupplementaryGroups) {
    const struct group* daemonGroup = getgrnam("daemon");
    ASSERT_NE(daemonGroup, nullptr);
    EXPECT_TRUE(DfAppUserInGroup("root", 0));  // primary group
    EXPECT_TRUE(DfAppUserInGroup("daemon", daemonGroup->gr_gid));
    EXPECT_FALSE(DfAppUserInGroup("nobody", 0));
    EXPECT_FALSE(DfAppUserInGroup("no-such-user-dotforge", 0));
    // Supplementary membership: app_security.sh logs in a user whose admin
    // group is supplementary only.
}

}  // namespace
