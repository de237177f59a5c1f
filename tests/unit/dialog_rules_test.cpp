#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "platform/dialog_rules.h"
#include "platform/platform.h"

namespace {

using platform::DialogOutcome;
using platform::DialogQuery;
using platform::DialogStep;
using platform::PathKind;

const std::map<std::string, PathKind> kFiles = {
    {"/w/WOODS.WLD", PathKind::Regular},   {"/w/maps", PathKind::Directory},
    {"/w/old.bmp", PathKind::Regular},     {"/w/plain", PathKind::Regular},
    {"/home/u/a.bmp", PathKind::Regular},  {"/w/pipe", PathKind::Other},
    {"/w/pic.BMP", PathKind::Regular},     {"/w/maps.d", PathKind::Directory},
    {"/w/lt.bmp", PathKind::Regular},      {"/w/lt.BMP", PathKind::Regular},
    {"/w/my maps", PathKind::Directory},   {"/w/my maps/W.WLD", PathKind::Regular},
    {"/w/maps/lt.bmp", PathKind::Regular}, {"/w/edit.PNG", PathKind::Regular},
    {"/w/both.png", PathKind::Regular},    {"/w/both.BMP", PathKind::Regular},
};

PathKind Probe(const std::string& path) {
    auto it = kFiles.find(path);
    return it == kFiles.end() ? PathKind::Missing : it->second;
}

DialogQuery OpenQuery(const char* ext, std::string folder = "/w", std::string patterns = "*.BMP") {
    DialogQuery q{};
    q.MustExist = true;
    q.DefaultExt = ext;
    q.Patterns = std::move(patterns);
    q.Folder = std::move(folder);
    q.Home = "/home/u";
    q.BufferSize = 320;
    return q;
}

DialogQuery SaveQuery(std::string proposed, bool canConfirm = true, std::string home = "/home/u") {
    DialogQuery q{};
    q.Save = true;
    q.OverwritePrompt = true;
    q.CanConfirm = canConfirm;
    q.DefaultExt = "BMP";
    q.Proposed = std::move(proposed);
    q.Folder = "/w";
    q.Home = std::move(home);
    q.BufferSize = 320;
    return q;
}

DialogQuery Given(DialogQuery q) {
    q.Given = true;
    return q;
}

TEST(DialogRules, NormalisesLexically) {
    const std::pair<const char*, const char*> cases[] = {
        {"/", "/"}, {"/a//b/", "/a/b"}, {"/a/./b", "/a/b"}, {"/a/b/../c", "/a/c"}, {"/../x", "/x"}, {"/a/..", "/"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(platform::NormalisePath(in, platform::kPosixPaths), out) << in;
}

// Windows' paths: both separators, drive letters and shares as roots, names
// the same in any case, and a length in UTF-16 units.
const std::map<std::string, PathKind> kWindowsFiles = {
    {"c:\\w\\woods.wld", PathKind::Regular}, {"c:\\w\\pic.bmp", PathKind::Regular},
    {"c:\\w\\maps", PathKind::Directory},    {"c:\\w\\edit.png", PathKind::Regular},
    {"c:\\w", PathKind::Directory},          {"c:\\w\\my maps", PathKind::Directory},
    {"c:\\w\\lt.bmp", PathKind::Regular},
};

PathKind ProbeWindows(const std::string& path) {
    std::string folded;
    for (const char c : path) folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto it = kWindowsFiles.find(folded);
    return it == kWindowsFiles.end() ? PathKind::Missing : it->second;
}

DialogQuery OnWindows(DialogQuery q) {
    q.Folder = "C:\\w";
    q.Home.clear();
    q.BufferSize = 3 * 319 + 1;
    q.Rules = platform::kWindowsPaths;
    return q;
}

TEST(DialogRules, WindowsAnswers) {
    std::string fits = "C:\\w\\";
    for (int i = 0; i < 314; ++i) fits += "\xD0\x9A";  // one character in two bytes: 319 characters, 633 bytes
    const std::string tooLong = fits + "x";
    const std::tuple<const char*, DialogQuery, std::string, DialogStep, std::string> cases[] = {
        {"relative, either separator", OnWindows(OpenQuery(nullptr)), "maps/../WOODS.WLD", DialogStep::Accept,
         "C:\\w\\WOODS.WLD"},
        {"a drive is absolute", OnWindows(OpenQuery(nullptr)), "d:/x/./y.wld", DialogStep::Refuse,
         "File not found: d:\\x\\y.wld"},
        {"a share is absolute, its root stays", OnWindows(OpenQuery(nullptr)), "//srv/share/../a.wld",
         DialogStep::Refuse, "File not found: \\\\srv\\share\\a.wld"},
        {"from the root of the folder's drive", OnWindows(OpenQuery(nullptr)), "\\top.wld", DialogStep::Refuse,
         "File not found: C:\\top.wld"},
        {"any case: found as the lower-case name", OnWindows(OpenQuery("BMP")), "PIC", DialogStep::Accept,
         "C:\\w\\PIC.bmp"},
        {"an import finds a PNG", OnWindows(OpenQuery("BMP", "", "*.BMP;*.PNG")), "edit", DialogStep::Accept,
         "C:\\w\\edit.png"},
        {"trailing dots and blanks go", OnWindows(SaveQuery("x.bmp")), "out. .", DialogStep::Accept, "C:\\w\\out.bmp"},
        {"a backslash is no escape", OnWindows(OpenQuery(nullptr)), "my\\ maps", DialogStep::Refuse,
         "File not found: C:\\w\\my\\ maps"},
        {"a dropped URL", OnWindows(OpenQuery(nullptr)), "file:///C:/w/WOODS%2EWLD", DialogStep::Accept,
         "C:\\w\\WOODS.WLD"},
        {"a folder in any case", OnWindows(SaveQuery("x.bmp")), "MAPS", DialogStep::Refuse, "C:\\w\\MAPS is a folder"},
        {"existing, in any case, from the command line", Given(OnWindows(SaveQuery("x.bmp", false))), "LT.BMP",
         DialogStep::Refuse, "C:\\w\\LT.BMP already exists; not replaced (give --replace to replace it)"},
        {"319 characters of more bytes fit", OnWindows(OpenQuery(nullptr)), fits, DialogStep::Refuse,
         "File not found: " + fits},
        {"320 characters do not", OnWindows(OpenQuery(nullptr)), tooLong, DialogStep::Refuse,
         "Path too long: at most 319 characters"},
    };
    for (const auto& [name, query, line, step, pathOrNote] : cases) {
        const DialogOutcome out = platform::JudgeDialogAnswer(line, query, ProbeWindows);
        EXPECT_EQ(out.Step, step) << name;
        EXPECT_EQ(step == DialogStep::Refuse ? out.Note : out.Path, pathOrNote) << name;
    }
}

// An answer given ahead: a name from the folder the command was typed in,
// the proposal from the dialog's; --replace takes an existing file.
TEST(DialogRules, GivenAnswers) {
    const std::tuple<const char*, std::string, bool, DialogStep, std::string> cases[] = {
        {"a name from the current folder", "new.bmp", false, DialogStep::Accept, "/w/maps/new.bmp"},
        {"the proposal beside the world", "", false, DialogStep::Refuse,
         "/w/old.bmp already exists; not replaced (give --replace to replace it)"},
        {"replaced with --replace", "", true, DialogStep::Accept, "/w/old.bmp"},
    };
    for (const auto& [name, typed, replace, step, pathOrNote] : cases) {
        const DialogOutcome out = platform::JudgeGivenAnswer(typed, SaveQuery("old.bmp"), "/w/maps", replace, Probe);
        EXPECT_EQ(out.Step, step) << name;
        EXPECT_EQ(step == DialogStep::Refuse ? out.Note : out.Path, pathOrNote) << name;
    }
}

TEST(DialogRules, Answers) {
    struct Case {
        const char* Name;
        DialogQuery Query;
        std::string Line;
        DialogStep Step;
        std::string PathOrNote;
    };
    const std::string longName(320 - 3, 'n');  // "/w/" + 317 bytes = 320: one too many
    const std::string fitName(319 - 3, 'n');   // fits, so the next rule speaks
    const Case cases[] = {
        {"relative open", OpenQuery(nullptr), "WOODS.WLD", DialogStep::Accept, "/w/WOODS.WLD"},
        {"dot-dot", OpenQuery(nullptr), "maps/../WOODS.WLD", DialogStep::Accept, "/w/WOODS.WLD"},
        {"home", OpenQuery("BMP"), "~/a.bmp", DialogStep::Accept, "/home/u/a.bmp"},
        {"no home", SaveQuery("x.bmp", true, ""), "~/a.bmp", DialogStep::Accept, "/w/~/a.bmp"},
        {"from the dialog's folder", OpenQuery("BMP", "/w/maps"), "lt", DialogStep::Accept, "/w/maps/lt.bmp"},
        {"missing", OpenQuery(nullptr), "nope.wld", DialogStep::Refuse, "File not found: /w/nope.wld"},
        {"directory is a folder", OpenQuery(nullptr), "maps", DialogStep::Refuse, "/w/maps is a folder"},
        {"pipe is not a file", OpenQuery(nullptr), "/w/pipe", DialogStep::Refuse, "File not found: /w/pipe"},
        {"open takes an existing name as typed", OpenQuery("BMP"), "plain", DialogStep::Accept, "/w/plain"},
        {"open finds the lower-case name first", OpenQuery("BMP"), "lt", DialogStep::Accept, "/w/lt.bmp"},
        {"open finds the upper-case name", OpenQuery("BMP"), "pic", DialogStep::Accept, "/w/pic.BMP"},
        {"open without extension rule", OpenQuery(nullptr), "pic", DialogStep::Refuse, "File not found: /w/pic"},
        {"an import finds a PNG", OpenQuery("BMP", "/w", "*.BMP;*.PNG"), "edit", DialogStep::Accept, "/w/edit.PNG"},
        {"an import tries BMP before PNG", OpenQuery("BMP", "/w", "*.BMP;*.PNG"), "both", DialogStep::Accept,
         "/w/both.BMP"},
        {"a BMP dialog finds no PNG", OpenQuery("BMP"), "edit", DialogStep::Refuse, "File not found: /w/edit"},
        {"empty open cancels", OpenQuery(nullptr), "", DialogStep::Cancel, ""},
        {"dropped, quoted", OpenQuery(nullptr), "'/w/my maps/W.WLD' ", DialogStep::Accept, "/w/my maps/W.WLD"},
        {"pasted, escaped", OpenQuery(nullptr), "my\\ maps/W.WLD", DialogStep::Accept, "/w/my maps/W.WLD"},
        {"dropped URL", OpenQuery(nullptr), "file:///w/my%20maps/W.WLD", DialogStep::Accept, "/w/my maps/W.WLD"},
        {"cleaned form names nothing either", OpenQuery(nullptr), "\"nope\"", DialogStep::Refuse,
         "File not found: /w/\"nope\""},
        {"save empty takes proposal", SaveQuery("landtype.bmp"), "", DialogStep::Accept, "/w/landtype.bmp"},
        {"save adds a lower-case extension", SaveQuery("x.bmp"), "out", DialogStep::Accept, "/w/out.bmp"},
        {"save keeps a dotted name", SaveQuery("x.bmp"), "out.v2", DialogStep::Accept, "/w/out.v2"},
        {"save into a dropped folder", SaveQuery("x.bmp"), "'/w/my maps/new.bmp'", DialogStep::Accept,
         "/w/my maps/new.bmp"},
        {"save onto existing asks", SaveQuery("x.bmp"), "old.bmp", DialogStep::ConfirmReplace, "/w/old.bmp"},
        {"save onto existing from a script", SaveQuery("x.bmp", false), "old.bmp", DialogStep::Refuse,
         "/w/old.bmp already exists; not replaced (delete it first to export again)"},
        {"save onto existing from the command line", Given(SaveQuery("x.bmp", false)), "old.bmp", DialogStep::Refuse,
         "/w/old.bmp already exists; not replaced (give --replace to replace it)"},
        {"save onto a folder", SaveQuery("x.bmp"), "maps/", DialogStep::Refuse, "/w/maps is a folder"},
        {"save onto a dotted folder", SaveQuery("x.bmp"), "maps.d", DialogStep::Refuse, "/w/maps.d is a folder"},
        {"a NUL byte in a script's line", SaveQuery("x.bmp"), std::string("sm\0all.bmp", 10), DialogStep::Refuse,
         "A file name cannot contain a NUL byte"},
        {"too long", OpenQuery(nullptr), longName, DialogStep::Refuse, "Path too long: at most 319 bytes"},
        {"longest that fits", OpenQuery(nullptr), "/w/" + fitName, DialogStep::Refuse, "File not found: /w/" + fitName},
    };
    for (const Case& c : cases) {
        const DialogOutcome out = platform::JudgeDialogAnswer(c.Line, c.Query, Probe);
        EXPECT_EQ(out.Step, c.Step) << c.Name;
        EXPECT_EQ(c.Step == DialogStep::Refuse ? out.Note : out.Path, c.PathOrNote) << c.Name;
    }
}

TEST(DialogRules, CompletionPatterns) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"landtype.bmp", "*.BMP", true},   {"OLD.Bmp", "*.BMP", true},       {"notes.txt", "*.BMP", false},
        {"bmp", "*.BMP", false},           {"a.bmp.bak", "*.BMP", false},    {"WOODS.WLD", "*.WLD", true},
        {"edit.png", "*.BMP;*.PNG", true}, {"old.BMP", "*.BMP;*.PNG", true}, {"x.pn", "*.BMP;*.PNG", false},
        {"edit.png", "*.BMP", false},
    };
    for (const auto& [name, pattern, fits] : cases) EXPECT_EQ(platform::MatchesPattern(name, pattern), fits) << name;
}

