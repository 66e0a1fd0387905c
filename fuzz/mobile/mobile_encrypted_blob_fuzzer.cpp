// Fuzz target for encrypted blobs on disk: arbitrary bytes decrypted by both encryptor forms
// and read through an encrypting file storage. No crash or exception; a failed decryption
// leaves the file as it was; the input encrypts and decrypts back to itself in both forms.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "CorvaneSDKCrypto.h"
#include "CorvaneSDKFileStorage.h"
#include "FuzzPorts.h"

using namespace CorvaneSDK::Mobile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& root = Fuzz::installFuzzPorts("encrypted-blob");
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  static auto raw = CorvaneSDKAES256Crypto::initWithPassword("fuzz password", "fuzzsalt", "fuzz iv 16 bytes");
  static auto headed = CorvaneSDKAES256Crypto::initWithPassword("fuzz password");
  raw->decrypt(bytes);
  headed->decrypt(bytes);
  static CorvaneSDKFileStorage storage(root + "/storage", headed);
  {
    std::ofstream out(storage.urlForKey("blob"), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  if (!storage.jsonForKey("blob")) {
    std::ifstream in(storage.urlForKey("blob"), std::ios::binary);
    Fuzz::require(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()) == bytes);
  }
  auto a = raw->encrypt(bytes);
  Fuzz::require(a && a->size() % 16 == 0 && a->size() > bytes.size() && a->size() <= bytes.size() + 16);
  Fuzz::require(raw->decrypt(*a) == bytes);
  auto b = headed->encrypt(bytes);
  Fuzz::require(b && b->size() == CorvaneSDKAES256Crypto::kHeaderLength + a->size());
  Fuzz::require(headed->decrypt(*b) == bytes);
  return 0;
}
