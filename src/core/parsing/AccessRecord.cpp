#include "parsing/AccessRecord.h"

#include "base/LineBlocks.h"
#include "base/Text.h"
#include "net/ReverseLookup.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <type_traits>

namespace kavel {

namespace {

// The number of texts in a slot mask. std::popcount becomes a library call on the baseline
// x86-64 instruction set, and the slot index is taken on every text access.
constexpr std::size_t SlotCount(std::uint32_t mask) {
    mask = mask - ((mask >> 1) & 0x55555555u);
    mask = (mask & 0x33333333u) + ((mask >> 2) & 0x33333333u);
    return static_cast<std::size_t>((((mask + (mask >> 4)) & 0x0F0F0F0Fu) * 0x01010101u) >> 24);
}
static_assert(SlotCount(0) == 0 && SlotCount(0x3FFF) == 14 && SlotCount(0x2A41) == 5);

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
    SlotCountW3c,
    // What follows the date text when it is kept in two pieces (the NCSA zone offset, which
    // the line keeps apart from the date by a blank): stored after every other slot.
    SlotDateTail = SlotCountW3c,
    SlotCountAll
};
constexpr std::uint8_t SlotCountNCSA = SlotServerAddress;

constexpr std::array<std::string_view, SlotCountAll> Defaults = {
    "??.??.?? ??:??:??", "", "", "-", "-", "", "", "?", "-", "", "", "?", "?", "-", ""};

// Texts so frequent that a slot holding one keeps only a bit: a request's usual method and
// protocol.
constexpr std::array<std::string_view, SlotCountAll> Commons = {"", "", "", "", "", "GET", "", "HTTP/1.1",
                                                                "", "", "", "", "", "",    ""};

using SlotTexts = std::array<std::string_view, SlotCountAll>;

// The slots of a record with slots field slots, the date tail included.
constexpr std::uint16_t AllSlots(std::uint8_t slots) {
    return static_cast<std::uint16_t>(((1u << slots) - 1u) | (1u << SlotDateTail));
}

std::uint8_t SlotCount(LogFormat kind) {
    return kind == LogFormat::W3c ? static_cast<std::uint8_t>(SlotCountW3c) : SlotCountNCSA;
}

} // namespace

// One allocation holding where every text of a record is: a slice of the line or bytes of the
// side block that follows the slot table. The table holds a begin and a size (16 or 32 bits
// wide) for each slot whose text is neither its default nor an alias, in slot order; begins
// below LineSize are in the line, the others in the side block. Texts equal to their defaults
// take no bytes, and a host name equal to its address is not stored twice.
//
// A placed record's block keeps no pointer to the line: the line follows the block (entry,
// record, block, line in one allocation), or its key is read from the entry before the record.
// Other blocks keep a pointer to it after the header.
struct AccessRecord::TextStore {
    std::uint32_t LineSize = 0;
    // Bytes of the whole store, header included.
    std::uint32_t Size = 0;
    std::uint16_t DefaultMask = 0;
    std::uint16_t AliasMask = 0;
    // Slots that hold their Commons text.
    std::uint16_t CommonMask = 0;
    // Where the line's key is kept, and the store's own bits.
    enum : std::uint8_t {
        // Table values are 32 bits wide, not 16.
        WideBit = 1,
        // The block lives in the record's own allocation.
        InlineBit = 2,
        // The line begins right after the block's Size bytes.
        LineFollowsBit = 4,
        // The line's key is kept in a pointer KeyUnits pointers before the block (the
        // entry's); else, unless the line follows, a pointer to it follows the header.
        KeyBehindBit = 8,
        // A W3C record's slots; else an NCSA record's.
        W3cSlotsBit = 16,
        // The side texts follow the line's bytes (in its line block, compressed with it)
        // rather than the table: every begin counts from the line.
        SideWithLineBit = 32,
    };
    std::uint8_t Flags = 0;
    // How far before the block the line's key is kept, in units of a pointer.
    std::uint8_t KeyUnits = 0;

    std::uint8_t Slots() const {
        return (Flags & W3cSlotsBit) != 0 ? static_cast<std::uint8_t>(SlotCountW3c) : SlotCountNCSA;
    }
    // Slots whose texts the table does not hold.
    unsigned Elided() const { return static_cast<unsigned>(DefaultMask | AliasMask | CommonMask); }

