#include "parsing/AccessRecord.h"

#include "base/Text.h"
#include "net/ReverseLookup.h"
#include "parsing/ParseSupport.h"

#include <array>
#include <cstring>
#include <new>
#include <type_traits>

namespace kavel {

namespace {

// Slots of the text block, in field order; the W3C slots follow the common ones.
enum Slot : std::uint8_t {
    SlotDateText,
    SlotAddress,
    SlotHostName,
    SlotUser,
    SlotUserAgent,
    SlotMethod,
    SlotPage,
    SlotProtocol,
    SlotReferer,
    SlotServerAddress,
    SlotServerHostName,
    SlotSiteName,
    SlotComputerName,
    SlotCookie,
    SlotCountW3C
};
constexpr std::uint8_t SlotCountNCSA = SlotServerAddress;

constexpr std::array<std::string_view, SlotCountW3C> Defaults = {
    "??.??.?? ??:??:??", "", "", "-", "-", "", "", "?", "-", "", "", "?", "?", "-"};

std::uint8_t SlotCount(LogFormat kind) {
    return kind == LogFormat::W3c ? static_cast<std::uint8_t>(SlotCountW3C) : SlotCountNCSA;
}

} // namespace

// One allocation holding every text of a record that differs from its default. Layout after
// the header: SlotCount + 1 offsets (16 or 32 bits wide), then the bytes of the texts. A host
// name equal to its address is not stored twice.
struct AccessRecord::TextStore {
    std::uint16_t DefaultMask = 0;
    std::uint16_t AliasMask = 0;
    std::uint8_t Slots = 0;
    bool Wide = false;

    // Set when the block lives in the record's own allocation.
    bool Inline = false;

    static void operator delete(TextStore* p, std::destroying_delete_t) {
        const bool inlined = p->Inline;
        p->~TextStore();
        if (!inlined)
            ::operator delete(p);
    }

    std::size_t OffsetsSize() const { return (Slots + 1u) * (Wide ? 4u : 2u); }
    const unsigned char* Offsets() const { return reinterpret_cast<const unsigned char*>(this + 1); }
    unsigned char* Offsets() { return reinterpret_cast<unsigned char*>(this + 1); }
    const char* Data() const { return reinterpret_cast<const char*>(Offsets() + OffsetsSize()); }

    std::uint32_t Offset(std::size_t i) const {
        if (Wide) {
            std::uint32_t v;
            std::memcpy(&v, Offsets() + 4 * i, 4);
            return v;
        }
        std::uint16_t v;
        std::memcpy(&v, Offsets() + 2 * i, 2);
        return v;
    }
    void SetOffset(std::size_t i, std::uint32_t value) {
        if (Wide) {
            std::memcpy(Offsets() + 4 * i, &value, 4);
        } else {
            const auto v = static_cast<std::uint16_t>(value);
            std::memcpy(Offsets() + 2 * i, &v, 2);
        }
    }

    std::string_view Text(std::uint8_t slot) const {
        if ((AliasMask & (1u << slot)) != 0)
            slot = slot == SlotServerHostName ? SlotServerAddress : SlotAddress;
        if (slot >= Slots || (DefaultMask & (1u << slot)) != 0)
            return Defaults[slot];
        const std::uint32_t begin = Offset(slot);
        return {Data() + begin, Offset(slot + 1u) - begin};
    }

    struct Layout {
        std::uint8_t Slots = 0;
        std::uint16_t Defaults = 0;
        std::uint16_t Aliases = 0;
        std::size_t Total = 0;
        bool Wide = false;
        // Bytes of the block; 0 when every text is its default.
        std::size_t Size = 0;
    };

    static Layout Plan(std::uint8_t slots, const std::string_view* texts) {
        Layout plan;
        plan.Slots = slots;
        for (std::uint8_t i = 0; i < slots; ++i) {
            if (texts[i] == Defaults[i]) {
                plan.Defaults = static_cast<std::uint16_t>(plan.Defaults | (1u << i));
            } else if ((i == SlotHostName || i == SlotServerHostName) && texts[i] == texts[i - 1]) {
                plan.Aliases = static_cast<std::uint16_t>(plan.Aliases | (1u << i));
            } else {
                plan.Total += texts[i].size();
            }
        }
        if (plan.Total == 0 && plan.Aliases == 0 && plan.Defaults == (1u << slots) - 1u)
            return plan;
        plan.Wide = plan.Total > 0xFFFF;
        plan.Size = sizeof(TextStore) + (slots + 1u) * (plan.Wide ? 4u : 2u) + plan.Total;
        return plan;
    }

