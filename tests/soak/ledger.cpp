#include "ledger.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <set>

#include "data/csvreader.h"
#include "data/logformat.h"
#include "platform/fileops.h"

namespace vantrel::soak {

namespace {

// The value of the first "key=" line of a client data file.
std::optional<std::string> ValueOf(const std::string& text, const std::string& key) {
    const std::string prefix = key + "=";
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind(prefix, 0) == 0)
            return line.substr(prefix.size());
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return std::nullopt;
}

std::optional<unsigned long> NumberOf(const std::string& text) {
    std::optional<std::string> value = ValueOf(text, "wu_number");
    if (!value || value->empty() || value->find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::strtoul(value->c_str(), nullptr, 10);
}

// "wu-000123.orv" or "wu-000123-2.orv": the number.
std::optional<unsigned long> NumberOfReceivedFile(const std::string& name) {
    if (name.rfind("wu-", 0) != 0 || name.size() < 8 || name.substr(name.size() - 4) != ".orv")
        return std::nullopt;
    std::string digits = name.substr(3, name.find_first_not_of("0123456789", 3) - 3);
    if (digits.empty())
        return std::nullopt;
    return std::strtoul(digits.c_str(), nullptr, 10);
}

std::optional<unsigned> InstanceNumber(const std::string& name) {
    if (name.empty() || name[0] == '0' || name.find_first_not_of("0123456789") != std::string::npos ||
        name.size() > 9)
        return std::nullopt;
    return static_cast<unsigned>(std::strtoul(name.c_str(), nullptr, 10));
}

} // namespace

ServerRecord ReadServer(const std::string& serverDir) {
    ServerRecord server;
    std::string counter = platform::ReadFileText(platform::JoinPath(serverDir, "wu_counter.txt")).value_or("0");
    server.handedOut = std::strtoul(counter.c_str(), nullptr, 10);
    const std::string received = platform::JoinPath(serverDir, "received");
    for (const platform::DirEntry& entry : platform::ListDirectory(received)) {
        std::optional<unsigned long> number = NumberOfReceivedFile(entry.name);
        if (!number) {
            // The server's own temporary names are gone once it has answered.
            server.problems.push_back("received/" + entry.name + " is no result file");
            continue;
        }
        ++server.copies[*number];
        std::string text = platform::ReadFileText(platform::JoinPath(received, entry.name)).value_or("");
        if (NumberOf(text) != number)
            server.problems.push_back("received/" + entry.name + " holds another work unit");
        if (!server.names.contains(*number))
            server.names[*number] = ValueOf(text, "name").value_or("");
    }
    return server;
}

CacheRecord ReadCache(const std::string& programDir) {
    CacheRecord cache;
    for (const platform::DirEntry& entry : platform::ListDirectory(programDir)) {
        std::optional<unsigned> n = entry.isDirectory ? InstanceNumber(entry.name) : std::nullopt;
        if (!n)
            continue;
        cache.directories.push_back(*n);
        const std::string dir = platform::JoinPath(programDir, entry.name);
        std::optional<unsigned long> workUnitNumber;
        bool holdsWork = false;
        for (const char* file : {"work_unit.orv", "result.orv"}) {
            std::optional<std::string> text = platform::ReadFileText(platform::JoinPath(dir, file));
            if (!text)
                continue;
            holdsWork = true;
            std::optional<unsigned long> number = NumberOf(*text);
            const bool isResult = std::string(file) == "result.orv";
            // A run stopped between writing its result and deleting its work unit leaves both.
            if (number && isResult && workUnitNumber == number)
                continue;
            if (!isResult)
                workUnitNumber = number;
            cache.places[number.value_or(0)].push_back(
                {entry.name + "/" + file, isResult, ValueOf(*text, "name").value_or("")});
        }
        if (!holdsWork && platform::PathExists(platform::JoinPath(dir, "wtemp.orv")))
            ++cache.partials;
        if (platform::PathExists(platform::JoinPath(dir, "stop_after_send.txt")))
            ++cache.retired;
    }
    std::sort(cache.directories.begin(), cache.directories.end());
    return cache;
}

std::vector<unsigned> InstanceDirectories(const std::string& programDir) {
    std::vector<unsigned> directories;
    for (const platform::DirEntry& entry : platform::ListDirectory(programDir))
        if (std::optional<unsigned> n = entry.isDirectory ? InstanceNumber(entry.name) : std::nullopt)
            directories.push_back(*n);
    std::sort(directories.begin(), directories.end());
    return directories;
}

bool IsCacheEmptied(const std::string& programDir) {
    for (unsigned n : InstanceDirectories(programDir))
        for (const char* file : {"work_unit.orv", "result.orv", "wtemp.orv"})
            if (platform::PathExists(platform::JoinPath(platform::JoinPath(programDir, std::to_string(n)), file)))
                return false;
    return true;
}

bool IsGapFree(const CacheRecord& cache) {
    for (std::size_t i = 0; i < cache.directories.size(); ++i)
        if (cache.directories[i] != i + 1)
            return false;
    return true;
}

std::vector<std::string> FindLostWork(const ServerRecord& server, const CacheRecord& cache) {
    std::vector<std::string> problems = server.problems;
    auto placesOf = [&](unsigned long number) {
        auto it = cache.places.find(number);
        return it == cache.places.end() ? std::vector<Place>{} : it->second;
    };
    auto describe = [](const std::vector<Place>& places) {
        std::string text;
        for (const Place& place : places)
            text += (text.empty() ? "" : ", ") + place.where;
        return text;
    };
    for (unsigned long k = 1; k <= server.handedOut; ++k) {
        const std::vector<Place> places = placesOf(k);
        const unsigned received = server.copies.contains(k) ? server.copies.at(k) : 0;
        const std::string wu = "work unit " + std::to_string(k);
        if (received > 1)
            problems.push_back(wu + " was received " + std::to_string(received) + " times");
        if (places.size() > 1)
            problems.push_back(wu + " lies in " + std::to_string(places.size()) + " places: " + describe(places));
        if (received == 0 && places.empty())
            problems.push_back(wu + " is lost: handed out, never received, not in the cache");
        if (received > 0 && places.size() == 1 && !places.front().isResult)
            problems.push_back(wu + " was received but is waiting to be processed again in " + describe(places));
    }
    for (const auto& [number, places] : cache.places)
        if (number == 0 || number > server.handedOut)
            problems.push_back("the cache holds a work unit the server never handed out: " + describe(places));
    for (const auto& [number, count] : server.copies)
        if (number == 0 || number > server.handedOut)
            problems.push_back("the server received work unit " + std::to_string(number) + " it never handed out");
    return problems;
}

LogRecord ReadLog(const std::string& path) {
    LogRecord log;
    std::optional<std::string> text = platform::ReadFileText(path, std::size_t{1} << 30);
    if (!text) {
        log.problems.push_back("no log at " + path);
        return log;
    }
    CsvDocument doc = ReadCsv(*text);
    if (!doc.error.empty())
        log.problems.push_back("the log is no valid CSV: " + doc.error);
    if (doc.records.empty()) {
        log.problems.push_back("the log has no header");
        return log;
    }
    const CsvRecord& header = doc.records.front();
    if (header.size() != kLogColumnCount || !std::equal(header.begin(), header.end(), kLogColumnNames.begin()))
        log.problems.push_back("the log's first line is not the header");
    for (std::size_t i = 1; i < doc.records.size(); ++i) {
        const CsvRecord& row = doc.records[i];
        if (row.size() != kLogColumnCount) {
            log.problems.push_back("row " + std::to_string(i) + " has " + std::to_string(row.size()) + " fields");
            continue;
        }
        ++log.rows;
        ++log.names[row[COL_NAME]];
    }
    return log;
}

std::vector<std::string> FindLogGaps(const ServerRecord& server, const CacheRecord& cache, const LogRecord& log) {
    std::vector<std::string> problems = log.problems;
    std::set<std::string> known;
    for (const auto& [number, name] : server.names) {
        known.insert(name);
        auto it = log.names.find(name);
        unsigned rows = it == log.names.end() ? 0 : it->second;
        if (rows != 1)
            problems.push_back("work unit " + std::to_string(number) + " (" + name + ") was received and has " +
                               std::to_string(rows) + " log rows");
    }
    for (const auto& [number, places] : cache.places)
        for (const Place& place : places)
            if (place.isResult)
                known.insert(place.name);
    for (const auto& [name, rows] : log.names) {
        if (!known.contains(name))
            problems.push_back("a log row for a result that was neither received nor is waiting: " + name);
        else if (rows > 1 && std::none_of(server.names.begin(), server.names.end(),
                                          [&](const auto& received) { return received.second == name; }))
            problems.push_back("the waiting result " + name + " has " + std::to_string(rows) + " log rows");
    }
    return problems;
}

std::string Lines(const std::vector<std::string>& lines, std::size_t most) {
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < most; ++i)
        text += "\n  " + lines[i];
    if (lines.size() > most)
        text += "\n  ... and " + std::to_string(lines.size() - most) + " more";
    return text;
}

DrainedLedger ReadDrainedLedger(const std::string& programDir, const std::string& serverDir) {
    DrainedLedger ledger;
    ledger.server = ReadServer(serverDir);
    ledger.cache = ReadCache(programDir);
    ledger.log = ReadLog(programDir + "/ORVALog.csv");
    ledger.problems = FindLostWork(ledger.server, ledger.cache);
    if (ledger.server.copies.size() != ledger.server.handedOut)
        ledger.problems.push_back(std::to_string(ledger.server.handedOut) + " handed out, " +
                                  std::to_string(ledger.server.copies.size()) + " came back");
    std::vector<std::string> gaps = FindLogGaps(ledger.server, ledger.cache, ledger.log);
    ledger.problems.insert(ledger.problems.end(), gaps.begin(), gaps.end());
    if (ledger.log.rows != ledger.server.copies.size())
        ledger.problems.push_back(std::to_string(ledger.log.rows) + " log rows for " +
                                  std::to_string(ledger.server.copies.size()) + " results received");
    return ledger;
}

} // namespace vantrel::soak
