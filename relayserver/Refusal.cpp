#include "Refusal.h"

namespace tellwire {

Refusal Refusal::forStatus(int status)
{
    switch (status) {
    case 401: return unauthorized();
    case 403: return forbidden();
    case 404: return notFound();
    case 405: return methodNotAllowed();
    case 413: return tooLarge();
    case 429: return rateLimited();
    default: break;
    }
    if (status >= 500)
        return {status, "internal", internal().message};
    return {status, "invalid_request", "请求格式错误"};
}

} // namespace tellwire
