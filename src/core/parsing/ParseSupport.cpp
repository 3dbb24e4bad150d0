#include "parsing/ParseSupport.h"

#include "net/NamePass.h"
#include "net/ReverseLookup.h"
#include "parsing/Parsers.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kavel {

namespace {

bool IsSpecial(char c) {
    return c == ' ' || c == '"' || c == '\r' || c == '\n';
}

// The position of the next blank, double quote, CR or LF at or after i, or n.
std::size_t NextSpecial(const char* text, std::size_t i, std::size_t n) {
#if defined(__SSE2__)
    const __m128i blank = _mm_set1_epi8(' ');
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    while (i + 16 <= n) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        const __m128i hits =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, blank), _mm_cmpeq_epi8(chunk, quote)),
                         _mm_or_si128(_mm_cmpeq_epi8(chunk, cr), _mm_cmpeq_epi8(chunk, lf)));
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

std::size_t ClosingQuote(std::string_view text, std::size_t open) {
    std::size_t pos = open + 1;
    while (pos < text.size()) {
        const std::size_t quote = text.find('"', pos);
        if (quote == std::string_view::npos)
            return std::string_view::npos;
        std::size_t backslashes = 0;
        while (quote - backslashes > open + 1 && text[quote - backslashes - 1] == '\\')
            ++backslashes;
        if (backslashes % 2 == 0)
            return quote;
        pos = quote + 1;
    }
    return std::string_view::npos;
}

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
            if (data[tail] == '"') {
                const std::size_t close = ClosingQuote(text, tail);
                tail = close == std::string_view::npos ? n : close + 1;
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

std::size_t SplitAtBlanks(std::string_view text, std::vector<std::string_view>& words) {
    words.clear();
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find(' ', pos), text.size());
        if (end > pos)
            words.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return words.size();
}

std::string_view DequoteView(std::string_view token, std::string& scratch) {
    if (token.empty() || token[0] != '"')
        return token;
    std::string_view extracted;
    // A backslash-escaped quote is part of the text, kept as logged.
    std::size_t pos = 1;
    std::size_t close = ClosingQuote(token, 0);
    if (close != std::string_view::npos && (close + 1 >= token.size() || token[close + 1] != '"')) {
        // The common case: no doubled quotes, so the result is part of the token.
        extracted = token.substr(1, close - 1);
    } else {
        scratch.clear();
        bool closed = false;
        while (close != std::string_view::npos) {
            scratch.append(token.substr(pos, close - pos));
            if (close + 1 < token.size() && token[close + 1] == '"') {
                scratch.push_back('"');
                pos = close + 2;
                close = ClosingQuote(token, close + 1);
                continue;
            }
            closed = true;
            break;
        }
        if (!closed) {
            if (pos < token.size())
                scratch.append(token.substr(pos));
            if (!scratch.empty())
                scratch.pop_back();
        }
        extracted = scratch;
    }
    if (extracted.empty())
        return token == "\"\"" ? std::string_view() : token;
    if (extracted == "\"\"")
        return {};
    return extracted;
}

bool ResolveIfWanted(const ParseOptions& options, std::string_view address, std::string& hostName) {
    if (!options.ResolveNames)
        return false;
    if (options.Names != nullptr)
        return options.Names->Resolve(address, hostName);
    return options.Cache != nullptr && options.Cache->Resolve(address, hostName);
}

} // namespace kavel
