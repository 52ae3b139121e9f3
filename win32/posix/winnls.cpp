#include "win32/posix/winnls.hpp"

#include <unicode/coll.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

// Windows-1252 bytes 0x80-0x9F; the five undefined ones map to the C1 code
// point of the same value, as Windows does.
constexpr char16_t high_1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t from_1252(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? high_1252[byte - 0x80] : static_cast<char16_t>(byte);
}

// Collators are not safe to share between threads; each thread keeps its own
// pair, made on first use.
icu::Collator* collator_for(LCID locale) {
    struct Pair {
        std::unique_ptr<icu::Collator> english;
        std::unique_ptr<icu::Collator> user;
    };
    thread_local Pair pair;
    bool english = (locale & 0x3FF) == 0x09 && locale != LOCALE_USER_DEFAULT && locale != LOCALE_SYSTEM_DEFAULT;
    auto& slot = english ? pair.english : pair.user;
    if (!slot) {
        UErrorCode status = U_ZERO_ERROR;
        slot.reset(icu::Collator::createInstance(english ? icu::Locale("en_US") : icu::Locale::getDefault(), status));
        if (U_FAILURE(status)) {
            slot.reset();
            return nullptr;
        }
        slot->setStrength(icu::Collator::TERTIARY);
    }
    return slot.get();
}

bool is_width_variant(UChar32 c) { return c == 0x3000 || (c >= 0xFF00 && c <= 0xFFEF); }

// The text as UTF-16, with what the flags ask to ignore folded away.
bool prepare(const wchar_t* text, int length, DWORD flags, icu::UnicodeString& out) {
    if (length < 0) length = static_cast<int>(std::wcslen(text));
    const icu::Normalizer2* nfkc = nullptr;
    if (flags & NORM_IGNOREWIDTH) {
        UErrorCode status = U_ZERO_ERROR;
        nfkc = icu::Normalizer2::getNFKCInstance(status);
        if (U_FAILURE(status)) return false;
    }
    out.remove();
    for (int i = 0; i < length; ++i) {
        auto c = static_cast<UChar32>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            // A surrogate pair in 16-bit wide text.
            if (U16_IS_LEAD(c) && i + 1 < length && U16_IS_TRAIL(text[i + 1])) {
                c = U16_GET_SUPPLEMENTARY(c, text[i + 1]);
                ++i;
            }
        }
        icu::UnicodeString piece(c);
        if (nfkc && is_width_variant(c)) {
            UErrorCode status = U_ZERO_ERROR;
            piece = nfkc->normalize(piece, status);
            if (U_FAILURE(status)) return false;
        }
        out.append(piece);
    }
    if (flags & NORM_IGNOREWIDTH) {
        // Half-width voiced marks become combining marks above; put each
        // back together with its kana.
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
        if (U_SUCCESS(status)) out = nfc->normalize(out, status);
        if (U_FAILURE(status)) return false;
    }
    if (flags & NORM_IGNOREKANATYPE) {
        for (int32_t i = 0; i < out.length(); ++i) {
            char16_t c = out.charAt(i);
            if ((c >= 0x30A1 && c <= 0x30F6) || c == 0x30FD || c == 0x30FE) out.setCharAt(i, c - 0x60);
        }
    }
    if (flags & NORM_IGNORECASE) out.foldCase();
    return true;
}

}  // namespace

BOOL IsDBCSLeadByte(BYTE) { return FALSE; }

int MultiByteToWideChar(UINT code_page, DWORD, LPCSTR text, int length, LPWSTR wide, int wide_size) {
    if (code_page != CP_ACP && code_page != CP_1252) return 0;
    if (!text || length == 0 || length < -1 || wide_size < 0) return 0;
    if (length == -1) length = static_cast<int>(std::strlen(text)) + 1;
    if (wide_size == 0) return length;
    if (!wide || wide_size < length) return 0;
    for (int i = 0; i < length; ++i) wide[i] = from_1252(static_cast<unsigned char>(text[i]));
    return length;
}

int CompareStringW(LCID locale, DWORD flags, LPCWSTR text1, int length1, LPCWSTR text2, int length2) {
    if (!text1 || !text2 || length1 < -1 || length2 < -1) return 0;
    icu::Collator* collator = collator_for(locale);
    if (!collator) return 0;
    icu::UnicodeString a, b;
    if (!prepare(text1, length1, flags, a) || !prepare(text2, length2, flags, b)) return 0;
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult result = collator->compare(a, b, status);
    if (U_FAILURE(status)) return 0;
    return result == UCOL_LESS ? CSTR_LESS_THAN : result == UCOL_EQUAL ? CSTR_EQUAL : CSTR_GREATER_THAN;
}

int CompareStringA(LCID locale, DWORD flags, LPCSTR text1, int length1, LPCSTR text2, int length2) {
    if (!text1 || !text2 || length1 < -1 || length2 < -1) return 0;
    if (length1 < 0) length1 = static_cast<int>(std::strlen(text1));
    if (length2 < 0) length2 = static_cast<int>(std::strlen(text2));
    // Short texts (one character, the usual case) need no allocation.
    wchar_t small1[8], small2[8];
    std::vector<wchar_t> big1, big2;
    wchar_t* wide1 = small1;
    wchar_t* wide2 = small2;
    if (length1 > 8) {
        big1.resize(length1);
        wide1 = big1.data();
    }
    if (length2 > 8) {
        big2.resize(length2);
        wide2 = big2.data();
    }
    for (int i = 0; i < length1; ++i) wide1[i] = from_1252(static_cast<unsigned char>(text1[i]));
    for (int i = 0; i < length2; ++i) wide2[i] = from_1252(static_cast<unsigned char>(text2[i]));
    return CompareStringW(locale, flags, wide1, length1, wide2, length2);
}
