// SignedAnswer: finding the signature line and checking it with libsodium.
#include "update/SignedAnswer.h"
#include <sodium.h>
#include <cstring>

const char SignedAnswer::kSignatureStart[] = "<!-- ed25519:";
const char SignedAnswer::kSignatureEnd[] = " -->";

int SignedAnswer::SetKey(const unsigned char *key, size_t size) {
    hasKey_ = 0;
    keyCount_ = 0;
    if (!key || !size || size % kKeyBytes != 0 || size > sizeof key_ || sodium_init() < 0)
        return 0;
    memcpy(key_, key, size);
    keyCount_ = size / kKeyBytes;
    hasKey_ = 1;
    return 1;
}

int SignedAnswer::LoadKey(HMODULE module) {
    hasKey_ = 0;
    if (!module)
        module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(kKeyResource), MAKEINTRESOURCEA(10)); // RT_RCDATA
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void *data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return 0;
    return SetKey(static_cast<const unsigned char *>(data), SizeofResource(module, found));
}

int SignedAnswer::Verify(const char *answer, size_t length, TextString &document) const {
    document.Assign("");
    if (!hasKey_ || !answer)
        return 0;
    // The last signature line counts: anything a forger appends after it cannot verify.
    const size_t startLength = sizeof kSignatureStart - 1;
    size_t at = length;
    for (size_t i = length; i-- > 0;) {
        if (length - i >= startLength && memcmp(answer + i, kSignatureStart, startLength) == 0) {
            at = i;
            break;
        }
    }
    if (at == length)
        return 0;
    size_t end = length;
    while (end > at && (answer[end - 1] == '\n' || answer[end - 1] == '\r'))
        --end;
    const size_t endLength = sizeof kSignatureEnd - 1;
    const size_t textStart = at + startLength;
    if (end < textStart + endLength || memcmp(answer + end - endLength, kSignatureEnd, endLength) != 0)
        return 0;
    unsigned char signature[kSignatureBytes];
    size_t decoded = 0;
    const char *textEnd = nullptr;
    if (sodium_base642bin(signature, sizeof signature, answer + textStart, end - endLength - textStart,
                          nullptr, &decoded, &textEnd, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        decoded != kSignatureBytes || textEnd != answer + end - endLength)
        return 0;
    int verified = 0;
    for (size_t k = 0; k < keyCount_ && !verified; ++k)
        verified = crypto_sign_verify_detached(signature, reinterpret_cast<const unsigned char *>(answer), at,
                                               key_ + k * kKeyBytes) == 0;
    if (!verified)
        return 0;
    // A zero byte in the signed part would cut the text the parser sees short of what was signed.
    if (memchr(answer, 0, at))
        return 0;
    return document.Assign(answer, static_cast<uint32_t>(at));
}
