#include "platform/dialog_rules.h"

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

bool OnWindows(const PathRules& rules) { return rules.Separator == '\\'; }

bool IsSeparator(char c, const PathRules& rules) { return c == rules.Separator || (OnWindows(rules) && c == '/'); }

std::size_t LastSeparator(std::string_view path, const PathRules& rules) {
    return OnWindows(rules) ? path.find_last_of("\\/") : path.rfind('/');
}

bool HasDrive(std::string_view path) {
    return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

// How much of an absolute path is its root, with the separator after it:
// "/", "C:\", "\\server\share\".
std::size_t RootLength(std::string_view path, const PathRules& rules) {
    if (!OnWindows(rules)) return path.empty() || path[0] != '/' ? 0 : 1;
    if (HasDrive(path)) return path.size() > 2 && IsSeparator(path[2], rules) ? 3 : 2;
    if (path.size() < 2 || !IsSeparator(path[0], rules) || !IsSeparator(path[1], rules))
        return !path.empty() && IsSeparator(path[0], rules) ? 1 : 0;
    // The server's name and the share's, each up to its separator.
    std::size_t at = 2;
    for (int part = 0; part < 2 && at < path.size(); ++part) {
        while (at < path.size() && !IsSeparator(path[at], rules)) ++at;
        if (at < path.size()) ++at;
    }
    return at;
}

bool IsAbsolute(std::string_view path, const PathRules& rules) {
    if (!OnWindows(rules)) return !path.empty() && path[0] == '/';
    return (HasDrive(path) && path.size() > 2 && IsSeparator(path[2], rules)) ||
           (path.size() >= 2 && IsSeparator(path[0], rules) && IsSeparator(path[1], rules));
}

bool LastPartHasDot(const std::string& path, const PathRules& rules) {
    const std::size_t separator = LastSeparator(path, rules);
    return path.find('.', separator == std::string::npos ? 0 : separator + 1) != std::string::npos;
}

// The length as the system counts it: bytes, or the UTF-16 units of UTF-8
// text, two for a character of four bytes.
std::size_t PathLength(std::string_view path, const PathRules& rules) {
    if (!rules.CountsUtf16) return path.size();
    std::size_t units = 0;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) ++units;
        if (byte >= 0xF0) ++units;
    }
    return units;
}

// The longest path a buffer holds: on Windows a UTF-16 unit may take three
// bytes of UTF-8.
std::size_t LongestPath(const PathRules& rules, std::uint32_t bufferSize) {
    return rules.CountsUtf16 ? (bufferSize - 1) / 3 : bufferSize - 1;
}

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
    const PathRules& rules = query.Rules;
    std::string path = NormalisePath(MakeAbsolute(typed, query.Folder, query.Home, rules), rules);
    if (query.DefaultExt == nullptr || LastPartHasDot(path, rules)) return path;

    // Lower case like the proposed names; an Open also finds the upper-case
    // twin where case counts, then the same for the filter's other
    // extensions in their order.
    if (query.Save) return probe(path) == PathKind::Directory ? path : path + DottedExtension(query.DefaultExt, Lower);
    if (probe(path) == PathKind::Regular) return path;
    std::vector<std::string_view> extensions{query.DefaultExt};
    for (std::string_view pattern : SplitPatterns(query.Patterns)) {
        const std::string_view ext = pattern.substr(pattern.rfind('.') + 1);
        if (pattern.rfind("*.", 0) == 0 && !EqualsNoCase(ext, query.DefaultExt)) extensions.push_back(ext);
    }
    std::vector<char (*)(char)> cases{Lower};
    if (!rules.AnyCase) cases.push_back(Upper);
    for (std::string_view ext : extensions)
        for (char (*caseOf)(char) : cases)
            if (probe(path + DottedExtension(ext, caseOf)) == PathKind::Regular)
                return path + DottedExtension(ext, caseOf);
    return path;
}

}  // namespace

std::string MakeAbsolute(const std::string& typed, const std::string& folder, const std::string& home,
                         const PathRules& rules) {
    const std::string separator(1, rules.Separator);
    // Without a home (HOME unset) "~/x" would become "/x"; it stays a plain name.
    if (typed.size() >= 2 && typed[0] == '~' && IsSeparator(typed[1], rules) && !home.empty())
        return home + typed.substr(1);
    if (IsAbsolute(typed, rules)) return typed;
    if (OnWindows(rules) && !typed.empty() && IsSeparator(typed[0], rules))
        return folder.substr(0, RootLength(folder, rules)) + typed;
    if (OnWindows(rules) && HasDrive(typed)) {
        // "D:x" is x in the folder of that drive; only the dialog's own is known.
        if (HasDrive(folder) && Lower(folder[0]) == Lower(typed[0])) return folder + separator + typed.substr(2);
        return typed.substr(0, 2) + separator + typed.substr(2);
    }
    return folder + separator + typed;
}