    bool Wide() const { return (Flags & WideBit) != 0; }
    bool Inline() const { return (Flags & InlineBit) != 0; }
    bool LineFollows() const { return (Flags & LineFollowsBit) != 0; }
    bool KeyBehind() const { return (Flags & KeyBehindBit) != 0; }
    bool SideWithLine() const { return (Flags & SideWithLineBit) != 0; }
    void SetFlag(std::uint8_t bit, bool on) {
        Flags = static_cast<std::uint8_t>(on ? Flags | bit : Flags & ~bit);
    }

    static void operator delete(TextStore* p, std::destroying_delete_t) {
        const bool inlined = p->Inline();
        p->~TextStore();
        if (!inlined)
            ::operator delete(p);
    }

    // Bytes of the pointer to the line after the header.
    std::size_t PointerBytes() const { return LineFollows() || KeyBehind() ? 0 : sizeof(const char*); }
    std::uint16_t Present() const { return static_cast<std::uint16_t>(AllSlots(Slots()) & ~Elided()); }
    std::size_t TableSize() const { return SlotCount(Present()) * (Wide() ? 8u : 4u); }
    const unsigned char* Table() const {
        return reinterpret_cast<const unsigned char*>(this + 1) + PointerBytes();
    }
    unsigned char* Table() { return reinterpret_cast<unsigned char*>(this + 1) + PointerBytes(); }
    const char* Side() const { return reinterpret_cast<const char*>(Table() + TableSize()); }

    // The line as it is known: where it follows, or the pointer kept (a line block's key).
    const char* StoredLine() const {
        if (LineFollows())
            return reinterpret_cast<const char*>(this) + Size;
        const char* line;
        if (KeyBehind())
            std::memcpy(&line, reinterpret_cast<const char*>(this) - KeyUnits * sizeof line, sizeof line);
        else
            std::memcpy(&line, this + 1, sizeof line);
        return line;
    }
    // Its bytes, for a line in a block those of the block held by the reader's pin.
    const char* Line() const { return LineBytes(StoredLine()); }
    void SetLinePointer(const char* line) { std::memcpy(static_cast<void*>(this + 1), &line, sizeof line); }

    std::uint32_t Value(std::size_t i) const {
        if (Wide()) {
            std::uint32_t v;
            std::memcpy(&v, Table() + 4 * i, 4);
            return v;
        }
        std::uint16_t v;
        std::memcpy(&v, Table() + 2 * i, 2);
        return v;
    }
    void SetValue(std::size_t i, std::uint32_t value) {
        if (Wide()) {
            std::memcpy(Table() + 4 * i, &value, 4);
        } else {
            const auto v = static_cast<std::uint16_t>(value);
            std::memcpy(Table() + 2 * i, &v, 2);
        }
    }

    std::string_view Text(std::uint8_t slot) const {
        if ((AliasMask & (1u << slot)) != 0)
            slot = slot == SlotServerHostName ? SlotServerAddress : SlotAddress;
        if ((AllSlots(Slots()) & (1u << slot)) == 0 || (DefaultMask & (1u << slot)) != 0)
            return Defaults[slot];
        if ((CommonMask & (1u << slot)) != 0)
            return Commons[slot];
        const std::size_t index = SlotCount(Present() & ((1u << slot) - 1u));
        const std::uint32_t begin = Value(2u * index);
        const std::uint32_t size = Value(2u * index + 1u);
        if (size == 0)
            return {};
        return {begin < LineSize || SideWithLine() ? Line() + begin : Side() + (begin - LineSize), size};
    }

    // The side texts as they lie after the table: the bytes that a line-with-side keeps after
    // the line.
    std::string_view SideTexts() const {
        if (SideWithLine())
            return {};
        std::uint32_t total = 0;
        const std::size_t present = SlotCount(Present());
        for (std::size_t i = 0; i < present; ++i)
            if (Value(2u * i) >= LineSize)
                total += Value(2u * i + 1u);
        return {Side(), total};
    }

    struct Layout {
        std::uint8_t Slots = 0;
        std::uint16_t Defaults = 0;
        std::uint16_t Aliases = 0;
        std::uint16_t Commons = 0;
        // Slots whose text is a slice of the line.
        std::uint16_t Slices = 0;
        std::size_t SideTotal = 0;
        bool Wide = false;
        // Bytes of the block with a line pointer; 0 when every text is its default.
        std::size_t Size = 0;
    };

