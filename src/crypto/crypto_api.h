// SPDX-License-Identifier: MIT
#pragma once
// The exported encryption interface of libvantrelcrypto.so, with C linkage so
// that any program can load it with dlopen. Lengths are bytes; out-lengths are
// in-out: the caller passes the buffer size, the function writes the length used.
// All three functions are thread-safe (they keep no state between calls). The
// OpenSSL providers they load stay until the process ends; unloading the library
// with dlclose before that leaves them behind.

#ifdef __cplusplus
extern "C" {
#endif

#define VANTREL_CRYPTO_API __attribute__((visibility("default")))

// Derives an 8-byte Blowfish key and an 8-byte IV from the password and an
// 8-byte salt (a fresh one from the clock unless useGivenSalt is set).
// 0 success; 3 a buffer is null; 1 a length is below 8, or useGivenSalt is set
// and *saltLength is not exactly 8; -1 the hash failed.
VANTREL_CRYPTO_API int GenerateKey(const unsigned char* password, int passwordLength, unsigned char* salt,
                                   int* saltLength, unsigned char* key, int* keyLength, unsigned char* iv,
                                   int* ivLength, int useGivenSalt);

// Blowfish-CBC with PKCS #5 padding; the cipher text of n bytes is 8 * (n / 8 + 1).
// 0 success (*outLength = cipher length); 1 the out buffer is too small (*outLength
// = the length needed, nothing written) or the key length is not 4 to 56; 3 a
// buffer is null or a length negative.
VANTREL_CRYPTO_API int Encrypt(const unsigned char* key, int keyLength, const unsigned char* iv,
                               const unsigned char* plain, int plainLength, unsigned char* out, int* outLength);

// The reverse of Encrypt, lenient about padding. Same codes as Encrypt.
VANTREL_CRYPTO_API int Decrypt(const unsigned char* key, int keyLength, const unsigned char* iv, unsigned char* out,
                               int* outLength, const unsigned char* cipher, int cipherLength);

#ifdef __cplusplus
}
#endif
