#include "musicxml_reader.h"

#include <zip.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <string>

#include "part_names.h"

namespace importing {
namespace {

// A score repeated past this many bars is taken for a broken file.
constexpr std::size_t MaxPlayedMeasures = 20'000;
constexpr zip_int64_t MaxZipEntries = 10'000;

struct Stop {
    std::string reason;
};

// pugixml's memory, counted: a file can hold millions of tiny elements, and the tree takes tens
// of bytes for each. A score's tree needs about as much as its text; past twice that (and some)
// an allocation fails and the file is refused.
thread_local std::size_t xmlMemory = 0;
thread_local std::size_t xmlBudget = 0;

void* AllocateCounted(std::size_t size) {
    if (xmlMemory + size > xmlBudget) return nullptr;
    auto* block = static_cast<std::max_align_t*>(std::malloc(sizeof(std::max_align_t) + size));
    if (block == nullptr) return nullptr;
    *reinterpret_cast<std::size_t*>(block) = size;
    xmlMemory += size;
    return block + 1;
}

void FreeCounted(void* pointer) {
    if (pointer == nullptr) return;
    auto* block = static_cast<std::max_align_t*>(pointer) - 1;
    xmlMemory -= *reinterpret_cast<std::size_t*>(block);
    std::free(block);
}

int StepSemitone(char step) {
    switch (step) {
        case 'C':
            return 0;
        case 'D':
            return 2;
        case 'E':
            return 4;
        case 'F':
            return 5;
        case 'G':
            return 7;
        case 'A':
            return 9;
        case 'B':
            return 11;
        default:
            return -1;
    }
}

// One bar as written, before repeats are played out: times in divisions from the bar's start.
struct WrittenNote {
    double start = 0;  // beats from the bar's start
    double length = 0;
    int pitch = 60;
    int staff = 1;
    bool tieStart = false;
    bool tieStop = false;
};

struct WrittenMeasure {
    std::vector<WrittenNote> notes;
    double length = 0;  // beats
    bool forwardRepeat = false;
    int backwardRepeat = 0;      // times to play the repeated passage in all; 0: no repeat
    std::vector<int> endings;    // this bar belongs to these endings (1, 2 ...); empty: all
    std::optional<Meter> meter;  // a meter that starts here (at 0)
};

std::vector<int> EndingNumbers(const char* text) {
    std::vector<int> numbers;
    const std::string s(text);
    std::size_t i = 0;
    while (i < s.size()) {
        if (std::isdigit(static_cast<unsigned char>(s[i]))) {
            std::size_t end = i;
            while (end < s.size() && std::isdigit(static_cast<unsigned char>(s[end]))) ++end;
            if (end - i <= 3) numbers.push_back(std::stoi(s.substr(i, end - i)));
            i = end;
        } else {
            ++i;
        }
    }
    return numbers;
}

class PartReader {
  public:
    PartReader(Score& score, bool firstPart) : m_score(score), m_firstPart(firstPart) {}

    std::vector<WrittenMeasure> ReadMeasures(const pugi::xml_node& part, int& staves) {
        std::vector<WrittenMeasure> measures;
        for (const pugi::xml_node measure : part.children("measure")) {
            measures.push_back(ReadMeasure(measure));
        }
        staves = m_staves;
        return measures;
    }

  private:
    double Beats(const pugi::xml_node& node) const {
        const double d = node.child("duration").text().as_double(0);
        // A chord's note adds nothing to the bar: its own length is bounded here.
        if (!std::isfinite(d) || d < 0 || d > 1e7 || d / m_divisions > MaxBeats)
            throw Stop{"音の長さが正しくありません"};
        return d / m_divisions;
    }

