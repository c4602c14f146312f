// SignedAnswer: the maker's Ed25519 signature on an update answer. The answer is the XML document followed
// by one last line "<!-- ed25519:BASE64 -->" that signs every byte before it, so that a plain file host or
// mirror serves document and signature as one file. The public key is a resource of the program itself.
//
// Classes: SignedAnswer.
#pragma once

#include "base/TextString.h"
#include "base/Win.h"
#include <cstddef>
#include <cstdint>

class SignedAnswer {
public:
    enum : uint32_t { kKeyBytes = 32, kSignatureBytes = 64 };
    // The RCDATA resource of the program that holds the maker's public key (32 raw bytes).
    enum : uint32_t { kKeyResource = 110 };

    SignedAnswer() = default;
    SignedAnswer(const SignedAnswer &) = delete;
    SignedAnswer &operator=(const SignedAnswer &) = delete;

    // The key from the resource of module (the program when null); 1 when one of the right size is there.
    int LoadKey(HMODULE module);
    int SetKey(const unsigned char *key, size_t size);
    int HasKey() const { return hasKey_; }

    // 1 when answer (length bytes) ends in a signature line that verifies with the key over every byte
    // before it; document then holds exactly those signed bytes. 0 otherwise, document emptied.
    int Verify(const char *answer, size_t length, TextString &document) const;

    static const char kSignatureStart[];
    static const char kSignatureEnd[];

private:
    unsigned char key_[kKeyBytes] = {};
    int hasKey_ = 0;
};
