#include "practice_history.h"

namespace practice {

HistoryEntry EntryOf(const Result&, const std::string& file, std::time_t) {
    HistoryEntry entry;
    entry.file = file;
    return entry;
}
std::string FormatEntry(const HistoryEntry&) {
    return {};
}
std::optional<HistoryEntry> ParseEntry(const std::string&) {
    return {};
}
std::filesystem::path HistoryPath() {
    return {};
}
History ReadHistory(const std::filesystem::path&) {
    return {};
}
std::string AppendHistory(const std::filesystem::path&, const HistoryEntry&) {
    return {};
}
Best BestBefore(const std::vector<HistoryEntry>&, const std::string&, Mode, int) {
    return {};
}
std::string ResultLine(const Result&, const Best&, const std::string&) {
    return {};
}
std::string ResultMessage(const Result&, const Best&, const std::string&) {
    return {};
}
std::string UnplayableMessage(const Song&) {
    return {};
}
std::vector<std::string> PlaceTexts(const Result&, const std::string&) {
    return {};
}
double Accuracy(const HistoryEntry&) {
    return 0;
}

}  // namespace practice