    WrittenMeasure ReadMeasure(const pugi::xml_node& measure) {
        WrittenMeasure out;
        double cursor = 0;
        double lastStart = 0;
        for (const pugi::xml_node node : measure.children()) {
            const std::string_view name = node.name();
            if (name == "attributes") {
                if (const auto divisions = node.child("divisions")) {
                    const double d = divisions.text().as_double(0);
                    if (!(d > 0 && d < 1e7)) throw Stop{"divisionsの値が正しくありません"};
                    m_divisions = d;
                }
                // A transposing instrument (a B♭ trumpet) is printed away from its sound.
                if (const auto transpose = node.child("transpose")) {
                    m_transpose =
                        std::clamp(transpose.child("chromatic").text().as_int(0), -24, 24) +
                        12 * std::clamp(transpose.child("octave-change").text().as_int(0), -3, 3);
                }
                if (const auto staves = node.child("staves")) {
                    m_staves = std::clamp(staves.text().as_int(1), 1, 16);
                }
                if (const auto time = node.child("time"); time && m_firstPart) {
                    const int beats = time.child("beats").text().as_int(0);
                    const int type = time.child("beat-type").text().as_int(0);
                    if (beats >= 1 && beats <= 64 && type >= 1 && type <= 64) {
                        out.meter = Meter{0, beats, type};
                    }
                }
                if (const auto key = node.child("key"); key && m_firstPart && !m_keyGiven) {
                    m_keyGiven = true;
                    m_score.keyFifths = std::clamp(key.child("fifths").text().as_int(0), -7, 7);
                }
            } else if (name == "note") {
                if (node.child("grace")) {
                    ++m_score.graceNotes;
                    continue;
                }
                if (node.child("cue")) continue;
                const double length = Beats(node);
                const bool chord = static_cast<bool>(node.child("chord"));
                const double start = chord ? lastStart : cursor;
                if (!chord) {
                    lastStart = cursor;
                    cursor += length;
                }
                if (node.child("time-modification")) ++m_score.tupletNotes;
                const auto pitch = node.child("pitch");
                if (!pitch) continue;  // a rest, or a drum's unpitched note
                const char* step = pitch.child_value("step");
                const int semitone = StepSemitone(step[0]);
                const int octave = pitch.child("octave").text().as_int(-10);
                const double alter = pitch.child("alter").text().as_double(0);
                if (semitone < 0 || octave < 0 || octave > 9 || std::abs(alter) > 2) continue;
                const int midi = (octave + 1) * 12 + semitone +
                                 static_cast<int>(std::lround(alter)) + m_transpose;
                if (midi < 0 || midi > 127) continue;
                WrittenNote note;
                note.start = start;
                note.length = length;
                note.pitch = midi;
                note.staff = std::clamp(node.child("staff").text().as_int(1), 1, 16);
                for (const pugi::xml_node tie : node.children("tie")) {
                    const std::string_view type = tie.attribute("type").value();
                    note.tieStart |= type == "start";
                    note.tieStop |= type == "stop";
                }
                out.notes.push_back(note);
            } else if (name == "backup") {
                cursor = std::max(0.0, cursor - Beats(node));
            } else if (name == "forward") {
                cursor += Beats(node);
            } else if (name == "barline") {
                if (const auto repeat = node.child("repeat")) {
                    const std::string_view direction = repeat.attribute("direction").value();
                    if (direction == "forward") out.forwardRepeat = true;
                    if (direction == "backward") {
                        out.backwardRepeat = std::clamp(repeat.attribute("times").as_int(2), 2, 8);
                    }
                }
                if (const auto ending = node.child("ending")) {
                    const std::string_view type = ending.attribute("type").value();
                    if (type == "start")
                        m_ending = EndingNumbers(ending.attribute("number").value());
                    out.endings = m_ending;
                    if (type == "stop" || type == "discontinue") m_endingEnds = true;
                }
            } else if (name == "sound" || name == "direction") {
                const pugi::xml_node sound = name == "sound" ? node : node.child("sound");
                const double tempo = sound.attribute("tempo").as_double(0);
                if (tempo > 0 && tempo < 1000 && m_firstPart) {
                    if (m_tempos++ == 0)
                        m_score.tempo = tempo;
                    else
                        ++m_score.tempoChanges;
                }
            }
            m_maxCursor = std::max(m_maxCursor, cursor);
            out.length = std::max(out.length, cursor);
        }
        // An ending that runs over several bars covers each of them.
        if (out.endings.empty() && !m_ending.empty()) out.endings = m_ending;
        if (m_endingEnds) {
            m_ending.clear();
            m_endingEnds = false;
        }
        m_maxCursor = 0;
        return out;
    }