    static constexpr std::size_t Aligned(std::size_t size) {
        return (size + alignof(TextStore) - 1) / alignof(TextStore) * alignof(TextStore);
    }

    static bool Inside(std::string_view text, std::string_view line) {
        return !text.empty() && !line.empty() && std::less_equal<>()(line.data(), text.data()) &&
               std::less_equal<>()(text.data() + text.size(), line.data() + line.size());
    }

    static Layout Plan(std::uint8_t slots, const std::string_view* texts, std::string_view line) {
        Layout plan;
        plan.Slots = slots;
        for (std::uint8_t i = 0; i < SlotCountAll; ++i) {
            const auto bit = static_cast<std::uint16_t>(1u << i);
            if ((AllSlots(slots) & bit) == 0)
                continue;
            if (texts[i] == Defaults[i]) {
                plan.Defaults = static_cast<std::uint16_t>(plan.Defaults | bit);
            } else if (!Commons[i].empty() && texts[i] == Commons[i]) {
                plan.Commons = static_cast<std::uint16_t>(plan.Commons | bit);
            } else if ((i == SlotHostName || i == SlotServerHostName) && texts[i] == texts[i - 1]) {
                plan.Aliases = static_cast<std::uint16_t>(plan.Aliases | bit);
            } else if (Inside(texts[i], line)) {
                plan.Slices = static_cast<std::uint16_t>(plan.Slices | bit);
            } else {
                plan.SideTotal += texts[i].size();
            }
        }
        if (plan.SideTotal == 0 && plan.Aliases == 0 && plan.Commons == 0 && plan.Defaults == AllSlots(slots))
            return plan;
        plan.Wide = line.size() + plan.SideTotal > 0xFFFF;
        const std::size_t present =
            SlotCount(AllSlots(slots) & ~static_cast<unsigned>(plan.Defaults | plan.Aliases | plan.Commons));
        plan.Size = Aligned(sizeof(TextStore) + sizeof(const char*) + present * (plan.Wide ? 8u : 4u) +
                            plan.SideTotal);
        return plan;
    }

    // A block with a line pointer, Plan's Size bytes.
    // lineKey is what the block keeps of the line (its bytes, or its block's key).
    static TextStore* Write(void* memory, const Layout& plan, const std::string_view* texts,
                            std::string_view line, const char* lineKey) {
        TextStore* store = new (memory) TextStore;
        store->LineSize = plan.Slices != 0 ? static_cast<std::uint32_t>(line.size()) : 0;
        store->Size = static_cast<std::uint32_t>(plan.Size);
        store->DefaultMask = plan.Defaults;
        store->AliasMask = plan.Aliases;
        store->CommonMask = plan.Commons;
        store->SetFlag(W3cSlotsBit, plan.Slots == SlotCountW3c);
        store->SetFlag(WideBit, plan.Wide);
        store->SetLinePointer(plan.Slices != 0 ? lineKey : nullptr);
        char* side = reinterpret_cast<char*>(store->Table() + store->TableSize());
        std::uint32_t offset = 0;
        std::size_t index = 0;
        for (std::uint8_t i = 0; i < SlotCountAll; ++i) {
            const auto bit = static_cast<std::uint16_t>(1u << i);
            if ((AllSlots(plan.Slots) & bit) == 0 ||
                ((plan.Defaults | plan.Aliases | plan.Commons) & bit) != 0)
                continue;
            std::uint32_t begin = 0;
            if ((plan.Slices & bit) != 0) {
                begin = static_cast<std::uint32_t>(texts[i].data() - line.data());
            } else if (!texts[i].empty()) {
                std::memcpy(side + offset, texts[i].data(), texts[i].size());
                begin = store->LineSize + offset;
                offset += static_cast<std::uint32_t>(texts[i].size());
            }
            store->SetValue(2u * index, begin);
            store->SetValue(2u * index + 1u, static_cast<std::uint32_t>(texts[i].size()));
            ++index;
        }
        return store;
    }

    // Bytes of a copy: no pointer to the line is kept in it, nor, sideWithLine, its side texts.
    std::size_t PlacedSize(bool sideWithLine) const {
        static_assert(sizeof(TextStore) == 16, "the header of a record's texts grew");
        if (sideWithLine)
            return Aligned(sizeof(TextStore) + TableSize());
        return Size - PointerBytes();
    }

