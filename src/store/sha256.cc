#include "store/sha256.h"

// The one-shot SHA256() of OpenSSL 3 goes through its provider machinery on
// every call (a fetch and three heap allocations), which costs about as much
// as hashing a typical line. The context-on-the-stack functions hash with the
// same assembly and allocate nothing; they are deprecated in OpenSSL 3 only
// in favour of that machinery.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

namespace zr::store {

static_assert(sizeof(Sha256Digest) == SHA256_DIGEST_LENGTH);

void sha256(std::string_view bytes, Sha256Digest& out) {
  SHA256_CTX context;
  SHA256_Init(&context);
  SHA256_Update(&context, bytes.data(), bytes.size());
  SHA256_Final(out.data(), &context);
}

}  // namespace zr::store
