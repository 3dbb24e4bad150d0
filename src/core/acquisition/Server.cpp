#include "acquisition/Server.h"

#include "base/DefinitionFile.h"
#include "base/Text.h"
#include "config/AppSettings.h"
#include "platform/Clock.h"

#include <algorithm>
#include <cstdio>

namespace kavel {

const char* const W3cFieldIdentifiers[W3cFieldCount] = {
    "date",           "time",       "c-ip",         "cs-username",     "s-sitename",
    "s-computername", "s-ip",       "s-port",       "cs-method",       "cs-uri-stem",
    "cs-uri-query",   "cs-status",  "cs-substatus", "sc-win32-status", "sc-bytes",
    "cs-bytes",       "time-taken", "cs-version",   "cs-host",         "cs(User-Agent)",
    "cs(Cookie)",     "cs(Referer)"};

namespace {

constexpr std::size_t FieldsPerLine = 12;

// The text as a field of the servers file holds it, so that reading the line gives back
// exactly what was written: ";", CR and LF would split the field and become blanks; a quote
// that the field does not close would swallow the separators after it, so such an opening
// quote becomes a blank too (pairs of quotes stay); an empty field would vanish and shift
// the others, so it is written as one blank; a "#" at the start of the line would make the
// line a comment, so the line then starts with a blank.
std::string FieldAsWritten(std::string_view text, bool leadsLine) {
    std::string field(text);
    std::replace_if(
        field.begin(), field.end(), [](char c) { return c == ';' || c == '\r' || c == '\n'; }, ' ');
    std::size_t i = 0;
    for (;;) {
        char quote = 0;
        std::size_t opener = 0;
        for (; i < field.size(); ++i) {
            const char c = field[i];
            if (quote != 0) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
                opener = i;
            }
        }
        if (quote == 0)
            break;
        field[opener] = ' ';
        i = opener + 1;
    }
    if (field.empty())
        field = " ";
    if (leadsLine && field.front() == '#')
        field.insert(0, 1, ' ');
    return field;
}

const char* BooleanText(bool value) {
    return value ? "-1" : "0";
}

} // namespace

namespace {
std::atomic<std::uint64_t> LastNameRevision{0};
std::uint64_t NextNameRevision() {
    return LastNameRevision.fetch_add(1, std::memory_order_relaxed) + 1;
}
} // namespace

Server::Server(const SettingsStore* options)
    : NameRevision_(NextNameRevision())
    , TimeDeleteAfter_(OptionTimeDeleteAfter(options))
    , TimeRevisitorAfterMinutes_(OptionTimeRevisitorAfterMinutes(options))
    , TimeLogPollCycleInMs_(OptionTimeLogPollCycleInMs(options)) {}

std::string Server::Name() const {
    std::lock_guard guard(TextLock_);
    return Name_;
}

void Server::SetName(std::string name) {
    std::lock_guard guard(TextLock_);
    Name_ = std::move(name);
    NameRevision_.store(NextNameRevision(), std::memory_order_release);
}

std::string Server::LogFileName() const {
    std::lock_guard guard(TextLock_);
    return LogFileName_;
}

void Server::SetLogFileName(std::string logFileName) {
    std::lock_guard guard(TextLock_);
    LogFileName_ = std::move(logFileName);
}

bool Server::W3cField(int index) const {
    if (index < 0 || index >= W3cFieldCount)
        return false;
    return (W3cFields() >> index & 1u) != 0;
}

void Server::SetW3cField(int index, bool present) {
    if (index < 0 || index >= W3cFieldCount)
        return;
    const std::uint32_t bit = 1u << index;
    if (present)
        W3cFields_.fetch_or(bit, std::memory_order_relaxed);
    else
        W3cFields_.fetch_and(~bit, std::memory_order_relaxed);
}

void Server::SetActive(bool value) {
    Active_.store(value, std::memory_order_release);
    ServerReader* reader = Thread();
    if (reader == nullptr)
        return;
    if (!value) {
        reader->Pause();
        if (TreeNode_ != nullptr)
            TreeNode_->SetServerStatus(ServerStatus::Paused);
    } else if (!LogFileMissing()) {
        reader->Resume();
        if (TreeNode_ != nullptr)
            TreeNode_->SetServerStatus(ServerStatus::Idle);
    }
}

Server& ServerList::Add(std::unique_ptr<Server> server) {
    Items_.push_back(std::move(server));
    return *Items_.back();
}

std::unique_ptr<Server> ServerList::Take(Server* server) {
    const auto it = std::find_if(Items_.begin(), Items_.end(), [server](const std::unique_ptr<Server>& item) {
        return item.get() == server;
    });
    if (it == Items_.end())
        return nullptr;
    const auto index = static_cast<std::size_t>(it - Items_.begin());
    std::unique_ptr<Server> taken = std::move(*it);
    Items_.erase(it);
    for (KeptLine& kept : Kept_)
        if (kept.EntriesBefore > index)
            --kept.EntriesBefore;
    return taken;
}

void ServerList::Clear() {
    Items_.clear();
    Kept_.clear();
}

void ServerList::KeepLine(std::size_t lineNumber, std::string line) {
    Kept_.push_back(KeptLine{Items_.size(), lineNumber, std::move(line)});
}