    Score& m_score;
    bool m_firstPart;
    double m_divisions = 1;
    int m_staves = 1;
    int m_transpose = 0;  // semitones from the printed notes to the sound
    bool m_keyGiven = false;
    int m_tempos = 0;
    std::vector<int> m_ending;
    bool m_endingEnds = false;
    double m_maxCursor = 0;
};

// The bars in the order they are played: repeats taken, each ending on its own pass.
std::vector<std::size_t> PlayingOrder(const std::vector<WrittenMeasure>& measures) {
    std::vector<std::size_t> order;
    std::map<std::size_t, int> taken;
    std::size_t repeatStart = 0;
    int pass = 1;
    // After a repeat's last pass its last ending follows; the next bar outside any ending
    // begins the count again.
    bool afterRepeat = false;
    for (std::size_t i = 0; i < measures.size();) {
        const WrittenMeasure& m = measures[i];
        if (m.forwardRepeat && i != repeatStart) {
            repeatStart = i;
            pass = 1;
        }
        if (afterRepeat && m.endings.empty()) {
            pass = 1;
            afterRepeat = false;
        }
        const bool inEnding = m.endings.empty() || std::find(m.endings.begin(), m.endings.end(),
                                                             pass) != m.endings.end();
        if (!inEnding) {
            ++i;
            continue;
        }
        order.push_back(i);
        if (order.size() > MaxPlayedMeasures) throw Stop{"小節が多すぎます"};
        if (m.backwardRepeat > 0 && taken[i] < m.backwardRepeat - 1) {
            ++taken[i];
            ++pass;
            i = repeatStart;
            continue;
        }
        if (m.backwardRepeat > 0) {
            taken[i] = 0;
            afterRepeat = true;
            repeatStart = i + 1;
        }
        ++i;
    }
    return order;
}

void AddPart(Score& score, const pugi::xml_node& part, const std::string& name, int number,
             bool firstPart) {
    PartReader reader(score, firstPart);
    int staves = 1;
    const std::vector<WrittenMeasure> measures = reader.ReadMeasures(part, staves);
    ScorePart out;
    out.name = name;
    out.track = number;
    out.staves = staves;
    double at = 0;
    // A tied note goes on in the note that its tie reaches: same pitch and staff.
    std::map<std::pair<int, int>, std::size_t> tied;
    for (const std::size_t index : PlayingOrder(measures)) {
        const WrittenMeasure& m = measures[index];
        if (firstPart) score.barStarts.push_back(at);
        if (m.meter && firstPart) {
            if (score.meters.empty() || score.meters.back().numerator != m.meter->numerator ||
                score.meters.back().denominator != m.meter->denominator) {
                score.meters.push_back({at, m.meter->numerator, m.meter->denominator});
            }
        }
        for (const WrittenNote& note : m.notes) {
            const auto key = std::make_pair(note.pitch, note.staff);
            const auto open = tied.find(key);
            if (note.tieStop && open != tied.end()) {
                ScoreNote& held = out.notes[open->second];
                held.length = std::max(held.length, at + note.start + note.length - held.start);
                if (!note.tieStart) tied.erase(open);
                continue;
            }
            if (out.notes.size() >= MaxNotes) throw Stop{"音が多すぎます（200万まで）"};
            out.notes.push_back({at + note.start, note.length, note.pitch, note.staff});
            if (note.tieStart) tied[key] = out.notes.size() - 1;
        }
        at += m.length;
        if (at > MaxBeats) throw Stop{"曲が長すぎます"};
    }
    std::stable_sort(out.notes.begin(), out.notes.end(),
                     [](const ScoreNote& a, const ScoreNote& b) { return a.start < b.start; });
    if (!out.notes.empty()) score.parts.push_back(std::move(out));
}

bool IsDrumPart(const pugi::xml_node& scorePart) {
    for (const pugi::xml_node instrument : scorePart.children("midi-instrument")) {
        if (instrument.child("midi-channel").text().as_int(0) == 10) return true;
        if (instrument.child("midi-unpitched")) return true;
    }
    return false;
}

}  // namespace

ReadResult ReadMusicXml(std::string_view bytes) {
    ReadResult result;
    static const bool counted = [] {
        pugi::set_memory_management_functions(AllocateCounted, FreeCounted);
        return true;
    }();
    (void)counted;
    xmlBudget = 2 * bytes.size() + 16u * 1024 * 1024;
    pugi::xml_document document;
    // The document type is kept only to be looked at: pugixml never expands an entity of its
    // own, but a file that declares some means them to be expanded, so it is refused whole.
    const pugi::xml_parse_result parsed =
        document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default | pugi::parse_doctype);
    if (parsed.status == pugi::status_out_of_memory) {
        result.error = "楽譜が大きすぎます（要素が多すぎます）";
        return result;
    }
    if (!parsed) {
        result.error = "XMLとして正しくありません（" + std::to_string(parsed.offset) + "バイト目）";
        return result;
    }
    for (const pugi::xml_node node : document.children()) {
        if (node.type() == pugi::node_doctype &&
            std::string_view(node.value()).find("<!ENTITY") != std::string_view::npos) {
            result.error = "実体（ENTITY）の宣言があるため読みません";
            return result;
        }
    }
    const pugi::xml_node root = document.document_element();
    if (std::string_view(root.name()) == "score-timewise") {
        result.error = "score-timewise形式の楽譜には対応していません";
        return result;
    }
    if (std::string_view(root.name()) != "score-partwise") {
        result.error = "MusicXMLの楽譜（score-partwise）ではありません";
        return result;
    }
    std::map<std::string, pugi::xml_node> partList;
    for (const pugi::xml_node scorePart : root.child("part-list").children("score-part")) {
        partList[scorePart.attribute("id").value()] = scorePart;
    }
    try {
        int number = 0;
        for (const pugi::xml_node part : root.children("part")) {
            ++number;
            const auto listed = partList.find(part.attribute("id").value());
            if (listed != partList.end() && IsDrumPart(listed->second)) continue;
            const std::string name =
                listed != partList.end() ? NameText(listed->second.child_value("part-name")) : "";
            AddPart(result.score, part, name, number, number == 1);
        }
    } catch (const Stop& stop) {
        result.error = stop.reason;
        result.score = {};
    }
    return result;
}

