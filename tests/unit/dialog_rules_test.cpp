#include <gtest/gtest.h>

#include <map>

#include "platform/platform.h"
#include "platform/posix/dialog_rules.h"

namespace {

using platform::DialogOutcome;
using platform::DialogQuery;
using platform::DialogStep;
using platform::PathKind;

const std::map<std::string, PathKind> kFiles = {
    {"/w/WOODS.WLD", PathKind::Regular},  {"/w/maps", PathKind::Directory},
    {"/w/old.bmp", PathKind::Regular},    {"/w/plain", PathKind::Regular},
    {"/home/u/a.bmp", PathKind::Regular}, {"/w/pipe", PathKind::Other},
    {"/w/pic.BMP", PathKind::Regular},    {"/w/maps.d", PathKind::Directory},
};

PathKind Probe(const std::string& path) {
    auto it = kFiles.find(path);
    return it == kFiles.end() ? PathKind::Missing : it->second;
}

DialogQuery OpenQuery(const char* ext) {
    DialogQuery q{};
    q.MustExist = true;
    q.DefaultExt = ext;
    q.Cwd = "/w";
    q.Home = "/home/u";
    q.BufferSize = 320;
    return q;
}

DialogQuery SaveQuery(std::string proposed) {
    DialogQuery q{};
    q.Save = true;
    q.OverwritePrompt = true;
    q.DefaultExt = "BMP";
    q.Proposed = std::move(proposed);
    q.Cwd = "/w";
    q.Home = "/home/u";
    q.BufferSize = 320;
    return q;
}

TEST(DialogRules, NormalisesLexically) {
    const std::pair<const char*, const char*> cases[] = {
        {"/", "/"}, {"/a//b/", "/a/b"}, {"/a/./b", "/a/b"}, {"/a/b/../c", "/a/c"}, {"/../x", "/x"}, {"/a/..", "/"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(platform::NormalisePath(in), out) << in;
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
    const std::string fitName(319 - 3, 'n');  // fits, so the next rule speaks
    const Case cases[] = {
        {"relative open", OpenQuery(nullptr), "WOODS.WLD", DialogStep::Accept, "/w/WOODS.WLD"},
        {"dot-dot", OpenQuery(nullptr), "maps/../WOODS.WLD", DialogStep::Accept, "/w/WOODS.WLD"},
        {"home", OpenQuery("BMP"), "~/a.bmp", DialogStep::Accept, "/home/u/a.bmp"},
        {"missing", OpenQuery(nullptr), "nope.wld", DialogStep::AskAgain, "File not found: /w/nope.wld"},
        {"directory is not a file", OpenQuery(nullptr), "maps", DialogStep::AskAgain, "File not found: /w/maps"},
        {"pipe is not a file", OpenQuery(nullptr), "/w/pipe", DialogStep::AskAgain, "File not found: /w/pipe"},
        {"open takes an existing name as typed", OpenQuery("BMP"), "plain", DialogStep::Accept, "/w/plain"},
        {"open adds the extension", OpenQuery("BMP"), "pic", DialogStep::Accept, "/w/pic.BMP"},
        {"open without extension rule", OpenQuery(nullptr), "pic", DialogStep::AskAgain, "File not found: /w/pic"},
        {"empty open cancels", OpenQuery(nullptr), "", DialogStep::Cancel, ""},
        {"save empty takes proposal", SaveQuery("landtype.bmp"), "", DialogStep::Accept, "/w/landtype.bmp"},
        {"save adds extension", SaveQuery("x.bmp"), "out", DialogStep::Accept, "/w/out.BMP"},
        {"save keeps a dotted name", SaveQuery("x.bmp"), "out.v2", DialogStep::Accept, "/w/out.v2"},
        {"save onto existing asks", SaveQuery("x.bmp"), "old.bmp", DialogStep::ConfirmReplace, "/w/old.bmp"},
        {"save without a dot never names a folder", SaveQuery("x.bmp"), "maps/", DialogStep::Accept, "/w/maps.BMP"},
        {"save onto a folder", SaveQuery("x.bmp"), "maps.d", DialogStep::AskAgain, "/w/maps.d is a folder; choose a file name"},
        {"too long", OpenQuery(nullptr), longName, DialogStep::AskAgain, "Path too long: at most 319 bytes"},
        {"longest that fits", OpenQuery(nullptr), "/w/" + fitName, DialogStep::AskAgain, "File not found: /w/" + fitName},
    };
    for (const Case& c : cases) {
        const DialogOutcome out = platform::JudgeDialogAnswer(c.Line, c.Query, Probe);
        EXPECT_EQ(out.Step, c.Step) << c.Name;
        EXPECT_EQ(c.Step == DialogStep::AskAgain ? out.Note : out.Path, c.PathOrNote) << c.Name;
    }
}

TEST(DialogRules, MessageBoxAnswers) {
    const std::pair<const char*, int> cases[] = {
        {"y", platform::kIdYes},     {" YES ", platform::kIdYes},  {"", platform::kIdYes},
        {"n", platform::kIdNo},      {"No", platform::kIdNo},      {"c", platform::kIdCancel},
        {"CANCEL", platform::kIdCancel}, {"maybe", 0},             {"ye", 0},
    };
    for (const auto& [line, result] : cases) EXPECT_EQ(platform::JudgeMessageBoxAnswer(line), result) << line;
    EXPECT_TRUE(platform::IsYes(" Yes"));
    EXPECT_FALSE(platform::IsYes(""));
    EXPECT_FALSE(platform::IsYes("n"));
}

}  // namespace
