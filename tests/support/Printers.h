#pragma once

#include "relayclient/APIError.h"

#include <ostream>

namespace tellwire {

inline void PrintTo(const APIError& error, std::ostream* out)
{
    *out << "APIError(\"" << error.message.toStdString() << "\", " << error.status << ", source "
         << int(error.source) << ")";
}

} // namespace tellwire