    // The copy at memory, the line right after its PlacedSize bytes or its key kept at
    // lineKeyAt, a pointer-aligned place at most 255 pointers before memory; sideWithLine, its
    // side texts follow the line (the caller puts them there).
    TextStore* PlaceCopy(void* memory, const char* const* lineKeyAt, bool sideWithLine) const {
        const std::size_t tableBytes = sideWithLine ? TableSize() : PlacedSize(false) - sizeof(TextStore);
        TextStore* copy = new (memory) TextStore(*this);
        copy->Size = static_cast<std::uint32_t>(PlacedSize(sideWithLine));
        copy->SetFlag(InlineBit, true);
        copy->SetFlag(LineFollowsBit, lineKeyAt == nullptr);
        copy->SetFlag(KeyBehindBit, lineKeyAt != nullptr);
        copy->SetFlag(SideWithLineBit, sideWithLine);
        if (lineKeyAt != nullptr) {
            const std::ptrdiff_t back =
                static_cast<const char*>(memory) - reinterpret_cast<const char*>(lineKeyAt);
            constexpr auto unit = static_cast<std::ptrdiff_t>(sizeof(const char*));
            if (back < unit || back > 0xFF * unit || back % unit != 0)
                throw std::invalid_argument("the line's key is not kept shortly before the record's texts");
            copy->KeyUnits = static_cast<std::uint8_t>(back / unit);
        }
        std::memcpy(copy->Table(), Table(), tableBytes);
        return copy;
    }

    static std::unique_ptr<TextStore> Build(std::uint8_t slots, const std::string_view* texts,
                                            std::string_view line, const char* lineKey) {
        const Layout plan = Plan(slots, texts, line);
        if (plan.Size == 0)
            return nullptr;
        return std::unique_ptr<TextStore>(Write(::operator new(plan.Size), plan, texts, line, lineKey));
    }
};

namespace {

SlotTexts TextArray(const AccessTexts& t) {
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
            t.Cookie,
            t.DateTextTail};
}

} // namespace

namespace {

// Drafts of the calling thread: one at a time, reused from line to line.
struct DraftSpace {
    std::unique_ptr<std::max_align_t[]> Memory;
    std::size_t Size = 0;