    static TextStore* Write(void* memory, const Layout& plan, const std::string_view* texts) {
        TextStore* store = new (memory) TextStore;
        store->DefaultMask = plan.Defaults;
        store->AliasMask = plan.Aliases;
        store->Slots = plan.Slots;
        store->Wide = plan.Wide;
        char* data = reinterpret_cast<char*>(store->Offsets() + store->OffsetsSize());
        std::uint32_t offset = 0;
        for (std::uint8_t i = 0; i < plan.Slots; ++i) {
            store->SetOffset(i, offset);
            const std::uint16_t bit = static_cast<std::uint16_t>(1u << i);
            if (((plan.Defaults | plan.Aliases) & bit) != 0 || texts[i].empty())
                continue;
            std::memcpy(data + offset, texts[i].data(), texts[i].size());
            offset += static_cast<std::uint32_t>(texts[i].size());
        }
        store->SetOffset(plan.Slots, offset);
        return store;
    }

    static std::unique_ptr<TextStore> Build(std::uint8_t slots, const std::string_view* texts) {
        const Layout plan = Plan(slots, texts);
        if (plan.Size == 0)
            return nullptr;
        return std::unique_ptr<TextStore>(Write(::operator new(plan.Size), plan, texts));
    }
};

namespace {

std::array<std::string_view, SlotCountW3C> TextArray(const AccessTexts& t) {
    return {t.DateText,
            t.Address,
            t.HostName.value_or(t.Address),
            t.User,
            t.UserAgent,
            t.Method,
            t.Page,
            t.Protocol,
            t.Referer,
            t.ServerAddress,
            t.ServerHostName.value_or(t.ServerAddress),
            t.SiteName,
            t.ComputerName,
            t.Cookie};
}

} // namespace

// The record and its text block in one allocation: the block follows the object, and the
// record's operator delete frees both.
template <class T>
std::unique_ptr<T> AccessRecord::MakeWithTexts(const AccessTexts& t) {
    const std::array<std::string_view, SlotCountW3C> texts = TextArray(t);
    constexpr LogFormat kind = std::is_same_v<T, W3cRecord> ? LogFormat::W3c : LogFormat::Ncsa;
    const TextStore::Layout plan = TextStore::Plan(SlotCount(kind), texts.data());
    constexpr std::size_t objectSize =
        (sizeof(T) + alignof(TextStore) - 1) / alignof(TextStore) * alignof(TextStore);
    void* memory = ::operator new(objectSize + plan.Size);
    std::unique_ptr<T> record(new (memory) T);
    if (plan.Size != 0) {
        TextStore* store = TextStore::Write(static_cast<char*>(memory) + objectSize, plan, texts.data());
        store->Inline = true;
        record->Texts_.reset(store);
    }
    record->Resolved_ = !EqualsAsciiIgnoreCase(texts[SlotAddress], texts[SlotHostName]);
    return record;
}

std::unique_ptr<NcsaRecord> AccessRecord::MakeNcsa(const AccessTexts& texts) {
    return MakeWithTexts<NcsaRecord>(texts);
}

std::unique_ptr<W3cRecord> AccessRecord::MakeW3c(const AccessTexts& texts) {
    return MakeWithTexts<W3cRecord>(texts);
}

AccessRecord::AccessRecord(LogFormat kind)
    : Kind_(kind) {}

AccessRecord::~AccessRecord() = default;

std::string_view AccessRecord::TextAt(std::uint8_t slot) const {
    return Texts_ ? Texts_->Text(slot) : Defaults[slot];
}

void AccessRecord::AssignSlot(std::uint8_t slot, std::string_view text) {
    std::array<std::string_view, SlotCountW3C> texts{};
    const std::uint8_t slots = SlotCount(Kind_);
    for (std::uint8_t i = 0; i < slots; ++i)
        texts[i] = TextAt(i);
    texts[slot] = text;
    std::unique_ptr<TextStore> store = TextStore::Build(slots, texts.data());
    Texts_ = std::move(store);
    Resolved_ = !EqualsAsciiIgnoreCase(TextAt(SlotAddress), TextAt(SlotHostName));
}

void AccessRecord::AssignTexts(const AccessTexts& t) {
    const std::array<std::string_view, SlotCountW3C> texts = TextArray(t);
    std::unique_ptr<TextStore> store = TextStore::Build(SlotCount(Kind_), texts.data());
    Texts_ = std::move(store);
    Resolved_ = !EqualsAsciiIgnoreCase(TextAt(SlotAddress), TextAt(SlotHostName));
}

std::string_view AccessRecord::DateText() const {
    return TextAt(SlotDateText);
}
void AccessRecord::SetDateText(std::string_view text) {
    AssignSlot(SlotDateText, text);
}
std::string_view AccessRecord::Address() const {
    return TextAt(SlotAddress);
}
void AccessRecord::SetAddress(std::string_view text) {
    AssignSlot(SlotAddress, text);
}
std::string_view AccessRecord::HostName() const {
    return TextAt(SlotHostName);
}
void AccessRecord::SetHostName(std::string_view text) {
    AssignSlot(SlotHostName, text);
}
std::string_view AccessRecord::User() const {
    return TextAt(SlotUser);
}
void AccessRecord::SetUser(std::string_view text) {
    AssignSlot(SlotUser, text);
}
std::string_view AccessRecord::UserAgent() const {
    return TextAt(SlotUserAgent);
}
void AccessRecord::SetUserAgent(std::string_view text) {
    AssignSlot(SlotUserAgent, text);
}
std::string_view AccessRecord::Method() const {
    return TextAt(SlotMethod);
}
void AccessRecord::SetMethod(std::string_view text) {
    AssignSlot(SlotMethod, text);
}
std::string_view AccessRecord::Page() const {
    return TextAt(SlotPage);
}
void AccessRecord::SetPage(std::string_view text) {
    AssignSlot(SlotPage, text);
}
std::string_view AccessRecord::Protocol() const {
    return TextAt(SlotProtocol);
}
void AccessRecord::SetProtocol(std::string_view text) {
    AssignSlot(SlotProtocol, text);
}
std::string_view AccessRecord::Referer() const {
    return TextAt(SlotReferer);
}
void AccessRecord::SetReferer(std::string_view text) {
    AssignSlot(SlotReferer, text);
}

std::string_view W3cRecord::ServerAddress() const {
    return TextAt(SlotServerAddress);
}
void W3cRecord::SetServerAddress(std::string_view text) {
    AssignSlot(SlotServerAddress, text);
}
std::string_view W3cRecord::ServerHostName() const {
    return TextAt(SlotServerHostName);
}
void W3cRecord::SetServerHostName(std::string_view text) {
    AssignSlot(SlotServerHostName, text);
}
std::string_view W3cRecord::SiteName() const {
    return TextAt(SlotSiteName);
}
void W3cRecord::SetSiteName(std::string_view text) {
    AssignSlot(SlotSiteName, text);
}
std::string_view W3cRecord::ComputerName() const {
    return TextAt(SlotComputerName);
}
void W3cRecord::SetComputerName(std::string_view text) {
    AssignSlot(SlotComputerName, text);
}
std::string_view W3cRecord::Cookie() const {
    return TextAt(SlotCookie);
}
void W3cRecord::SetCookie(std::string_view text) {
    AssignSlot(SlotCookie, text);
}

std::string_view AccessRecord::PageWithoutQuery() const {
    const std::string_view page = Page();
    return page.substr(0, page.find('?'));
}

Icon AccessRecord::StatusImage() const {
    return Status >= 400 ? Icon::StatusError : Icon::StatusOk;
}

Icon AccessRecord::BrowserImage() const {
    const std::string_view agent = UserAgent();
    if (ContainsIgnoreCase(agent, "Firefox"))
        return Icon::BrowserFirefox;
    if (ContainsIgnoreCase(agent, "Opera"))
        return Icon::BrowserOpera;
    if (ContainsIgnoreCase(agent, "MSIE"))
        return Icon::BrowserMsie;
    if (ContainsIgnoreCase(agent, "Safari"))
        return Icon::BrowserSafari;
    if (ContainsIgnoreCase(agent, "Neon"))
        return Icon::BrowserNeon;
    return Icon::BrowserOther;
}

Icon AccessRecord::VisitorImage() const {
    if (!IsDocument)
        return Icon::None;
    if (IsSpider)
        return Icon::Spider;
    if (IsBuddy)
        return Icon::Buddy;
    switch (VisitorState) {
    case VisitorKind::Revisitor:
        return Icon::Revisitor;
    case VisitorKind::Known:
        return Icon::KnownVisitor;
    case VisitorKind::New:
        break;
    }
    return Icon::NewVisitor;
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

std::string Dequote(std::string_view token) {
    std::string scratch;
    return std::string(DequoteView(token, scratch));
}

bool ResolveIfWanted(bool resolve, std::string_view address, std::string& hostName) {
    return resolve && ResolveAddress(address, hostName);
}

void SetAddress(AccessRecord& record, std::string_view token, bool resolve) {
    std::string name;
    const bool resolved = ResolveIfWanted(resolve, token, name);
    record.AssignAddressPair(token, resolved ? std::string_view(name) : token);
}

void AccessRecord::AssignAddressPair(std::string_view address, std::string_view hostName) {
    std::array<std::string_view, SlotCountW3C> texts{};
    const std::uint8_t slots = SlotCount(Kind_);
    for (std::uint8_t i = 0; i < slots; ++i)
        texts[i] = TextAt(i);
    texts[SlotAddress] = address;
    texts[SlotHostName] = hostName;
    std::unique_ptr<TextStore> store = TextStore::Build(slots, texts.data());
    Texts_ = std::move(store);
    Resolved_ = !EqualsAsciiIgnoreCase(address, hostName);
}

bool SetBytes(AccessRecord& record, std::string_view token) {
    if (token == "-")
        return true;
    const std::optional<std::int64_t> bytes = ParseInt64(token);
    if (!bytes)
        return false;
    record.Bytes = *bytes;
    return true;
}

} // namespace kavel
