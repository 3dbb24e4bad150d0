#include "parsing/NameList.h"

#include "base/DefinitionFile.h"
#include "base/SnapshotHolder.h"
#include "base/Text.h"

#include <algorithm>
#include <unordered_set>

namespace kavel {

namespace {

using IgnoreCaseHash = FoldedHash<Cp1252Upper>;
using IgnoreCaseEqual = FoldedEqual<Cp1252Upper>;

} // namespace

struct NameList::Snapshot {
    std::vector<std::string> Items;
    std::unordered_set<std::string, IgnoreCaseHash, IgnoreCaseEqual> Folded;
    // The distinct non-empty entries, for the substring test.
    std::vector<std::string> Needles;
    // Needles that differ only in case from the first spelling Folded holds; with Folded it
    // tells a new needle in constant time, and it stays small for ordinary lists.
    std::unordered_set<std::string> CaseVariants;

    Snapshot() = default;
    explicit Snapshot(std::vector<std::string> items)
        : Items(std::move(items)) {
        Folded.reserve(Items.size());
        for (const std::string& item : Items)
            Index(item);
    }

    void Index(const std::string& item) {
        const auto [first, inserted] = Folded.insert(item);
        if (item.empty())
            return;
        if (inserted || (*first != item && CaseVariants.insert(item).second))
            Needles.push_back(item);
    }
};

struct NameList::State {
    SnapshotHolder<Snapshot> Holder{std::make_shared<const Snapshot>()};
};

NameList::NameList(bool lowerCase)
    : State_(std::make_unique<State>())
    , LowerCase_(lowerCase) {}

NameList::~NameList() = default;

void NameList::Add(std::string_view text) {
    std::string item = LowerCase_ ? AsciiLowerCase(text) : std::string(text);
    State_->Holder.Update([&](Snapshot& snapshot) {
        snapshot.Items.push_back(item);
        snapshot.Index(item);
    });
}

void NameList::Assign(std::vector<std::string> items) {
    if (LowerCase_)
        for (std::string& item : items)
            item = AsciiLowerCase(item);
    State_->Holder.Replace(std::make_shared<const Snapshot>(std::move(items)));
}

void NameList::Clear() {
    Assign({});
}

std::vector<std::string> NameList::Items() const {
    return State_->Holder.Share()->Items;
}

std::size_t NameList::Count() const {
    return State_->Holder.Current().Items.size();
}

bool NameList::Contains(std::string_view text) const {
    const Snapshot& snapshot = State_->Holder.Current();
    return snapshot.Folded.find(text) != snapshot.Folded.end();
}

bool NameList::AnyOccursIn(std::string_view text) const {
    const Snapshot& snapshot = State_->Holder.Current();
    for (const std::string& needle : snapshot.Needles)
        if (text.find(needle) != std::string_view::npos)
            return true;
    return false;
}

bool NameList::IsDocumentExtension(std::string_view extension) const {
    const Snapshot& snapshot = State_->Holder.Current();
    if (snapshot.Items.empty())
        return false;
    if (extension.empty())
        return true;
    for (const std::string& needle : snapshot.Needles)
        if (extension.find(needle) != std::string_view::npos)
            return true;
    return false;
}

std::string_view DocumentExtension(std::string_view page) {
    // One backward pass: the last dot counts unless a path delimiter comes after it.
    for (std::size_t i = page.size(); i > 0; --i) {
        const char c = page[i - 1];
        if (c == '.')
            return page.substr(i - 1);
        if (c == '\\' || c == ':')
            break;
    }
    return {};
}

void ClassifyDocument(const DocumentList& documents, AccessRecord& record) {
    const std::string_view extension = DocumentExtension(record.Page());
    thread_local std::string lowered;
    lowered.assign(extension);
    for (char& c : lowered)
        c = AsciiLower(c);
    if (!documents.IsDocumentExtension(lowered))
        return;
    record.IsDocument = true;
}

void ClassifyBuddy(const BuddyList& buddies, AccessRecord& record) {
    record.IsBuddy = buddies.Contains(record.HostName());
}

std::vector<std::string> LoadNameListFile(const std::filesystem::path& file, std::stop_token stop) {
    std::optional<std::vector<std::string>> lines = ReadDefinitionLines(file, stop);
    if (!lines)
        return {};
    std::size_t done = 0;
    for (std::string& line : *lines) {
        for (char& c : line)
            c = AsciiLower(c);
        if ((++done & 0xFFFF) == 0)
            ThrowIfStopped(stop);
    }
    return std::move(*lines);
}

void SaveNameListFile(const std::filesystem::path& file, const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += item;
        text += "\r\n";
    }
    WriteFileAtomically(file, text);
}

} // namespace kavel
