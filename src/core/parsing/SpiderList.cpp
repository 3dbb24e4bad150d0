#include "parsing/SpiderList.h"

#include "base/DefinitionFile.h"
#include "base/SnapshotHolder.h"
#include "base/Text.h"

#include <cstdint>
#include <limits>
#include <mutex>

namespace kavel {

// The list with a trie over the reversed names (ASCII letters lowered): walking a host name
// from its end visits exactly the entries that end it, so a classification costs the length
// of the host name, not the length of the list.
struct SpiderList::Snapshot {
    static constexpr std::uint32_t NoEntry = std::numeric_limits<std::uint32_t>::max();

    struct Node {
        // Smallest list index of an entry whose name ends here.
        std::uint32_t Entry = NoEntry;
        std::uint32_t FirstEdge = 0;
        std::uint32_t EdgeCount = 0;
    };

    std::vector<Spider> Items;
    std::vector<Node> Nodes;
    std::vector<char> EdgeChars;
    std::vector<std::uint32_t> EdgeTargets;

    Snapshot() = default;
    explicit Snapshot(std::vector<Spider> items)
        : Items(std::move(items)) {
        Build();
    }

    void Build() {
        // Built with per-node child lists, then flattened so that a match touches few lines.
        struct BuildNode {
            std::uint32_t Entry = NoEntry;
            std::vector<std::pair<char, std::uint32_t>> Children;
        };
        std::vector<BuildNode> build(1);
        for (std::size_t index = 0; index < Items.size(); ++index) {
            const std::string& name = Items[index].Name;
            std::uint32_t node = 0;
            for (std::size_t i = name.size(); i-- > 0;) {
                const char c = AsciiLower(name[i]);
                std::uint32_t next = NoEntry;
                for (const auto& [edge, target] : build[node].Children)
                    if (edge == c) {
                        next = target;
                        break;
                    }
                if (next == NoEntry) {
                    next = static_cast<std::uint32_t>(build.size());
                    build[node].Children.emplace_back(c, next);
                    build.emplace_back();
                }
                node = next;
            }
            if (build[node].Entry == NoEntry)
                build[node].Entry = static_cast<std::uint32_t>(index);
        }
        Nodes.resize(build.size());
        for (std::size_t i = 0; i < build.size(); ++i) {
            Nodes[i].Entry = build[i].Entry;
            Nodes[i].FirstEdge = static_cast<std::uint32_t>(EdgeChars.size());
            Nodes[i].EdgeCount = static_cast<std::uint32_t>(build[i].Children.size());
            for (const auto& [edge, target] : build[i].Children) {
                EdgeChars.push_back(edge);
                EdgeTargets.push_back(target);
            }
        }
    }

