// SignedAnswer: the maker's Ed25519 signature on an update answer. The answer is the XML document followed
// by one last line "<!-- ed25519:BASE64 -->" that signs every byte before it, so that a plain file host or
// mirror serves document and signature as one file. The public keys are a resource of the program itself:
// the current one, and during a change of keys the next one after it, so that a release carrying both
// trusts answers signed with either.
//
// Classes: SignedAnswer.
#pragma once

#include "base/TextString.h"
#include "base/Win.h"
#include <cstddef>
#include <cstdint>

class SignedAnswer {
public:
    enum : uint32_t { kKeyBytes = 32, kSignatureBytes = 64, kMaxKeys = 2 };
    // The RCDATA resource of the program that holds the maker's public keys (32 raw bytes each, one or two).
    enum : uint32_t { kKeyResource = 110 };

    SignedAnswer() = default;
    SignedAnswer(const SignedAnswer &) = delete;
    SignedAnswer &operator=(const SignedAnswer &) = delete;

    // The keys from the resource of module (the program when null); 1 when one or two keys are there.
    int LoadKey(HMODULE module);
    // size: 32 bytes for one key, 64 for two; anything else is no key.
    int SetKey(const unsigned char *key, size_t size);
    int HasKey() const { return hasKey_; }

    // 1 when answer (length bytes) ends in a signature line that verifies with one of the keys over every
    // byte before it; document then holds exactly those signed bytes. 0 otherwise, document emptied.
    int Verify(const char *answer, size_t length, TextString &document) const;

    static const char kSignatureStart[];
    static const char kSignatureEnd[];

private:
    unsigned char key_[kMaxKeys * kKeyBytes] = {};
    size_t keyCount_ = 0;
    int hasKey_ = 0;
};
