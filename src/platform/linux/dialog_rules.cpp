#include "platform/linux/dialog_rules.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace platform {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

bool LastPartHasDot(const std::string& path) { return path.find('.', path.rfind('/') + 1) != std::string::npos; }

// The parts of "*.BMP;*.PNG".
std::vector<std::string_view> SplitPatterns(std::string_view patterns) {
    std::vector<std::string_view> parts;
    for (std::size_t at = 0; at <= patterns.size();) {
        std::size_t end = patterns.find(';', at);
        if (end == std::string_view::npos) end = patterns.size();
        if (end > at) parts.push_back(patterns.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

// ".bmp" and ".BMP" for "BMP".
std::string DottedExtension(std::string_view ext, char (*caseOf)(char)) {
    std::string dotted = ".";
    for (char c : ext) dotted += caseOf(c);
    return dotted;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string PercentDecoded(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The answer as a full path: home and the dialog's folder put in front, then
// the default extension where the rules give it one.
std::string Resolve(const std::string& typed, const DialogQuery& query, const PathProbe& probe) {
    std::string path = NormalisePath(MakeAbsolute(typed, query.Folder, query.Home));
    if (query.DefaultExt == nullptr || LastPartHasDot(path)) return path;

    // Lower case like the proposed names; an Open also finds the upper-case
    // twin, then the same for the filter's other extensions in their order.
    if (query.Save) return probe(path) == PathKind::Directory ? path : path + DottedExtension(query.DefaultExt, Lower);
    if (probe(path) == PathKind::Regular) return path;
    std::vector<std::string_view> extensions{query.DefaultExt};
    for (std::string_view pattern : SplitPatterns(query.Patterns)) {
        const std::string_view ext = pattern.substr(pattern.rfind('.') + 1);
        if (pattern.rfind("*.", 0) == 0 && !EqualsNoCase(ext, query.DefaultExt)) extensions.push_back(ext);
    }
    for (std::string_view ext : extensions)
        for (char (*caseOf)(char) : {Lower, Upper})
            if (probe(path + DottedExtension(ext, caseOf)) == PathKind::Regular)
                return path + DottedExtension(ext, caseOf);
    return path;
}

}  // namespace

std::string MakeAbsolute(const std::string& typed, const std::string& folder, const std::string& home) {
    // Without a home (HOME unset) "~/x" would become "/x"; it stays a plain name.
    if (typed.rfind("~/", 0) == 0 && !home.empty()) return home + typed.substr(1);
    if (typed.empty() || typed.front() != '/') return folder + "/" + typed;
    return typed;
}

std::string NormalisePath(std::string_view absolute) {
    std::vector<std::string_view> parts;
    std::size_t i = 0;
    while (i <= absolute.size()) {
        std::size_t j = absolute.find('/', i);
        if (j == std::string_view::npos) j = absolute.size();
        const std::string_view part = absolute.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out;
    for (std::string_view part : parts) {
        out += '/';
        out += part;
    }
    return out.empty() ? "/" : out;
}

std::string FolderOf(std::string_view absolute) {
    const std::size_t slash = absolute.rfind('/');
    if (slash == std::string_view::npos || slash == 0) return "/";
    return std::string(absolute.substr(0, slash));
}

std::string CleanPastedPath(std::string_view typed) {
    std::string_view s = typed;
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    if (s.size() >= 2 && (s.front() == '\'' || s.front() == '"') && s.back() == s.front())
        s = s.substr(1, s.size() - 2);
    std::string rest(s);
    if (rest.rfind("file://", 0) == 0) rest = PercentDecoded(rest.substr(7));
    std::string out;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '\\' && i + 1 < rest.size()) ++i;
        out += rest[i];
    }
    return out;
}

DialogOutcome JudgeDialogAnswer(std::string_view line, const DialogQuery& query, const PathProbe& probe) {
    std::string typed(line);
    if (typed.empty()) {
        // Pressing Save or Open on the pre-filled name; nothing to accept otherwise.
        if (query.Proposed.empty()) return {DialogStep::Cancel, {}, {}};
        typed = query.Proposed;
    }
    std::string path = Resolve(typed, query, probe);

    // A pasted or dropped path comes quoted, escaped or as a URL; that form
    // wins only where the name as typed leads nowhere.
    const std::string cleaned = CleanPastedPath(typed);
    if (!cleaned.empty() && cleaned != typed) {
        const std::string alternative = Resolve(cleaned, query, probe);
        const bool better = query.Save ? probe(FolderOf(path)) != PathKind::Directory &&
                                             probe(FolderOf(alternative)) == PathKind::Directory
                                       : probe(path) == PathKind::Missing && probe(alternative) != PathKind::Missing;
        if (better) path = alternative;
    }

    // A script's line may carry a NUL byte; the system would cut the name
    // there, so the file used would not be the one judged here.
    if (path.find('\0') != std::string::npos) return {DialogStep::Refuse, {}, "A file name cannot contain a NUL byte"};
    if (path.size() >= query.BufferSize)
        return {DialogStep::Refuse, {}, "Path too long: at most " + std::to_string(query.BufferSize - 1) + " bytes"};
    const PathKind kind = probe(path);
    if (kind == PathKind::Directory) return {DialogStep::Refuse, {}, path + " is a folder"};
    if (query.MustExist && kind != PathKind::Regular) return {DialogStep::Refuse, {}, "File not found: " + path};
    if (query.Save && query.OverwritePrompt && kind != PathKind::Missing) {
        if (query.CanConfirm) return {DialogStep::ConfirmReplace, path, {}};
        return {DialogStep::Refuse,
                {},
                path + " already exists; not replaced " +
                    (query.Given ? "(give --replace to replace it)" : "(delete it first to export again)")};
    }
    return {DialogStep::Accept, path, {}};
}

bool MatchesPattern(std::string_view name, std::string_view patterns) {
    for (std::string_view pattern : SplitPatterns(patterns)) {
        const std::string_view ending = pattern.substr(pattern.rfind('*') + 1);
        if (name.size() >= ending.size() && EqualsNoCase(name.substr(name.size() - ending.size()), ending)) return true;
    }
    return false;
}

std::string_view TypedFolder(std::string_view typed) {
    const std::size_t slash = typed.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : typed.substr(0, slash + 1);
}

bool MayOfferName(std::string_view name, std::string_view prefix) {
    if (name.empty() || name == "." || name == ".." || name.substr(0, prefix.size()) != prefix) return false;
    return name[0] != '.' || (!prefix.empty() && prefix[0] == '.');
}

TabPlan PlanTab(std::string_view typed, const std::vector<FolderEntry>& entries, std::string_view patterns,
                std::string_view lastTab) {
    const std::string_view folder = TypedFolder(typed);
    const std::string_view prefix = typed.substr(folder.size());
    std::vector<std::string> names;
    for (const FolderEntry& entry : entries) {
        const std::string& name = entry.Name;
        if (!MayOfferName(name, prefix)) continue;
        if (entry.Folder)
            names.push_back(name + "/");
        else if (MatchesPattern(name, patterns))
            names.push_back(name);
    }
    if (names.empty()) return {TabStep::Beep, {}, {}, std::string(lastTab)};
    std::sort(names.begin(), names.end());

    std::string common = names.front();
    for (const std::string& name : names) {
        std::size_t n = 0;
        while (n < common.size() && n < name.size() && common[n] == name[n]) ++n;
        common.resize(n);
    }
    if (names.size() > 1 && !common.empty() && common.back() == '/') common.pop_back();
    if (common.size() > prefix.size()) {
        // Still more than one: the next Tab, on the line as it now stands, lists them.
        return {TabStep::Insert,
                common.substr(prefix.size()),
                {},
                names.size() > 1 ? std::string(folder) + common : std::string()};
    }
    if (names.size() == 1 || lastTab != typed) return {TabStep::Beep, {}, {}, std::string(typed)};
    return {TabStep::List, {}, std::move(names), std::string(lastTab)};
}

std::optional<Answer> JudgeMessageBoxAnswer(std::string_view line) {
    const std::string_view answer = Trim(line);
    if (answer.empty()) return Answer::Yes;  // the default button
    if (EqualsNoCase(answer, "y") || EqualsNoCase(answer, "yes")) return Answer::Yes;
    if (EqualsNoCase(answer, "n") || EqualsNoCase(answer, "no")) return Answer::No;
    if (EqualsNoCase(answer, "c") || EqualsNoCase(answer, "cancel")) return Answer::Cancel;
    return std::nullopt;
}

}  // namespace platform
