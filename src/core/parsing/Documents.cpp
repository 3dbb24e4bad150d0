#include "parsing/Documents.h"

#include "acquisition/DefinitionFile.h"
#include "acquisition/PoolSystem.h"
#include "parsing/Revisitors.h"
#include "parsing/Snapshot.h"
#include "platform/Paths.h"

#include <algorithm>
#include <unordered_set>

namespace kavel {

namespace {

using TIgnoreCaseHash = TFoldedHash<Cp1252Upper>;
using TIgnoreCaseEqual = TFoldedEqual<Cp1252Upper>;

} // namespace

struct TNameList::TSnapshot {
    std::vector<std::string> Items;
    std::unordered_set<std::string, TIgnoreCaseHash, TIgnoreCaseEqual> Folded;
    // The distinct non-empty entries, for the substring test.
    std::vector<std::string> Needles;

    TSnapshot() = default;
    explicit TSnapshot(std::vector<std::string> items)
        : Items(std::move(items)) {
        for (const std::string& item : Items)
            Index(item);
    }

    void Index(const std::string& item) {
        Folded.insert(item);
        if (!item.empty() && std::find(Needles.begin(), Needles.end(), item) == Needles.end())
            Needles.push_back(item);
    }
};

struct TNameList::TState {
    TSnapshotHolder<TSnapshot> Holder{std::make_shared<const TSnapshot>()};
};

TNameList::TNameList(bool lowerCase)
    : State_(std::make_unique<TState>())
    , LowerCase_(lowerCase) {}

TNameList::~TNameList() = default;

void TNameList::Add(std::string_view text) {
    std::string item = LowerCase_ ? AsciiLowerCase(text) : std::string(text);
    State_->Holder.Update([&](TSnapshot& snapshot) {
        snapshot.Items.push_back(item);
        snapshot.Index(item);
    });
}

void TNameList::Assign(std::vector<std::string> items) {
    if (LowerCase_)
        for (std::string& item : items)
            item = AsciiLowerCase(item);
    State_->Holder.Replace(std::make_shared<const TSnapshot>(std::move(items)));
}

void TNameList::Clear() {
    Assign({});
}

std::vector<std::string> TNameList::Items() const {
    return State_->Holder.Share()->Items;
}

std::size_t TNameList::Count() const {
    return State_->Holder.Current().Items.size();
}

bool TNameList::Contains(std::string_view text) const {
    const TSnapshot& snapshot = State_->Holder.Current();
    return snapshot.Folded.find(text) != snapshot.Folded.end();
}

bool TNameList::AnyOccursIn(std::string_view text) const {
    const TSnapshot& snapshot = State_->Holder.Current();
    for (const std::string& needle : snapshot.Needles)
        if (text.find(needle) != std::string_view::npos)
            return true;
    return false;
}

bool TNameList::IsDocumentExtension(std::string_view extension) const {
    const TSnapshot& snapshot = State_->Holder.Current();
    if (snapshot.Items.empty())
        return false;
    if (extension.empty())
        return true;
    for (const std::string& needle : snapshot.Needles)
        if (extension.find(needle) != std::string_view::npos)
            return true;
    return false;
}

TNameList& Documents() {
    static TNameList list(true);
    return list;
}

TNameList& Buddies() {
    static TNameList list(false);
    return list;
}

std::string_view DocumentExtension(std::string_view page) {
    const std::size_t delimiter = page.find_last_of("\\:");
    const std::string_view name = delimiter == std::string_view::npos ? page : page.substr(delimiter + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

void ClassifyDocument(TFilter& record, const TQueue& entry) {
    const std::string_view extension = DocumentExtension(record.Page());
    thread_local std::string lowered;
    lowered.assign(extension);
    for (char& c : lowered)
        c = AsciiLower(c);
    if (!Documents().IsDocumentExtension(lowered))
        return;
    record.IsDocument = true;
    ApplyRevisitRule(record, entry);
}

void ClassifyBuddy(TFilter& record) {
    record.IsBuddy = Buddies().Contains(record.HostName());
}

void AddDocumentExtension(std::string_view extension) {
    Documents().Add(extension);
}

void AddBuddy(std::string_view hostName) {
    Buddies().Add(hostName);
}

std::vector<std::string> LoadNameListFile(const std::filesystem::path& file) {
    std::optional<std::vector<std::string>> lines = ReadDefinitionLines(file);
    if (!lines)
        return {};
    for (std::string& line : *lines)
        for (char& c : line)
            c = AsciiLower(c);
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

std::vector<std::string> LoadNameList(std::string_view extension) {
    return LoadNameListFile(platform::Paths::DefinitionFile(extension));
}

void SaveNameList(const TNameList& list, std::string_view extension) {
    SaveNameListFile(platform::Paths::DefinitionFile(extension), list.Items());
}

void LoadDocuments() {
    Documents().Assign(LoadNameList(".documents"));
}

void LoadBuddies() {
    Buddies().Assign(LoadNameList(".buddies"));
}

void SaveDocuments() {
    SaveNameList(Documents(), ".documents");
}

void SaveBuddies() {
    SaveNameList(Buddies(), ".buddies");
}

} // namespace kavel
