#include "server/dispatch/CallOrigin.h"

#include <utility>

namespace {

const std::string kNone;
thread_local const std::string* t_address = &kNone;

} // namespace

CCallOrigin::CCallOrigin(const std::string& address) : previous_(std::exchange(t_address, &address)) {}

CCallOrigin::~CCallOrigin()
{
    t_address = previous_;
}

const std::string& CCallOrigin::Address()
{
    return *t_address;
}
