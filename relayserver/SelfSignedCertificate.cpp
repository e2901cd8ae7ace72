#include "SelfSignedCertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace tellwire {

namespace {

template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, decltype([](T* p) { Free(p); })>;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opened for writing by the owner alone, before a byte is in it.
File privateFile(const std::filesystem::path& path)
{
    const mode_t previous = umask(077);
    File file(std::fopen(path.c_str(), "wx"));
    umask(previous);
    if (!file)
        throw std::runtime_error("cannot create " + path.string());
    return file;
}

void make(const std::filesystem::path& certificate, const std::filesystem::path& key,
          const std::vector<std::string>& addresses)
{
    Owned<EVP_PKEY, EVP_PKEY_free> pkey(EVP_EC_gen("P-256"));
    Owned<X509, X509_free> x509(X509_new());
    if (!pkey || !x509)
        throw std::runtime_error("cannot make a key for the relay's certificate");
    X509_set_version(x509.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x509.get()), long(std::time(nullptr)));
    X509_gmtime_adj(X509_getm_notBefore(x509.get()), -24 * 3600);
    X509_gmtime_adj(X509_getm_notAfter(x509.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(x509.get(), pkey.get());
    X509_NAME* name = X509_get_subject_name(x509.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Tellwire relay"),
                               -1, -1, 0);
    X509_set_issuer_name(x509.get(), name);
    // Browsers match the address typed against these, never against the name.
    std::string alternatives;
    for (const std::string& address : addresses)
        alternatives += (alternatives.empty() ? "IP:" : ",IP:") + address;
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, x509.get(), x509.get(), nullptr, nullptr, 0);
    Owned<X509_EXTENSION, X509_EXTENSION_free> extension(
        alternatives.empty() ? nullptr : X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, alternatives.c_str()));
    if (extension)
        X509_add_ext(x509.get(), extension.get(), -1);
    if (X509_sign(x509.get(), pkey.get(), EVP_sha256()) == 0)
        throw std::runtime_error("cannot sign the relay's certificate");

    // The key first: a certificate without its key would never be remade.
    const File keyFile = privateFile(key);
    const File certificateFile = privateFile(certificate);
    if (!PEM_write_PrivateKey(keyFile.get(), pkey.get(), nullptr, nullptr, 0, nullptr, nullptr)
        || !PEM_write_X509(certificateFile.get(), x509.get()))
        throw std::runtime_error("cannot write the relay's certificate");
}

} // namespace

TlsFiles SelfSignedCertificate::ensure(const std::filesystem::path& dir, const std::vector<std::string>& addresses)
{
    const auto certificate = dir / "tls-cert.pem", key = dir / "tls-key.pem";
    if (!std::filesystem::exists(certificate) || !std::filesystem::exists(key)) {
        std::filesystem::remove(certificate);
        std::filesystem::remove(key);
        make(certificate, key, addresses);
    }
    return TlsFiles{certificate.string(), key.string()};
}

std::string SelfSignedCertificate::fingerprint(const std::string& certificatePath)
{
    const File file(std::fopen(certificatePath.c_str(), "r"));
    Owned<X509, X509_free> x509(file ? PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!x509 || !X509_digest(x509.get(), EVP_sha256(), digest, &size))
        return {};
    std::string text = "SHA256:";
    static const char hex[] = "0123456789ABCDEF";
    for (unsigned int i = 0; i < size; ++i) {
        text += i ? ":" : "";
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

} // namespace tellwire
