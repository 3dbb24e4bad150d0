// Any bytes as a spiders, documents, buddies or revisitors file: the loaders read what they
// can, and what they write reads back.

#include "base/DefinitionFile.h"
#include "parsing/NameList.h"
#include "parsing/RevisitorList.h"
#include "parsing/SpiderList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::filesystem::path FuzzFile() {
    static const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("kavel-fuzz-lists-" + std::to_string(::getpid()));
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path file = FuzzFile();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    kavel::SpiderList spiderList;
    kavel::LoadSpiders(file, spiderList);
    const std::vector<kavel::Spider> spiders = spiderList.Items();
    (void)spiderList.Find("crawl.bot.example");
    kavel::SaveSpiders(file, spiderList);
    kavel::LoadSpiders(file, spiderList);
    if (spiderList.Items() != spiders)
        std::abort();

    const std::vector<std::string> names = kavel::LoadNameListFile(file);
    kavel::DocumentList documents;
    kavel::BuddyList buddies;
    documents.Assign(names);
    buddies.Assign(names);
    (void)buddies.Contains("x");
    (void)documents.AnyOccursIn(".html");

    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    kavel::RevisitorList revisitors;
    kavel::LoadRevisitors(file, revisitors);
    kavel::SaveRevisitors(file, revisitors);
    // Every line is written back as read, so a second load gives the same entries.
    kavel::RevisitorList again;
    kavel::LoadRevisitors(file, again);
    if (again.Items() != revisitors.Items())
        std::abort();
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    return 0;
}
