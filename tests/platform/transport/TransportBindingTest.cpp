#include "platform/transport/TransportBinding.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

const HRESULT kBadBinding = HRESULT_FROM_WIN32(RPC_S_INVALID_STRING_BINDING);
const HRESULT kBadHost = HRESULT_FROM_WIN32(RPC_S_INVALID_NET_ADDR);
const HRESULT kBadPort = HRESULT_FROM_WIN32(RPC_S_INVALID_ENDPOINT_FORMAT);

std::pair<std::string, int> Parsed(const std::string& text)
{
    TransportBinding b;
    EXPECT_EQ(TransportBinding::Parse(text, &b), S_OK) << text;
    return {b.host, b.port};
}

HRESULT Refusal(const std::string& text)
{
    TransportBinding b{"untouched", 7};
    HRESULT hr = TransportBinding::Parse(text, &b);
    EXPECT_EQ(b.host, "untouched") << text;
    EXPECT_EQ(b.port, 7) << text;
    return hr;
}

} // namespace

TEST(TransportBinding, ReadsHostAndPort)
{
    EXPECT_EQ(Parsed("WINSERVER:10.1.2.3:34348"), std::make_pair(std::string("10.1.2.3"), 34348));
    EXPECT_EQ(Parsed("WINSERVER:127.0.0.1:1"), std::make_pair(std::string("127.0.0.1"), 1));
    EXPECT_EQ(Parsed("WINSERVER:pc-17.corp_net:65535"), std::make_pair(std::string("pc-17.corp_net"), 65535));
    // Without a port, the port client computers listen on.
    EXPECT_EQ(Parsed("WINSERVER:PC1"), std::make_pair(std::string("PC1"), 34348));
    // IPv6, bracketed or bare; bare takes its port after the last colon.
    EXPECT_EQ(Parsed("WINSERVER:[::1]:4000"), std::make_pair(std::string("::1"), 4000));
    EXPECT_EQ(Parsed("WINSERVER:[fe80::1]"), std::make_pair(std::string("fe80::1"), 34348));
    EXPECT_EQ(Parsed("WINSERVER:fe80::1:34348"), std::make_pair(std::string("fe80::1"), 34348));
    EXPECT_EQ(Parsed("WINSERVER:" + std::string(255, 'h') + ":9").first.size(), 255u);
}

TEST(TransportBinding, RefusesWhatIsNoBinding)
{
    EXPECT_EQ(Refusal(""), kBadBinding);
    EXPECT_EQ(Refusal("WINSERVER"), kBadBinding);
    EXPECT_EQ(Refusal("WINSERVER:"), kBadBinding);
    EXPECT_EQ(Refusal("winserver:PC1:34348"), kBadBinding);
    EXPECT_EQ(Refusal("ncacn_ip_tcp:PC1[34348]"), kBadBinding);
    EXPECT_EQ(Refusal(" WINSERVER:PC1:34348"), kBadBinding);
    EXPECT_EQ(Refusal("WINSERVER::34348"), kBadBinding);
    EXPECT_EQ(Refusal("WINSERVER:[::1"), kBadBinding);
    EXPECT_EQ(Refusal("WINSERVER:[]:5"), kBadBinding);
    EXPECT_EQ(Refusal("WINSERVER:[::1]5"), kBadBinding);
    EXPECT_EQ(TransportBinding::Parse("WINSERVER:PC1", nullptr), E_POINTER);
}

TEST(TransportBinding, RefusesHostsThatAreNoNameOrAddress)
{
    EXPECT_EQ(Refusal("WINSERVER:PC 1:34348"), kBadHost);
    EXPECT_EQ(Refusal("WINSERVER:PC1 :34348"), kBadHost);
    EXPECT_EQ(Refusal("WINSERVER:a/b:34348"), kBadHost);
    EXPECT_EQ(Refusal("WINSERVER:a\\b:34348"), kBadHost);
    EXPECT_EQ(Refusal("WINSERVER:10.0.0.1,10.0.0.2:34348"), kBadHost);
    EXPECT_EQ(Refusal("WINSERVER:h\xC3\xA9:34348"), kBadHost);
    EXPECT_EQ(Refusal("WINSERVER:a\nb:34348"), kBadHost);
    EXPECT_EQ(Refusal("WINSERVER:" + std::string(256, 'h') + ":9"), kBadHost);
    EXPECT_EQ(Refusal("WINSERVER:[notanaddress]:5"), kBadHost);
    EXPECT_EQ(Refusal("WINSERVER:[10.0.0.1]:5"), kBadHost);
    // Bare IPv6 must carry its port: here the last group is taken for it.
    EXPECT_EQ(Refusal("WINSERVER:fe80::"), kBadHost);
    EXPECT_EQ(Refusal("WINSERVER:a:b:5"), kBadHost);
    // Nothing past a NUL is lost from sight.
    EXPECT_EQ(Refusal(std::string("WINSERVER:fe::1\0x]:4000", 23)), kBadHost);
    EXPECT_EQ(Refusal(std::string("WINSERVER:[fe::1\0x]:4000", 24)), kBadHost);
    EXPECT_EQ(Refusal(std::string("WINSERVER:PC1\0x:4000", 20)), kBadHost);
}

TEST(TransportBinding, RefusesPortsOutOfRangeOrNotDecimal)
{
    for (const char* port : {"", "0", "65536", "99999", "123456", "+80", "-1", "80a", " 80", "80 ", "0x50", "8.0"})
        EXPECT_EQ(Refusal(std::string("WINSERVER:PC1:") + port), kBadPort) << port;
    EXPECT_EQ(Refusal("WINSERVER:[::1]:"), kBadPort);
    EXPECT_EQ(Refusal("WINSERVER:[::1]:70000"), kBadPort);
}
