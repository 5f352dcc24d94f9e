#include "server/dispatch/CallOrigin.h"

#include <utility>

namespace {

thread_local std::string t_address;

} // namespace

CCallOrigin::CCallOrigin(std::string address) : previous_(std::exchange(t_address, std::move(address))) {}

CCallOrigin::~CCallOrigin()
{
    t_address = std::move(previous_);
}

const std::string& CCallOrigin::Address()
{
    return t_address;
}