TEST(DialogRules, TabCompletion) {
    using platform::TabStep;
    // A folder as the terminal reads it: two worlds, a folder, a text file, a hidden file.
    const std::vector<platform::FolderEntry> folder = {
        {".", true},    {"..", true},         {"WOODS.WLD", false},   {"WORLD2.WLD", false},
        {"WOLF", true}, {"WOODS.txt", false}, {".hidden.WLD", false}, {"maps", true},
    };
    struct Case {
        const char* Name;
        const char* Typed;
        const char* LastTab;
        TabStep Step;
        const char* InsertOrChoices;  // choices joined by blanks
        const char* LastTabAfter;
    };
    const Case cases[] = {
        {"the part all share goes in", "W", "", TabStep::Insert, "O", "WO"},
        {"then a second Tab lists", "WO", "WO", TabStep::List, "WOLF/ WOODS.WLD WORLD2.WLD", "WO"},
        {"a first Tab with nothing to add beeps", "WO", "", TabStep::Beep, "", "WO"},
        {"one name goes in whole", "WOOD", "", TabStep::Insert, "S.WLD", ""},
        {"a folder takes its slash", "ma", "", TabStep::Insert, "ps/", ""},
        {"in a folder typed before", "maps/W", "", TabStep::Insert, "O", "maps/WO"},
        {"other kinds are not offered", "WOODS.t", "", TabStep::Beep, "", ""},
        {"hidden names only after a dot", ".", "", TabStep::Insert, "hidden.WLD", ""},
        {"nothing fits", "x", "x", TabStep::Beep, "", "x"},
    };
    for (const Case& c : cases) {
        const platform::TabPlan plan = platform::PlanTab(c.Typed, folder, "*.WLD", c.LastTab);
        EXPECT_EQ(plan.Step, c.Step) << c.Name;
        std::string got = plan.Insert;
        for (const std::string& choice : plan.Choices) got += (got.empty() ? "" : " ") + choice;
        EXPECT_EQ(got, c.InsertOrChoices) << c.Name;
        EXPECT_EQ(plan.LastTab, c.LastTabAfter) << c.Name;
    }
}

TEST(DialogRules, MessageBoxAnswers) {
    using platform::Answer;
    const std::pair<const char*, std::optional<Answer>> cases[] = {
        {"y", Answer::Yes},         {" YES ", Answer::Yes},  {"", Answer::Yes},
        {"n", Answer::No},          {"No", Answer::No},      {"c", Answer::Cancel},
        {"CANCEL", Answer::Cancel}, {"maybe", std::nullopt}, {"ye", std::nullopt},
    };
    for (const auto& [line, result] : cases) EXPECT_EQ(platform::JudgeMessageBoxAnswer(line), result) << line;
}

}  // namespace
