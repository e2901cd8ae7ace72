#pragma once

#include <string>
#include <vector>

namespace tellwire {

// This machine's IPv4 addresses on its networks (not loopback, not
// link-local), as a phone on the same network would reach it.
std::vector<std::string> networkAddresses();

} // namespace tellwire