std::unique_ptr<Server> LineToServer(std::string_view text, const SettingsStore* options) {
    std::vector<std::string> fields;
    ExtractStrings(";", "", text, fields);
    if (fields.size() < 2 || (fields.size() > 2 && fields.size() < FieldsPerLine))
        return nullptr;
    auto server = std::make_unique<Server>(options);
    server->SetName(std::move(fields[0]));
    server->SetLogFileName(std::move(fields[1]));
    if (fields.size() == 2)
        return server;

    std::int32_t numbers[FieldsPerLine] = {};
    bool flags[FieldsPerLine] = {};
    for (std::size_t i = 2; i < FieldsPerLine; ++i) {
        const bool isFlag = i == 7 || i == 9 || i == 11;
        if (isFlag) {
            const auto flag = ParseBoolean(fields[i]);
            if (!flag)
                return nullptr;
            flags[i] = *flag;
        } else {
            const auto number = ParseInt32(fields[i]);
            if (!number)
                return nullptr;
            numbers[i] = *number;
        }
    }
    server->SetTimeDeleteAfter(numbers[2]);
    server->SetTimeLogPollCycleInMs(numbers[3]);
    server->SetLogType(static_cast<LogFormat>(numbers[4]));
    server->SetW3cFields(static_cast<std::uint32_t>(numbers[5]));
    server->SetTimeZone(numbers[6]);
    server->SetActive(flags[7]);
    server->SetTimeRevisitorAfterMinutes(numbers[8]);
    server->SetSoundOnAccess(flags[9]);
    server->SetTimeDeleteAfterUnit(static_cast<KeepUnit>(numbers[10]));
    server->SetPopupOnDocument(flags[11]);
    return server;
}

std::string ServerToLine(const Server& server) {
    std::string line = FieldAsWritten(server.Name(), true);
    const auto add = [&line](std::string_view field) {
        line += ';';
        line += field;
    };
    add(FieldAsWritten(server.LogFileName(), false));
    add(std::to_string(server.TimeDeleteAfter()));
    add(std::to_string(server.TimeLogPollCycleInMs()));
    add(std::to_string(static_cast<std::int32_t>(server.LogType())));
    add(std::to_string(server.W3cFields()));
    add(std::to_string(server.TimeZone()));
    add(BooleanText(server.Active()));
    add(std::to_string(server.TimeRevisitorAfterMinutes()));
    add(BooleanText(server.SoundOnAccess()));
    add(std::to_string(static_cast<std::int32_t>(server.TimeDeleteAfterUnit())));
    add(BooleanText(server.PopupOnDocument()));
    return line;
}

UnreadLines LoadServers(const std::filesystem::path& file, ServerList& list, const SettingsStore* options,
                        const std::function<void(Server&)>& onLoaded) {
    list.Clear();
    const auto lines = ReadDefinitionLines(file);
    // Only a file that was read (or is missing) may be replaced at the end: an unreadable
    // one must not be overwritten by an empty list.
    list.Loaded = true;
    UnreadLines unread;
    if (!lines)
        return unread;
    for (std::size_t i = 0; i < lines->size(); ++i) {
        const std::string& line = (*lines)[i];
        if (line.empty() || line.front() == '#')
            continue;
        auto server = LineToServer(line, options);
        if (!server) {
            list.KeepLine(i + 1, line);
            unread.Add(i + 1);
            continue;
        }
        Server& added = list.Add(std::move(server));
        if (onLoaded)
            onLoaded(added);
    }
    return unread;
}

std::string ServersFileText(const ServerList& list) {
    std::vector<std::string> entryLines;
    entryLines.reserve(list.Count());
    for (const auto& server : list)
        entryLines.push_back(ServerToLine(*server));
    return JoinDefinitionLines(DefinitionFileHeader("Servers", true), entryLines, list.KeptLines());
}

void SaveServers(const std::filesystem::path& file, const ServerList& list) {
    if (!list.Loaded)
        return;
    WriteFileAtomically(file, ServersFileText(list));
}

namespace {

// Replaces every occurrence of placeholder (its letters in any case) by replacement.
void ReplaceAll(std::string& text, std::string_view placeholder, const std::string& replacement) {
    if (text.size() < placeholder.size())
        return;
    std::string result;
    std::size_t i = 0;
    bool replaced = false;
    while (i < text.size()) {
        if (text.size() - i >= placeholder.size() &&
            EqualsAsciiIgnoreCase(std::string_view(text).substr(i, placeholder.size()), placeholder)) {
            result += replacement;
            i += placeholder.size();
            replaced = true;
        } else {
            result += text[i++];
        }
    }
    if (replaced)
        text = std::move(result);
}

std::string Digits(int value, int width) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
    return buffer;
}

} // namespace

std::string ExpandLogFileName(std::string_view logFileName) {
    std::string text(logFileName);
    if (text.find('%') == std::string::npos)
        return text;
    const DateParts now = DecodeDateTime(platform::Now());
    ReplaceAll(text, "%YYYY", Digits(now.Year, 4));
    ReplaceAll(text, "%YY", Digits(now.Year % 100, 2));
    ReplaceAll(text, "%MM", Digits(now.Month, 2));
    ReplaceAll(text, "%M", Digits(now.Month, 1));
    ReplaceAll(text, "%DD", Digits(now.Day, 2));
    ReplaceAll(text, "%D", Digits(now.Day, 1));
    ReplaceAll(text, "%HH", Digits(now.Hour, 2));
    ReplaceAll(text, "%H", Digits(now.Hour, 1));
    ReplaceAll(text, "%NN", Digits(now.Minute, 2));
    ReplaceAll(text, "%N", Digits(now.Minute, 1));
    ReplaceAll(text, "%%", "%");
    return text;
}

} // namespace kavel