std::string NormalisePath(std::string_view absolute, const PathRules& rules) {
    const std::size_t rootLength = RootLength(absolute, rules);
    std::string out(absolute.substr(0, rootLength));
    for (char& c : out)
        if (IsSeparator(c, rules)) c = rules.Separator;
    std::vector<std::string_view> parts;
    std::size_t i = rootLength;
    while (i <= absolute.size()) {
        std::size_t j = i;
        while (j < absolute.size() && !IsSeparator(absolute[j], rules)) ++j;
        const std::string_view part = absolute.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    if (OnWindows(rules) && !parts.empty() && !IsSeparator(absolute.back(), rules)) {
        std::string_view& last = parts.back();
        while (!last.empty() && (last.back() == '.' || last.back() == ' ')) last.remove_suffix(1);
        if (last.empty()) parts.pop_back();
    }
    for (std::string_view part : parts) {
        if (out.empty() || out.back() != rules.Separator) out += rules.Separator;
        out += part;
    }
    return out.empty() ? std::string(1, rules.Separator) : out;
}

std::string FolderOf(std::string_view absolute, const PathRules& rules) {
    const std::size_t rootLength = RootLength(absolute, rules);
    const std::size_t separator = LastSeparator(absolute, rules);
    if (separator == std::string_view::npos || separator < rootLength) {
        const std::string root(absolute.substr(0, rootLength));
        return root.empty() ? std::string(1, rules.Separator) : root;
    }
    return std::string(absolute.substr(0, separator));
}

std::string CleanPastedPath(std::string_view typed, const PathRules& rules) {
    std::string_view s = typed;
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    if (s.size() >= 2 && (s.front() == '\'' || s.front() == '"') && s.back() == s.front())
        s = s.substr(1, s.size() - 2);
    std::string rest(s);
    if (rest.rfind("file://", 0) == 0) {
        rest = PercentDecoded(rest.substr(7));
        // On Windows file:///C:/x is C:/x, and file://server/share/x a share.
        if (OnWindows(rules) && !rest.empty() && rest[0] == '/' && HasDrive(std::string_view(rest).substr(1)))
            rest.erase(0, 1);
        else if (OnWindows(rules) && !rest.empty() && rest[0] != '/')
            rest = "//" + rest;
    }
    if (OnWindows(rules)) return rest;  // a backslash separates there
    std::string out;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '\\' && i + 1 < rest.size()) ++i;
        out += rest[i];
    }
    return out;
}

bool PathFits(std::string_view path, const PathRules& rules, std::uint32_t bufferSize) {
    return path.size() < bufferSize && PathLength(path, rules) <= LongestPath(rules, bufferSize);
}

std::string PathTooLongNote(const PathRules& rules, std::uint32_t bufferSize) {
    return "Path too long: at most " + std::to_string(LongestPath(rules, bufferSize)) +
           (rules.CountsUtf16 ? " characters" : " bytes");
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
    const std::string cleaned = CleanPastedPath(typed, query.Rules);
    if (!cleaned.empty() && cleaned != typed) {
        const std::string alternative = Resolve(cleaned, query, probe);
        const bool better = query.Save ? probe(FolderOf(path, query.Rules)) != PathKind::Directory &&
                                             probe(FolderOf(alternative, query.Rules)) == PathKind::Directory
                                       : probe(path) == PathKind::Missing && probe(alternative) != PathKind::Missing;
        if (better) path = alternative;
    }

    // A script's line may carry a NUL byte; the system would cut the name
    // there, so the file used would not be the one judged here.
    if (path.find('\0') != std::string::npos) return {DialogStep::Refuse, {}, "A file name cannot contain a NUL byte"};
    if (!PathFits(path, query.Rules, query.BufferSize))
        return {DialogStep::Refuse, {}, PathTooLongNote(query.Rules, query.BufferSize)};
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

DialogOutcome JudgeGivenAnswer(std::string_view typed, DialogQuery query, const std::string& currentFolder,
                               bool replace, const PathProbe& probe) {
    if (!typed.empty()) query.Folder = currentFolder;
    query.CanConfirm = false;
    query.Given = true;
    if (replace) query.OverwritePrompt = false;
    return JudgeDialogAnswer(typed, query, probe);
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
