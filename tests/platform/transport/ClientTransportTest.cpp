#include "platform/transport/ClientTransport.h"
#include "platform/transport/RpcClientTransport.h"

#include <gtest/gtest.h>

namespace {

class NullTransport : public ClientTransport {
public:
    HRESULT Connect(const char*, DWORD) override { return S_OK; }
    HRESULT Call(const BYTE*, DWORD, BYTE**, DWORD*) override { return E_FAIL; }
    HRESULT FreeReply(BYTE*) override { return S_OK; }
};

bool MakesRpcTransport()
{
    std::unique_ptr<ClientTransport> t;
    return CreateClientTransport(&t) == S_OK && dynamic_cast<CRpcClientTransport*>(t.get()) != nullptr;
}

} // namespace

TEST(ClientTransport, DefaultFactoryMakesTheRpcTransport)
{
    EXPECT_TRUE(MakesRpcTransport());
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
    EXPECT_NE(dynamic_cast<NullTransport*>(t.get()), nullptr);
    EXPECT_EQ(made, 1);

    // A factory that claims success without a transport is not believed.
    SetClientTransportFactory([](std::unique_ptr<ClientTransport>*) { return S_OK; });
    EXPECT_EQ(CreateClientTransport(&t), E_UNEXPECTED);
    EXPECT_EQ(t, nullptr);

    // A failing factory leaves nothing behind.
    SetClientTransportFactory([](std::unique_ptr<ClientTransport>* out) {
        *out = std::make_unique<NullTransport>();
        return REGDB_E_CLASSNOTREG;
    });
    EXPECT_EQ(CreateClientTransport(&t), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(t, nullptr);

    // Restoring the empty factory brings the real one back.
    SetClientTransportFactory(nullptr);
    EXPECT_TRUE(MakesRpcTransport());
    SetClientTransportFactory(previous);
    EXPECT_TRUE(MakesRpcTransport());
}
