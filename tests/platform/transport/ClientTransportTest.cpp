#include "platform/transport/ClientTransport.h"

#include <gtest/gtest.h>

namespace {

class NullTransport : public ClientTransport {
public:
    HRESULT Connect(const char*, DWORD) override { return S_OK; }
    HRESULT Call(const BYTE*, DWORD, BYTE**, DWORD*) override { return E_FAIL; }
    HRESULT FreeReply(BYTE*) override { return S_OK; }
};

} // namespace

TEST(ClientTransport, WithoutARealTransportNoneCanBeMade)
{
    std::unique_ptr<ClientTransport> t;
    EXPECT_EQ(CreateClientTransport(&t), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(CreateClientTransport(nullptr), E_POINTER);
}

TEST(ClientTransport, FactoryCanBeReplacedAndRestored)
{
    int made = 0;
    auto previous = SetClientTransportFactory([&](std::unique_ptr<ClientTransport>* out) {
        ++made;
        *out = std::make_unique<NullTransport>();
        return S_OK;
    });
    std::unique_ptr<ClientTransport> t;
    EXPECT_EQ(CreateClientTransport(&t), S_OK);
    EXPECT_NE(t, nullptr);
    EXPECT_EQ(made, 1);

    // A factory that claims success without a transport is not believed.
    SetClientTransportFactory([](std::unique_ptr<ClientTransport>*) { return S_OK; });
    EXPECT_EQ(CreateClientTransport(&t), E_UNEXPECTED);
    EXPECT_EQ(t, nullptr);

    // A failing factory leaves nothing behind.
    SetClientTransportFactory([](std::unique_ptr<ClientTransport>* out) {
        *out = std::make_unique<NullTransport>();
        return E_ACCESSDENIED;
    });
    EXPECT_EQ(CreateClientTransport(&t), E_ACCESSDENIED);
    EXPECT_EQ(t, nullptr);

    SetClientTransportFactory(nullptr);
    EXPECT_EQ(CreateClientTransport(&t), REGDB_E_CLASSNOTREG);
    SetClientTransportFactory(previous);
}
