#include "platform/NetConn.h"
#include "platform/ShareMount.h"
#include "platform/SharePath.h"

#include <gtest/gtest.h>

namespace duplora {
namespace {

TEST(SharePathTest, FormsAndRefusals) {
    struct Case {
        const char* root;
        ShareForm form;
        const char* remote; // RemoteName, for shares
        const char* rest;
        const char* uri;
    };
    const Case cases[] = {
        {"/home/u/data", ShareForm::NotShare, "", "", ""},
        {"///x/y", ShareForm::NotShare, "", "", ""},
        {"//nas/data", ShareForm::Share, "//nas/data", "", "smb://nas/data"},
        {"//nas:4455/data/a/b", ShareForm::Share, "//nas:4455/data", "a/b", "smb://nas:4455/data"},
        {"\\\\nas\\data\\2024\\x", ShareForm::Share, "//nas/data", "2024/x", "smb://nas/data"},
        {"\\\\nas\\data/sub\\", ShareForm::Share, "//nas/data", "sub", "smb://nas/data"},
        {"smb://nas/my%20share/d%25x", ShareForm::Share, "//nas/my share", "d%x",
         "smb://nas/my%20share"},
        {"//nas", ShareForm::Invalid, "", "", ""},
        {"//nas/", ShareForm::Invalid, "", "", ""},
        {"//nas/data/../etc", ShareForm::Invalid, "", "", ""},
        {"\\\\nas\\data\\..", ShareForm::Invalid, "", "", ""},
        {"smb://user@nas/data", ShareForm::Invalid, "", "", ""},
        {"smb://nas/data/a%2Fb", ShareForm::Invalid, "", "", ""},
        {"smb://nas/data/%2e%2e", ShareForm::Invalid, "", "", ""},
        {"smb://nas/data?x", ShareForm::Invalid, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.root);
        SharePath p;
        ASSERT_EQ(ParseSharePath(c.root, p), c.form);
        if (c.form != ShareForm::Share)
            continue;
        EXPECT_EQ(p.RemoteName(), c.remote);
        EXPECT_EQ(p.rest, c.rest);
        EXPECT_EQ(p.Uri(), c.uri);
    }
    SharePath a, b;
    ParseSharePath("//NAS/Data/x", a);
    ParseSharePath("smb://nas/data", b);
    EXPECT_TRUE(SameShare(a, b));
    EXPECT_EQ(a.LocalPath("/run/m"), "/run/m/x");
}

TEST(NetConnTest, PropertyRulesLeaveTheValueUnchanged) {
    TNetConnection c;
    EXPECT_EQ(c.ResourceType(), TResourceTypes::rtAny);
    EXPECT_THROW(c.SetLocalName("Z:"), EParameterError);
    EXPECT_EQ(c.LocalName(), "");
    c.SetLocalName(" \t"); // blank is always allowed
    EXPECT_THROW(c.SetReconnectAtLogon(true), EParameterError);
    EXPECT_FALSE(c.ReconnectAtLogon());
    c.SetResourceType(TResourceTypes::rtDisk);
    c.SetLocalName("Z:");
    c.SetReconnectAtLogon(true);
    try {
        c.SetResourceType(TResourceTypes::rtAny);
        ADD_FAILURE();
    } catch (const EParameterError& e) {
        EXPECT_STREQ(e.what(), "Cannot be rtAny when LocalName is set");
    }
    EXPECT_EQ(c.ResourceType(), TResourceTypes::rtDisk);
    c.SetLocalName("");
    EXPECT_FALSE(c.ReconnectAtLogon());
}

TEST(NetConnTest, ErrorTextsAndCredentials) {
    EXPECT_EQ(EConnectError(1326).what(), std::string("ERROR: User name or password incorrect"));
    EXPECT_EQ(NetErrorText(67), "Network resource name is invalid or unlocatable");
    EXPECT_EQ(NetErrorText(2404), "Device in use by active process, cannot disconnect");
    EXPECT_EQ(NetErrorText(42), "42: Unhandled Error");
    struct Case {
        const char* in;
        const char* user;
        const char* domain;
    };
    const Case cases[] = {{"bob", "bob", ""},
                          {"CORP\\bob", "bob", "CORP"},
                          {"bob@corp.example", "bob", "corp.example"},
                          {"", "", ""}};
    for (const Case& c : cases) {
        const ShareCredentials cr = CredentialsFor(c.in, "pw");
        EXPECT_EQ(cr.user, c.user) << c.in;
        EXPECT_EQ(cr.domain, c.domain) << c.in;
        EXPECT_EQ(cr.password, "pw");
    }
}

} // namespace
} // namespace duplora
