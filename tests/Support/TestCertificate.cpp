#include "Support/TestCertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "Platform/NetworkLibraries.h"

namespace tolvane::test {
namespace {

struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertDeleter {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct FileDeleter {
  void operator()(FILE* file) const { std::fclose(file); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Cert = std::unique_ptr<X509, CertDeleter>;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

Key newKey() {
  Key key(EVP_EC_gen("P-256"));
  check(key != nullptr, "key generation");
  return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  check(extension != nullptr, "extension");
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

// issuer/issuerKey null: self-signed CA.
Cert makeCertificate(const std::string& commonName, EVP_PKEY* key, X509* issuer,
                     EVP_PKEY* issuerKey, const char* subjectAltName, long serial) {
  Cert cert(X509_new());
  check(cert != nullptr, "X509_new");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7L * 24 * 3600);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
  X509* signer = issuer ? issuer : cert.get();
  if (!issuer) {
    addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  } else {
    addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    addExtension(cert.get(), signer, NID_subject_alt_name, subjectAltName);
  }
  check(X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) > 0, "sign");
  return cert;
}

void writeCertificate(const std::filesystem::path& path, X509* cert) {
  std::unique_ptr<FILE, FileDeleter> file(std::fopen(path.c_str(), "wb"));
  check(file && PEM_write_X509(file.get(), cert) == 1, "write certificate");
}

void writeKey(const std::filesystem::path& path, EVP_PKEY* key) {
  std::unique_ptr<FILE, FileDeleter> file(std::fopen(path.c_str(), "wb"));
  check(file && PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "write key");
}

}  // namespace

TestCertificate::TestCertificate() {
  // Before OpenSSL's first use: it must keep its state for network threads at exit.
  platform::initialiseNetworkLibraries();
  const auto& dir = folder_.path();
  Key caKey = newKey();
  Cert ca = makeCertificate("Tolvane Test CA", caKey.get(), nullptr, nullptr, nullptr, 1);
  caFile_ = dir / "ca.pem";
  writeCertificate(caFile_, ca.get());

  auto issue = [&](const std::string& stem, const char* names, X509* issuer, EVP_PKEY* issuerKey,
                   long serial) {
    Key key = newKey();
    Cert cert = makeCertificate(stem, key.get(), issuer, issuerKey, names, serial);
    Pair pair{dir / (stem + ".pem"), dir / (stem + "-key.pem")};
    writeCertificate(pair.certificate, cert.get());
    writeKey(pair.privateKey, key.get());
    return pair;
  };
  loopback_ = issue("loopback", "IP:127.0.0.1,DNS:localhost", ca.get(), caKey.get(), 2);
  wrongHost_ = issue("wrong-host", "DNS:wrong-host.invalid", ca.get(), caKey.get(), 3);

  Key strangerKey = newKey();
  Cert stranger =
      makeCertificate("Untrusted Test CA", strangerKey.get(), nullptr, nullptr, nullptr, 4);
  untrusted_ =
      issue("untrusted", "IP:127.0.0.1,DNS:localhost", stranger.get(), strangerKey.get(), 5);
}

const TestCertificate& TestCertificate::shared() {
  static const TestCertificate certificate;
  return certificate;
}

}  // namespace tolvane::test