    void* Reserve(std::size_t bytes) {
        if (bytes > Size) {
            const std::size_t units = (bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
            Memory = std::make_unique<std::max_align_t[]>(units * 2);
            Size = units * 2 * sizeof(std::max_align_t);
        }
        return Memory.get();
    }
};

DraftSpace& ThreadDraftSpace() {
    thread_local DraftSpace space;
    return space;
}

// The bytes of a record before its text block, which holds 32-bit numbers and perhaps a pointer.
template <class T>
constexpr std::size_t ObjectSize() {
    constexpr std::size_t align = std::max(alignof(T), alignof(const char*));
    return (sizeof(T) + align - 1) / align * align;
}
// The numbers and flags of every queued access; a layout that grows costs every entry.
static_assert(sizeof(void*) != 8 || (ObjectSize<NcsaRecord>() == 24 && ObjectSize<W3cRecord>() == 56));

} // namespace

// The record and its text block in one allocation: the block follows the object, and the
// record's operator delete frees both.
template <class T>
std::unique_ptr<T> AccessRecord::MakeWithTexts(const AccessTexts& t, std::string_view line, bool draft) {
    const SlotTexts texts = TextArray(t);
    constexpr LogFormat kind = std::is_same_v<T, W3cRecord> ? LogFormat::W3c : LogFormat::Ncsa;
    const TextStore::Layout plan = TextStore::Plan(SlotCount(kind), texts.data(), line);
    constexpr std::size_t objectSize = ObjectSize<T>();
    void* memory =
        draft ? ThreadDraftSpace().Reserve(objectSize + plan.Size) : ::operator new(objectSize + plan.Size);
    std::unique_ptr<T> record(new (memory) T);
    record->Placement_ = draft ? Placement::Draft : Placement::Heap;
    if (plan.Size != 0) {
        TextStore* store =
            TextStore::Write(static_cast<char*>(memory) + objectSize, plan, texts.data(), line, line.data());
        store->SetFlag(TextStore::InlineBit, true);
        record->Texts_.reset(store);
    }
    record->Resolved_ = !EqualsAsciiIgnoreCase(texts[SlotAddress], texts[SlotHostName]);
    return record;
}

std::unique_ptr<NcsaRecord> AccessRecord::MakeNcsa(const AccessTexts& texts) {
    return MakeWithTexts<NcsaRecord>(texts, {}, false);
}

std::unique_ptr<W3cRecord> AccessRecord::MakeW3c(const AccessTexts& texts) {
    return MakeWithTexts<W3cRecord>(texts, {}, false);
}

std::unique_ptr<NcsaRecord> AccessRecord::DraftNcsa(const AccessTexts& texts, std::string_view line) {
    return MakeWithTexts<NcsaRecord>(texts, line, true);
}

std::unique_ptr<W3cRecord> AccessRecord::DraftW3c(const AccessTexts& texts, std::string_view line) {
    return MakeWithTexts<W3cRecord>(texts, line, true);
}

void AccessRecord::operator delete(AccessRecord* p, std::destroying_delete_t) {
    const bool owned = p->Placement_ == Placement::Heap;
    p->~AccessRecord();
    if (owned)
        ::operator delete(p);
}

std::string_view AccessRecord::SideTextsFor(std::string_view line) const {
    if (!Texts_ || Texts_->LineSize != line.size() || line.empty() || Texts_->Line() != line.data())
        return {};
    return Texts_->SideTexts();
}

std::size_t AccessRecord::PlacedSize(bool sideWithLine) const {
    const std::size_t object = Kind() == LogFormat::W3c ? ObjectSize<W3cRecord>() : ObjectSize<NcsaRecord>();
    return object + (Texts_ ? Texts_->PlacedSize(sideWithLine) : 0u);
}

AccessRecord* AccessRecord::PlaceCopy(void* memory, const char* const* lineKeyAt, bool sideWithLine) const {
    AccessRecord* copy = nullptr;
    std::size_t object = 0;
    if (Kind() == LogFormat::W3c) {
        auto* w3c = new (memory) W3cRecord;
        const auto& self = static_cast<const W3cRecord&>(*this);
        w3c->ServerPort = self.ServerPort;
        w3c->SubStatus = self.SubStatus;
        w3c->Win32Status = self.Win32Status;
        w3c->BytesReceived = self.BytesReceived;
        w3c->TimeTaken = self.TimeTaken;
        copy = w3c;
        object = ObjectSize<W3cRecord>();
    } else {
        copy = new (memory) NcsaRecord;
        object = ObjectSize<NcsaRecord>();
    }
    copy->Placement_ = Placement::Placed;
    copy->Status = Status;
    copy->Bytes = Bytes;
    copy->IsDocument = IsDocument;
    copy->VisitorState = VisitorState;
    copy->IsSpider = IsSpider;
    copy->IsBuddy = IsBuddy;
    copy->Resolved_ = Resolved_;
    copy->RequestFacts_ = RequestFacts_;
    if (Texts_)
        copy->Texts_.reset(Texts_->PlaceCopy(static_cast<char*>(memory) + object, lineKeyAt, sideWithLine));
    return copy;
}

AccessRecord::AccessRecord(LogFormat kind)
    : Kind_(kind == LogFormat::W3c ? 1 : 0) {}

AccessRecord::~AccessRecord() = default;

// The line the current texts slice, so that a reassigned record keeps its slices.
std::string_view AccessRecord::LineOfTexts() const {
    if (!Texts_ || Texts_->LineSize == 0)
        return {};
    return {Texts_->Line(), Texts_->LineSize};
}

const char* AccessRecord::LineKeyOfTexts() const {
    return Texts_ && Texts_->LineSize != 0 ? Texts_->StoredLine() : nullptr;
}

std::string_view AccessRecord::TextAt(std::uint8_t slot) const {
    return Texts_ ? Texts_->Text(slot) : Defaults[slot];
}

std::array<std::string_view, AccessRecord::SlotArraySize> AccessRecord::CurrentTexts() const {
    static_assert(SlotArraySize == SlotCountAll);
    SlotTexts texts{};
    const std::uint8_t slots = SlotCount(Kind());
    for (std::uint8_t i = 0; i < slots; ++i)
        texts[i] = TextAt(i);
    texts[SlotDateTail] = TextAt(SlotDateTail);
    return texts;
}

void AccessRecord::AssignSlot(std::uint8_t slot, std::string_view text) {
    SlotTexts texts = CurrentTexts();
    texts[slot] = text;
    // A date text assigned whole replaces both pieces.
    if (slot == SlotDateText)
        texts[SlotDateTail] = {};
    const std::uint8_t slots = SlotCount(Kind());
    std::unique_ptr<TextStore> store = TextStore::Build(slots, texts.data(), LineOfTexts(), LineKeyOfTexts());
    Texts_ = std::move(store);
    RequestFacts_ = 0;
    Resolved_ = !EqualsAsciiIgnoreCase(TextAt(SlotAddress), TextAt(SlotHostName));
}

void AccessRecord::AssignTexts(const AccessTexts& t) {
    const SlotTexts texts = TextArray(t);
    std::unique_ptr<TextStore> store =
        TextStore::Build(SlotCount(Kind()), texts.data(), LineOfTexts(), LineKeyOfTexts());
    Texts_ = std::move(store);
    RequestFacts_ = 0;
    Resolved_ = !EqualsAsciiIgnoreCase(TextAt(SlotAddress), TextAt(SlotHostName));
}

std::string AccessRecord::DateText() const {
    const std::string_view head = TextAt(SlotDateText);
    const std::string_view tail = TextAt(SlotDateTail);
    std::string text;
    text.reserve(head.size() + tail.size());
    text.append(head).append(tail);
    return text;
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

// The first of the names, in this order, that occurs in the agent ignoring case decides. One pass
// over the agent finds them all: the overview asks every counted access. The names are ASCII
// letters, and the code page folds no other byte to an ASCII letter, so folding ASCII alone
// finds what folding by the code page finds.
BrowserKind AccessRecord::Browser() const {
    const std::string_view agent = UserAgent();
    struct Name {
        std::string_view Text;
        BrowserKind Browser;
    };
    static constexpr Name Names[] = {{"FIREFOX", BrowserKind::Firefox},
                                     {"OPERA", BrowserKind::Opera},
                                     {"MSIE", BrowserKind::Msie},
                                     {"SAFARI", BrowserKind::Safari},
                                     {"NEON", BrowserKind::Neon}};
    std::size_t best = std::size(Names);
    for (std::size_t i = 0; i < agent.size(); ++i) {
        std::size_t name = 0;
        switch (AsciiUpper(agent[i])) {
        case 'F':
            name = 0;
            break;
        case 'O':
            name = 1;
            break;
        case 'M':
            name = 2;
            break;
        case 'S':
            name = 3;
            break;
        case 'N':
            name = 4;
            break;
        default:
            continue;
        }
        const std::string_view text = Names[name].Text;
        if (name < best && agent.size() - i >= text.size() &&
            EqualsAsciiIgnoreCase(agent.substr(i, text.size()), text)) {
            best = name;
            if (best == 0)
                break;
        }
    }
    return best < std::size(Names) ? Names[best].Browser : BrowserKind::Other;
}

VisitorMark AccessRecord::Visitor() const {
    if (!IsDocument)
        return VisitorMark::None;
    if (IsSpider)
        return VisitorMark::Spider;
    if (IsBuddy)
        return VisitorMark::Buddy;
    switch (VisitorState) {
    case VisitorKind::Revisitor:
        return VisitorMark::Revisitor;
    case VisitorKind::Known:
        return VisitorMark::Known;
    case VisitorKind::New:
        break;
    }
    return VisitorMark::New;
}

void SetAddressLookingUpName(AccessRecord& record, std::string_view token, NameCache* names) {
    std::string name;
    const bool resolved = names != nullptr && names->Resolve(token, name);
    record.AssignAddressPair(token, resolved ? std::string_view(name) : token);
}

void AccessRecord::AssignAddressPair(std::string_view address, std::string_view hostName) {
    SlotTexts texts = CurrentTexts();
    const std::uint8_t slots = SlotCount(Kind());
    texts[SlotAddress] = address;
    texts[SlotHostName] = hostName;
    std::unique_ptr<TextStore> store = TextStore::Build(slots, texts.data(), LineOfTexts(), LineKeyOfTexts());
    Texts_ = std::move(store);
    Resolved_ = !EqualsAsciiIgnoreCase(address, hostName);
}

} // namespace kavel