    // List index of the first entry ending hostName, or NoEntry.
    std::uint32_t Match(std::string_view hostName) const {
        if (Nodes.empty())
            return NoEntry;
        std::uint32_t best = Nodes[0].Entry;
        std::uint32_t node = 0;
        for (std::size_t i = hostName.size(); i-- > 0;) {
            const char c = AsciiLower(hostName[i]);
            const Node& current = Nodes[node];
            std::uint32_t next = NoEntry;
            const char* chars = EdgeChars.data() + current.FirstEdge;
            for (std::uint32_t e = 0; e < current.EdgeCount; ++e)
                if (chars[e] == c) {
                    next = EdgeTargets[current.FirstEdge + e];
                    break;
                }
            if (next == NoEntry)
                break;
            node = next;
            if (Nodes[node].Entry < best)
                best = Nodes[node].Entry;
        }
        return best;
    }
};

struct SpiderList::State {
    SnapshotHolder<Snapshot> Holder{std::make_shared<const Snapshot>()};
    mutable std::mutex KeptLock;
    std::vector<KeptLine> Kept;
};

SpiderList::SpiderList()
    : State_(std::make_unique<State>()) {}

SpiderList::~SpiderList() = default;

std::optional<Spider> SpiderList::Find(std::string_view hostName) const {
    const Snapshot& snapshot = State_->Holder.Current();
    const std::uint32_t index = snapshot.Match(hostName);
    if (index == Snapshot::NoEntry)
        return std::nullopt;
    return snapshot.Items[index];
}

void SpiderList::Add(std::string_view name, bool noSpider) {
    State_->Holder.Update([&](Snapshot& snapshot) {
        snapshot.Items.push_back(Spider{std::string(name), noSpider});
        snapshot.Nodes.clear();
        snapshot.EdgeChars.clear();
        snapshot.EdgeTargets.clear();
        snapshot.Build();
    });
}

void SpiderList::Assign(std::vector<Spider> items, std::vector<KeptLine> kept) {
    State_->Holder.Replace(std::make_shared<const Snapshot>(std::move(items)));
    const std::lock_guard guard(State_->KeptLock);
    State_->Kept = std::move(kept);
}

std::vector<KeptLine> SpiderList::KeptLines() const {
    const std::lock_guard guard(State_->KeptLock);
    return State_->Kept;
}

void SpiderList::Clear() {
    Assign({});
}

std::vector<Spider> SpiderList::Items() const {
    return State_->Holder.Share()->Items;
}

std::size_t SpiderList::Count() const {
    return State_->Holder.Share()->Items.size();
}

std::optional<bool> SpiderList::Verdict(std::string_view hostName) const {
    const Snapshot& snapshot = State_->Holder.Current();
    const std::uint32_t index = snapshot.Match(hostName);
    if (index == Snapshot::NoEntry)
        return std::nullopt;
    return !snapshot.Items[index].NoSpider;
}

void ClassifySpider(const SpiderList& spiders, AccessRecord& record) {
    if (const std::optional<bool> verdict = spiders.Verdict(record.HostName()))
        record.IsSpider = *verdict;
}

SpiderLines ReadSpiderLines(const std::vector<std::string>& lines, const std::stop_token& stop) {
    SpiderLines result;
    std::vector<std::string_view> tokens;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if ((i & 0xFFFF) == 0xFFFF)
            ThrowIfStopped(stop);
        if (line.empty() || line[0] == '#')
            continue;
        ExtractStrings(';', line, tokens);
        const std::optional<bool> noSpider = tokens.size() < 2 ? std::nullopt : ParseBoolean(tokens[1]);
        if (!noSpider) {
            result.Kept.push_back(KeptLine{result.Items.size(), i + 1, line});
            result.Unread.Add(i + 1);
            continue;
        }
        result.Items.push_back(Spider{std::string(tokens[0]), *noSpider});
    }
    return result;
}

std::vector<Spider> SpidersFromLines(const std::vector<std::string>& lines) {
    return ReadSpiderLines(lines).Items;
}

std::string SpidersFileText(const std::vector<Spider>& items, const std::vector<KeptLine>& kept) {
    std::vector<std::string> entryLines;
    entryLines.reserve(items.size());
    for (const Spider& spider : items)
        entryLines.push_back(spider.Name + (spider.NoSpider ? ";-1" : ";0"));
    return JoinDefinitionLines(DefinitionFileHeader("Spiders", false), entryLines, kept);
}

UnreadLines LoadSpiders(const std::filesystem::path& file, SpiderList& spiders, std::stop_token stop) {
    std::optional<std::vector<std::string>> lines = ReadDefinitionLines(file, stop);
    if (!lines)
        return {};
    SpiderLines read = ReadSpiderLines(*lines, stop);
    spiders.Assign(std::move(read.Items), std::move(read.Kept));
    return read.Unread;
}

void SaveSpiders(const std::filesystem::path& file, const SpiderList& spiders) {
    WriteFileAtomically(file, SpidersFileText(spiders.Items(), spiders.KeptLines()));
}

} // namespace kavel
