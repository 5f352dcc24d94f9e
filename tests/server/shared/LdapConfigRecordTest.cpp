#include "server/shared/LdapConfigRecord.h"
#include "server/shared/SecurityEquivKind.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(LdapConfigRecord, FourFieldsAtTheirWireOffsets)
{
    LdapConfigRecord r;
    std::memset(&r, 0xAA, sizeof r);
    r.Clear();
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&r);
    for (size_t i = 0; i < sizeof r; ++i)
        ASSERT_EQ(bytes[i], 0) << i;

    LdapConfigRecord::SetField(r.server, "dc1");
    LdapConfigRecord::SetField(r.account, "admin");
    LdapConfigRecord::SetField(r.password, "pw");
    LdapConfigRecord::SetField(r.container, "OU=Sales");
    EXPECT_EQ(sizeof r, 1040u);
    EXPECT_EQ(std::memcmp(bytes + 0, "dc1", 4), 0);
    EXPECT_EQ(std::memcmp(bytes + 260, "admin", 6), 0);
    EXPECT_EQ(std::memcmp(bytes + 520, "pw", 3), 0);
    EXPECT_EQ(std::memcmp(bytes + 780, "OU=Sales", 9), 0);
    EXPECT_EQ(LdapConfigRecord::FieldText(r.container), "OU=Sales");
}

TEST(LdapConfigRecord, FieldWithoutNulReadsAsItsFirst259Characters)
{
    LdapConfigRecord r;
    r.Clear();
    std::memset(r.account, 'a', sizeof r.account);
    std::memset(r.password, 'p', sizeof r.password);
    EXPECT_EQ(LdapConfigRecord::FieldText(r.account), std::string(259, 'a'));
    EXPECT_EQ(LdapConfigRecord::FieldText(r.server), "");
}

TEST(LdapConfigRecord, SetFieldCutsAt259AndZeroesTheRest)
{
    LdapConfigRecord r;
    std::memset(&r, 'z', sizeof r);
    LdapConfigRecord::SetField(r.server, std::string(300, 's'));
    EXPECT_EQ(LdapConfigRecord::FieldText(r.server), std::string(259, 's'));
    EXPECT_EQ(r.server[259], 0);
    LdapConfigRecord::SetField(r.server, "x");
    EXPECT_EQ(LdapConfigRecord::FieldText(r.server), "x");
    for (size_t i = 1; i < 260; ++i)
        ASSERT_EQ(r.server[i], 0) << i;
    EXPECT_EQ(r.account[0], 'z'); // neighbours untouched
}

TEST(SecurityEquivKind, ValuesAndLogWords)
{
    EXPECT_EQ(SecurityEquivComputer, 1u);
    EXPECT_EQ(SecurityEquivUser, 2u);
    EXPECT_EQ(SecurityEquivDefault, 3u);
    EXPECT_EQ(sizeof(SecurityEquivKind), 4u);
    EXPECT_STREQ(SecurityEquivKindText(1), "Computer");
    EXPECT_STREQ(SecurityEquivKindText(2), "User");
    EXPECT_STREQ(SecurityEquivKindText(3), "Default");
    EXPECT_STREQ(SecurityEquivKindText(0), "Default");
    EXPECT_STREQ(SecurityEquivKindText(0xFFFFFFFF), "Default");
}
