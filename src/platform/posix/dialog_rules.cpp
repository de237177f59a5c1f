#include "platform/posix/dialog_rules.h"

#include <cctype>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
    return true;
}

bool LastPartHasDot(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view last = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
    return last.find('.') != std::string_view::npos;
}

std::string WithExtension(const std::string& path, const char* ext) {
    return path + "." + ext;
}

}  // namespace

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

DialogOutcome JudgeDialogAnswer(std::string_view line, const DialogQuery& query,
                                const PathProbe& probe) {
    std::string typed(line);
    if (typed.empty()) {
        // Pressing Save or Open on the pre-filled name; nothing to accept otherwise.
        if (query.Proposed.empty()) return {DialogStep::Cancel, {}, {}};
        typed = query.Proposed;
    }
    if (typed.rfind("~/", 0) == 0) typed = query.Home + typed.substr(1);
    if (typed.front() != '/') typed = query.Cwd + "/" + typed;
    std::string path = NormalisePath(typed);

    if (query.DefaultExt != nullptr && !LastPartHasDot(path)) {
        if (query.Save || probe(path) == PathKind::Missing)
            path = WithExtension(path, query.DefaultExt);
    }
    if (path.size() >= query.BufferSize) {
        return {DialogStep::AskAgain, {},
                "Path too long: at most " + std::to_string(query.BufferSize - 1) + " bytes"};
    }

    const PathKind kind = probe(path);
    if (query.MustExist && kind != PathKind::Regular)
        return {DialogStep::AskAgain, {}, "File not found: " + path};
    if (query.Save && kind == PathKind::Directory)
        return {DialogStep::AskAgain, {}, path + " is a folder; choose a file name"};
    if (query.Save && query.OverwritePrompt && kind != PathKind::Missing)
        return {DialogStep::ConfirmReplace, path, {}};
    return {DialogStep::Accept, path, {}};
}

int JudgeMessageBoxAnswer(std::string_view line) {
    const std::string_view answer = Trim(line);
    if (answer.empty()) return kIdYes;  // the default button
    if (EqualsNoCase(answer, "y") || EqualsNoCase(answer, "yes")) return kIdYes;
    if (EqualsNoCase(answer, "n") || EqualsNoCase(answer, "no")) return kIdNo;
    if (EqualsNoCase(answer, "c") || EqualsNoCase(answer, "cancel")) return kIdCancel;
    return 0;
}

bool IsYes(std::string_view line) {
    const std::string_view answer = Trim(line);
    return EqualsNoCase(answer, "y") || EqualsNoCase(answer, "yes");
}

}  // namespace platform
