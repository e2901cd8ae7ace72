#pragma once

#include "RelayServer.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tellwire {

// The certificate of a relay that listens beyond this machine: made at first
// start (an EC P-256 key, ten years) and kept in the state folder, so that a
// phone that accepted it once keeps trusting it.
class SelfSignedCertificate {
public:
    // The files in `dir`, made for the given IP addresses when they are not
    // there yet; throws std::runtime_error when they cannot be made.
    static TlsFiles ensure(const std::filesystem::path& dir, const std::vector<std::string>& addresses);
    // "SHA256:" and the SHA-256 of the certificate's DER form in hex pairs,
    // as browsers show it; empty when the file is no PEM certificate.
    static std::string fingerprint(const std::string& certificatePath);
};

} // namespace tellwire
