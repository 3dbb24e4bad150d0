#pragma once

#include "parsing/AccessRecord.h"

#include <filesystem>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

// A plain ordered word list (documents: page extensions; buddies: host names). Duplicates
// are kept. Reader threads classify while the main thread appends: every change publishes a
// new immutable snapshot, so readers neither see a half-made list nor wait for each other.
class NameList {
public:
    // lowerCase: entries are held with ASCII letters in lower case (the documents list).
    explicit NameList(bool lowerCase = false);
    ~NameList();
    NameList(const NameList&) = delete;
    NameList& operator=(const NameList&) = delete;

    void Add(std::string_view text);
    // Replaces the whole list.
    void Assign(std::vector<std::string> items);
    void Clear();
    std::vector<std::string> Items() const;
    std::size_t Count() const;
    bool Empty() const { return Count() == 0; }
    // Whether some entry equals text, compared ignoring case (Windows-1252).
    bool Contains(std::string_view text) const;
    // Whether some non-empty entry occurs inside text (case-sensitive).
    bool AnyOccursIn(std::string_view text) const;
    // The document test of an extension whose ASCII letters are lowered: false for an empty
    // list; else true when the extension is empty or some entry occurs inside it.
    bool IsDocumentExtension(std::string_view extension) const;

    struct Snapshot;

private:
    struct State;
    std::unique_ptr<State> State_;
    bool LowerCase_;
};

// Page extensions that make an access a document; held in lower case.
class DocumentList final : public NameList {
public:
    DocumentList()
        : NameList(true) {}
};

// Host names of the user's friends.
class BuddyList final : public NameList {
public:
    BuddyList()
        : NameList(false) {}
};

// Extension of a page: from the last "." of the text after the last backslash or colon to
// the end; empty when that text has no ".". Slashes do not delimit.
std::string_view DocumentExtension(std::string_view page);

// Sets IsDocument by the documents list; the revisit rule that gives a document its
// VisitorState needs the queue and runs after the parser.
void ClassifyDocument(const DocumentList& documents, AccessRecord& record);
// Sets IsBuddy: the buddies list holds the record's HostName, compared ignoring case.
void ClassifyBuddy(const BuddyList& buddies, AccessRecord& record);

// Every line of the file is an entry, ASCII letters lowered; empty when the file does not
// exist. Throws std::system_error when it exists but cannot be read, LoadStoppedError once
// stop is requested.
std::vector<std::string> LoadNameListFile(const std::filesystem::path& file, std::stop_token stop = {});
// Writes each entry followed by CR LF, replacing the file; throws std::system_error.
void SaveNameListFile(const std::filesystem::path& file, const std::vector<std::string>& items);
} // namespace kavel