namespace {

using Archive = std::unique_ptr<zip_t, decltype(&zip_discard)>;

// An entry's whole content, refusing more than the limit whatever the zip says of its size.
std::string ReadEntry(zip_t* archive, zip_uint64_t index) {
    std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(zip_fopen_index(archive, index, 0),
                                                            &zip_fclose);
    if (!file) throw Stop{"ZIPの中のファイルを開けません"};
    std::string content;
    char buffer[64 * 1024];
    for (;;) {
        const zip_int64_t got = zip_fread(file.get(), buffer, sizeof buffer);
        if (got < 0) throw Stop{"ZIPの中のファイルが壊れています"};
        if (got == 0) break;
        if (content.size() + static_cast<std::size_t>(got) > MaxFileBytes) {
            throw Stop{"展開すると大きすぎます（64MBまで）"};
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
    return content;
}

bool ClimbsOut(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.front() == '\\') return true;
    if (path.size() > 1 && path[1] == ':') return true;  // a drive letter
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = path.size();
        if (path.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

ReadResult ReadMxl(std::string_view bytes) {
    ReadResult result;
    try {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
        if (source == nullptr) throw Stop{"ZIPとして読めません"};
        Archive archive(zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error),
                        &zip_discard);
        zip_error_fini(&error);
        if (!archive) {
            zip_source_free(source);
            throw Stop{"ZIPとして読めません"};
        }
        const zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
        if (entries > MaxZipEntries) throw Stop{"ZIPの中のファイルが多すぎます"};
        std::string rootPath;
        for (zip_int64_t i = 0; i < entries; ++i) {
            const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
            if (name == nullptr || ClimbsOut(name)) throw Stop{"ZIPの中に外を指すパスがあります"};
        }
        const zip_int64_t container = zip_name_locate(archive.get(), "META-INF/container.xml", 0);
        if (container >= 0) {
            const std::string text = ReadEntry(archive.get(), static_cast<zip_uint64_t>(container));
            pugi::xml_document document;
            if (document.load_buffer(text.data(), text.size())) {
                rootPath = document.document_element()
                               .child("rootfiles")
                               .child("rootfile")
                               .attribute("full-path")
                               .value();
            }
        }
        zip_int64_t index =
            rootPath.empty() ? -1 : zip_name_locate(archive.get(), rootPath.c_str(), 0);
        for (zip_int64_t i = 0; index < 0 && i < entries; ++i) {
            const std::string_view name =
                zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
            if (name.rfind("META-INF/", 0) == 0) continue;
            if (name.ends_with(".xml") || name.ends_with(".musicxml")) index = i;
        }
        if (index < 0) throw Stop{"ZIPの中に楽譜がありません"};
        const std::string score = ReadEntry(archive.get(), static_cast<zip_uint64_t>(index));
        return ReadMusicXml(score);
    } catch (const Stop& stop) {
        result.error = stop.reason;
    }
    return result;
}

}  // namespace importing
