#include "parsing/ParseSupport.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kavel {

namespace {

bool IsSpecial(char c) {
    return c == ' ' || c == '"' || c == '\'' || c == '\r' || c == '\n';
}

// The position of the next blank, quote, apostrophe, CR or LF at or after i, or n.
std::size_t NextSpecial(const char* text, std::size_t i, std::size_t n) {
#if defined(__SSE2__)
    const __m128i blank = _mm_set1_epi8(' ');
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i apostrophe = _mm_set1_epi8('\'');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    while (i + 16 <= n) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        const __m128i hits =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, blank), _mm_cmpeq_epi8(chunk, quote)),
                         _mm_or_si128(_mm_cmpeq_epi8(chunk, apostrophe),
                                      _mm_or_si128(_mm_cmpeq_epi8(chunk, cr), _mm_cmpeq_epi8(chunk, lf))));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        if (mask != 0)
            return i + static_cast<std::size_t>(__builtin_ctz(mask));
        i += 16;
    }
#endif
    while (i < n && !IsSpecial(text[i]))
        ++i;
    return i;
}

} // namespace

std::size_t SplitLogLine(std::string_view text, std::vector<std::string_view>& tokens) {
    tokens.clear();
    const char* data = text.data();
    const std::size_t n = text.size();
    std::size_t tail = 0;
    while (tail < n) {
        while (tail < n && (data[tail] == '\r' || data[tail] == '\n'))
            ++tail;
        const std::size_t head = tail;
        while (true) {
            tail = NextSpecial(data, tail, n);
            if (tail >= n)
                break;
            const char c = data[tail];
            if (c == '"' || c == '\'') {
                const void* close = std::memchr(data + tail + 1, c, n - tail - 1);
                tail = close ? static_cast<std::size_t>(static_cast<const char*>(close) - data) + 1 : n;
                continue;
            }
            break;
        }
        if (tail > head)
            tokens.push_back(text.substr(head, tail - head));
        ++tail;
    }
    return tokens.size();
}

} // namespace kavel
