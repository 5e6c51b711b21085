// Authentication settings of the printer application: which options leave
// remote configuration off, and the group check PAPPL 1.3.1 gets wrong on
// Linux (a user's supplementary groups count).
#include <gtest/gtest.h>

#include <grp.h>

#include <string>

#include "app/auth.h"

namespace {

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
