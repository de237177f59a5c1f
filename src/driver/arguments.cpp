#include "driver/arguments.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "bitmap/bitmap_file.h"
#include "bitmap/bmp_decode.h"
#include "driver/version.h"
#include "report/console_text.h"

namespace {

// The usage and the help, the same on both systems but where they ask their
// questions and what tells the rest.
constexpr char kUsageCommands[] =
    "Usage: velmarsh export WORLD [LAYER[=FILE] ...] [--replace]\n"
    "       velmarsh import WORLD LAYER=FILE ... [--force]\n"
    "       velmarsh [WORLD]\n";
constexpr char kUsageEnd[] = "       velmarsh --help | --version\n";

constexpr char kHelpCommands[] =
    "\n"
    "Moves the map layers of a game world file (WOODS.WLD) out to 8-bit BMP (or\n"
    "PNG) files and back in.\n"
    "\n"
    "  export WORLD [LAYER[=FILE] ...]\n"
    "        export the layers named, all four when none is, each to FILE or to\n"
    "        its proposed name beside the world; an existing file is not replaced;\n"
    "        a FILE whose name ends in .png is written as PNG, any other as BMP\n"
    "  import WORLD LAYER=FILE ...\n"
    "        import each layer named from its FILE (BMP or PNG, its colours\n"
    "        read as the export shows the values) into the world";

constexpr char kHelpOptions[] =
    "  --replace    export: replace files that exist\n"
    "  --force      import: take a BMP that has the palette of another kind of\n"
    "               layer's export, which is most likely that layer's bitmap\n"
    "  --           end of the options: a name after it may begin with -\n"
    "  -h, --help   show this help\n"
    "  --version    show the version\n"
    "\n"
    "LAYER is smallmap, landtype, landheight or largemap, in any case. Relative\n"
    "names are taken from the current folder.\n"
    "\n";

#if defined(_WIN32)
// Windows asks in its dialogs and message boxes; README.txt beside the
// program tells the rest.
constexpr char kUsageAsking[] = "";
constexpr char kHelpAsking[] =
    "\n"
    "  WORLD\n"
    "        open WORLD and ask about each layer in a message box (a world\n"
    "        dropped onto velmarsh.exe does the same)\n"
    "  (no arguments)\n"
    "        ask for everything: the Open dialog for the world, then for each\n"
    "        layer a message box (Yes exports, No imports, Cancel skips) and a\n"
    "        Save or Open dialog for its file\n";
constexpr char kHelpEnd[] =
    "Before an import changes the world, the world is copied to WORLD.bak beside\n"
    "it (WOODS.WLD.bak). To undo the import, put the copy back in its place:\n"
    "move /y WOODS.WLD.bak WOODS.WLD\n"
    "\n"
    "Exit code (ERRORLEVEL): 0 when done (for export and import: every layer\n"
    "named moved); 1 when export or import left a layer named unmoved or\n"
    "reported an error; 2 when the command line cannot be used.\n"
    "\n"
    "The report goes to standard output; notes and advice go to standard\n"
    "error. README.txt beside velmarsh.exe tells the rest.\n";
#else
// The manual page's SYNOPSIS says the same as the usage.
constexpr char kUsageAsking[] = "       velmarsh < ANSWERS\n";
constexpr char kHelpAsking[] =
    ", which is\n"
    "        first copied to WORLD.bak beside it, to undo the import with\n"
    "  WORLD\n"
    "        open WORLD and ask about each layer\n"
    "  (no arguments)\n"
    "        ask every question, the world first: at a terminal, or from a\n"
    "        script with one answer per line on standard input\n";
constexpr char kHelpEnd[] =
    "Exit status: 0 when done (for export and import: every layer named moved);\n"
    "1 when export or import left a layer named unmoved or reported an error;\n"
    "2 when the command line cannot be used.\n"
    "\n"
    "The report goes to standard output; questions, notes and advice go to\n"
    "standard error. The manual page velmarsh(1) tells the rest.\n";
#endif

std::string Usage() { return std::string(kUsageCommands) + kUsageAsking + kUsageEnd; }
std::string Help() { return std::string(kHelpCommands) + kHelpAsking + kHelpOptions + kHelpEnd; }

RunRequest Refuse(std::string problem) {
    RunRequest request{};
    request.Mode = RunMode::Usage;
    request.Problem = std::move(problem);
    return request;
}

std::string Lower(std::string_view word) {
    std::string lower;
    for (const char c : word) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// The question a layer named on the command line answers: its name in any case.
int QuestionOfLayer(std::string_view word) {
    for (int i = 0; i < kQuestionCount; ++i)
        if (Lower(word) == Lower(QuestionLayer(i))) return i;
    return -1;
}

// The LAYER[=FILE] words after the world.
RunRequest ReadLayers(RunRequest request, const std::vector<std::string>& words) {
    const bool import = request.Mode == RunMode::Import;
    bool any = false;
    for (std::size_t i = 2; i < words.size(); ++i) {
        const std::string& word = words[i];
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const int layer = QuestionOfLayer(name);
        if (layer < 0) return Refuse("'" + name + "' is not a layer (smallmap, landtype, landheight or largemap)");
        if (request.Layers[layer].Named) return Refuse("the layer " + name + " is named twice");
        if (equals == std::string::npos && import)
            return Refuse("import needs a file for each layer: " + name + "=FILE");
        if (equals != std::string::npos && equals + 1 == word.size()) return Refuse("no file after " + word);
        request.Layers[layer] = {true, equals == std::string::npos ? std::string() : word.substr(equals + 1)};
        any = true;
    }
    if (!any && import) return Refuse("import needs at least one LAYER=FILE");
    if (!any)
        for (LayerRequest& layer : request.Layers) layer.Named = true;  // export everything
    return request;
}

// Whether a word is a command mistyped: two letters changed, missing, added
// or swapped at most, in any case.
bool IsNearly(std::string_view word, std::string_view command) {
    const std::string typed = Lower(word);
    // The edit distance, with a swap of neighbours as one edit.
    std::vector<std::vector<std::size_t>> d(typed.size() + 1, std::vector<std::size_t>(command.size() + 1));
    for (std::size_t i = 0; i <= typed.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= command.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= typed.size(); ++i) {
        for (std::size_t j = 1; j <= command.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (typed[i - 1] != command[j - 1])});
            if (i > 1 && j > 1 && typed[i - 1] == command[j - 2] && typed[i - 2] == command[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[typed.size()][command.size()] <= 2;
}

std::string MistypedCommand(const std::string& word, const char* command) {
    return "unknown command '" + word + "'; did you mean '" + command + "'?";
}

void ShowUsage(const std::string& problem) {
    platform::SayLine("velmarsh: " + problem);
    const std::string text = Usage();
    std::string_view usage = text;
    if (usage.ends_with('\n')) usage.remove_suffix(1);
    console::SayLines(usage);
    platform::SayLine("Try 'velmarsh --help' for more.");
}

// Files dropped onto the program's icon arrive as their full paths, and more
// than one is a drop to do again rather than a command line to learn.
bool SeveralFilesDropped(const std::vector<std::string>& arguments) {
#if defined(_WIN32)
    if (arguments.size() < 2) return false;
    for (const std::string& argument : arguments)
        if (argument.empty() || argument[0] == '-' || !platform::Exists(argument.c_str())) return false;
    return true;
#else
    (void)arguments;  // nothing is dropped onto a program here
    return false;
#endif
}

// The world named by a layer's name ("velmarsh export landtype"): the world
// must come first.
bool WorldIsALayersName(const RunRequest& request) {
    const std::string& world = request.World;
    const std::string name = world.substr(0, world.find('='));
    return request.Mode != RunMode::Ask && QuestionOfLayer(name) >= 0 && !platform::Exists(world.c_str());
}

// An import named on the command line that looks like another layer's
// bitmap is not imported without --force: a script that trusts the exit code
// would not see the note that a dialog's answer gets. True when one is.
bool RefuseOtherLayersBitmaps(const RunRequest& request) {
    if (request.Mode != RunMode::Import || request.Force) return false;
    bool refused = false;
    for (int i = 0; i < kQuestionCount; ++i) {
        if (!request.Layers[i].Named) continue;
        char buffer[platform::kFileNameBufferSize] = {};
        platform::FileDialog dialog{};
        dialog.FileBuffer = buffer;
        dialog.FileBufferSize = sizeof buffer;
        PrepareBitmapDialog(dialog, BitmapUse::Import, QuestionLayer(i));
        const std::string path = platform::ResolveGivenPath(request.Layers[i].File, dialog);
        const platform::FileHandle file =
            path.empty() ? platform::kInvalidFile : platform::OpenForReading(path.c_str());
        if (file == platform::kInvalidFile) continue;  // the run says what is wrong with it
        const Palette colours = i == 0 ? Palette::Gray : kRecordLayers[i - 1].Colours;
        const bool other = LooksLikeOtherLayersBitmap(file, colours);
        platform::CloseFile(file);
        if (!other) continue;
        refused = true;
        platform::SayLine("velmarsh: " + path + " " + OtherExportWords(colours) + ", not of " + QuestionLayer(i) +
                          "; nothing was imported. To import it into " + QuestionLayer(i) +
                          " all the same, give --force.");
    }
    return refused;
}

}  // namespace

RunRequest ReadCommandLine(const std::vector<std::string>& arguments) {
    RunRequest request{};
    std::vector<std::string> words;
    bool optionsEnded = false;
    for (const std::string& argument : arguments) {
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            words.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            return {RunMode::Help, {}, {}, false, false, {}};
        } else if (argument == "--version") {
            return {RunMode::Version, {}, {}, false, false, {}};
        } else if (argument == "--replace" || argument == "--force") {
            // It belongs to its command: after it, never in front of it.
            const char* command = argument == "--replace" ? "export" : "import";
            if (words.empty()) return Refuse(argument + " goes after " + command);
            (argument == "--replace" ? request.Replace : request.Force) = true;
        } else {
            return Refuse("unknown option " + argument);
        }
    }

    const bool command = !words.empty() && (words[0] == "export" || words[0] == "import");
    if (request.Replace && !(command && words[0] == "export")) return Refuse("--replace goes with export only");
    if (request.Force && !(command && words[0] == "import")) return Refuse("--force goes with import only");
    if (words.empty()) return request;  // RunMode::Ask
    if (!command) {
        if (words.size() > 1 && IsNearly(words[0], "export")) return Refuse(MistypedCommand(words[0], "export"));
        if (words.size() > 1 && IsNearly(words[0], "import")) return Refuse(MistypedCommand(words[0], "import"));
        if (words.size() > 1) return Refuse("one WORLD only; to name layers, begin with export or import");
        if (words[0].empty()) return Refuse("the WORLD is an empty name");
        request.Mode = RunMode::World;
        request.World = words[0];
        return request;
    }
    request.Mode = words[0] == "export" ? RunMode::Export : RunMode::Import;
    if (words.size() < 2 || words[1].empty()) return Refuse(words[0] + " needs a WORLD");
    request.World = words[1];
    return ReadLayers(std::move(request), words);
}

std::vector<platform::GivenAnswer> AnswersFor(const RunRequest& request) {
    std::vector<platform::GivenAnswer> answers;
    if (request.Mode != RunMode::World && request.Mode != RunMode::Export && request.Mode != RunMode::Import)
        return answers;
    answers.push_back({platform::Answer::Cancel, request.World});
    if (request.Mode == RunMode::World) return answers;  // the layer questions are asked
    const platform::Answer button = request.Mode == RunMode::Export ? platform::Answer::Yes : platform::Answer::No;
    for (const LayerRequest& layer : request.Layers) {
        if (!layer.Named) {
            answers.push_back({platform::Answer::Cancel, {}});
            continue;
        }
        answers.push_back({button, {}});
        answers.push_back({platform::Answer::Cancel, layer.File});
    }
    return answers;
}

int RunCommandLine(AppState& state, const std::vector<std::string>& arguments) {
    const RunRequest request = ReadCommandLine(arguments);
    switch (request.Mode) {
        case RunMode::Help: platform::ConsoleWriteText(Usage() + Help()); return 0;
        case RunMode::Version: platform::ConsoleWriteText("velmarsh " VELMARSH_VERSION_TEXT "\n"); return 0;
        case RunMode::Usage:
            if (SeveralFilesDropped(arguments))
                platform::SayLine("velmarsh: " + std::to_string(arguments.size()) +
                                  " files came at once; drop one world onto velmarsh.exe at a time (to name layers in "
                                  "a command prompt, begin with export or import: velmarsh --help)");
            else
                ShowUsage(request.Problem);
            return 2;
        default: break;
    }
    if (RefuseOtherLayersBitmaps(request)) return 1;
    const bool layersName = WorldIsALayersName(request);
    state.Dialogs.Given = {AnswersFor(request), 0, request.Replace, false};
    const int code = RunTool(state);
    if (layersName)
        platform::SayLine("velmarsh: " + request.World + " is the name of a layer, not a world: the world comes " +
                          "first (velmarsh export WORLD " + request.World + ")");
    if (request.Mode != RunMode::Export && request.Mode != RunMode::Import) return code;
    // Given its whole work, the run says by its exit code whether all of it was done.
    return state.Report.FailureLines == 0 && platform::AllTaken(state.Dialogs.Given) ? 0 : 1;
}
